// SPDX-License-Identifier: GPL-3.0-or-later
// Guards the X11 window system against a real server: drawing through a window's context reaches
// the screen, exposes repaint, pointer state is live, and a host that destroys its window first,
// or opens and closes many times, never sees an X error of ours or a leaked window or connection.
#include "support/x11_environment.h"

#include "gui/drawcontext.h"

#include "platform/window.h"
#include "testkit/x11_host.h"
#include "support/process_probe.h"

#include <dirent.h>
#include <gtest/gtest.h>

#include <vector>

using namespace platform;
namespace x11host = testkit::x11host;

namespace {

using testsupport::openFds;

struct Recorder : WindowEvents {
    int paints = 0;
    Rect lastDamage;
    int destroyed = 0;
    std::vector<std::pair<Point, int>> presses;
    std::vector<uint32_t> pressStates;
    uint32_t fill = 0x8C0000;  // dark blue, packed
    void onPaint(Context* c, const Rect& r) override {
        ++paints;
        lastDamage = r;
        Brush* b = createSolidBrush(fill);
        fillRect(c, r, b);
        deleteBrush(b);
    }
    void onButtonDown(Context*, Point p, int button, uint32_t state) override {
        presses.emplace_back(p, button);
        pressStates.push_back(state);
    }
    void onDestroyed() override { ++destroyed; }
    bool onDrop(DropKind, const char* const*, int32_t, std::size_t, Point) override {
        return false;
    }
};

uint32_t pixelAt(NativeWindow w, int x, int y) {
    std::vector<uint32_t> px;
    int32_t width = 0, height = 0;
    if (!x11host::readPixels(w, &px, &width, &height) || x >= width || y >= height)
        return 0xFFFFFFFF;
    return px[static_cast<size_t>(y) * width + x];
}

class X11Window : public ::testing::Test {
protected:
    void SetUp() override {
        host = x11host::create(320, 240, "test host");
        ASSERT_NE(host, nullptr) << "no X display";
        WindowOptions o;
        o.parent = x11host::handle(host);
        o.width = 200;
        o.height = 100;
        o.className = "PluginTest";
        o.events = &events;
        window = createChildWindow(o);
        ASSERT_NE(window, nullptr);
    }
    void TearDown() override {
        if (window) destroyWindow(window);
        if (host) x11host::destroy(host);
    }
    // Pumps until pred() or about two seconds have passed.
    template <typename Pred> bool pumpUntil(Pred pred) {
        for (int i = 0; i < 200; ++i) {
            pumpEvents(window, false);
            x11host::pump(host);
            if (pred()) return true;
            sleepMs(10);
        }
        return false;
    }
    Recorder events;
    x11host::HostWindow* host = nullptr;
    Window* window = nullptr;
};

}  // namespace

TEST_F(X11Window, IsAMappedChildWithXembedInfoAndPaintsOnExpose) {
    EXPECT_EQ(x11host::childCount(x11host::handle(host)), 1);
    EXPECT_TRUE(x11host::hasProperty(nativeHandle(window), "_XEMBED_INFO"));
    ASSERT_TRUE(pumpUntil([&] { return events.paints > 0; }));
    EXPECT_EQ(events.lastDamage.left, 0);
    EXPECT_EQ(events.lastDamage.right, 200);
    EXPECT_EQ(pixelAt(nativeHandle(window), 10, 10), 0x00008Cu);  // server order: 0xRRGGBB
}

TEST_F(X11Window, DrawingThroughAWindowContextReachesTheServer) {
    Context* c = getWindowContext(window);
    {
        gui::CDrawContext ctx(nullptr, c, window);
        ctx.setFillColor(gui::CColor{200, 100, 50, 0});
        ctx.fillRect(gui::CRect(9, 9, 50, 30));
        ctx.setFrameColor(gui::kWhiteCColor);
        ctx.moveTo(gui::CPoint(0, 60));
        ctx.lineTo(gui::CPoint(100, 60));
    }
    releaseWindowContext(window, c);
    EXPECT_EQ(pixelAt(nativeHandle(window), 10, 10), 0xC86432u);
    EXPECT_EQ(pixelAt(nativeHandle(window), 49, 29), 0xC86432u);
    EXPECT_EQ(pixelAt(nativeHandle(window), 99, 60), 0xFFFFFFu);
    EXPECT_NE(pixelAt(nativeHandle(window), 100, 60), 0xFFFFFFu);
}

TEST_F(X11Window, ScreenRectAndPointerFollowTheServer) {
    const Rect r = windowScreenRect(window);
    const Rect h = x11host::screenRect(x11host::handle(host));
    EXPECT_EQ(r.left, h.left);
    EXPECT_EQ(r.right - r.left, 200);
    ASSERT_TRUE(x11host::movePointer(r.left + 17, r.top + 23));
    PointerState s;
    ASSERT_TRUE(queryPointer(window, &s));
    EXPECT_EQ(s.screen.x, r.left + 17);
    EXPECT_EQ(s.screen.y, r.top + 23);
    ASSERT_TRUE(x11host::button(1, true));
    ASSERT_TRUE(queryPointer(window, &s));
    EXPECT_TRUE(s.state & kButtonLeft);
    ASSERT_TRUE(x11host::button(1, false));
    ASSERT_TRUE(pumpUntil([&] { return !events.presses.empty(); }));
    EXPECT_EQ(events.presses[0].first.x, 17);
    EXPECT_EQ(events.presses[0].first.y, 23);
    EXPECT_EQ(events.presses[0].second, 1);
    // Released before the pump, as a quick click is before a host's idle: the press still says
    // what was down when it happened.
    EXPECT_TRUE(events.pressStates[0] & kButtonLeft);
}

TEST_F(X11Window, ParentDestroyedFirstCausesNoErrorAndNoCrash) {
    // The host's own handler must never hear of errors on our connection.
    x11host::installHostErrorHandler();
    x11host::destroyWindowOnly(host);
    ASSERT_TRUE(pumpUntil([&] { return events.destroyed > 0; }));
    EXPECT_FALSE(windowAlive(window));
    // Everything the owner might still do after the window went away.
    Context* c = getWindowContext(window);
    Brush* b = createSolidBrush(0xFF);
    fillRect(c, {0, 0, 10, 10}, b);
    deleteBrush(b);
    releaseWindowContext(window, c);
    setCursor(window, Cursor::wait);
    resizeWindow(window, 300, 120);
    windowScreenRect(window);
    destroyWindow(window);
    window = nullptr;
    EXPECT_EQ(x11host::hostErrorCount(), 0);
    // Our handler is gone again: the host's own is in place.
    EXPECT_TRUE(x11host::uninstallHostErrorHandler());
}

TEST(X11Lifecycle, OpenCloseTwentyTimesLeaksNothing) {
    x11host::HostWindow* host = x11host::create(300, 200, "cycle host");
    ASSERT_NE(host, nullptr);
    Recorder events;
    WindowOptions o;
    o.parent = x11host::handle(host);
    o.width = 120;
    o.height = 80;
    o.events = &events;
    // Warm up once: libraries open their own descriptors on first use.
    destroyWindow(createChildWindow(o));
    const int fds = openFds();
    for (int i = 0; i < 20; ++i) {
        registerWindowClass();
        Window* w = createChildWindow(o);
        ASSERT_NE(w, nullptr);
        setCursor(w, Cursor::sizeNS);
        setDropTarget(w, true);
        pumpEvents(w, false);
        destroyWindow(w);
        unregisterWindowClass();
        EXPECT_EQ(x11host::childCount(x11host::handle(host)), 0);
    }
    EXPECT_EQ(openFds(), fds);
    EXPECT_FALSE(x11host::hasProperty(x11host::handle(host), "XdndProxy"));
    EXPECT_EQ(windowClassUseCount(), 0);
    x11host::destroy(host);
}

TEST(X11Lifecycle, BadParentsAreRefusedWithoutAnError) {
    x11host::installHostErrorHandler();
    Recorder events;
    WindowOptions o;
    o.parent = 0x7FFFFFF0;  // no such window
    o.width = 10;
    o.height = 10;
    o.events = &events;
    EXPECT_EQ(createChildWindow(o), nullptr);
    o.parent = 0;
    EXPECT_EQ(createChildWindow(o), nullptr);
    EXPECT_EQ(x11host::hostErrorCount(), 0);
    EXPECT_TRUE(x11host::uninstallHostErrorHandler());
}
