// SPDX-License-Identifier: GPL-3.0-or-later
// The edit box on X11: a child window of our frame's window on the frame's connection, drawn with
// the raster into an image, its keys read through the input method when one is running
// (Xutf8LookupString) and through XLookupString otherwise, copy and paste through the CLIPBOARD
// and PRIMARY selections, which the frame's window serves so that a copied text outlives the box.
// The editing itself is the shared EditModel; this file only translates events and draws.
#include "platform/editbox_model.h"
#include "raster_internal.h"
#include "utf8.h"
#include "x11_internal.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/keysym.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

namespace platform {

struct EditBox {
    Window* owner = nullptr;
    ::Window win = 0;
    bool windowGone = false;
    int32_t width = 0, height = 0;
    EditBoxOptions options;
    std::string face;
    EditModel model;
    Bitmap* image = nullptr;
    XImage* ximage = nullptr;
    Context* context = nullptr;  // the image selected, the box's font selected
    Font* font = nullptr;
    GC gc = nullptr;
    XIM im = nullptr;
    XIC ic = nullptr;
    bool focused = false;
    ::Window previousFocus = 0;
    bool tookFocus = false;
    bool dragging = false;
    int32_t scroll = 0;  // pixels of text scrolled out on the left
    int32_t textX = 0;   // where the text starts, after the last drawing
};

namespace {

constexpr int32_t kMargin = 1;

Atom atom(Display* d, const char* name) { return XInternAtom(d, name, False); }

unsigned long pixelOf(Color c) {
    // Packed colours hold red in the low byte; the 24-bit visual wants it high.
    return ((c & 0xFFu) << 16) | (c & 0xFF00u) | ((c >> 16) & 0xFFu);
}

int32_t extentOf(EditBox* b, int32_t bytes) {
    const std::string prefix = b->model.text().substr(0, static_cast<size_t>(bytes));
    return textExtent(b->context, prefix.c_str()).width;
}

void render(EditBox* b) {
    if (!b->context || b->windowGone) return;
    const int32_t w = b->width, h = b->height;
    Brush* back = createSolidBrush(b->options.backColor);
    fillRect(b->context, {0, 0, w, h}, back);
    const std::string& text = b->model.text();
    const int32_t textWidth = textExtent(b->context, text.c_str()).width;
    const int32_t inner = std::max(1, w - 2 * kMargin);
    const int32_t caretX = extentOf(b, b->model.caret());
    int32_t base = 0;
    if (textWidth < inner) {
        b->scroll = 0;
        if (b->options.align == TextAlign::center) base = (inner - textWidth) / 2;
        else if (b->options.align == TextAlign::right) base = inner - 1 - textWidth;
    } else {
        // Scrolls horizontally to keep the caret in view; the text never widens the box.
        if (caretX - b->scroll > inner - 1) b->scroll = caretX - inner + 1;
        if (caretX < b->scroll) b->scroll = caretX;
        b->scroll = std::clamp(b->scroll, 0, std::max(0, textWidth - inner + 1));
        base = -b->scroll;
    }
    b->textX = kMargin + base;
    const Rect textRect{b->textX, 0, b->textX + textWidth + 8, h};
    setBkMode(b->context, BkMode::transparent);
    setTextColor(b->context, b->options.textColor);
    drawText(b->context, text.c_str(), textRect, TextAlign::left);
    if (b->model.hasSelection()) {
        const int32_t x1 = b->textX + extentOf(b, std::min(b->model.caret(), b->model.anchor()));
        const int32_t x2 = b->textX + extentOf(b, std::max(b->model.caret(), b->model.anchor()));
        const Rect sel{std::max(x1, 0), 1, std::min(x2, w), h - 1};
        Brush* ink = createSolidBrush(b->options.textColor);
        fillRect(b->context, sel, ink);
        deleteBrush(ink);
        setClipRect(b->context, &sel);
        setTextColor(b->context, b->options.backColor);
        drawText(b->context, text.c_str(), textRect, TextAlign::left);
        setClipRect(b->context, nullptr);
    } else if (b->focused) {
        Brush* ink = createSolidBrush(b->options.textColor);
        const int32_t x = b->textX + caretX;
        fillRect(b->context, {x, 2, x + 1, h - 2}, ink);
        deleteBrush(ink);
    }
    deleteBrush(back);
    takeDamage(b->image);
    XPutImage(b->owner->display, b->win, b->gc, b->ximage, 0, 0, 0, 0, static_cast<unsigned>(w),
              static_cast<unsigned>(h));
}

int32_t offsetAt(EditBox* b, int32_t x) {
    const auto size = static_cast<int32_t>(b->model.text().size());
    int32_t best = 0, bestDistance = INT32_MAX;
    for (int32_t o = 0;; o = b->model.nextBoundary(o)) {
        const int32_t distance = std::abs(b->textX + extentOf(b, o) - x);
        if (distance < bestDistance) {
            best = o;
            bestDistance = distance;
        }
        if (o >= size) break;
    }
    return best;
}

void own(EditBox* b, int which, Time time) {
    Display* d = b->owner->display;
    b->owner->ownedSelection[which] = b->model.selected();
    XSetSelectionOwner(d, which == 0 ? XA_PRIMARY : atom(d, "CLIPBOARD"), b->owner->window, time);
}

void requestPaste(EditBox* b, Atom selection, Time time) {
    Display* d = b->owner->display;
    const ::Window current = XGetSelectionOwner(d, selection);
    if (current == b->owner->window) {
        // Ours: no round trip through the server needed.
        const int which = selection == XA_PRIMARY ? 0 : 1;
        b->model.insert(b->owner->ownedSelection[which]);
        render(b);
        return;
    }
    if (current == None) return;
    XConvertSelection(d, selection, b->owner->atoms.utf8String, atom(d, "CORVEX_PASTE"), b->win,
                      time);
}

// Carries out what the model decided. Returns after delivering an event: the handler may have
// destroyed the box.
bool dispatch(EditBox* b, EditModel::Result r, Time time) {
    EditBoxEvents* events = b->options.events;
    switch (r) {
    case EditModel::Result::none: return false;
    case EditModel::Result::moved:
        if (b->model.hasSelection()) own(b, 0, time);
        render(b);
        return true;
    case EditModel::Result::changed: render(b); return true;
    case EditModel::Result::copy: own(b, 1, time); return true;
    case EditModel::Result::cut:
        own(b, 1, time);
        b->model.deleteSelection();
        render(b);
        return true;
    case EditModel::Result::paste:
        requestPaste(b, atom(b->owner->display, "CLIPBOARD"), time);
        return true;
    case EditModel::Result::refused:
        render(b);
        if (events) events->onEditBoxEvent(b, EditBoxEvent::limitReached);
        return true;
    case EditModel::Result::returnKey:
        if (events) events->onEditBoxEvent(b, EditBoxEvent::returnKey);
        return true;
    case EditModel::Result::escapeKey:
        if (events) events->onEditBoxEvent(b, EditBoxEvent::escapeKey);
        return true;
    }
    return false;
}

void keyPress(EditBox* b, XKeyEvent& e) {
    char small[64];
    std::vector<char> big;
    char* buffer = small;
    KeySym sym = NoSymbol;
    int n = 0;
    bool haveChars = true, haveSym = true;
    if (b->ic) {
        Status status = 0;
        n = Xutf8LookupString(b->ic, &e, buffer, sizeof small - 1, &sym, &status);
        if (status == XBufferOverflow) {
            big.resize(static_cast<size_t>(n) + 1);
            buffer = big.data();
            n = Xutf8LookupString(b->ic, &e, buffer, n, &sym, &status);
        }
        if (status == XLookupNone) return;
        haveChars = status == XLookupChars || status == XLookupBoth;
        haveSym = status == XLookupKeySym || status == XLookupBoth;
    } else {
        n = XLookupString(&e, buffer, sizeof small - 1, &sym, nullptr);
    }
    n = std::max(n, 0);
    buffer[n] = '\0';
    const bool shift = (e.state & ShiftMask) != 0;
    const bool control = (e.state & ControlMask) != 0;
    EditKeyInput in;
    in.shift = shift;
    bool known = haveSym;
    if (haveSym) {
        switch (sym) {
        case XK_Return:
        case XK_KP_Enter: in.key = EditKey::returnKey; break;
        case XK_Escape: in.key = EditKey::escape; break;
        case XK_Left:
        case XK_KP_Left: in.key = EditKey::left; break;
        case XK_Right:
        case XK_KP_Right: in.key = EditKey::right; break;
        case XK_Home:
        case XK_KP_Home: in.key = EditKey::home; break;
        case XK_End:
        case XK_KP_End: in.key = EditKey::end; break;
        case XK_BackSpace: in.key = EditKey::backspace; break;
        case XK_Delete:
        case XK_KP_Delete: in.key = shift ? EditKey::cut : EditKey::del; break;
        case XK_Insert:
        case XK_KP_Insert:
            if (control) in.key = EditKey::copy;
            else if (shift) in.key = EditKey::paste;
            else known = false;
            break;
        case XK_a:
        case XK_A:
            known = control;
            in.key = EditKey::selectAll;
            break;
        case XK_c:
        case XK_C:
            known = control;
            in.key = EditKey::copy;
            break;
        case XK_x:
        case XK_X:
            known = control;
            in.key = EditKey::cut;
            break;
        case XK_v:
        case XK_V:
            known = control;
            in.key = EditKey::paste;
            break;
        default: known = false; break;
        }
    }
    if (!known) {
        if (!haveChars || n == 0 || control) return;
        in.key = EditKey::text;
        in.text = buffer;
    }
    dispatch(b, b->model.apply(in), e.time);
}

void selectionNotify(EditBox* b, XSelectionEvent& e) {
    Display* d = b->owner->display;
    if (e.property == None) {
        // No UTF-8 offered: ask once more for Latin-1.
        if (e.target == b->owner->atoms.utf8String)
            XConvertSelection(d, e.selection, XA_STRING, atom(d, "CORVEX_PASTE"), b->win, e.time);
        return;
    }
    Atom type = None;
    int format = 0;
    unsigned long count = 0, after = 0;
    unsigned char* data = nullptr;
    // More than the box can hold is never needed.
    if (XGetWindowProperty(d, b->win, e.property, 0, 1024, True, AnyPropertyType, &type, &format,
                           &count, &after, &data) == Success &&
        data && format == 8 && type != b->owner->atoms.incr) {
        std::string text(reinterpret_cast<char*>(data), count);
        if (type == XA_STRING) text = utf8::fromLatin1(text.data(), text.size());
        // One line only: a pasted line break ends the text.
        text = text.substr(0, text.find_first_of("\r\n"));
        const EditModel::Result r = b->model.insert(text);
        render(b);
        if (data) XFree(data);
        if (r == EditModel::Result::refused && b->options.events)
            b->options.events->onEditBoxEvent(b, EditBoxEvent::limitReached);
        return;
    }
    if (data) XFree(data);
}

// Answers another client asking for a selection this window holds.
void selectionRequest(Window* w, XSelectionRequestEvent& r) {
    Display* d = w->display;
    XSelectionEvent reply{};
    reply.type = SelectionNotify;
    reply.requestor = r.requestor;
    reply.selection = r.selection;
    reply.target = r.target;
    reply.time = r.time;
    reply.property = None;
    const int which = r.selection == XA_PRIMARY ? 0 : 1;
    const std::string& text = w->ownedSelection[which];
    const Atom targets = atom(d, "TARGETS");
    const Atom property = r.property != None ? r.property : r.target;
    if (r.target == targets) {
        const Atom offered[] = {targets, w->atoms.utf8String, XA_STRING};
        XChangeProperty(d, r.requestor, property, XA_ATOM, 32, PropModeReplace,
                        reinterpret_cast<const unsigned char*>(offered), 3);
        reply.property = property;
    } else if (r.target == w->atoms.utf8String || r.target == XA_STRING ||
               r.target == atom(d, "TEXT")) {
        XChangeProperty(d, r.requestor, property,
                        r.target == XA_STRING ? XA_STRING : w->atoms.utf8String, 8, PropModeReplace,
                        reinterpret_cast<const unsigned char*>(text.data()),
                        static_cast<int>(text.size()));
        reply.property = property;
    }
    XSendEvent(d, r.requestor, False, 0, reinterpret_cast<XEvent*>(&reply));
}

bool releaseFocus(EditBox* b) {
    if (!b->tookFocus || b->windowGone) return false;
    Display* d = b->owner->display;
    ::Window focus = 0;
    int revert = 0;
    XGetInputFocus(d, &focus, &revert);
    if (focus != b->win) return false;
    // Back to whoever had it, else to the host's window (or our own, when it is a top-level).
    const ::Window to = b->previousFocus > PointerRoot && b->previousFocus != b->win
                            ? b->previousFocus
                        : b->owner->topLevel ? b->owner->window
                                             : b->owner->parent;
    ErrorTrap trap(d);
    XSetInputFocus(d, to, RevertToParent, CurrentTime);
    if (!trap.sync()) XSetInputFocus(d, PointerRoot, RevertToPointerRoot, CurrentTime);
    return true;
}

}  // namespace

EditBox* createEditBox(Window* w, const EditBoxOptions& designOptions) {
    if (!w || !w->alive || w->editBox) return nullptr;
    // The box lives in device pixels: its own image, font and pointer positions.
    const EditBoxOptions o = deviceEditBox(designOptions, windowScale(w));
    const int32_t width = o.rect.right - o.rect.left, height = o.rect.bottom - o.rect.top;
    if (width <= 0 || height <= 0 || width > kMaxBitmapSide || height > kMaxBitmapSide)
        return nullptr;
    Display* d = w->display;
    ErrorTrap trap(d);
    auto* b = new EditBox;
    b->owner = w;
    b->width = width;
    b->height = height;
    b->options = o;
    b->face = o.font.face ? o.font.face : "Arial";
    b->options.font.face = b->face.c_str();
    b->options.text = nullptr;
    b->model.reset(o.text, o.limit);

    b->image = createBitmap(width, height);
    b->context = b->image ? createContext(nullptr) : nullptr;
    b->font = createFont(b->options.font);
    if (b->context) {
        selectBitmap(b->context, b->image);
        if (b->font) selectFont(b->context, b->font);
    }
    int32_t stride = 0;
    uint32_t* pixels = b->image ? bitmapPixels(b->image, &stride) : nullptr;
    if (pixels) {
        b->ximage = XCreateImage(d, w->visual, 24, ZPixmap, 0, reinterpret_cast<char*>(pixels),
                                 static_cast<unsigned>(width), static_cast<unsigned>(height), 32,
                                 stride * 4);
        if (b->ximage) b->ximage->byte_order = LSBFirst;
    }

    XSetWindowAttributes a{};
    a.colormap = w->colormap;
    a.border_pixel = 0;
    a.background_pixel = pixelOf(o.backColor);
    a.event_mask = KeyPressMask | ButtonPressMask | ButtonReleaseMask | Button1MotionMask |
                   FocusChangeMask | ExposureMask | StructureNotifyMask;
    if (b->ximage && b->context) {
        b->win = XCreateWindow(d, w->window, o.rect.left, o.rect.top, static_cast<unsigned>(width),
                               static_cast<unsigned>(height), 0, 24, InputOutput, w->visual,
                               CWColormap | CWBorderPixel | CWBackPixel | CWEventMask, &a);
    }
    if (!b->win || !trap.sync()) {
        b->windowGone = true;
        w->editBox = b;
        destroyEditBox(b);
        return nullptr;
    }
    b->gc = XCreateGC(d, b->win, 0, nullptr);

    // The input method, when the process can open one; plain key lookup otherwise.
    b->im = XOpenIM(d, nullptr, nullptr, nullptr);
    if (b->im) {
        b->ic = XCreateIC(b->im, XNInputStyle, XIMPreeditNothing | XIMStatusNothing, XNClientWindow,
                          b->win, XNFocusWindow, b->win, nullptr);
        if (b->ic) {
            long filter = 0;
            if (!XGetICValues(b->ic, XNFilterEvents, &filter, nullptr) && filter) {
                XSelectInput(d, b->win, a.event_mask | filter);
            }
        } else {
            XCloseIM(b->im);
            b->im = nullptr;
        }
    }
    XMapRaised(d, b->win);
    w->editBox = b;
    if (o.takeKeyboardFocus) {
        int revert = 0;
        XGetInputFocus(d, &b->previousFocus, &revert);
        XSetInputFocus(d, b->win, RevertToParent, CurrentTime);
        b->tookFocus = trap.sync();
        b->focused = b->tookFocus;
        if (b->ic && b->focused) XSetICFocus(b->ic);
    }
    render(b);
    trap.sync();
    return b;
}

void destroyEditBox(EditBox* b) {
    if (!b) return;
    Window* w = b->owner;
    Display* d = w->display;
    {
        ErrorTrap trap(d);
        releaseFocus(b);
        if (b->ic) XDestroyIC(b->ic);
        if (b->im) XCloseIM(b->im);
        if (b->gc) XFreeGC(d, b->gc);
        // Already gone when the host destroyed its window: the trap takes the error.
        if (b->win && !b->windowGone) XDestroyWindow(d, b->win);
        trap.release(true);
    }
    if (b->ximage) {
        b->ximage->data = nullptr;  // the bitmap's pixels
        XDestroyImage(b->ximage);
    }
    if (b->context) deleteContext(b->context);
    if (b->font) deleteFont(b->font);
    if (b->image) deleteBitmap(b->image);
    if (w->editBox == b) w->editBox = nullptr;
    delete b;
}

std::size_t editBoxText(EditBox* b, char* buffer, std::size_t size) {
    if (!buffer || size == 0) return 0;
    buffer[0] = '\0';
    if (!b) return 0;
    const std::string& t = b->model.text();
    size_t n = std::min(t.size(), size - 1);
    while (n > 0 && n < t.size() && (static_cast<unsigned char>(t[n]) & 0xC0) == 0x80) --n;
    std::memcpy(buffer, t.data(), n);
    buffer[n] = '\0';
    return n;
}

bool editBoxKey(EditBox* b, const EditKeyInput& input) {
    if (!b) return false;
    ErrorTrap trap(b->owner->display);
    return dispatch(b, b->model.apply(input), CurrentTime);
}

EditSelection editBoxSelection(EditBox* b) {
    if (!b) return {};
    return {b->model.anchor(), b->model.caret()};
}

bool editBoxEvent(Window* w, XEvent& e) {
    EditBox* b = w->editBox;
    if (b && b->ic && XFilterEvent(&e, None)) return true;
    if (e.type == SelectionRequest && e.xselectionrequest.owner == w->window) {
        selectionRequest(w, e.xselectionrequest);
        return true;
    }
    if (e.type == SelectionClear && e.xselectionclear.window == w->window) {
        w->ownedSelection[e.xselectionclear.selection == XA_PRIMARY ? 0 : 1].clear();
        return true;
    }
    if (!b || e.xany.window != b->win) return false;
    switch (e.type) {
    case Expose:
        if (e.xexpose.count == 0) render(b);
        break;
    case KeyPress: keyPress(b, e.xkey); break;
    case ButtonPress:
        if (e.xbutton.button == Button1) {
            if (!b->focused) {
                // A click in the box gives it the keyboard, as in any text field.
                int revert = 0;
                if (!b->tookFocus) XGetInputFocus(w->display, &b->previousFocus, &revert);
                XSetInputFocus(w->display, b->win, RevertToParent, e.xbutton.time);
                b->tookFocus = true;
            }
            b->model.setCaret(offsetAt(b, e.xbutton.x), (e.xbutton.state & ShiftMask) != 0);
            b->dragging = true;
            render(b);
        } else if (e.xbutton.button == Button2) {
            b->model.setCaret(offsetAt(b, e.xbutton.x), false);
            requestPaste(b, XA_PRIMARY, e.xbutton.time);
        }
        break;
    case MotionNotify:
        if (b->dragging) {
            b->model.setCaret(offsetAt(b, e.xmotion.x), true);
            render(b);
        }
        break;
    case ButtonRelease:
        if (e.xbutton.button == Button1 && b->dragging) {
            b->dragging = false;
            if (b->model.hasSelection()) own(b, 0, e.xbutton.time);
        }
        break;
    case FocusIn:
        if (e.xfocus.mode == NotifyNormal || e.xfocus.mode == NotifyWhileGrabbed) {
            b->focused = true;
            if (b->ic) XSetICFocus(b->ic);
            render(b);
        }
        break;
    case FocusOut:
        // Grabs move the focus only for their duration: not a reason to close.
        if ((e.xfocus.mode == NotifyNormal || e.xfocus.mode == NotifyWhileGrabbed) &&
            e.xfocus.detail != NotifyInferior && e.xfocus.detail != NotifyPointer && b->focused) {
            b->focused = false;
            if (b->ic) XUnsetICFocus(b->ic);
            if (b->options.events) b->options.events->onEditBoxEvent(b, EditBoxEvent::focusLost);
        }
        break;
    case SelectionNotify: selectionNotify(b, e.xselection); break;
    case DestroyNotify:
        if (e.xdestroywindow.window == b->win) {
            // The host destroyed its window with ours inside: the box closes as on focus loss.
            b->windowGone = true;
            b->focused = false;
            if (b->options.events) b->options.events->onEditBoxEvent(b, EditBoxEvent::focusLost);
        }
        break;
    default: break;
    }
    return true;
}

void editBoxShutdown(Window* w) {
    if (w->editBox) destroyEditBox(w->editBox);
    Display* d = w->display;
    for (int which = 0; which < 2; ++which) {
        if (w->ownedSelection[which].empty()) continue;
        const Atom selection = which == 0 ? XA_PRIMARY : atom(d, "CLIPBOARD");
        if (XGetSelectionOwner(d, selection) == w->window)
            XSetSelectionOwner(d, selection, None, CurrentTime);
        w->ownedSelection[which].clear();
    }
}

}  // namespace platform
