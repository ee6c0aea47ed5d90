// SPDX-License-Identifier: GPL-3.0-or-later
// Guards the editor inside a real X server: opened through the dispatcher inside a host's window,
// it paints on expose, real clicks (XTest) reach the right view, real XDND drops deliver files
// and text, a host destroying its window first or reopening many times sees no X error of ours,
// and nothing (windows, connections, properties on the host's window) is left behind.
#include "support/x11_environment.h"

#include "vst2/aeffguieditor.h"
#include "support/test_editor.h"
#include "vst2/corvex.h"
#include "gui/drawcontext.h"

#include "testkit/x11_host.h"
#include "support/process_probe.h"

#include <dirent.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace gui;

namespace {

using testsupport::openFds;

std::vector<std::string> gLog;

class Target : public CView {
public:
    Target(const CRect& r, CColor c, std::string name)
        : CView(r), color(c), name(std::move(name)) {}
    void draw(CDrawContext* c) override {
        c->setFillColor(color);
        c->fillRect(CRect(size.left - 1, size.top - 1, size.right, size.bottom));
        setDirty(false);
    }
    void mouse(CDrawContext* c, CPoint& where) override {
        gLog.push_back(name + " mouse " + std::to_string(where.x) + "," + std::to_string(where.y) +
                       " " + std::to_string(c->getMouseButtons() & kMouseLeft));
    }
    bool onDrop(void** items, int32_t n, int32_t type, CPoint& where) override {
        std::string text = name + (type == kDropFiles ? " files" : " text");
        if (type == kDropFiles)
            for (int32_t i = 0; i < n; ++i)
                text += std::string(" ") + static_cast<const char*>(items[i]);
        else
            text += std::string(" ") + static_cast<const char*>(items[0]) + " " + std::to_string(n);
        text += " at " + std::to_string(where.x) + "," + std::to_string(where.y);
        gLog.push_back(text);
        return true;
    }
    CColor color;
    std::string name;
};

// A view that closes the editor from inside its own click, as a close button of a standalone
// window would: the frame and the view itself must outlive the handler that is still running.
class Closer : public Target {
public:
    explicit Closer(const CRect& r) : Target(r, kBlueCColor, "closer") {}
    void mouse(CDrawContext* c, CPoint& where) override {
        if (auto* owner = dynamic_cast<AEffGUIEditor*>(getEditor())) owner->close();
        // Still here, and so is the context: a tracking loop goes on until it sees no button.
        gLog.push_back("closer buttons " + std::to_string(c->getMouseButtons()) + " at " +
                       std::to_string(where.x));
    }
};

// A 300 x 200 editor: a dark blue panel with a red target on the left and a green one on the right.
class TestEditor : public testsupport::TestEditor {
public:
    explicit TestEditor(AudioEffect* effect) : testsupport::TestEditor(effect, 300, 200) {}

protected:
    void populate(CFrame* frame) override {
        auto* panel = new CViewContainer(CRect(0, 0, 300, 200), frame);
        panel->setBackgroundColor(CColor{0, 0, 140, 0});
        frame->addView(panel);
        frame->addView(new Target(CRect(20, 20, 120, 120), kRedCColor, "left"));
        frame->addView(new Target(CRect(150, 20, 250, 120), kGreenCColor, "right"));
        frame->addView(new Closer(CRect(20, 150, 60, 190)));
    }
};

class EditorX11 : public ::testing::Test {
protected:
    void SetUp() override {
        gLog.clear();
        host = testkit::x11host::create(300, 200, "editor test host");
        ASSERT_NE(host, nullptr) << "no X display";
        effect = new Corvex(testsupport::kEditorTestHost);
        editor = new TestEditor(effect);
        testkit::x11host::installHostErrorHandler();
    }
    void TearDown() override {
        dispatch(effEditClose);
        delete effect;
        if (host) testkit::x11host::destroy(host);
        EXPECT_EQ(testkit::x11host::hostErrorCount(), 0);
        EXPECT_TRUE(testkit::x11host::uninstallHostErrorHandler());
    }
    intptr_t dispatch(int32_t op, int32_t index = 0, intptr_t value = 0, void* ptr = nullptr) {
        return effect->getAeffect()->dispatcher(effect->getAeffect(), op, index, value, ptr, 0.0f);
    }
    void openEditor() {
        dispatch(effEditOpen, 0, 0, reinterpret_cast<void*>(testkit::x11host::handle(host)));
        ASSERT_NE(editor->getFrame(), nullptr);
        ASSERT_NE(editor->getFrame()->getSystemWindow(), nullptr);
    }
    // Idles the editor like a host at a fast rate until pred() or about three seconds.
    template <typename Pred>
    bool idleUntil(Pred pred, testkit::x11host::DragSource* source = nullptr) {
        for (int i = 0; i < 300; ++i) {
            if (source) source->step();
            dispatch(effEditIdle);
            if (host) testkit::x11host::pump(host);
            if (pred()) return true;
            platform::sleepMs(10);
        }
        return false;
    }
    uint32_t pixel(int x, int y) {
        std::vector<uint32_t> px;
        int32_t w = 0, h = 0;
        const auto win = platform::nativeHandle(editor->getFrame()->getSystemWindow());
        if (!testkit::x11host::readPixels(win, &px, &w, &h) || x >= w || y >= h) return 0xFFFFFFFF;
        return px[static_cast<size_t>(y) * w + x];
    }
    platform::Rect frameOnScreen() {
        return platform::windowScreenRect(editor->getFrame()->getSystemWindow());
    }

    testkit::x11host::HostWindow* host = nullptr;
    Corvex* effect = nullptr;
    TestEditor* editor = nullptr;
};

}  // namespace

TEST_F(EditorX11, ExposePaintsTheViewsInsideTheHostsWindow) {
    openEditor();
    EXPECT_EQ(testkit::x11host::childCount(testkit::x11host::handle(host)), 1);
    ASSERT_TRUE(idleUntil([&] { return pixel(50, 50) == 0xFF0000u; }));
    EXPECT_EQ(pixel(200, 50), 0x00FF00u);
    EXPECT_EQ(pixel(5, 5), 0x00008Cu);
    EXPECT_EQ(pixel(299, 199), 0x00008Cu);
}

TEST_F(EditorX11, RealClicksReachTheViewUnderThePointer) {
    openEditor();
    ASSERT_TRUE(idleUntil([&] { return pixel(50, 50) == 0xFF0000u; }));
    const platform::Rect r = frameOnScreen();
    ASSERT_TRUE(testkit::x11host::movePointer(r.left + 200, r.top + 60));
    ASSERT_TRUE(testkit::x11host::button(1, true));
    ASSERT_TRUE(idleUntil([&] { return !gLog.empty(); }));
    ASSERT_TRUE(testkit::x11host::button(1, false));
    EXPECT_EQ(gLog[0], "right mouse 200,60 1");
    ASSERT_TRUE(testkit::x11host::movePointer(r.left + 20, r.top + 120));  // inclusive corner
    ASSERT_TRUE(testkit::x11host::button(3, true));
    ASSERT_TRUE(testkit::x11host::button(3, false));
    ASSERT_TRUE(idleUntil([&] { return gLog.size() >= 2; }));
    EXPECT_EQ(gLog[1], "left mouse 20,120 0");
}

TEST_F(EditorX11, DroppedFilesArriveAsLocalPaths) {
    openEditor();
    ASSERT_TRUE(idleUntil([&] { return pixel(50, 50) == 0xFF0000u; }));
    EXPECT_TRUE(testkit::x11host::hasProperty(testkit::x11host::handle(host), "XdndProxy"));
    const platform::Rect r = frameOnScreen();
    testkit::x11host::DragSource source(
        testkit::x11host::handle(host), {r.left + 60, r.top + 70}, "files",
        "# dragged\r\nfile:///tmp/a.wav\r\nfile:///tmp/b%20c.wav\r\n");
    ASSERT_TRUE(idleUntil([&] { return source.done(); }, &source));
    EXPECT_TRUE(source.accepted());
    EXPECT_TRUE(source.finishedOk());
    EXPECT_EQ(source.actionName(), "XdndActionMove");
    ASSERT_EQ(gLog.size(), 1u);
    EXPECT_EQ(gLog[0], "left files /tmp/a.wav /tmp/b c.wav at 60,70");
}

TEST_F(EditorX11, DroppedTextArrivesWithItsSizeAndControlMeansCopy) {
    openEditor();
    ASSERT_TRUE(idleUntil([&] { return pixel(50, 50) == 0xFF0000u; }));
    const platform::Rect r = frameOnScreen();
    ASSERT_TRUE(testkit::x11host::key("Control_L", true));
    testkit::x11host::DragSource source(testkit::x11host::handle(host), {r.left + 160, r.top + 30},
                                        "text/plain;charset=utf-8", "Grüße");
    const bool done = idleUntil([&] { return source.done(); }, &source);
    testkit::x11host::key("Control_L", false);
    ASSERT_TRUE(done);
    EXPECT_TRUE(source.finishedOk());
    EXPECT_EQ(source.actionName(), "XdndActionCopy");
    ASSERT_EQ(gLog.size(), 1u);
    EXPECT_EQ(gLog[0], "right text Grüße 8 at 160,30");
}

TEST_F(EditorX11, ADropOutsideAnyViewIsRefusedButFinished) {
    openEditor();
    ASSERT_TRUE(idleUntil([&] { return pixel(50, 50) == 0xFF0000u; }));
    const platform::Rect r = frameOnScreen();
    // Over the panel only: the container has no child there, so nobody takes it.
    testkit::x11host::DragSource source(testkit::x11host::handle(host), {r.left + 280, r.top + 180},
                                        "files", "file:///tmp/x\r\n");
    ASSERT_TRUE(idleUntil([&] { return source.done(); }, &source));
    EXPECT_TRUE(source.accepted());
    EXPECT_FALSE(source.finishedOk());
    EXPECT_TRUE(gLog.empty());
}

TEST_F(EditorX11, HostDestroyingItsWindowFirstIsSurvived) {
    openEditor();
    ASSERT_TRUE(idleUntil([&] { return pixel(50, 50) == 0xFF0000u; }));
    testkit::x11host::destroyWindowOnly(host);
    ASSERT_TRUE(idleUntil([&] { return !editor->getFrame()->getOpenFlag(); }));
    editor->getFrame()->draw(static_cast<CView*>(nullptr));
    dispatch(effEditIdle);
    dispatch(effEditClose);
    dispatch(effEditClose);  // closing twice is harmless
    EXPECT_EQ(editor->getFrame(), nullptr);
}

TEST_F(EditorX11, OpenCloseTwentyTimesLeavesNothingBehind) {
    openEditor();
    dispatch(effEditIdle);
    dispatch(effEditClose);
    const int fds = openFds();
    for (int i = 0; i < 20; ++i) {
        openEditor();
        dispatch(effEditIdle);
        dispatch(effEditClose);
        EXPECT_EQ(testkit::x11host::childCount(testkit::x11host::handle(host)), 0);
    }
    EXPECT_EQ(openFds(), fds);
    EXPECT_FALSE(testkit::x11host::hasProperty(testkit::x11host::handle(host), "XdndProxy"));
    EXPECT_FALSE(testkit::x11host::hasProperty(testkit::x11host::handle(host), "XdndAware"));
    EXPECT_EQ(CFrame::windowClassUseCount(), 0);
}

TEST_F(EditorX11, AViewClosingTheEditorFromItsOwnClickLeavesNothingBehind) {
    const int fds = openFds();
    for (int round = 0; round < 3; ++round) {
        openEditor();
        ASSERT_TRUE(idleUntil([&] { return pixel(50, 50) == 0xFF0000u; }));
        const platform::Rect r = frameOnScreen();
        ASSERT_TRUE(testkit::x11host::movePointer(r.left + 40, r.top + 170));
        ASSERT_TRUE(testkit::x11host::button(1, true));
        ASSERT_TRUE(idleUntil([&] { return editor->getFrame() == nullptr; }));
        ASSERT_TRUE(testkit::x11host::button(1, false));
        ASSERT_EQ(gLog.size(), static_cast<size_t>(round + 1));
        EXPECT_EQ(gLog.back(), "closer buttons 0 at 40") << "a closed frame reports no button";
        EXPECT_TRUE(idleUntil(
            [&] { return testkit::x11host::childCount(testkit::x11host::handle(host)) == 0; }));
        // A host keeps idling a closed editor, and closes it again.
        dispatch(effEditIdle);
        dispatch(effEditClose);
    }
    EXPECT_EQ(openFds(), fds) << "the windows' connections are closed";
    openEditor();
    EXPECT_TRUE(idleUntil([&] { return pixel(50, 50) == 0xFF0000u; }));
}
