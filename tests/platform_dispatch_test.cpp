// SPDX-License-Identifier: GPL-3.0-or-later
// Guards the window rules every backend shares: one paint per pass with the damage merged,
// nested passes delivering paints only (the rest held back and delivered in order afterwards),
// nothing for a destroyed window and its destroy notice once, drops copied when held; keys that
// reach the frame in pairs (repeats flagged, a release only after its press and with its
// character, releases made up when the keyboard goes) or go to an open edit box instead; and the
// in-memory top-level window with its title, minimum size and close request.
#include "platform/window_dispatch.h"

#include "platform/memory_window.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace platform;

namespace {

struct Recorder : WindowEvents {
    std::vector<std::string> log;
    std::vector<Rect> paints;
    EventDispatch* dispatch = nullptr;
    bool nestOnButton = false;  // the button handler pumps again, as a tracking loop does
    bool refuse = false;
    void onPaint(Context* c, const Rect& r) override {
        paints.push_back(r);
        log.push_back(c ? "paint" : "paint-no-context");
    }
    void onButtonDown(Context*, Point p, int b, uint32_t) override {
        log.push_back("button " + std::to_string(p.x) + "," + std::to_string(p.y) + " " +
                      std::to_string(b));
        if (nestOnButton && dispatch) {
            nestOnButton = false;
            EventDispatch::Pass inner(*dispatch, false);
            EXPECT_TRUE(inner.paintOnly());
            dispatch->addDamage({0, 0, 5, 5});
            dispatch->buttonDown({7, 7}, 1, kButtonLeft);
            const char* items[] = {"C:\\a.wav"};
            std::string text = "held text";
            const char* t[] = {text.c_str()};
            EXPECT_TRUE(dispatch->drop(DropKind::files, items, 1, 0, {1, 2}));
            EXPECT_TRUE(dispatch->drop(DropKind::text, t, 1, text.size() + 1, {3, 4}));
            text.assign("overwritten");  // the held copy must not see this
            dispatch->wheel({8, 8}, -1.0f);
            log.push_back("inner-end");
        }
    }
    void onDestroyed() override { log.push_back("destroyed"); }
    void onWheel(Context*, Point, float d) override {
        log.push_back("wheel " + std::to_string(static_cast<int>(d)));
    }
    bool canDrop() override { return !refuse; }
    bool onDrop(DropKind k, const char* const* items, int32_t n, std::size_t size,
                Point p) override {
        log.push_back(std::string(k == DropKind::files ? "files " : "text ") + items[0] + " " +
                      std::to_string(n) + " " + std::to_string(size) + " at " +
                      std::to_string(p.x));
        return true;
    }
    bool onKey(const KeyEvent& k, bool down) override {
        log.push_back(std::string(down ? "down " : "up ") +
                      (k.character ? std::string(1, static_cast<char>(k.character)) : "-") + " " +
                      std::to_string(k.scancode) + (k.repeat ? " repeat" : ""));
        if (closeOnKey && dispatch) dispatch->retire();
        return takeKeys;
    }
    void onCloseRequest() override { log.push_back("close"); }
    void onFocusOut() override { log.push_back("focus-out"); }
    bool takeKeys = true;
    bool closeOnKey = false;  // the key handler closes the window
};

KeyEvent keyOf(char c, uint32_t scancode) {
    KeyEvent k;
    k.character = static_cast<uint8_t>(c);
    k.scancode = scancode;
    return k;
}

// Hands out a real context on a small bitmap and counts that each one comes back.
struct Contexts : ContextSource {
    int out = 0;
    Bitmap* bitmap = createBitmap(8, 8);
    ~Contexts() { deleteBitmap(bitmap); }
    Context* acquire() override {
        ++out;
        Context* c = createContext(nullptr);
        selectBitmap(c, bitmap);
        return c;
    }
    void release(Context* c) override {
        --out;
        deleteContext(c);
    }
};

class Dispatch : public ::testing::Test {
protected:
    void SetUp() override {
        dispatch.bind(&events, &contexts);
        events.dispatch = &dispatch;
    }
    Recorder events;
    Contexts contexts;
    EventDispatch dispatch;
};

}  // namespace

TEST_F(Dispatch, DamageOfOnePassIsMergedIntoOnePaint) {
    {
        EventDispatch::Pass pass(dispatch, false);
        dispatch.addDamage({10, 10, 20, 20});
        dispatch.addDamage({5, 30, 12, 40});
        dispatch.addDamage({0, 0, 0, 50});  // empty: ignored
    }
    ASSERT_EQ(events.paints.size(), 1u);
    EXPECT_EQ(events.paints[0].left, 5);
    EXPECT_EQ(events.paints[0].top, 10);
    EXPECT_EQ(events.paints[0].right, 20);
    EXPECT_EQ(events.paints[0].bottom, 40);
    EXPECT_EQ(contexts.out, 0);
    { EventDispatch::Pass pass(dispatch, false); }
    EXPECT_EQ(events.paints.size(), 1u) << "no damage, no paint";
}

TEST_F(Dispatch, NestedPassesPaintOnlyAndHeldEventsFollowInOrder) {
    events.nestOnButton = true;
    {
        EventDispatch::Pass pass(dispatch, false);
        EXPECT_FALSE(pass.paintOnly());
        dispatch.buttonDown({1, 1}, 1, kButtonLeft);
    }
    const std::vector<std::string> expected = {"button 1,1 1",
                                               "inner-end",
                                               "paint",
                                               "button 7,7 1",
                                               "files C:\\a.wav 1 0 at 1",
                                               "text held text 1 10 at 3",
                                               "wheel -1"};
    EXPECT_EQ(events.log, expected);
    EXPECT_EQ(dispatch.heldBack(), 0u);
    EXPECT_EQ(dispatch.depth(), 0);
    EXPECT_EQ(contexts.out, 0);
}

TEST_F(Dispatch, APaintOnlyPassHoldsButtonsUntilTheOutermostPassEnds) {
    {
        EventDispatch::Pass outer(dispatch, true);
        dispatch.buttonDown({2, 3}, 3, kButtonLeft);
        EXPECT_EQ(dispatch.heldBack(), 1u);
        EXPECT_TRUE(events.log.empty());
    }
    EXPECT_EQ(events.log, std::vector<std::string>{"button 2,3 3"});
}

TEST_F(Dispatch, ADestroyedWindowReceivesNothingAndIsToldOnce) {
    {
        EventDispatch::Pass outer(dispatch, true);
        dispatch.buttonDown({2, 3}, 1, kButtonLeft);  // held, then dropped with the window
        dispatch.key(keyOf('a', 30), true);
        dispatch.addDamage({0, 0, 4, 4});
        dispatch.destroyed();
        dispatch.destroyed();
    }
    dispatch.buttonDown({1, 1}, 1, kButtonLeft);
    dispatch.wheel({1, 1}, 1.0f);
    EXPECT_FALSE(dispatch.key(keyOf('a', 30), true));
    dispatch.closeRequest();
    dispatch.focusOut();
    const char* items[] = {"x"};
    EXPECT_FALSE(dispatch.canDrop());
    EXPECT_FALSE(dispatch.drop(DropKind::files, items, 1, 0, {0, 0}));
    {
        EventDispatch::Pass pass(dispatch, false);
        dispatch.addDamage({0, 0, 4, 4});
    }
    EXPECT_EQ(events.log, std::vector<std::string>{"destroyed"});
    EXPECT_FALSE(dispatch.alive());
}

TEST_F(Dispatch, DropsAskTheFrameAndBadListsAreRefused) {
    const char* items[] = {"x"};
    events.refuse = true;
    EXPECT_FALSE(dispatch.canDrop());
    EXPECT_FALSE(dispatch.drop(DropKind::files, items, 1, 0, {0, 0}));
    events.refuse = false;
    EXPECT_FALSE(dispatch.drop(DropKind::files, nullptr, 1, 0, {0, 0}));
    EXPECT_FALSE(dispatch.drop(DropKind::files, items, -1, 0, {0, 0}));
    EXPECT_TRUE(dispatch.drop(DropKind::files, items, 1, 0, {4, 0}));
    EXPECT_EQ(events.log, std::vector<std::string>{"files x 1 0 at 4"});
}

TEST(DispatchWithoutReceiver, DeliversNothingAndCountsNoContexts) {
    EventDispatch d;
    {
        EventDispatch::Pass pass(d, false);
        d.addDamage({0, 0, 1, 1});
        d.buttonDown({0, 0}, 1, kButtonLeft);
        d.destroyed();
    }
    EXPECT_FALSE(d.canDrop());
    EXPECT_EQ(d.heldBack(), 0u);
}

TEST_F(Dispatch, KeysClosesAndFocusLossInAPaintOnlyPassAreHeldAndFollowInOrder) {
    {
        EventDispatch::Pass outer(dispatch, true);
        EXPECT_TRUE(dispatch.key(keyOf('z', 44), true)) << "held counts as taken";
        dispatch.buttonDown({2, 3}, 1, kButtonLeft);
        dispatch.key(keyOf('z', 44), false);
        dispatch.closeRequest();
        dispatch.focusOut();
        EXPECT_EQ(dispatch.heldBack(), 5u);
        EXPECT_TRUE(events.log.empty());
    }
    const std::vector<std::string> expected = {"down z 44", "button 2,3 1", "up z 44", "close",
                                               "focus-out"};
    EXPECT_EQ(events.log, expected);
}

TEST_F(Dispatch, KeysReachTheFrameInPairs) {
    dispatch.key(keyOf('q', 16), true);
    dispatch.key(keyOf('q', 16), true);  // held down: the system repeats it
    KeyEvent release = keyOf(0, 16);     // read with other modifiers, or none at all
    dispatch.key(release, false);
    dispatch.key(keyOf('w', 17), false);  // its press went elsewhere
    KeyEvent typed = keyOf('x', 0);       // text typed by software has no physical key
    typed.repeat = true;
    dispatch.key(typed, true);
    dispatch.key(typed, false);
    const std::vector<std::string> expected = {"down q 16", "down q 16 repeat", "up q 16",
                                               "down x 0 repeat", "up x 0"};
    EXPECT_EQ(events.log, expected);
    events.takeKeys = false;
    EXPECT_FALSE(dispatch.key(keyOf('q', 16), true)) << "the frame's answer goes back";
}

TEST_F(Dispatch, LosingTheKeyboardReleasesWhatIsDownFirst) {
    dispatch.key(keyOf('a', 30), true);
    dispatch.key(keyOf('s', 31), true);
    dispatch.key(keyOf('s', 31), true);
    dispatch.focusOut();
    dispatch.key(keyOf('a', 30), false);  // the real release, later: already told
    const std::vector<std::string> expected = {"down a 30", "down s 31", "down s 31 repeat",
                                               "up a 30",   "up s 31",   "focus-out"};
    EXPECT_EQ(events.log, expected);
}

TEST_F(Dispatch, AFrameClosedByAKeyHearsNothingMore) {
    dispatch.key(keyOf('a', 30), true);
    dispatch.key(keyOf('s', 31), true);
    events.closeOnKey = true;
    {
        EventDispatch::Pass pass(dispatch, false);
        dispatch.focusOut();  // the first made-up release closes the window
        dispatch.key(keyOf('d', 32), true);
        dispatch.closeRequest();
    }
    EXPECT_EQ(events.log, (std::vector<std::string>{"down a 30", "down s 31", "up a 30"}));
    EXPECT_TRUE(dispatch.finished());
}

TEST(EditKeys, OnlyWholeCharactersBecomeText) {
    EditKeyInput in;
    char text[5];
    KeyEvent k;
    k.character = 0x1F600;  // four bytes of UTF-8
    ASSERT_TRUE(editKeyFor(k, &in, text));
    EXPECT_EQ(in.key, EditKey::text);
    EXPECT_STREQ(in.text, "\xF0\x9F\x98\x80");
    for (uint32_t bad : {0x7u, 0x9Fu, 0xD800u, 0x110000u, 0xFFFFFFFFu}) {
        k.character = bad;
        EXPECT_FALSE(editKeyFor(k, &in, text)) << bad;
    }
    k.character = 'v';
    k.modifiers = kModControl;
    ASSERT_TRUE(editKeyFor(k, &in, text));
    EXPECT_EQ(in.key, EditKey::paste);
    EXPECT_FALSE(editKeyFor(k, nullptr, text));
}

// ---- The in-memory top-level window ------------------------------------------------------------

namespace {

struct TopRecorder : Recorder {
    Window* window = nullptr;
    bool destroyOnClose = false;
    void onCloseRequest() override {
        Recorder::onCloseRequest();
        if (destroyOnClose) destroyWindow(window);
    }
};

struct BoxEvents : EditBoxEvents {
    std::vector<EditBoxEvent> seen;
    void onEditBoxEvent(EditBox*, EditBoxEvent e) override { seen.push_back(e); }
};

Window* openTopLevel(TopRecorder* events, int32_t minWidth = 0, int32_t minHeight = 0) {
    TopLevelOptions o;
    o.title = "Corvex";
    o.width = 300;
    o.height = 200;
    o.minWidth = minWidth;
    o.minHeight = minHeight;
    o.events = events;
    events->window = createTopLevelWindow(o);
    return events->window;
}

}  // namespace

TEST(TopLevelInMemory, KeepsItsTitleAndMinimumSizeAndRefusesBadOnes) {
    TopRecorder events;
    Window* w = openTopLevel(&events, 120, 500);
    ASSERT_NE(w, nullptr);
    EXPECT_EQ(memory::windowTitle(w), "Corvex");
    EXPECT_EQ(memory::windowMinSize(w).x, 120);
    EXPECT_EQ(memory::windowMinSize(w).y, 200) << "never more than the size";
    EXPECT_TRUE(nativeHasCaption(w, nativeHandle(w)));
    EXPECT_EQ(nativeParent(w, nativeHandle(w)), 0u);

    EXPECT_TRUE(setWindowTitle(w, "Corvex \xE2\x80\x94 Init\tPatch\xE9"));
    EXPECT_EQ(memory::windowTitle(w), "Corvex \xE2\x80\x94 InitPatch\xC3\xA9");
    std::string huge(3 * kMaxTitleBytes, 'a');
    huge.replace(kMaxTitleBytes - 1, 2, "\xC3\xA9");  // a character across the limit
    EXPECT_TRUE(setWindowTitle(w, huge.c_str()));
    EXPECT_EQ(memory::windowTitle(w), std::string(kMaxTitleBytes - 1, 'a'));
    EXPECT_FALSE(setWindowTitle(w, nullptr));
    EXPECT_FALSE(setWindowTitle(nullptr, "x"));
    destroyWindow(w);

    TopLevelOptions bad;
    bad.title = nullptr;
    bad.className = nullptr;
    EXPECT_EQ(createTopLevelWindow(bad), nullptr);
    bad.width = bad.height = kMaxBitmapSide + 1;
    EXPECT_EQ(createTopLevelWindow(bad), nullptr);
    bad.width = bad.height = 10;
    Window* untitled = createTopLevelWindow(bad);
    ASSERT_NE(untitled, nullptr);
    EXPECT_EQ(memory::windowTitle(untitled), "");
    destroyWindow(untitled);
}

TEST(TopLevelInMemory, ChildWindowsHaveNoKeysTitleOrCloseRequests) {
    memory::reset();
    Recorder events;
    WindowOptions o;
    o.parent = memory::createHostWindow({0, 0, 400, 300});
    o.width = 100;
    o.height = 100;
    o.events = &events;
    Window* child = createChildWindow(o);
    ASSERT_NE(child, nullptr);
    memory::postKey(child, keyOf('a', 30), true);
    memory::postCloseRequest(child);
    memory::postFocusOut(child);
    EXPECT_EQ(memory::pendingEvents(child), 0);
    EXPECT_FALSE(setWindowTitle(child, "x"));
    EXPECT_EQ(memory::windowMinSize(child).x, 0);
    destroyWindow(child);
}

TEST(TopLevelInMemory, AnOpenEditBoxTakesThePressesAndTheFrameKeepsItsPairs) {
    TopRecorder events;
    Window* w = openTopLevel(&events);
    ASSERT_NE(w, nullptr);
    memory::postKey(w, keyOf('a', 30), true);  // down before the box opens, up while it is open
    pumpEvents(w, false);
    BoxEvents boxEvents;
    EditBoxOptions bo;
    bo.rect = {10, 10, 100, 30};
    bo.text = "0.5";
    bo.events = &boxEvents;
    EditBox* box = createEditBox(w, bo);
    ASSERT_NE(box, nullptr);
    memory::postKey(w, keyOf('7', 8), true);
    memory::postKey(w, keyOf('7', 8), false);
    memory::postKey(w, keyOf('a', 30), false);
    KeyEvent enter;
    enter.key = Key::returnKey;
    enter.scancode = 28;
    memory::postKey(w, enter, true);
    pumpEvents(w, false);
    char text[16];
    editBoxText(box, text, sizeof text);
    EXPECT_STREQ(text, "7");
    EXPECT_EQ(boxEvents.seen, std::vector<EditBoxEvent>{EditBoxEvent::returnKey});
    destroyEditBox(box);
    memory::postKey(w, enter, false);  // its press went to the box
    memory::postKey(w, keyOf('b', 48), true);
    pumpEvents(w, false);
    EXPECT_EQ(events.log, (std::vector<std::string>{"down a 30", "up a 30", "down b 48"}));
    destroyWindow(w);
}

TEST(TopLevelInMemory, StaysOnACloseRequestUntilTheOwnerDestroysIt) {
    const int32_t before = memory::liveWindows();
    TopRecorder events;
    Window* w = openTopLevel(&events);
    ASSERT_NE(w, nullptr);
    memory::postCloseRequest(w);
    pumpEvents(w, true);  // a paint-only pump leaves it queued
    EXPECT_EQ(memory::pendingEvents(w), 1);
    pumpEvents(w, false);
    EXPECT_EQ(events.log, std::vector<std::string>{"close"});
    EXPECT_TRUE(windowAlive(w));
    events.destroyOnClose = true;
    memory::postCloseRequest(w);
    memory::postFocusOut(w);
    pumpEvents(w, false);  // closed from its own handler: nothing more, and gone afterwards
    EXPECT_EQ(events.log, (std::vector<std::string>{"close", "close"}));
    EXPECT_EQ(memory::liveWindows(), before);
}
