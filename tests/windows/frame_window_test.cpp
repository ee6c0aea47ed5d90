// SPDX-License-Identifier: GPL-3.0-or-later
// Guards the Win32 platform layer in real Wine windows: a frame opens as a "Plugin%08x" child of
// a host's window and paints background 10001 pixel for pixel; clicks sent as input reach the view
// under the pointer with the live button state, and a drag is tracked by polling; OLE drops of
// files (a shortcut among them, resolved) and of text reach the view under the cursor; repeated
// open/close cycles leak no GDI or window objects and withdraw the window class; a host that
// destroys its window first leaves a frame that closes cleanly; a frame disposed from inside its
// own press handler ends its gesture and every tracking loop, and goes with its window and class.
#include "gui/bitmap.h"
#include "gui/drawcontext.h"
#include "gui/frame.h"
#include "gui/view.h"

#include "platform/raster.h"
#include "testkit/win32_host.h"
#include "win32_census.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

using namespace gui;
namespace host = testkit::win32host;

namespace {

constexpr int32_t kWidth = 600, kHeight = 350;
std::atomic<bool> gPressed{false};

// Records what reaches it; a press tracks the drag until the button is let go.
class Probe : public CView {
public:
    explicit Probe(const CRect& r) : CView(r) {}
    void draw(CDrawContext*) override { setDirty(false); }
    void mouse(CDrawContext* c, CPoint& where) override {
        presses.push_back(where);
        buttons.push_back(c->getMouseButtons());
        gPressed = true;
        if (!track) return;
        // What a knob does: poll the pointer until the button is up.
        const DWORD start = GetTickCount();
        while ((c->getMouseButtons() & kMouseLeft) && GetTickCount() - start < 5000) {
            CPoint p;
            c->getMouseLocation(p);
            if (trail.empty() || trail.back() != p) trail.push_back(p);
            if (getFrame()) getFrame()->doIdleStuff();
            Sleep(2);
        }
    }
    bool onDrop(void** items, int32_t n, int32_t type, CPoint& where) override {
        dropType = type;
        dropWhere = where;
        dropItems.clear();
        if (type == kDropFiles)
            for (int32_t i = 0; i < n; ++i)
                dropItems.emplace_back(static_cast<const char*>(items[i]));
        else dropItems.emplace_back(static_cast<const char*>(items[0]));
        dropCount = n;
        return true;
    }
    CFrame* getFrame() { return parentFrame; }
    std::vector<CPoint> presses, trail;
    std::vector<int32_t> buttons;
    std::vector<std::string> dropItems;
    int32_t dropType = -1, dropCount = 0;
    CPoint dropWhere;
    bool track = false;
};

struct Owner : CFrameOwner {
    CFrame* frame = nullptr;
    std::vector<std::string> edits;
    void doIdleStuff() override {
        if (frame) frame->dispatchPaint();
    }
    uint32_t getTicks() override { return GetTickCount(); }
    void beginEdit(int32_t index) override { edits.push_back("begin " + std::to_string(index)); }
    void endEdit(int32_t index) override { edits.push_back("end " + std::to_string(index)); }
};

std::vector<uint8_t> readFile(const char* path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

class FrameWindow : public ::testing::Test {
protected:
    void SetUp() override {
        parent = host::create(kWidth, kHeight, "Corvex test host");
        ASSERT_NE(parent, 0u);
        open();
    }
    void TearDown() override {
        close();
        host::destroy(parent);
        host::pump(20);
    }
    void open() {
        frame = new CFrame(CRect(0, 0, kWidth, kHeight), reinterpret_cast<void*>(parent), &owner);
        owner.frame = frame;
        CBitmap* background = new CBitmap(10001);
        frame->setBackground(background);
        background->forget();
        probe = new Probe(CRect(50, 40, 250, 200));
        frame->addView(probe);
        host::pump(150);
    }
    void close() {
        delete frame;
        frame = nullptr;
        owner.frame = nullptr;
        probe = nullptr;
    }
    HWND frameWindow() const {
        return reinterpret_cast<HWND>(platform::nativeHandle(frame->getSystemWindow()));
    }
    platform::Point screen(int32_t x, int32_t y) const {
        const platform::Point o =
            host::clientOrigin(reinterpret_cast<platform::NativeWindow>(frameWindow()));
        return {o.x + x, o.y + y};
    }
    template <typename Pred> bool pumpUntil(Pred done, uint32_t ms = 3000) {
        const DWORD start = GetTickCount();
        while (!done()) {
            if (GetTickCount() - start > ms) return false;
            host::pump(5);
        }
        return true;
    }

    platform::NativeWindow parent = 0;
    Owner owner;
    CFrame* frame = nullptr;
    Probe* probe = nullptr;
};

}  // namespace

TEST_F(FrameWindow, IsAChildOfItsClassAndPaintsTheBackgroundExactly) {
    char name[32];
    std::snprintf(name, sizeof name, "Plugin%08x",
                  static_cast<unsigned>(reinterpret_cast<uintptr_t>(GetModuleHandleA(nullptr))));
    EXPECT_STREQ(CFrame::windowClassName(), name);
    EXPECT_EQ(host::findChild(parent, name),
              reinterpret_cast<platform::NativeWindow>(frameWindow()));
    EXPECT_EQ(GetParent(frameWindow()), reinterpret_cast<HWND>(parent));
    const LONG style = GetWindowLongA(frameWindow(), GWL_STYLE);
    EXPECT_EQ(style & (WS_CHILD | WS_VISIBLE), WS_CHILD | WS_VISIBLE);

    std::vector<uint32_t> px;
    int32_t w = 0, h = 0;
    ASSERT_TRUE(
        host::readPixels(reinterpret_cast<platform::NativeWindow>(frameWindow()), &px, &w, &h));
    ASSERT_EQ(w, kWidth);
    ASSERT_EQ(h, kHeight);
    // The Linux build's background, decoded by this raster: the window shows it unchanged.
    const std::vector<uint8_t> file = readFile(CORVEX_LINUX_BACKGROUND);
    ASSERT_FALSE(file.empty()) << CORVEX_LINUX_BACKGROUND;
    platform::Bitmap* reference = platform::decodeBmp(file.data(), file.size());
    ASSERT_NE(reference, nullptr);
    int32_t stride = 0;
    const uint32_t* ref = platform::bitmapPixels(reference, &stride);
    int differing = 0;
    for (int32_t y = 0; y < h; ++y)
        for (int32_t x = 0; x < w; ++x)
            differing += px[static_cast<size_t>(y) * w + x] != (ref[y * stride + x] & 0xFFFFFF);
    EXPECT_EQ(differing, 0);
    platform::deleteBitmap(reference);
}

TEST_F(FrameWindow, ClicksReachTheViewUnderThePointerWithTheLiveButtonState) {
    const platform::Point at = screen(100, 100);
    ASSERT_TRUE(host::movePointer(at.x, at.y));
    host::pump(30);
    POINT cursor{};
    GetCursorPos(&cursor);
    EXPECT_EQ(cursor.x, at.x);
    EXPECT_EQ(cursor.y, at.y);
    ASSERT_TRUE(host::button(1, true));
    ASSERT_TRUE(pumpUntil([&] { return !probe->presses.empty(); }));
    host::button(1, false);
    host::pump(30);
    EXPECT_EQ(probe->presses[0], CPoint(100, 100));
    EXPECT_EQ(probe->buttons[0] & (kMouseLeft | kMouseRight), kMouseLeft);
    // Outside the view: nothing.
    const platform::Point away = screen(400, 300);
    host::movePointer(away.x, away.y);
    host::button(1, true);
    host::button(1, false);
    host::pump(100);
    EXPECT_EQ(probe->presses.size(), 1u);
}

TEST_F(FrameWindow, ADragIsTrackedByPollingUntilTheButtonIsUp) {
    probe->track = true;
    const platform::Point at = screen(100, 150);
    host::movePointer(at.x, at.y);
    host::pump(20);
    // The handler keeps the thread while the button is held: a second thread moves and lets go,
    // as a hand on the mouse would.
    gPressed = false;
    std::thread hand([&] {
        for (int i = 0; i < 2000 && !gPressed; ++i) Sleep(1);
        for (int i = 1; i <= 10; ++i) {
            host::movePointer(at.x, at.y - 5 * i);
            Sleep(20);
        }
        host::button(1, false);
    });
    host::button(1, true);
    const bool pressed = pumpUntil([&] { return !probe->presses.empty(); });
    hand.join();
    ASSERT_TRUE(pressed);
    ASSERT_GE(probe->trail.size(), 3u);
    EXPECT_EQ(probe->trail.back(), CPoint(100, 100));
    EXPECT_EQ(probe->trail.front().x, 100);
}

TEST_F(FrameWindow, DroppedFilesAndTextReachTheViewUnderTheCursor) {
    char dir[MAX_PATH];
    ASSERT_GT(GetTempPathA(MAX_PATH, dir), 0u);
    const std::string base = std::string(dir) + "corvex drop test ";
    const std::string plain = base + "a.wav", target = base + "target.wav", link = base + "B.LNK";
    for (const auto& p : {plain, target}) std::ofstream(p) << "x";
    ASSERT_TRUE(host::writeShortcut(link, target));
    char shortTarget[MAX_PATH] = {};
    ASSERT_GT(GetShortPathNameA(target.c_str(), shortTarget, MAX_PATH), 0u);

    const platform::Point at = screen(60, 70);
    const uint32_t effect = host::dragFiles({plain, link, "C:\\nowhere\\c.txt"}, at);
    EXPECT_EQ(effect, static_cast<uint32_t>(DROPEFFECT_MOVE));
    EXPECT_EQ(probe->dropType, kDropFiles);
    ASSERT_EQ(probe->dropItems.size(), 3u);
    EXPECT_EQ(probe->dropItems[0], plain);
    EXPECT_EQ(probe->dropItems[1], std::string(shortTarget)) << "the shortcut's target, short form";
    EXPECT_EQ(probe->dropItems[2], "C:\\nowhere\\c.txt");
    EXPECT_EQ(probe->dropWhere, CPoint(60, 70));

    EXPECT_NE(host::dragText("hello drop", screen(200, 150)), 0u);
    EXPECT_EQ(probe->dropType, kDropText);
    ASSERT_EQ(probe->dropItems.size(), 1u);
    EXPECT_EQ(probe->dropItems[0], "hello drop");
    EXPECT_GE(probe->dropCount, 11) << "the block's size, terminator included";

    // Outside every view: refused.
    probe->dropType = -1;
    EXPECT_EQ(host::dragText("nobody", screen(500, 300)), 0u);
    EXPECT_EQ(probe->dropType, -1);
    for (const auto& p : {plain, target, link}) DeleteFileA(p.c_str());
}

TEST_F(FrameWindow, OpenCloseCyclesLeakNothingAndWithdrawTheClass) {
    const std::string name = CFrame::windowClassName();
    void* module = GetModuleHandleA(nullptr);
    close();
    host::pump(20);
    EXPECT_FALSE(host::classRegistered(name.c_str(), module));
    // The system keeps a few window device contexts cached once they were asked for.
    for (int warm = 0; warm < 3; ++warm) {
        open();
        frame->draw(static_cast<CView*>(nullptr));
        close();
        host::pump(5);
    }
    const uint32_t gdiBefore = census::gdiObjects();
    const DWORD userBefore = GetGuiResources(GetCurrentProcess(), GR_USEROBJECTS);
    const int32_t windowsBefore = census::threadWindows();
    for (int cycle = 0; cycle < 20; ++cycle) {
        open();
        EXPECT_TRUE(host::classRegistered(name.c_str(), module));
        frame->draw(static_cast<CView*>(nullptr));
        frame->idle();
        close();
        host::pump(5);
    }
    EXPECT_FALSE(host::classRegistered(name.c_str(), module));
    EXPECT_EQ(census::gdiObjects(), gdiBefore);
    EXPECT_EQ(GetGuiResources(GetCurrentProcess(), GR_USEROBJECTS), userBefore);
    EXPECT_EQ(census::threadWindows(), windowsBefore);
    open();
}

TEST_F(FrameWindow, AHostDestroyingItsWindowFirstLeavesAFrameThatClosesCleanly) {
    const std::string name = CFrame::windowClassName();
    host::destroy(parent);
    host::pump(20);
    EXPECT_FALSE(frame->getOpenFlag());
    EXPECT_FALSE(platform::windowAlive(frame->getSystemWindow()));
    frame->idle();
    frame->draw(static_cast<CView*>(nullptr));
    close();
    EXPECT_FALSE(host::classRegistered(name.c_str(), GetModuleHandleA(nullptr)));
    parent = host::create(kWidth, kHeight, "Corvex test host");
    open();
}

namespace {
// What a press handler saw of its own frame's end: disposed from inside the press, at once or
// in the middle of a tracking loop that still has the button held.
struct DisposeTrace {
    int32_t stepsAfterDispose = -1;  // tracking-loop steps that still saw the button down
    bool heldAtTheEnd = false;       // the button was still down when the loop ended
    bool hiddenAtOnce = false;
    HWND window = nullptr;
};

class Disposer : public CView {
public:
    Disposer(const CRect& r, DisposeTrace* trace, int32_t disposeAtStep)
        : CView(r), trace(trace), disposeAtStep(disposeAtStep) {}
    void draw(CDrawContext*) override { setDirty(false); }
    void mouse(CDrawContext* c, CPoint&) override {
        CFrame* frame = parentFrame;
        frame->beginEdit(3);
        int32_t step = 0, afterDispose = -1;
        const DWORD start = GetTickCount();
        do {
            if (step == disposeAtStep) {
                frame->dispose();
                trace->hiddenAtOnce = !IsWindowVisible(trace->window);
                afterDispose = 0;
            } else if (afterDispose >= 0) {
                ++afterDispose;
            }
            ++step;
            frame->doIdleStuff();
            Sleep(2);
        } while ((c->getMouseButtons() & kMouseLeft) && GetTickCount() - start < 5000);
        trace->heldAtTheEnd = (GetAsyncKeyState(VK_LBUTTON) & 0x8000) != 0;
        trace->stepsAfterDispose = afterDispose;
        // What a knob does once its loop is over; the frame is still there until the press
        // handler returns.
        frame->endEdit(3);
    }

private:
    DisposeTrace* trace;
    int32_t disposeAtStep;
};
}  // namespace

TEST_F(FrameWindow, AFrameDisposedFromItsOwnPressEndsSafely) {
    const std::string name = CFrame::windowClassName();
    void* module = GetModuleHandleA(nullptr);
    close();
    host::pump(20);
    // disposeAt 0: at once, before any tracking step; else after that many steps of a drag.
    auto disposeFromPress = [&](int32_t disposeAt) {
        SCOPED_TRACE(disposeAt ? "mid-drag" : "at once");
        open();
        DisposeTrace trace;
        trace.window = frameWindow();
        frame->addView(new Disposer(CRect(300, 40, 500, 200), &trace, disposeAt));
        host::pump(20);
        owner.edits.clear();
        const platform::Point at = screen(400, 100);
        host::movePointer(at.x, at.y);
        host::pump(20);
        std::atomic<bool> ended{false};
        // Held until the press handler is over, as by a hand that keeps dragging.
        std::thread hand([&] {
            for (int i = 0; i < 3000 && !ended; ++i) Sleep(1);
            host::button(1, false);
        });
        host::button(1, true);
        // The frame is gone after this: only the window handle is looked at.
        const bool over =
            pumpUntil([&] { return trace.stepsAfterDispose >= 0 && !IsWindow(trace.window); });
        ended = true;
        hand.join();
        frame = nullptr;
        owner.frame = nullptr;
        probe = nullptr;
        host::pump(20);
        std::printf("disposed at step %d: %d steps after, button held at the end %d, hidden at "
                    "once %d, window left %d; edits:",
                    disposeAt, trace.stepsAfterDispose, trace.heldAtTheEnd, trace.hiddenAtOnce,
                    IsWindow(trace.window) != 0);
        for (const auto& e : owner.edits) std::printf(" [%s]", e.c_str());
        std::printf("\n");
        ASSERT_TRUE(over);
        EXPECT_EQ(trace.stepsAfterDispose, 0) << "the loop sees the button released at once";
        EXPECT_TRUE(trace.heldAtTheEnd);
        EXPECT_TRUE(trace.hiddenAtOnce);
        EXPECT_EQ(owner.edits, (std::vector<std::string>{"begin 3", "end 3"}));
        EXPECT_EQ(census::descendants(reinterpret_cast<HWND>(parent)), 0);
        EXPECT_FALSE(host::classRegistered(name.c_str(), module));
    };
    // What the system and the thread runtime set up the first time and keep.
    disposeFromPress(10);
    const census::Census before = census::take();
    disposeFromPress(0);
    disposeFromPress(10);
    const census::Census after = census::take();
    census::print("frames disposed from their own press", before, after);
    EXPECT_EQ(after, before);
    open();
}
