// SPDX-License-Identifier: GPL-3.0-or-later
// The in-memory window system used by the unit tests: child windows are bitmaps, events are
// queued by the test, and time only passes when the test or a sleep says so.
#include "platform/memory_window.h"
#include "raster_window.h"
#include "window_dispatch.h"

#include <algorithm>
#include <cstdlib>
#include <deque>
#include <map>
#include <memory>

namespace platform {

struct Window {
    NativeWindow handle = 0;
    NativeWindow parent = 0;
    Bitmap* image = nullptr;
    WindowEvents* events = nullptr;
    struct Event {
        enum Kind { paint, press, destroy, drop, key, close, focusOut } kind;
        Rect rect;
        Point where;
        int button = 0;
        DropKind dropKind = DropKind::files;
        std::vector<std::string> items;
        uint32_t state = 0;  // a press's buttons and modifiers, as when it was posted
        KeyEvent keyEvent = {};
        bool down = false;
    };
    std::deque<Event> queue;
    int32_t presents = 0;
    Rect lastPresent;
    Cursor cursor = Cursor::standard;
    bool dropTarget = false;
    bool lastDrop = false;
    uint32_t eventTicks = 0;
    WindowContexts contexts{this};
    EventDispatch dispatch;
    bool topLevel = false;
    std::string title;
    Point minSize;
    int32_t scale = 1;
};

namespace {

struct Host {
    Rect rect;
    NativeWindow parent = 0;
    bool caption = false;
    int32_t resizes = 0;
};

struct State {
    std::map<NativeWindow, Host> hosts;
    NativeWindow nextHandle = 0x1000;
    PointerState pointer;
    uint32_t ticks = 0;
    bool swappedSetting = false;
    double dpi = 0;  // the desktop's, as Xft.dpi would give it
    bool swapped = false;
    int32_t classUses = 0;
    int32_t live = 0;
};
State& state() {
    static State s;
    return s;
}

}  // namespace

// ---- Test controls ---------------------------------------------------------------------------

namespace memory {

void reset() {
    State& s = state();
    s.hosts.clear();
    s.pointer = {};
    s.ticks = 0;
    s.swappedSetting = false;
}

NativeWindow createHostWindow(Rect screen, NativeWindow parent, bool caption) {
    State& s = state();
    const NativeWindow h = s.nextHandle++;
    s.hosts[h] = Host{screen, parent, caption, 0};
    return h;
}
Rect hostWindowRect(NativeWindow w) {
    auto it = state().hosts.find(w);
    return it == state().hosts.end() ? Rect{} : it->second.rect;
}
int32_t hostResizeCount(NativeWindow w) {
    auto it = state().hosts.find(w);
    return it == state().hosts.end() ? 0 : it->second.resizes;
}
NativeWindow childParent(Window* w) { return w ? w->parent : 0; }
void setPointer(Point screen) { state().pointer.screen = screen; }
void setDesktopDpi(double dpi) { state().dpi = dpi; }
void setState(uint32_t bits) { state().pointer.state = bits; }
void setTicks(uint32_t ms) { state().ticks = ms; }
void setSwappedButtonsSetting(bool swapped) { state().swappedSetting = swapped; }

void postPaint(Window* w, Rect damaged) {
    if (w) w->queue.push_back({Window::Event::paint, damaged, {}, 0, {}, {}});
}
void postButtonDown(Window* w, Point where, int button) {
    uint32_t pressed = 0;
    if (button == 1) pressed = kButtonLeft;
    if (button == 2) pressed = kButtonMiddle;
    if (button == 3) pressed = kButtonRight;
    if (w)
        w->queue.push_back(
            {Window::Event::press, {}, where, button, {}, {}, state().pointer.state | pressed});
}
void postDestroy(Window* w) {
    if (w) w->queue.push_back({Window::Event::destroy, {}, {}, 0, {}, {}});
}
void postDrop(Window* w, DropKind kind, std::vector<std::string> items) {
    if (w) w->queue.push_back({Window::Event::drop, {}, {}, 0, kind, std::move(items)});
}
void postKey(Window* w, const KeyEvent& key, bool down) {
    if (!w || !w->topLevel) return;
    Window::Event e{Window::Event::key, {}, {}, 0, {}, {}};
    e.keyEvent = key;
    e.down = down;
    w->queue.push_back(std::move(e));
}
void postCloseRequest(Window* w) {
    if (w && w->topLevel) w->queue.push_back({Window::Event::close, {}, {}, 0, {}, {}});
}
void postFocusOut(Window* w) {
    if (w && w->topLevel) w->queue.push_back({Window::Event::focusOut, {}, {}, 0, {}, {}});
}
int32_t pendingEvents(Window* w) { return w ? static_cast<int32_t>(w->queue.size()) : 0; }
Bitmap* windowImage(Window* w) { return w ? w->image : nullptr; }
int32_t presentCount(Window* w) { return w ? w->presents : 0; }
Rect lastPresented(Window* w) { return w ? w->lastPresent : Rect{}; }
Cursor currentCursor(Window* w) { return w ? w->cursor : Cursor::standard; }
bool isDropTarget(Window* w) { return w && w->dropTarget; }
int32_t liveWindows() { return state().live; }
bool lastDropTaken(Window* w) { return w && w->lastDrop; }
std::string windowTitle(Window* w) { return w ? w->title : std::string(); }
Point windowMinSize(Window* w) { return w ? w->minSize : Point{}; }

}  // namespace memory

// ---- The window-system interface -------------------------------------------------------------

int32_t registerWindowClass() {
    State& s = state();
    if (++s.classUses == 1) s.swapped = s.swappedSetting;
    return s.classUses;
}
int32_t unregisterWindowClass() {
    State& s = state();
    if (s.classUses > 0) --s.classUses;
    return s.classUses;
}
int32_t windowClassUseCount() { return state().classUses; }

Window* createChildWindow(const WindowOptions& o) {
    State& s = state();
    auto parent = s.hosts.find(o.parent);
    if (o.parent == 0 || parent == s.hosts.end()) return nullptr;
    if (o.width <= 0 || o.height <= 0) return nullptr;
    auto w = std::make_unique<Window>();
    w->image = createScaledBitmap(o.width, o.height, o.scale);
    if (!w->image) return nullptr;
    w->scale = o.scale;
    w->handle = s.nextHandle++;
    w->parent = o.parent;
    w->events = o.events;
    w->dispatch.bind(o.events, &w->contexts);
    w->dispatch.setScale(o.scale);
    // The child sits at the parent's top-left corner; the host table knows it too, so that
    // walking up from it works like walking up from any other window.
    s.hosts[w->handle] = Host{{parent->second.rect.left, parent->second.rect.top,
                               parent->second.rect.left + o.width * o.scale,
                               parent->second.rect.top + o.height * o.scale},
                              o.parent,
                              false,
                              0};
    ++s.live;
    return w.release();
}

Window* createTopLevelWindow(const TopLevelOptions& o) {
    State& s = state();
    if (o.width <= 0 || o.height <= 0 || o.width > kMaxBitmapSide || o.height > kMaxBitmapSide)
        return nullptr;
    auto w = std::make_unique<Window>();
    w->image = createScaledBitmap(o.width, o.height, o.scale);
    if (!w->image) return nullptr;
    w->scale = o.scale;
    w->handle = s.nextHandle++;
    w->events = o.events;
    w->dispatch.bind(o.events, &w->contexts, w.get());
    w->dispatch.setScale(o.scale);
    w->topLevel = true;
    w->title = windowTitleText(o.title);
    w->minSize = {o.minWidth > 0 && o.minWidth <= o.width ? o.minWidth : o.width,
                  o.minHeight > 0 && o.minHeight <= o.height ? o.minHeight : o.height};
    s.hosts[w->handle] = Host{{0, 0, o.width * o.scale, o.height * o.scale}, 0, true, 0};
    ++s.live;
    return w.release();
}

bool setWindowTitle(Window* w, const char* utf8) {
    if (!w || !w->topLevel || !utf8) return false;
    w->title = windowTitleText(utf8);
    return true;
}

EditBox* openEditBox(Window* w) { return memory::editBoxOf(w); }

namespace {
void destroyNow(Window* w) {
    state().hosts.erase(w->handle);
    deleteBitmap(w->image);
    --state().live;
    delete w;
}
}  // namespace

void destroyWindow(Window* w) {
    if (!w) return;
    // Inside one of the window's own passes: ended when the outermost pass returns.
    if (w->dispatch.depth() > 0) w->dispatch.retire();
    else destroyNow(w);
}

NativeWindow nativeHandle(Window* w) { return w ? w->handle : 0; }
bool windowAlive(Window* w) { return w && w->dispatch.alive(); }

namespace {
void pumpPass(Window* w, bool paintOnly) {
    // Like a window system's queue: what a paint-only pass may not deliver stays queued.
    EventDispatch::Pass pass(w->dispatch, paintOnly);
    std::deque<Window::Event> keep;
    while (!w->dispatch.isRetired() && !w->queue.empty()) {
        Window::Event e = std::move(w->queue.front());
        w->queue.pop_front();
        w->eventTicks = state().ticks;
        if (pass.paintOnly() && e.kind != Window::Event::paint) {
            keep.push_back(std::move(e));
            continue;
        }
        switch (e.kind) {
        case Window::Event::paint: w->dispatch.addDamage(e.rect); break;
        case Window::Event::press: w->dispatch.buttonDown(e.where, e.button, e.state); break;
        case Window::Event::destroy: w->dispatch.destroyed(); break;
        case Window::Event::key: w->dispatch.key(e.keyEvent, e.down); break;
        case Window::Event::close: w->dispatch.closeRequest(); break;
        case Window::Event::focusOut: w->dispatch.focusOut(); break;
        case Window::Event::drop: {
            std::vector<const char*> ptrs;
            for (auto& s : e.items) ptrs.push_back(s.c_str());
            const Point where{state().pointer.screen.x - memory::hostWindowRect(w->handle).left,
                              state().pointer.screen.y - memory::hostWindowRect(w->handle).top};
            w->lastDrop = false;
            if (w->dropTarget && w->dispatch.canDrop()) {
                if (e.dropKind == DropKind::text)
                    w->lastDrop =
                        w->dispatch.drop(e.dropKind, ptrs.data(), 1,
                                         e.items.empty() ? 0 : e.items[0].size() + 1, where);
                else
                    w->lastDrop = w->dispatch.drop(e.dropKind, ptrs.data(),
                                                   static_cast<int32_t>(ptrs.size()), 0, where);
            }
            break;
        }
        }
    }
    w->queue = std::move(keep);
}
}  // namespace

void pumpEvents(Window* w, bool paintOnly) {
    if (!w || !w->events) return;
    pumpPass(w, paintOnly);
    if (w->dispatch.finished()) destroyNow(w);
}

bool takeLeftButtonDown(Window* w) {
    if (!w) return false;
    const int left = state().swapped ? 3 : 1;
    for (auto it = w->queue.begin(); it != w->queue.end(); ++it) {
        if (it->kind == Window::Event::press && it->button == left) {
            w->queue.erase(it);
            return true;
        }
    }
    return false;
}

uint32_t eventTime(Window* w) { return w ? w->eventTicks : 0; }

Context* getWindowContext(Window* w) {
    if (!w) return nullptr;
    return createWindowContext(w->image);
}

void releaseWindowContext(Window* w, Context* c) {
    if (!c) return;
    deleteContext(c);
    if (!w) return;
    const Rect d = takeDamage(w->image);
    if (d.left < d.right && d.top < d.bottom) {
        ++w->presents;
        w->lastPresent = d;
    }
}

Rect windowScreenRect(Window* w) {
    return w ? designScreenRect(memory::hostWindowRect(w->handle), w->scale) : Rect{};
}

int32_t windowScale(Window* w) { return w ? w->scale : 1; }

bool resizeWindow(Window* w, int32_t width, int32_t height) {
    if (!w || width <= 0 || height <= 0) return false;
    Bitmap* b = createScaledBitmap(width, height, w->scale);
    if (!b) return false;
    deleteBitmap(w->image);
    w->image = b;
    return nativeResize(w, w->handle, width * w->scale, height * w->scale);
}

NativeWindow nativeParent(Window*, NativeWindow w) {
    auto it = state().hosts.find(w);
    return it == state().hosts.end() ? 0 : it->second.parent;
}
bool nativeScreenRect(Window*, NativeWindow w, Rect* r) {
    auto it = state().hosts.find(w);
    if (it == state().hosts.end() || !r) return false;
    *r = it->second.rect;
    return true;
}
bool nativeResize(Window*, NativeWindow w, int32_t width, int32_t height) {
    auto it = state().hosts.find(w);
    if (it == state().hosts.end() || width <= 0 || height <= 0) return false;
    it->second.rect.right = it->second.rect.left + width;
    it->second.rect.bottom = it->second.rect.top + height;
    ++it->second.resizes;
    return true;
}
bool nativeHasCaption(Window*, NativeWindow w) {
    auto it = state().hosts.find(w);
    return it != state().hosts.end() && it->second.caption;
}
bool nativeRaise(Window*, NativeWindow w) { return state().hosts.count(w) != 0; }

bool queryPointer(Window* w, PointerState* out) {
    if (!out) return false;
    if (!w) {
        *out = {};
        return false;
    }
    *out = state().pointer;
    out->screen = designPointer(out->screen, memory::hostWindowRect(w->handle), w->scale);
    return true;
}
bool swappedMouseButtons() { return state().swapped; }

int32_t desktopScale(NativeWindow) {
    return pickScale(std::getenv("CORVEX_SCALE"), std::getenv("GDK_SCALE"),
                     std::getenv("QT_SCALE_FACTOR"), state().dpi);
}
uint32_t ticks() { return state().ticks; }
void sleepMs(uint32_t ms) { state().ticks += ms; }
uint32_t doubleClickTime() { return 500; }

void setCursor(Window* w, Cursor c) {
    if (w) w->cursor = c;
}
bool setDropTarget(Window* w, bool active) {
    if (!w) return false;
    w->dropTarget = active;
    return true;
}

}  // namespace platform
