// SPDX-License-Identifier: GPL-3.0-or-later
// The window layer's rules, shared by every window backend: backends only translate native events
// (X11 events, window messages, the test queue) and hand them here, so that what a frame receives
// cannot differ between systems.
//
// The rules: the damage of one pass is merged into a single paint; a pass that starts while
// another is running (an event handler pumping again, a tracking loop dispatching paints) is
// paint-only, and anything else that reaches it is held and delivered, in order, when the
// outermost pass ends; a window the system destroyed receives nothing more, and its destroy
// notice comes once. Keys of a top-level window go to an edit box open over it rather than to
// the frame, and the frame sees them in pairs: a release only after its press, a second press
// before the release as a repeat, and releases for whatever is down when the keyboard goes.
//
// Internal to platform/. User-interface thread only, like the window it belongs to.
#pragma once

#include "platform/editbox.h"
#include "platform/window.h"

#include <cstddef>
#include <cstdint>
#include <deque>
#include <string>
#include <vector>

namespace platform {

// Lends a drawing context for one delivery: a window's device context, the paint message's
// context, a window's image.
class ContextSource {
public:
    virtual Context* acquire() = 0;
    virtual void release(Context* context) = 0;

    virtual ~ContextSource() = default;
};

// The contexts of one window through the window interface itself, as button events use them.
class WindowContexts final : public ContextSource {
public:
    explicit WindowContexts(Window* window = nullptr) : window(window) {}
    Context* acquire() override { return getWindowContext(window); }
    void release(Context* context) override { releaseWindowContext(window, context); }
    Window* window;
};

// The edit box open over a window, if any (each backend answers from its own records).
EditBox* openEditBox(Window* window);

// What a key does in an edit box: false when it is no editing command. utf8 receives the typed
// text (up to four bytes and a terminator) that text input points at.
bool editKeyFor(const KeyEvent& key, EditKeyInput* input, char (&utf8)[5]);

// A title as every backend shows it (see setWindowTitle).
std::string windowTitleText(const char* utf8);

// A window's size as it is reported at scale s: the device rectangle's corner stays, its size is
// divided (design units).
Rect designScreenRect(const Rect& device, int32_t s);
// A screen position relative to that corner, in design units (rounded towards minus infinity).
Point designPointer(Point screen, const Rect& device, int32_t s);
// The Xft.dpi entry of an X resource string (the root window's RESOURCE_MANAGER, as xrdb leaves
// it: "name:\tvalue" lines); 0 when absent or not a positive number.
double xftDpi(const char* resources);
// An edit box's options in device pixels at scale s: its rectangle and font height.
EditBoxOptions deviceEditBox(const EditBoxOptions& options, int32_t s);
// Device pixels to the design units that cover them.
int32_t toDesign(int32_t v, int32_t s);
Rect toDesignOutwards(const Rect& device, int32_t s);

class EventDispatch {
public:
    EventDispatch() = default;
    // events may be null (nothing is delivered); window lends the contexts of button and wheel
    // events and of paints delivered at the end of a pass; keys go to the edit box open over
    // owner when there is one (a top-level window's owner; child windows have no keys).
    void bind(WindowEvents* receiver, ContextSource* contexts, Window* owner = nullptr) {
        events = receiver;
        window = contexts;
        boxOwner = owner;
    }
    // The window's scale: positions and damage arrive in device pixels and are delivered in
    // design units.
    void setScale(int32_t s) { scale = s < 1 ? 1 : s; }
    EventDispatch(const EventDispatch&) = delete;
    EventDispatch& operator=(const EventDispatch&) = delete;

    // Brackets one pass over a backend's events. Merged damage is painted when the pass ends;
    // the outermost pass then delivers what nested passes held back.
    class Pass {
    public:
        Pass(EventDispatch& dispatch, bool paintOnly);
        ~Pass();
        Pass(const Pass&) = delete;
        Pass& operator=(const Pass&) = delete;
        // True for a pass that may deliver paints only (asked for, or nested).
        bool paintOnly() const { return only; }

    private:
        EventDispatch& d;
        bool only;
    };

    void addDamage(const Rect& damaged);
    // Paints the damage merged so far now, on a context from source (the window's when null).
    void paint(ContextSource* source = nullptr);
    void buttonDown(Point where, int button, uint32_t state);
    void wheel(Point where, float distance);
    // Whether a drop would be taken now: never for a dead window, else the frame's answer.
    bool canDrop();
    // A drop arriving inside a paint-only pass is copied and delivered later; the answer is then
    // true (the drop was accepted for delivery).
    bool drop(DropKind kind, const char* const* items, int32_t count, std::size_t size,
              Point where);
    // A key of a top-level window; true when taken (one held back counts as taken).
    bool key(const KeyEvent& key, bool down);
    void closeRequest();
    // The window lost the keyboard: releases of the keys the frame has down, then the notice.
    void focusOut();
    // The window system destroyed the window.
    void destroyed();
    // The owner destroyed the window while a pass was running: nothing more is delivered, and
    // the backend ends the window once finished() answers true (the outermost pass has ended).
    void retire();
    bool finished() const { return retired && nesting == 0; }
    bool isRetired() const { return retired; }

    bool alive() const { return isAlive; }
    int32_t depth() const { return nesting; }
    bool inPaintOnlyPass() const { return nesting > 0 && paintOnlyDepth > 0; }
    std::size_t heldBack() const { return held.size(); }

private:
    int32_t scale = 1;
    struct Held {
        enum Kind {
            press,
            wheelTurn,
            dropped,
            keyPress,
            keyRelease,
            close,
            focusLost
        } kind = press;
        Point where;
        int button = 0;
        uint32_t state = 0;
        float distance = 0;
        DropKind dropKind = DropKind::files;
        std::vector<std::string> items;
        std::size_t size = 0;
        KeyEvent keyEvent;
    };
    void deliver(Held& event);
    bool deliverKey(KeyEvent key, bool down);
    void deliverFocusOut();
    void deliverHeld();

    WindowEvents* events = nullptr;
    ContextSource* window = nullptr;
    Window* boxOwner = nullptr;
    std::vector<KeyEvent> keysDown;  // presses the frame had, without their release yet
    bool isAlive = true;
    bool retired = false;
    int32_t nesting = 0;
    int32_t paintOnlyDepth = 0;
    bool damaged = false;
    Rect damage;
    std::deque<Held> held;
};

}  // namespace platform
