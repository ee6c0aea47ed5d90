// SPDX-License-Identifier: GPL-3.0-or-later
// Guards the Win32 top-level window in real Wine windows: its client area is the size asked for,
// the user cannot shrink it below its minimum, its title round-trips in UTF-8; keys typed through
// SendInput reach onKey with their character, name and scan code, a held key repeats, an open edit
// box takes the keys and having the focus is no loss while another window taking it is; the
// close button, WM_CLOSE and Alt+F4 ask without destroying; open/close cycles leave no window,
// object or class behind. A child window at 3x: three times the size, paints, clicks, pointer
// and sizes in design units, bad scales refused; the desktop's scale from CORVEX_SCALE, else the
// DPI of the host's window.
#include "platform/editbox.h"
#include "platform/window.h"
#include "tests/support/toplevel_events.h"
#include "testkit/win32_host.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

using namespace platform;
namespace host = testkit::win32host;

namespace {

using testsupport::BoxEvents;
using Recorder = testsupport::TopLevelRecorder;

// A key as a keyboard gives it: its virtual key and its scan code.
bool sendKey(WORD vk, WORD scan, bool down, bool extended = false) {
    INPUT in{};
    in.type = INPUT_KEYBOARD;
    in.ki.wVk = vk;
    in.ki.wScan = scan;
    in.ki.dwFlags = (down ? 0 : KEYEVENTF_KEYUP) | (extended ? KEYEVENTF_EXTENDEDKEY : 0);
    return SendInput(1, &in, sizeof in) == 1;
}

std::string topClassName() {
    char name[32];
    std::snprintf(name, sizeof name, "PluginTop%08x",
                  static_cast<unsigned>(reinterpret_cast<uintptr_t>(GetModuleHandleA(nullptr))));
    return name;
}

BOOL CALLBACK countWindow(HWND, LPARAM count) {
    ++*reinterpret_cast<int32_t*>(count);
    return TRUE;
}

int32_t threadWindows() {
    int32_t n = 0;
    EnumThreadWindows(GetCurrentThreadId(), &countWindow, reinterpret_cast<LPARAM>(&n));
    return n;
}

Window* openTopLevel(Recorder* events) {
    TopLevelOptions o;
    o.title = "Corvex \xE2\x80\x94 Standalone";
    o.width = 400;
    o.height = 250;
    o.minWidth = 300;
    o.minHeight = 200;
    o.events = events;
    events->window = createTopLevelWindow(o);
    return events->window;
}

std::wstring windowText(HWND h) {
    std::wstring text(static_cast<size_t>(GetWindowTextLengthW(h)) + 1, L'\0');
    text.resize(static_cast<size_t>(GetWindowTextW(h, text.data(), static_cast<int>(text.size()))));
    return text;
}

class TopLevelWindow : public ::testing::Test {
protected:
    void SetUp() override {
        window = openTopLevel(&events);
        ASSERT_NE(window, nullptr);
        hwnd = reinterpret_cast<HWND>(nativeHandle(window));
        SetForegroundWindow(hwnd);
        SetFocus(hwnd);
        host::pump(50);
    }
    void TearDown() override {
        if (window) destroyWindow(window);
        host::pump(20);
    }
    bool pumpUntil(const std::function<bool()>& done, uint32_t ms = 3000) {
        const DWORD start = GetTickCount();
        while (!done()) {
            if (GetTickCount() - start > ms) return false;
            host::pump(5);
        }
        return true;
    }
    bool tap(WORD vk, WORD scan, bool extended = false) {
        const std::size_t before = events.keys.size();
        if (!sendKey(vk, scan, true, extended) || !sendKey(vk, scan, false, extended)) return false;
        return pumpUntil([&] { return events.keys.size() >= before + 2; });
    }

    Recorder events;
    Window* window = nullptr;
    HWND hwnd = nullptr;
};

}  // namespace

TEST_F(TopLevelWindow, OpensAtItsClientSizeWithItsTitleAndKeepsItsMinimum) {
    RECT client{};
    GetClientRect(hwnd, &client);
    EXPECT_EQ(client.right, 400);
    EXPECT_EQ(client.bottom, 250);
    EXPECT_EQ(GetAncestor(hwnd, GA_PARENT), GetDesktopWindow());
    const LONG style = GetWindowLongW(hwnd, GWL_STYLE);
    EXPECT_EQ(style & (WS_OVERLAPPEDWINDOW | WS_VISIBLE), WS_OVERLAPPEDWINDOW | WS_VISIBLE);
    EXPECT_TRUE(IsWindowUnicode(hwnd));
    EXPECT_EQ(windowText(hwnd), L"Corvex \u2014 Standalone");

    MINMAXINFO info{};
    SendMessageW(hwnd, WM_GETMINMAXINFO, 0, reinterpret_cast<LPARAM>(&info));
    RECT least{0, 0, 300, 200};
    AdjustWindowRectEx(&least, static_cast<DWORD>(style), FALSE,
                       static_cast<DWORD>(GetWindowLongW(hwnd, GWL_EXSTYLE)));
    EXPECT_EQ(info.ptMinTrackSize.x, least.right - least.left);
    EXPECT_EQ(info.ptMinTrackSize.y, least.bottom - least.top);
    // Sized down as a user dragging the frame would: the minimum holds.
    SetWindowPos(hwnd, nullptr, 0, 0, 40, 40, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    GetClientRect(hwnd, &client);
    EXPECT_EQ(client.right, 300);
    EXPECT_EQ(client.bottom, 200);

    EXPECT_TRUE(setWindowTitle(window, "Init \xF0\x9F\x8E\xB9 \xE9"));  // invalid é: Latin-1
    EXPECT_EQ(windowText(hwnd), L"Init \U0001F3B9 \u00E9");
    const std::string huge(1 << 20, 'x');
    EXPECT_TRUE(setWindowTitle(window, huge.c_str()));
    EXPECT_EQ(GetWindowTextLengthW(hwnd), static_cast<int>(kMaxTitleBytes));
    EXPECT_FALSE(setWindowTitle(window, nullptr));
    EXPECT_FALSE(setWindowTitle(nullptr, "x"));
}

TEST_F(TopLevelWindow, KeysComeWithTheirCharacterNameAndScanCode) {
    ASSERT_TRUE(tap('Z', 0x2C));
    ASSERT_EQ(events.keys.size(), 2u);
    EXPECT_TRUE(events.keys[0].down);
    EXPECT_EQ(events.keys[0].event.character, static_cast<uint32_t>('z'));
    EXPECT_EQ(events.keys[0].event.key, Key::none);
    EXPECT_EQ(events.keys[0].event.scancode, 44u);
    EXPECT_EQ(events.keys[0].event.modifiers, 0u);
    EXPECT_FALSE(events.keys[0].event.repeat);
    EXPECT_FALSE(events.keys[1].down);
    EXPECT_EQ(events.keys[1].event.character, static_cast<uint32_t>('z'));
    EXPECT_EQ(events.keys[1].event.scancode, 44u);

    // Shift types the capital and counts from its own press; Control leaves the character be.
    ASSERT_TRUE(sendKey(VK_SHIFT, 0x2A, true));
    ASSERT_TRUE(tap('Q', 0x10));
    ASSERT_TRUE(sendKey(VK_SHIFT, 0x2A, false));
    ASSERT_TRUE(pumpUntil([&] { return events.keys.size() >= 6; }));
    EXPECT_EQ(events.keys[2].event.key, Key::unknown);
    EXPECT_EQ(events.keys[2].event.scancode, 42u);
    EXPECT_EQ(events.keys[2].event.modifiers, kModShift);
    EXPECT_EQ(events.keys[3].event.character, static_cast<uint32_t>('Q'));
    EXPECT_EQ(events.keys[3].event.scancode, 16u);
    EXPECT_EQ(events.keys[3].event.modifiers, kModShift);
    EXPECT_EQ(events.keys[5].event.modifiers, 0u);
    ASSERT_TRUE(sendKey(VK_CONTROL, 0x1D, true));
    ASSERT_TRUE(tap('Q', 0x10));
    ASSERT_TRUE(sendKey(VK_CONTROL, 0x1D, false));
    ASSERT_TRUE(pumpUntil([&] { return events.keys.size() >= 10; }));
    EXPECT_EQ(events.keys[7].event.character, static_cast<uint32_t>('q'));
    EXPECT_EQ(events.keys[7].event.modifiers, kModControl);

    struct Named {
        WORD vk, scan;
        bool extended;
        Key key;
        uint32_t character, scancode;
    };
    const Named named[] = {
        {VK_RETURN, 0x1C, false, Key::returnKey, 0, 28},
        {VK_RETURN, 0x1C, true, Key::enter, 0, 0xE01C},
        {VK_SPACE, 0x39, false, Key::space, ' ', 57},
        {VK_BACK, 0x0E, false, Key::backspace, 0, 14},
        {VK_ESCAPE, 0x01, false, Key::escape, 0, 1},
        {VK_UP, 0x48, true, Key::up, 0, 0xE048},
        {VK_DELETE, 0x53, true, Key::del, 0, 0xE053},
        {VK_NEXT, 0x51, true, Key::pageDown, 0, 0xE051},
        {VK_F5, 0x3F, false, Key::f5, 0, 63},
        {VK_F12, 0x58, false, Key::f12, 0, 88},
        {VK_SUBTRACT, 0x4A, false, Key::none, '-', 74},
    };
    for (const Named& k : named) {
        events.keys.clear();
        ASSERT_TRUE(tap(k.vk, k.scan, k.extended)) << k.vk;
        EXPECT_EQ(events.keys[0].event.key, k.key) << k.vk;
        EXPECT_EQ(events.keys[0].event.character, k.character) << k.vk;
        EXPECT_EQ(events.keys[0].event.scancode, k.scancode) << k.vk;
    }

    // Text typed by software: no physical key, the character as it came.
    events.keys.clear();
    INPUT in[2] = {};
    in[0].type = in[1].type = INPUT_KEYBOARD;
    in[0].ki.wScan = in[1].ki.wScan = 0x00E9;
    in[0].ki.dwFlags = KEYEVENTF_UNICODE;
    in[1].ki.dwFlags = KEYEVENTF_UNICODE | KEYEVENTF_KEYUP;
    ASSERT_EQ(SendInput(2, in, sizeof in[0]), 2u);
    ASSERT_TRUE(pumpUntil([&] { return events.keys.size() >= 2; }));
    EXPECT_EQ(events.keys[0].event.character, 0xE9u);
    EXPECT_EQ(events.keys[0].event.scancode, 0u);
}

TEST_F(TopLevelWindow, AHeldKeyRepeatsUntilItsRelease) {
    ASSERT_TRUE(sendKey('A', 0x1E, true));
    ASSERT_TRUE(sendKey('A', 0x1E, true));  // the keyboard's own repeat
    ASSERT_TRUE(pumpUntil([&] { return events.keys.size() >= 2; }));
    // A repeat as the system flags it, in the message itself.
    PostMessageW(hwnd, WM_KEYDOWN, 'A', 1 | (0x1E << 16) | (1 << 30));
    ASSERT_TRUE(pumpUntil([&] { return events.keys.size() >= 3; }));
    ASSERT_TRUE(sendKey('A', 0x1E, false));
    ASSERT_TRUE(pumpUntil([&] { return events.keys.size() >= 4; }));
    ASSERT_EQ(events.keys.size(), 4u);
    EXPECT_FALSE(events.keys[0].event.repeat);
    for (int i = 1; i < 3; ++i) {
        EXPECT_TRUE(events.keys[i].down) << i;
        EXPECT_TRUE(events.keys[i].event.repeat) << i;
        EXPECT_EQ(events.keys[i].event.character, static_cast<uint32_t>('a')) << i;
    }
    EXPECT_FALSE(events.keys[3].down);
    EXPECT_FALSE(events.keys[3].event.repeat);
}

TEST_F(TopLevelWindow, AnEditBoxTakesTheKeysAndAnotherWindowTakesTheFocus) {
    BoxEvents boxEvents;
    EditBoxOptions o;
    o.rect = {10, 10, 150, 30};
    o.text = "0.5";
    o.events = &boxEvents;
    // Opened from the keyboard: the window keeps the focus and hands the box its keys.
    EditBox* box = createEditBox(window, o);
    ASSERT_NE(box, nullptr);
    char text[16] = {};
    ASSERT_TRUE(sendKey('7', 0x08, true));
    ASSERT_TRUE(sendKey('7', 0x08, false));
    pumpUntil([&] { return editBoxText(box, text, sizeof text) > 0 && text[0] == '7'; });
    EXPECT_STREQ(text, "7");
    destroyEditBox(box);
    // Opened by a click: the box has the focus, and the window has not lost it.
    o.takeKeyboardFocus = true;
    box = createEditBox(window, o);
    ASSERT_NE(box, nullptr);
    host::pump(20);
    ASSERT_TRUE(sendKey('8', 0x09, true));
    ASSERT_TRUE(sendKey('8', 0x09, false));
    ASSERT_TRUE(sendKey(VK_RETURN, 0x1C, true));
    ASSERT_TRUE(sendKey(VK_RETURN, 0x1C, false));
    EXPECT_TRUE(pumpUntil([&] { return !boxEvents.seen.empty(); }));
    EXPECT_EQ(boxEvents.seen, std::vector<EditBoxEvent>{EditBoxEvent::returnKey});
    editBoxText(box, text, sizeof text);
    EXPECT_STREQ(text, "8");
    destroyEditBox(box);
    host::pump(20);
    EXPECT_TRUE(events.keys.empty());
    EXPECT_EQ(events.focusOuts, 0);
    EXPECT_EQ(GetFocus(), hwnd);

    // Another window takes the keyboard while a key is down here.
    ASSERT_TRUE(sendKey('A', 0x1E, true));
    ASSERT_TRUE(pumpUntil([&] { return events.keys.size() == 1; }));
    const NativeWindow other = host::create(100, 100, "other");
    ASSERT_TRUE(pumpUntil([&] { return events.focusOuts > 0; }));
    ASSERT_TRUE(sendKey('A', 0x1E, false));
    host::pump(20);
    host::destroy(other);
    EXPECT_EQ(events.order, (std::vector<std::string>{"down 97", "up 97", "focus-out"}));
}

TEST_F(TopLevelWindow, CloseRequestsLeaveTheWindowUntilItsOwnerEndsIt) {
    SendMessageW(hwnd, WM_SYSCOMMAND, SC_CLOSE, 0);  // the close button
    EXPECT_EQ(events.closes, 1);
    EXPECT_TRUE(IsWindow(hwnd));
    EXPECT_TRUE(windowAlive(window));
    // Alt+F4, which the window leaves to the system.
    events.take = false;
    ASSERT_TRUE(sendKey(VK_MENU, 0x38, true));
    ASSERT_TRUE(sendKey(VK_F4, 0x3E, true));
    ASSERT_TRUE(sendKey(VK_F4, 0x3E, false));
    ASSERT_TRUE(sendKey(VK_MENU, 0x38, false));
    EXPECT_TRUE(pumpUntil([&] { return events.closes == 2; }));
    EXPECT_TRUE(IsWindow(hwnd));
    // Ended from its own handler, as an application does.
    events.destroyOnClose = true;
    PostMessageW(hwnd, WM_CLOSE, 0, 0);
    ASSERT_TRUE(pumpUntil([&] { return events.closes == 3; }));
    window = nullptr;
    EXPECT_FALSE(IsWindow(hwnd));
    EXPECT_FALSE(host::classRegistered(topClassName().c_str(), GetModuleHandleA(nullptr)));
}

TEST(TopLevelLifecycle, OpenCloseCyclesLeaveNothingAndWithdrawTheClass) {
    const std::string name = topClassName();
    void* module = GetModuleHandleA(nullptr);
    Recorder events;
    destroyWindow(openTopLevel(&events));  // warm up: the system caches a few objects
    host::pump(20);
    const DWORD userBefore = GetGuiResources(GetCurrentProcess(), GR_USEROBJECTS);
    const DWORD gdiBefore = GetGuiResources(GetCurrentProcess(), GR_GDIOBJECTS);
    const int32_t windowsBefore = threadWindows();
    for (int i = 0; i < 3; ++i) {
        Recorder a, b;
        Window* first = openTopLevel(&a);
        Window* second = openTopLevel(&b);
        ASSERT_NE(first, nullptr);
        ASSERT_NE(second, nullptr);
        host::pump(5);
        destroyWindow(first);
        EXPECT_TRUE(host::classRegistered(name.c_str(), module)) << "the second still uses it";
        destroyWindow(second);
        EXPECT_FALSE(host::classRegistered(name.c_str(), module));
        host::pump(5);
    }
    EXPECT_EQ(GetGuiResources(GetCurrentProcess(), GR_USEROBJECTS), userBefore);
    EXPECT_EQ(GetGuiResources(GetCurrentProcess(), GR_GDIOBJECTS), gdiBefore);
    EXPECT_EQ(threadWindows(), windowsBefore);

    TopLevelOptions bad;
    bad.title = nullptr;
    bad.className = nullptr;
    EXPECT_EQ(createTopLevelWindow(bad), nullptr);
    bad.width = kMaxBitmapSide + 1;
    bad.height = 10;
    EXPECT_EQ(createTopLevelWindow(bad), nullptr);
    EXPECT_FALSE(host::classRegistered(name.c_str(), module));
    bad.width = 10;
    Window* untitled = createTopLevelWindow(bad);
    ASSERT_NE(untitled, nullptr);
    EXPECT_EQ(windowText(reinterpret_cast<HWND>(nativeHandle(untitled))), L"");
    destroyWindow(untitled);
}

// ---- Windows at a scale ----------------------------------------------------------------------

namespace {

struct ScaledEvents : WindowEvents {
    std::vector<Rect> painted;
    std::vector<Point> presses;
    void onPaint(Context* c, const Rect& r) override {
        painted.push_back(r);
        Brush* b = createSolidBrush(rgb(200, 0, 0));
        fillRect(c, {10, 10, 20, 20}, b);
        deleteBrush(b);
    }
    void onButtonDown(Context*, Point where, int, uint32_t) override { presses.push_back(where); }
    void onDestroyed() override {}
    bool onDrop(DropKind, const char* const*, int32_t, std::size_t, Point) override {
        return false;
    }
};

}  // namespace

TEST(ScaledChildWindow, IsThreeTimesLargerAndSpeaksInDesignUnits) {
    registerWindowClass();
    const NativeWindow parent = host::create(700, 400, "Corvex scaled child host");
    ScaledEvents events;
    WindowOptions o;
    o.parent = parent;
    o.width = 200;
    o.height = 100;
    o.events = &events;
    for (const int32_t bad : {0, 4, -1}) {
        o.scale = bad;
        EXPECT_EQ(createChildWindow(o), nullptr) << "scale " << bad;
    }
    o.scale = 3;
    Window* w = createChildWindow(o);
    ASSERT_NE(w, nullptr);
    const HWND hwnd = reinterpret_cast<HWND>(nativeHandle(w));
    EXPECT_EQ(windowScale(w), 3);
    RECT client{};
    GetClientRect(hwnd, &client);
    EXPECT_EQ(client.right, 600);
    EXPECT_EQ(client.bottom, 300);
    const Rect screen = windowScreenRect(w);
    EXPECT_EQ(screen.right - screen.left, 200);
    EXPECT_EQ(screen.bottom - screen.top, 100);

    // The first paint: damage in design units, the fill a block of 30 x 30 device pixels.
    host::pump(100);
    ASSERT_FALSE(events.painted.empty());
    EXPECT_EQ(events.painted.front().right, 200);
    EXPECT_EQ(events.painted.front().bottom, 100);
    std::vector<uint32_t> px;
    int32_t pw = 0, ph = 0;
    ASSERT_TRUE(host::readPixels(nativeHandle(w), &px, &pw, &ph));
    ASSERT_EQ(pw, 600);
    auto at = [&](int32_t x, int32_t y) { return px[static_cast<size_t>(y) * pw + x]; };
    EXPECT_EQ(at(30, 30), 0xC80000u);
    EXPECT_EQ(at(59, 59), 0xC80000u);
    EXPECT_NE(at(29, 30), 0xC80000u);
    EXPECT_NE(at(60, 59), 0xC80000u);

    // A click on device pixel (151, 92) is at design (50, 30); so is the pointer asked for.
    const Point origin = host::clientOrigin(nativeHandle(w));
    host::movePointer(origin.x + 151, origin.y + 92);
    host::pump(40);
    host::button(1, true);
    host::pump(40);
    PointerState pointer;
    ASSERT_TRUE(queryPointer(w, &pointer));
    host::button(1, false);
    host::pump(80);
    ASSERT_EQ(events.presses.size(), 1u);
    EXPECT_EQ(events.presses[0].x, 50);
    EXPECT_EQ(events.presses[0].y, 30);
    EXPECT_EQ(pointer.screen.x - screen.left, 50);
    EXPECT_EQ(pointer.screen.y - screen.top, 30);

    EXPECT_TRUE(resizeWindow(w, 150, 80));
    GetClientRect(hwnd, &client);
    EXPECT_EQ(client.right, 450);
    EXPECT_EQ(client.bottom, 240);
    EXPECT_FALSE(resizeWindow(w, 6000, 80)) << "18000 device pixels wide";
    destroyWindow(w);
    host::destroy(parent);
    host::pump(20);
    unregisterWindowClass();
}

TEST(DesktopScaleOnWindows, TheVariableFirstThenTheHostWindowsDpi) {
    const NativeWindow parent = host::create(100, 100, "Corvex DPI host");
    HDC dc = GetDC(reinterpret_cast<HWND>(parent));
    const int dpi = GetDeviceCaps(dc, LOGPIXELSY);
    ReleaseDC(reinterpret_cast<HWND>(parent), dc);
    const int32_t byDpi = std::clamp(dpi / 96, 1, 3);
    SetEnvironmentVariableA("CORVEX_SCALE", nullptr);
    EXPECT_EQ(desktopScale(parent), byDpi);
    EXPECT_EQ(desktopScale(0), byDpi);
    SetEnvironmentVariableA("CORVEX_SCALE", "3");
    EXPECT_EQ(desktopScale(parent), 3);
    SetEnvironmentVariableA("CORVEX_SCALE", "1");
    EXPECT_EQ(desktopScale(parent), 1);
    // Not a scale we draw at, and a value too long to be one: the DPI decides.
    SetEnvironmentVariableA("CORVEX_SCALE", "7");
    EXPECT_EQ(desktopScale(parent), byDpi);
    SetEnvironmentVariableA("CORVEX_SCALE", "2                                                 2");
    EXPECT_EQ(desktopScale(parent), byDpi);
    SetEnvironmentVariableA("CORVEX_SCALE", nullptr);
    host::destroy(parent);
}
