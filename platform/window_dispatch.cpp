// The shared window rules (see window_dispatch.h): merging, nesting, holding back and the
// dead-window guard, the same for every backend.
#include "window_dispatch.h"

#include <algorithm>

namespace platform {

EventDispatch::Pass::Pass(EventDispatch& dispatch, bool paintOnly) : d(dispatch) {
    only = paintOnly || d.nesting > 0;
    ++d.nesting;
    if (only) ++d.paintOnlyDepth;
}

EventDispatch::Pass::~Pass() {
    d.paint();
    if (only) --d.paintOnlyDepth;
    if (--d.nesting == 0 && !d.held.empty()) d.deliverHeld();
}

void EventDispatch::addDamage(const Rect& r) {
    if (r.left >= r.right || r.top >= r.bottom) return;
    if (!damaged) {
        damage = r;
        damaged = true;
        return;
    }
    damage = {std::min(damage.left, r.left), std::min(damage.top, r.top),
              std::max(damage.right, r.right), std::max(damage.bottom, r.bottom)};
}

void EventDispatch::paint(ContextSource* source) {
    if (!damaged) return;
    damaged = false;
    if (!isAlive || !events) return;
    ContextSource* s = source ? source : window;
    Context* c = s ? s->acquire() : nullptr;
    events->onPaint(c, damage);
    if (s) s->release(c);
}

void EventDispatch::deliver(Held& e) {
    if (!isAlive || !events) return;
    if (e.kind == Held::dropped) {
        std::vector<const char*> items;
        for (const auto& s : e.items) items.push_back(s.c_str());
        if (events->canDrop())
            events->onDrop(e.dropKind, items.data(), static_cast<int32_t>(items.size()), e.size,
                           e.where);
        return;
    }
    Context* c = window ? window->acquire() : nullptr;
    if (e.kind == Held::press) events->onButtonDown(c, e.where, e.button, e.state);
    else events->onWheel(c, e.where, e.distance);
    if (window) window->release(c);
}

void EventDispatch::deliverHeld() {
    // Delivered in a pass of their own, so that their handlers nest like any other event's;
    // what they cause to be held is delivered by the same loop.
    Pass pass(*this, false);
    while (!held.empty()) {
        Held e = std::move(held.front());
        held.pop_front();
        deliver(e);
    }
}

void EventDispatch::buttonDown(Point where, int button, uint32_t state) {
    if (!isAlive || !events) return;
    Held e;
    e.kind = Held::press;
    e.where = where;
    e.button = button;
    e.state = state;
    if (inPaintOnlyPass()) held.push_back(std::move(e));
    else deliver(e);
}

void EventDispatch::wheel(Point where, float distance) {
    if (!isAlive || !events) return;
    Held e;
    e.kind = Held::wheelTurn;
    e.where = where;
    e.distance = distance;
    if (inPaintOnlyPass()) held.push_back(std::move(e));
    else deliver(e);
}

bool EventDispatch::canDrop() { return isAlive && events && events->canDrop(); }

bool EventDispatch::drop(DropKind kind, const char* const* items, int32_t count, std::size_t size,
                         Point where) {
    if (!isAlive || !events || !items || count < 0) return false;
    if (!inPaintOnlyPass())
        return events->canDrop() && events->onDrop(kind, items, count, size, where);
    Held e;
    e.kind = Held::dropped;
    e.dropKind = kind;
    e.where = where;
    e.size = size;
    for (int32_t i = 0; i < count; ++i) e.items.emplace_back(items[i] ? items[i] : "");
    held.push_back(std::move(e));
    return true;
}

void EventDispatch::retire() {
    retired = true;
    events = nullptr;
    damaged = false;
    held.clear();
}

void EventDispatch::destroyed() {
    if (!isAlive) return;
    isAlive = false;
    damaged = false;
    held.clear();
    if (events) events->onDestroyed();
}

}  // namespace platform
