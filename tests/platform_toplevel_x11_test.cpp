// SPDX-License-Identifier: GPL-3.0-or-later
// Guards the X11 top-level window against a real server: a window manager finds its title (UTF-8
// and Latin-1), class, close protocol and minimum size; XTest keys reach onKey with their
// character, name and physical key, a held key repeats, a layout change is followed, an open edit
// box takes the keys; the window manager's close request and the loss of focus are reported (the
// keys still down released first); and opening and closing, from outside or from its own handler,
// leaves no connection behind and never exits the process.
#include "support/x11_environment.h"

#include "platform/editbox.h"
#include "platform/window.h"
#include "testkit/x11_host.h"
#include "support/process_probe.h"
#include "support/toplevel_events.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <dirent.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

// Its Window and Cursor are named in full: X11 has its own.
using namespace platform;
namespace x11host = testkit::x11host;

namespace {

using testsupport::openFds;

using testsupport::BoxEvents;

// Paints what it is asked to in green, so that the window's pixels show the paint arrived.
struct Recorder : testsupport::TopLevelRecorder {
    Recorder() {
        fill = true;
        fillColor = 0x00C000;  // green, packed
    }
};

platform::Window* openTopLevel(Recorder* events,
                               const char* title = "Corvex \xE2\x80\x94 Synth\xC3\xA9") {
    TopLevelOptions o;
    o.title = title;
    o.width = 320;
    o.height = 200;
    o.minWidth = 200;
    o.minHeight = 150;
    o.className = "CorvexTest";
    o.events = events;
    events->window = createTopLevelWindow(o);
    return events->window;
}

class TopLevel : public ::testing::Test {
protected:
    void SetUp() override {
        // Errors of the window's connection must never reach the process's own handler.
        x11host::installHostErrorHandler();
        d = XOpenDisplay(nullptr);
        ASSERT_NE(d, nullptr) << "no X display";
        window = openTopLevel(&events);
        ASSERT_NE(window, nullptr);
        win = static_cast<::Window>(nativeHandle(window));
    }
    void TearDown() override {
        if (window) destroyWindow(window);
        if (d) XCloseDisplay(d);
        EXPECT_EQ(x11host::hostErrorCount(), 0);
        EXPECT_TRUE(x11host::uninstallHostErrorHandler());
    }
    // Pumps until pred() or about three seconds have passed.
    template <typename Pred> bool pumpUntil(Pred pred) {
        for (int i = 0; i < 300; ++i) {
            pumpEvents(window, false);
            if (pred()) return true;
            sleepMs(10);
        }
        return false;
    }
    void focus(::Window to) {
        XSetInputFocus(d, to, RevertToPointerRoot, CurrentTime);
        XSync(d, False);
    }
    // Presses and releases a key by keysym name; the events it gives are in events.keys.
    bool tap(const char* name) {
        const std::size_t before = events.keys.size();
        if (!x11host::key(name, true) || !x11host::key(name, false)) return false;
        return pumpUntil([&] { return events.keys.size() >= before + 2; });
    }
    std::string property(Atom name, Atom* type = nullptr) {
        Atom t = None;
        int format = 0;
        unsigned long count = 0, after = 0;
        unsigned char* data = nullptr;
        std::string out;
        if (XGetWindowProperty(d, win, name, 0, 4096, False, AnyPropertyType, &t, &format, &count,
                               &after, &data) == Success &&
            data && format == 8)
            out.assign(reinterpret_cast<char*>(data), count);
        if (data) XFree(data);
        if (type) *type = t;
        return out;
    }
    Atom atom(const char* name) { return XInternAtom(d, name, False); }

    Display* d = nullptr;
    Recorder events;
    platform::Window* window = nullptr;
    ::Window win = 0;
};

}  // namespace

TEST_F(TopLevel, TellsTheWindowManagerItsTitleClassCloseProtocolAndMinimumSize) {
    ::Window root = 0, parent = 0, *children = nullptr;
    unsigned n = 0;
    ASSERT_TRUE(XQueryTree(d, win, &root, &parent, &children, &n));
    if (children) XFree(children);
    EXPECT_EQ(parent, root);
    EXPECT_EQ(nativeParent(window, nativeHandle(window)), 0u);

    Atom type = None;
    EXPECT_EQ(property(atom("_NET_WM_NAME"), &type), "Corvex \xE2\x80\x94 Synth\xC3\xA9");
    EXPECT_EQ(type, atom("UTF8_STRING"));
    EXPECT_EQ(property(XA_WM_NAME, &type), "Corvex ? Synth\xE9");  // Latin-1 holds no dash
    EXPECT_EQ(type, XA_STRING);
    XClassHint hint{};
    ASSERT_TRUE(XGetClassHint(d, win, &hint));
    EXPECT_STREQ(hint.res_name, "corvex");
    EXPECT_STREQ(hint.res_class, "CorvexTest");
    XFree(hint.res_name);
    XFree(hint.res_class);
    Atom* protocols = nullptr;
    int count = 0;
    ASSERT_TRUE(XGetWMProtocols(d, win, &protocols, &count));
    EXPECT_EQ(count, 1);
    if (count > 0) {
        EXPECT_EQ(protocols[0], atom("WM_DELETE_WINDOW"));
    }
    if (protocols) XFree(protocols);
    XSizeHints size{};
    long supplied = 0;
    ASSERT_TRUE(XGetWMNormalHints(d, win, &size, &supplied));
    EXPECT_TRUE(size.flags & PMinSize);
    EXPECT_EQ(size.min_width, 200);
    EXPECT_EQ(size.min_height, 150);

    EXPECT_TRUE(setWindowTitle(window, "Init \xCE\xA9"));
    EXPECT_EQ(property(atom("_NET_WM_NAME")), "Init \xCE\xA9");
    EXPECT_EQ(property(XA_WM_NAME), "Init ?");
    const std::string huge(1 << 20, 'x');
    EXPECT_TRUE(setWindowTitle(window, huge.c_str()));
    EXPECT_EQ(property(atom("_NET_WM_NAME")).size(), kMaxTitleBytes);
}

TEST_F(TopLevel, PaintsAndReportsItsPlaceLikeAChildWindow) {
    ASSERT_TRUE(pumpUntil([&] { return events.paints > 0; }));
    std::vector<uint32_t> px;
    int32_t w = 0, h = 0;
    ASSERT_TRUE(x11host::readPixels(nativeHandle(window), &px, &w, &h));
    ASSERT_EQ(w, 320);
    ASSERT_EQ(h, 200);
    EXPECT_EQ(px[static_cast<size_t>(150) * w + 300], 0x00C000u);
    const Rect r = windowScreenRect(window);
    EXPECT_EQ(r.right - r.left, 320);
    EXPECT_EQ(r.bottom - r.top, 200);
    PointerState s;
    EXPECT_TRUE(queryPointer(window, &s));
}

TEST_F(TopLevel, KeysComeWithTheirCharacterNameAndPhysicalKey) {
    focus(win);
    ASSERT_TRUE(tap("z"));
    ASSERT_EQ(events.keys.size(), 2u);
    EXPECT_TRUE(events.keys[0].down);
    EXPECT_EQ(events.keys[0].event.character, static_cast<uint32_t>('z'));
    EXPECT_EQ(events.keys[0].event.key, Key::none);
    EXPECT_EQ(events.keys[0].event.scancode, 44u);
    EXPECT_EQ(events.keys[0].event.modifiers, 0u);
    EXPECT_FALSE(events.keys[0].event.repeat);
    EXPECT_FALSE(events.keys[1].down);
    EXPECT_EQ(events.keys[1].event.scancode, 44u);

    // Shift types the capital and counts from its own press; Control leaves the character be.
    ASSERT_TRUE(x11host::key("Shift_L", true));
    ASSERT_TRUE(tap("q"));
    ASSERT_TRUE(x11host::key("Shift_L", false));
    ASSERT_TRUE(pumpUntil([&] { return events.keys.size() >= 6; }));
    EXPECT_EQ(events.keys[2].event.key, Key::unknown);
    EXPECT_EQ(events.keys[2].event.scancode, 42u);
    EXPECT_EQ(events.keys[2].event.modifiers, kModShift);
    EXPECT_EQ(events.keys[3].event.character, static_cast<uint32_t>('Q'));
    EXPECT_EQ(events.keys[3].event.scancode, 16u);
    EXPECT_EQ(events.keys[3].event.modifiers, kModShift);
    EXPECT_EQ(events.keys[5].event.modifiers, 0u);
    ASSERT_TRUE(x11host::key("Control_L", true));
    ASSERT_TRUE(tap("q"));
    ASSERT_TRUE(x11host::key("Control_L", false));
    ASSERT_TRUE(pumpUntil([&] { return events.keys.size() >= 10; }));
    EXPECT_EQ(events.keys[7].event.character, static_cast<uint32_t>('q'));
    EXPECT_EQ(events.keys[7].event.modifiers, kModControl);

    struct Named {
        const char* name;
        platform::Key key;
        uint32_t character, scancode;
    };
    const Named named[] = {
        {"Return", Key::returnKey, 0, 28},
        {"KP_Enter", Key::enter, 0, 0xE01C},
        {"space", Key::space, ' ', 57},
        {"BackSpace", Key::backspace, 0, 14},
        {"Escape", Key::escape, 0, 1},
        {"Up", Key::up, 0, 0xE048},
        {"Delete", Key::del, 0, 0xE053},
        {"Next", Key::pageDown, 0, 0xE051},
        {"F5", Key::f5, 0, 63},
        {"F12", Key::f12, 0, 88},
        {"KP_Subtract", Key::none, '-', 74},
    };
    for (const Named& k : named) {
        events.keys.clear();
        ASSERT_TRUE(tap(k.name)) << k.name;
        EXPECT_EQ(events.keys[0].event.key, k.key) << k.name;
        EXPECT_EQ(events.keys[0].event.character, k.character) << k.name;
        EXPECT_EQ(events.keys[0].event.scancode, k.scancode) << k.name;
    }
}

TEST_F(TopLevel, AHeldKeyRepeatsAsPressesUntilItsRelease) {
    focus(win);
    // Held until the server's own auto-repeat has pressed it again.
    ASSERT_TRUE(x11host::key("a", true));
    const bool repeated = pumpUntil([&] { return events.keys.size() >= 3; });
    ASSERT_TRUE(x11host::key("a", false));
    ASSERT_TRUE(repeated);
    ASSERT_TRUE(pumpUntil([&] { return !events.keys.back().down; }));
    // Presses alone while it is down, never a release in between.
    EXPECT_FALSE(events.keys.front().event.repeat);
    for (std::size_t i = 1; i + 1 < events.keys.size(); ++i) {
        EXPECT_TRUE(events.keys[i].down) << i;
        EXPECT_TRUE(events.keys[i].event.repeat) << i;
        EXPECT_EQ(events.keys[i].event.character, static_cast<uint32_t>('a')) << i;
    }
    EXPECT_FALSE(events.keys.back().event.repeat);
}

TEST_F(TopLevel, AChangedLayoutIsReadWithItsOwnCharacters) {
    // A key of its own, free in the server's map, made a Cyrillic letter as a Russian layout
    // would (with the old Cyrillic keysyms, not the Unicode ones).
    int low = 0, high = 0;
    XDisplayKeycodes(d, &low, &high);
    int per = 0;
    KeySym* map = XGetKeyboardMapping(d, static_cast<KeyCode>(low), high - low + 1, &per);
    ASSERT_NE(map, nullptr);
    int free = 0;
    for (int code = high; code >= low && !free; --code) {
        bool empty = true;
        for (int i = 0; i < per; ++i) empty = empty && map[(code - low) * per + i] == NoSymbol;
        // Above every code that is renumbered for the PC keyboard's extended keys.
        if (empty && code - 8 >= 128) free = code;
    }
    XFree(map);
    ASSERT_NE(free, 0);
    KeySym letters[2] = {XStringToKeysym("Cyrillic_ya"), XStringToKeysym("Cyrillic_YA")};
    XChangeKeyboardMapping(d, free, 2, letters, 1);
    XSync(d, False);
    focus(win);
    ASSERT_TRUE(tap("Cyrillic_ya"));
    ASSERT_TRUE(x11host::key("Shift_L", true));
    ASSERT_TRUE(tap("Cyrillic_ya"));
    ASSERT_TRUE(x11host::key("Shift_L", false));
    pumpUntil([&] { return events.keys.size() >= 6; });
    KeySym none[2] = {NoSymbol, NoSymbol};
    XChangeKeyboardMapping(d, free, 2, none, 1);
    XSync(d, False);
    ASSERT_GE(events.keys.size(), 4u);
    EXPECT_EQ(events.keys[0].event.character, 0x44Fu);  // я
    EXPECT_EQ(events.keys[0].event.key, Key::none);
    EXPECT_EQ(events.keys[0].event.scancode, static_cast<uint32_t>(free - 8));
    EXPECT_EQ(events.keys[3].event.character, 0x42Fu);  // Я
}

TEST_F(TopLevel, AnOpenEditBoxTakesTheKeysAndItsFocusIsNoLoss) {
    focus(win);
    ASSERT_TRUE(pumpUntil([&] { return events.paints > 0; }));
    BoxEvents boxEvents;
    EditBoxOptions o;
    o.rect = {10, 10, 150, 30};
    o.text = "0.5";
    o.events = &boxEvents;
    // Opened from the keyboard: the window keeps the focus and hands the box its keys.
    EditBox* box = createEditBox(window, o);
    ASSERT_NE(box, nullptr);
    ASSERT_TRUE(x11host::key("7", true));
    ASSERT_TRUE(x11host::key("7", false));
    char text[16] = {};
    pumpUntil([&] { return editBoxText(box, text, sizeof text) > 0 && text[0] == '7'; });
    EXPECT_STREQ(text, "7");
    destroyEditBox(box);
    // Opened by a click: the box has the focus, and the window has not lost it.
    o.takeKeyboardFocus = true;
    box = createEditBox(window, o);
    ASSERT_NE(box, nullptr);
    ASSERT_TRUE(x11host::key("8", true));
    ASSERT_TRUE(x11host::key("8", false));
    ASSERT_TRUE(x11host::key("Return", true));
    ASSERT_TRUE(x11host::key("Return", false));
    EXPECT_TRUE(pumpUntil([&] { return !boxEvents.seen.empty(); }));
    EXPECT_EQ(boxEvents.seen, std::vector<EditBoxEvent>{EditBoxEvent::returnKey});
    editBoxText(box, text, sizeof text);
    EXPECT_STREQ(text, "8");
    destroyEditBox(box);
    pumpEvents(window, false);
    EXPECT_TRUE(events.keys.empty());
    EXPECT_EQ(events.focusOuts, 0);
    ASSERT_TRUE(tap("z"));  // the focus came back
}

TEST_F(TopLevel, LosingTheFocusReleasesTheKeysDownThenTells) {
    focus(win);
    ASSERT_TRUE(x11host::key("a", true));
    ASSERT_TRUE(pumpUntil([&] { return events.keys.size() == 1; }));
    const ::Window other = XCreateSimpleWindow(d, DefaultRootWindow(d), 400, 0, 50, 50, 0, 0, 0);
    XMapWindow(d, other);
    XSync(d, False);
    focus(other);
    ASSERT_TRUE(pumpUntil([&] { return events.focusOuts > 0; }));
    ASSERT_TRUE(x11host::key("a", false));
    XDestroyWindow(d, other);
    XSync(d, False);
    pumpEvents(window, false);
    EXPECT_EQ(events.order, (std::vector<std::string>{"down 97", "up 97", "focus-out"}));
}

TEST_F(TopLevel, TheWindowManagersCloseRequestLeavesTheWindowOpen) {
    auto send = [&](Atom type, Atom what) {
        XEvent e{};
        e.xclient.type = ClientMessage;
        e.xclient.window = win;
        e.xclient.message_type = type;
        e.xclient.format = 32;
        e.xclient.data.l[0] = static_cast<long>(what);
        e.xclient.data.l[1] = CurrentTime;
        XSendEvent(d, win, False, NoEventMask, &e);
        XSync(d, False);
    };
    send(atom("WM_PROTOCOLS"), atom("WM_TAKE_FOCUS"));  // not a close
    send(atom("CORVEX_OTHER"), atom("WM_DELETE_WINDOW"));
    send(atom("WM_PROTOCOLS"), atom("WM_DELETE_WINDOW"));
    ASSERT_TRUE(pumpUntil([&] { return events.closes > 0; }));
    pumpEvents(window, false);
    EXPECT_EQ(events.closes, 1);
    EXPECT_TRUE(windowAlive(window));
    EXPECT_TRUE(x11host::windowExists(nativeHandle(window)));
    // Closed from its own handler, as an application does.
    events.destroyOnClose = true;
    send(atom("WM_PROTOCOLS"), atom("WM_DELETE_WINDOW"));
    ASSERT_TRUE(pumpUntil([&] { return events.closes > 1; }));
    window = nullptr;  // ended by the pump that delivered it
    EXPECT_FALSE(x11host::windowExists(win));
}

TEST(TopLevelLifecycle, OpenAndCloseLeaveNoConnectionAndBadRequestsAreRefused) {
    Recorder events;
    destroyWindow(openTopLevel(&events));  // warm up: libraries open descriptors on first use
    const int fds = openFds();
    for (int i = 0; i < 10; ++i) {
        platform::Window* w = openTopLevel(&events, i % 2 ? "" : nullptr);
        ASSERT_NE(w, nullptr);
        setDropTarget(w, true);
        setCursor(w, platform::Cursor::sizeAll);
        pumpEvents(w, false);
        destroyWindow(w);
    }
    EXPECT_EQ(openFds(), fds);

    TopLevelOptions bad;
    bad.events = &events;
    EXPECT_EQ(createTopLevelWindow(bad), nullptr);
    bad.width = kMaxBitmapSide + 1;
    bad.height = 10;
    EXPECT_EQ(createTopLevelWindow(bad), nullptr);
    EXPECT_FALSE(setWindowTitle(nullptr, "x"));
    // No server to reach: null, and the process goes on.
    const std::string display = getenv("DISPLAY") ? getenv("DISPLAY") : "";
    setenv("DISPLAY", ":9876", 1);
    bad.width = 10;
    EXPECT_EQ(createTopLevelWindow(bad), nullptr);
    setenv("DISPLAY", display.c_str(), 1);
    EXPECT_EQ(openFds(), fds);
}
