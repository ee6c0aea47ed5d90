// SPDX-License-Identifier: GPL-3.0-or-later
// The shared window rules (see window_dispatch.h): merging, nesting, holding back and the
// dead-window guard, the same for every backend.
#include "window_dispatch.h"

#include "platform/editbox_model.h"
#include "utf8.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>

namespace platform {

EventDispatch::Pass::Pass(EventDispatch& dispatch, bool paintOnly)
    : d(dispatch), only(paintOnly || dispatch.nesting > 0) {
    ++d.nesting;
    if (only) ++d.paintOnlyDepth;
}

EventDispatch::Pass::~Pass() {
    d.paint();
    if (only) --d.paintOnlyDepth;
    if (--d.nesting == 0 && !d.held.empty()) d.deliverHeld();
}

int32_t toDesign(int32_t v, int32_t s) {
    if (s <= 1) return v;
    return static_cast<int32_t>(v >= 0 ? v / s : -((-int64_t(v) + s - 1) / s));
}

Rect toDesignOutwards(const Rect& d, int32_t s) {
    if (s <= 1) return d;
    return Rect{toDesign(d.left, s), toDesign(d.top, s), -toDesign(-d.right, s),
                -toDesign(-d.bottom, s)};
}

EditBoxOptions deviceEditBox(const EditBoxOptions& o, int32_t s) {
    EditBoxOptions d = o;
    if (s <= 1) return d;
    auto up = [s](int32_t v) {
        return static_cast<int32_t>(std::clamp<int64_t>(int64_t(v) * s, INT32_MIN, INT32_MAX));
    };
    d.rect = {up(o.rect.left), up(o.rect.top), up(o.rect.right), up(o.rect.bottom)};
    // 0 means the default height: scaled as that height.
    d.font.height = up(o.font.height == 0 ? -12 : std::clamp(o.font.height, -2048, 2048));
    return d;
}

Rect designScreenRect(const Rect& d, int32_t s) {
    if (s <= 1) return d;
    return Rect{d.left, d.top, d.left + (d.right - d.left) / s, d.top + (d.bottom - d.top) / s};
}

Point designPointer(Point screen, const Rect& d, int32_t s) {
    if (s <= 1) return screen;
    return Point{d.left + toDesign(screen.x - d.left, s), d.top + toDesign(screen.y - d.top, s)};
}

namespace {
// A positive number at the start of text ("2", "1.5", " 2 "); 0 for anything else.
double leadingNumber(const char* text) {
    if (!text) return 0;
    char* end = nullptr;
    const double v = std::strtod(text, &end);
    if (end == text || !std::isfinite(v) || v <= 0) return 0;
    return v;
}
}  // namespace

double xftDpi(const char* resources) {
    if (!resources) return 0;
    const char* line = resources;
    // Bounded: a resource string is the server's, and may be anything.
    for (int lines = 0; *line && lines < 100000; ++lines) {
        const char* end = std::strchr(line, '\n');
        const std::size_t length = end ? static_cast<std::size_t>(end - line) : std::strlen(line);
        if (length > 8 && std::strncmp(line, "Xft.dpi:", 8) == 0) {
            const std::string value(line + 8, length - 8);
            return leadingNumber(value.c_str());
        }
        if (!end) break;
        line = end + 1;
    }
    return 0;
}

int32_t pickScale(const char* corvexScale, const char* gdkScale, const char* qtScaleFactor,
                  double dpi) {
    auto clampScale = [](double v) {
        return static_cast<int32_t>(std::clamp(std::floor(v), 1.0, 3.0));
    };
    // Our own setting is taken only as one of the scales we draw at.
    const double own = leadingNumber(corvexScale);
    if (own == 1 || own == 2 || own == 3) return static_cast<int32_t>(own);
    if (const double gdk = leadingNumber(gdkScale); gdk > 0) return clampScale(gdk);
    if (const double qt = leadingNumber(qtScaleFactor); qt > 0) return clampScale(qt);
    if (std::isfinite(dpi) && dpi > 0) return clampScale(dpi / 96.0);
    return 1;
}

void EventDispatch::addDamage(const Rect& device) {
    const Rect r = toDesignOutwards(device, scale);
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
    switch (e.kind) {
    case Held::keyPress:
    case Held::keyRelease: deliverKey(e.keyEvent, e.kind == Held::keyPress); return;
    case Held::close: events->onCloseRequest(); return;
    case Held::focusLost: deliverFocusOut(); return;
    default: break;
    }
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
    e.where = {toDesign(where.x, scale), toDesign(where.y, scale)};
    e.button = button;
    e.state = state;
    if (inPaintOnlyPass()) held.push_back(std::move(e));
    else deliver(e);
}

void EventDispatch::wheel(Point where, float distance) {
    if (!isAlive || !events) return;
    Held e;
    e.kind = Held::wheelTurn;
    e.where = {toDesign(where.x, scale), toDesign(where.y, scale)};
    e.distance = distance;
    if (inPaintOnlyPass()) held.push_back(std::move(e));
    else deliver(e);
}

bool EventDispatch::canDrop() { return isAlive && events && events->canDrop(); }

bool EventDispatch::drop(DropKind kind, const char* const* items, int32_t count, std::size_t size,
                         Point where) {
    if (!isAlive || !events || !items || count < 0) return false;
    where = {toDesign(where.x, scale), toDesign(where.y, scale)};
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

bool EventDispatch::key(const KeyEvent& k, bool down) {
    if (!isAlive || !events) return false;
    if (!inPaintOnlyPass()) return deliverKey(k, down);
    Held e;
    e.kind = down ? Held::keyPress : Held::keyRelease;
    e.keyEvent = k;
    held.push_back(std::move(e));
    return true;
}

bool EventDispatch::deliverKey(KeyEvent k, bool down) {
    // Keys are told apart by their physical key; one without (text typed by software) cannot be
    // paired and passes as it came.
    auto it = keysDown.end();
    if (k.scancode != 0)
        it = std::find_if(keysDown.begin(), keysDown.end(),
                          [&](const KeyEvent& d) { return d.scancode == k.scancode; });
    if (!down) {
        if (k.scancode != 0) {
            // Its press went to an edit box, or came before the window had the keyboard.
            if (it == keysDown.end()) return false;
            // Named as its press was: a release read with other modifiers, or by a system that
            // gives releases no character, is still the same key.
            k.character = it->character;
            k.key = it->key;
            keysDown.erase(it);
        } else if (boxOwner && openEditBox(boxOwner)) {
            return false;
        }
        k.repeat = false;
        return events->onKey(k, false);
    }
    if (EditBox* box = boxOwner ? openEditBox(boxOwner) : nullptr) {
        EditKeyInput input;
        char text[5];
        return editKeyFor(k, &input, text) && editBoxKey(box, input);
    }
    if (k.scancode != 0) {
        k.repeat = it != keysDown.end();
        if (!k.repeat) keysDown.push_back(k);
    }
    return events->onKey(k, true);
}

void EventDispatch::closeRequest() {
    if (!isAlive || !events) return;
    if (!inPaintOnlyPass()) {
        events->onCloseRequest();
        return;
    }
    Held e;
    e.kind = Held::close;
    held.push_back(std::move(e));
}

void EventDispatch::focusOut() {
    if (!isAlive || !events) return;
    if (!inPaintOnlyPass()) {
        deliverFocusOut();
        return;
    }
    Held e;
    e.kind = Held::focusLost;
    held.push_back(std::move(e));
}

void EventDispatch::deliverFocusOut() {
    // Their releases will go wherever the keyboard went: the frame is told now, so that nothing
    // stays down for it (a held note, a held modifier).
    std::vector<KeyEvent> down;
    down.swap(keysDown);
    for (KeyEvent& k : down) {
        if (!isAlive || !events) return;
        k.repeat = false;
        events->onKey(k, false);
    }
    if (isAlive && events) events->onFocusOut();
}

void EventDispatch::retire() {
    retired = true;
    events = nullptr;
    damaged = false;
    held.clear();
    keysDown.clear();
}

void EventDispatch::destroyed() {
    if (!isAlive) return;
    isAlive = false;
    damaged = false;
    held.clear();
    keysDown.clear();
    if (events) events->onDestroyed();
}

bool editKeyFor(const KeyEvent& k, EditKeyInput* in, char (&utf8)[5]) {
    if (!in) return false;
    *in = {};
    utf8[0] = '\0';
    const bool shift = (k.modifiers & kModShift) != 0;
    const bool control = (k.modifiers & kModControl) != 0;
    in->shift = shift;
    switch (k.key) {
    case Key::backspace: in->key = EditKey::backspace; return true;
    case Key::del: in->key = shift ? EditKey::cut : EditKey::del; return true;
    case Key::insert:
        if (!control && !shift) return false;
        in->key = control ? EditKey::copy : EditKey::paste;
        return true;
    case Key::left: in->key = EditKey::left; return true;
    case Key::right: in->key = EditKey::right; return true;
    case Key::home: in->key = EditKey::home; return true;
    case Key::end: in->key = EditKey::end; return true;
    case Key::returnKey:
    case Key::enter: in->key = EditKey::returnKey; return true;
    case Key::escape: in->key = EditKey::escape; return true;
    default: break;
    }
    const uint32_t c = k.character;
    if (control) {
        switch (c) {
        case 'a':
        case 'A': in->key = EditKey::selectAll; return true;
        case 'c':
        case 'C': in->key = EditKey::copy; return true;
        case 'x':
        case 'X': in->key = EditKey::cut; return true;
        case 'v':
        case 'V': in->key = EditKey::paste; return true;
        default: return false;
        }
    }
    if (c < 0x20 || (c >= 0x7F && c < 0xA0) || c > 0x10FFFF || (c >= 0xD800 && c < 0xE000))
        return false;
    if (c < 0x80) {
        utf8[0] = static_cast<char>(c);
        utf8[1] = '\0';
    } else if (c < 0x800) {
        utf8[0] = static_cast<char>(0xC0 | (c >> 6));
        utf8[1] = static_cast<char>(0x80 | (c & 0x3F));
        utf8[2] = '\0';
    } else if (c < 0x10000) {
        utf8[0] = static_cast<char>(0xE0 | (c >> 12));
        utf8[1] = static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        utf8[2] = static_cast<char>(0x80 | (c & 0x3F));
        utf8[3] = '\0';
    } else {
        utf8[0] = static_cast<char>(0xF0 | (c >> 18));
        utf8[1] = static_cast<char>(0x80 | ((c >> 12) & 0x3F));
        utf8[2] = static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        utf8[3] = static_cast<char>(0x80 | (c & 0x3F));
        utf8[4] = '\0';
    }
    in->key = EditKey::text;
    in->text = utf8;
    return true;
}

std::string windowTitleText(const char* utf8) {
    if (!utf8) return {};
    // Bounded before cleaning: a title is one line of a title bar, not a document.
    std::string t = utf8::clean(std::string(utf8, strnlen(utf8, kMaxTitleBytes * 4)));
    t.resize(utf8::boundaryAtOrBefore(t, kMaxTitleBytes));
    return t;
}

}  // namespace platform
