// SPDX-License-Identifier: GPL-3.0-or-later
// The XDND (version 5) drop target. Drag sources look for XdndAware on top-level windows, so
// besides marking our own window we point the host's top-level at it (XdndProxy) when the host
// has no drop support of its own there, and take that back when the window goes. Data arrives
// asynchronously through the selection; every drop ends with XdndFinished.
#include "platform/uri_list.h"
#include "x11_internal.h"

#include <X11/Xatom.h>
#include <X11/Xutil.h>

#include <cstring>

namespace platform {

namespace {

constexpr long kXdndVersion = 5;
constexpr uint32_t kDataTimeoutMs = 5000;
constexpr long kMaxDropBytes = 16L << 20;

void sendToSource(Window* w, Atom type, long l1, long l2, long l3, long l4) {
    if (!w->drop.source) return;
    XEvent ev{};
    ev.xclient.type = ClientMessage;
    ev.xclient.display = w->display;
    ev.xclient.window = w->drop.source;
    ev.xclient.message_type = type;
    ev.xclient.format = 32;
    ev.xclient.data.l[0] = static_cast<long>(w->drop.target ? w->drop.target : w->window);
    ev.xclient.data.l[1] = l1;
    ev.xclient.data.l[2] = l2;
    ev.xclient.data.l[3] = l3;
    ev.xclient.data.l[4] = l4;
    XSendEvent(w->display, w->drop.source, False, NoEventMask, &ev);
    XFlush(w->display);
}

void finish(Window* w, bool accepted) {
    if (w->drop.version >= 2 || !accepted)
        sendToSource(w, w->atoms.xdndFinished, accepted ? 1 : 0,
                     accepted ? static_cast<long>(w->drop.action) : 0, 0, 0);
    else sendToSource(w, w->atoms.xdndFinished, 0, 0, 0, 0);
    w->drop = {};
}

Atom chooseType(Window* w, const std::vector<Atom>& offered) {
    // Files first: file managers offer their URIs as plain text too.
    const Atom order[] = {w->atoms.uriList, w->atoms.textPlainUtf8, w->atoms.utf8String, XA_STRING};
    for (Atom want : order)
        for (Atom a : offered)
            if (a == want) return want;
    return None;
}

std::vector<Atom> typeList(Window* w, ::Window source) {
    std::vector<Atom> out;
    Atom type = 0;
    int format = 0;
    unsigned long count = 0, after = 0;
    unsigned char* data = nullptr;
    if (XGetWindowProperty(w->display, source, w->atoms.xdndTypeList, 0, 256, False, XA_ATOM, &type,
                           &format, &count, &after, &data) == Success &&
        data && format == 32) {
        const auto* atoms = reinterpret_cast<const Atom*>(data);
        out.assign(atoms, atoms + count);
    }
    if (data) XFree(data);
    return out;
}

bool controlHeld(Window* w) {
    PointerState s;
    return queryPointer(w, &s) && (s.state & kModControl);
}

void onEnter(Window* w, const XClientMessageEvent& m) {
    w->drop = {};
    w->drop.source = static_cast<::Window>(m.data.l[0]);
    w->drop.target = m.window;
    w->drop.version = static_cast<int>((static_cast<unsigned long>(m.data.l[1]) >> 24) & 0xFF);
    std::vector<Atom> offered;
    if (m.data.l[1] & 1) offered = typeList(w, w->drop.source);
    else
        for (int i = 2; i < 5; ++i)
            if (m.data.l[i]) offered.push_back(static_cast<Atom>(m.data.l[i]));
    w->drop.chosenType = chooseType(w, offered);
}

void onPosition(Window* w, const XClientMessageEvent& m) {
    if (static_cast<::Window>(m.data.l[0]) != w->drop.source) return;
    const int rx = static_cast<int>((static_cast<unsigned long>(m.data.l[2]) >> 16) & 0xFFFF);
    const int ry = static_cast<int>(static_cast<unsigned long>(m.data.l[2]) & 0xFFFF);
    int x = 0, y = 0;
    ::Window child = 0;
    XTranslateCoordinates(w->display, w->root, w->window, rx, ry, &x, &y, &child);
    w->drop.where = {x, y};
    const bool accept = w->drop.chosenType != None && w->dispatch.canDrop();
    w->drop.action =
        accept ? (controlHeld(w) ? w->atoms.xdndActionCopy : w->atoms.xdndActionMove) : None;
    // Bit 1: keep sending positions, the answer may change (a modal view, Control pressed).
    sendToSource(w, w->atoms.xdndStatus, accept ? 3 : 2, 0, 0, static_cast<long>(w->drop.action));
}

void onDrop(Window* w, const XClientMessageEvent& m) {
    if (static_cast<::Window>(m.data.l[0]) != w->drop.source) return;
    if (w->drop.chosenType == None || w->drop.action == None) {
        finish(w, false);
        return;
    }
    const Time when = w->drop.version >= 1 ? static_cast<Time>(m.data.l[2]) : CurrentTime;
    XDeleteProperty(w->display, w->window, w->atoms.dropProperty);
    XConvertSelection(w->display, w->atoms.xdndSelection, w->drop.chosenType, w->atoms.dropProperty,
                      w->window, when);
    XFlush(w->display);
    w->drop.awaitingData = true;
    w->drop.requestedAt = ticks();
}

void onData(Window* w, const XSelectionEvent& s) {
    if (!w->drop.awaitingData || s.selection != w->atoms.xdndSelection) return;
    bool taken = false;
    if (s.property != None) {
        Atom type = 0;
        int format = 0;
        unsigned long count = 0, after = 0;
        unsigned char* data = nullptr;
        const bool read =
            XGetWindowProperty(w->display, w->window, s.property, 0, kMaxDropBytes / 4, True,
                               AnyPropertyType, &type, &format, &count, &after, &data) == Success;
        // Incremental transfers and oversized data are refused rather than cut short.
        if (read && data && format == 8 && type != w->atoms.incr && after == 0) {
            const std::string bytes(reinterpret_cast<const char*>(data), count);
            if (w->drop.chosenType == w->atoms.uriList) {
                const std::vector<std::string> paths = parseUriList(bytes);
                std::vector<const char*> items;
                items.reserve(paths.size());
                for (const auto& p : paths) items.push_back(p.c_str());
                if (!items.empty())
                    taken = w->dispatch.drop(DropKind::files, items.data(),
                                             static_cast<int32_t>(items.size()), 0, w->drop.where);
            } else {
                const std::string text = bytes.substr(0, bytes.find('\0'));  // up to a NUL
                const char* items[1] = {text.c_str()};
                taken = w->dispatch.drop(DropKind::text, items, 1, text.size() + 1, w->drop.where);
            }
        }
        if (data) XFree(data);
    }
    finish(w, taken);
}

::Window topLevelOf(Window* w) {
    // Our own top-level is where drag sources look already: nothing to point elsewhere.
    if (w->topLevel) return w->window;
    ::Window current = w->window, managed = 0, lastBelowRoot = w->window;
    for (int depth = 0; depth < 64; ++depth) {
        ::Window root = 0, parent = 0, *children = nullptr;
        unsigned n = 0;
        if (!XQueryTree(w->display, current, &root, &parent, &children, &n)) break;
        if (children) XFree(children);
        if (current != w->window && !managed) {
            Atom type = 0;
            int format = 0;
            unsigned long count = 0, after = 0;
            unsigned char* data = nullptr;
            if (XGetWindowProperty(w->display, current, w->atoms.wmState, 0, 1, False,
                                   AnyPropertyType, &type, &format, &count, &after,
                                   &data) == Success &&
                type != None)
                managed = current;
            if (data) XFree(data);
        }
        if (parent == root || parent == 0) {
            lastBelowRoot = current;
            break;
        }
        current = parent;
    }
    return managed ? managed : lastBelowRoot;
}

bool hasProperty(Window* w, ::Window win, Atom property, long* value) {
    Atom type = 0;
    int format = 0;
    unsigned long count = 0, after = 0;
    unsigned char* data = nullptr;
    const bool found = XGetWindowProperty(w->display, win, property, 0, 1, False, AnyPropertyType,
                                          &type, &format, &count, &after, &data) == Success &&
                       type != None;
    if (found && value && data && count == 1 && format == 32)
        *value = *reinterpret_cast<long*>(data);
    if (data) XFree(data);
    return found;
}

void setLong(Window* w, ::Window win, Atom property, Atom type, long value) {
    XChangeProperty(w->display, win, property, type, 32, PropModeReplace,
                    reinterpret_cast<const unsigned char*>(&value), 1);
}

}  // namespace

bool setDropTarget(Window* w, bool active) {
    if (!w) return false;
    if (active == w->dropTarget) return true;
    ErrorTrap trap(w->display);
    if (active) {
        setLong(w, w->window, w->atoms.xdndAware, XA_ATOM, kXdndVersion);
        const ::Window top = topLevelOf(w);
        if (top != w->window && !hasProperty(w, top, w->atoms.xdndAware, nullptr)) {
            setLong(w, w->window, w->atoms.xdndProxy, XA_WINDOW, static_cast<long>(w->window));
            setLong(w, top, w->atoms.xdndProxy, XA_WINDOW, static_cast<long>(w->window));
            setLong(w, top, w->atoms.xdndAware, XA_ATOM, kXdndVersion);
            w->proxiedTop = top;
        }
    } else {
        dropShutdown(w);
    }
    w->dropTarget = active;
    return trap.sync();
}

void dropShutdown(Window* w) {
    if (!w) return;
    if (w->drop.source) finish(w, false);
    if (w->proxiedTop) {
        long proxy = 0;
        // Only undo what still points at us.
        if (hasProperty(w, w->proxiedTop, w->atoms.xdndProxy, &proxy) &&
            static_cast<::Window>(proxy) == w->window) {
            XDeleteProperty(w->display, w->proxiedTop, w->atoms.xdndProxy);
            XDeleteProperty(w->display, w->proxiedTop, w->atoms.xdndAware);
        }
        w->proxiedTop = 0;
    }
    if (w->dropTarget) {
        XDeleteProperty(w->display, w->window, w->atoms.xdndAware);
        XDeleteProperty(w->display, w->window, w->atoms.xdndProxy);
    }
    w->dropTarget = false;
}

void dropEvent(Window* w, const XEvent& e) {
    if (!w->dropTarget) return;
    if (e.type == SelectionNotify) {
        if (e.xselection.requestor == w->window) onData(w, e.xselection);
        return;
    }
    const XClientMessageEvent& m = e.xclient;
    if (m.format != 32) return;
    if (m.message_type == w->atoms.xdndEnter) onEnter(w, m);
    else if (m.message_type == w->atoms.xdndPosition) onPosition(w, m);
    else if (m.message_type == w->atoms.xdndLeave) {
        if (static_cast<::Window>(m.data.l[0]) == w->drop.source && !w->drop.awaitingData)
            w->drop = {};
    } else if (m.message_type == w->atoms.xdndDrop) onDrop(w, m);
}

void dropTimeout(Window* w) {
    if (w->drop.awaitingData && ticks() - w->drop.requestedAt > kDataTimeoutMs) finish(w, false);
}

}  // namespace platform
