// SPDX-License-Identifier: GPL-3.0-or-later
// The edit box on Windows: the system's own "EDIT" control, a child of the frame's window, with
// the text field's styles, font and margins. Typing, caret, selection, clipboard and input
// methods are the system's; its window procedure is subclassed to report Return, Escape and the
// loss of focus, and the parent hears when the limit refused input. Colours come from the box's
// options through the parent's edit-colour request.
#include "win32_internal.h"

#include "platform/editbox.h"

#include <algorithm>
#include <cstring>
#include <string>

namespace platform {

struct EditBox {
    Window* owner = nullptr;
    HWND hwnd = nullptr;
    HFONT font = nullptr;
    WNDPROC previous = nullptr;
    EditBoxOptions options;
    HWND previousFocus = nullptr;
    bool tookFocus = false;
    bool gone = false;          // the system destroyed it with its window
    std::string lastText;       // kept when it went, for the owner's final read
    bool* destroyed = nullptr;  // set while an event is delivered: raised by destroyEditBox
};

namespace {

// Delivers an event; false when the handler destroyed the box (which must not be touched then).
bool deliver(EditBox* b, EditBoxEvent event) {
    if (!b->options.events) return true;
    bool destroyed = false;
    bool* outer = b->destroyed;
    b->destroyed = &destroyed;
    b->options.events->onEditBoxEvent(b, event);
    if (destroyed) {
        if (outer) *outer = true;
        return false;
    }
    b->destroyed = outer;
    return true;
}

std::string currentText(EditBox* b) {
    if (b->gone || !b->hwnd) return b->lastText;
    const int length = GetWindowTextLengthW(b->hwnd);
    std::wstring w(static_cast<size_t>(std::max(length, 0)) + 1, L'\0');
    const int got = GetWindowTextW(b->hwnd, w.data(), length + 1);
    return narrow(w.c_str(), std::max(got, 0));
}

// The longest prefix of text of at most bytes bytes that ends on a character boundary.
std::size_t cutAt(const std::string& text, std::size_t bytes) {
    std::size_t n = std::min(bytes, text.size());
    while (n > 0 && n < text.size() && (static_cast<unsigned char>(text[n]) & 0xC0) == 0x80) --n;
    return n;
}

// UTF-16 offsets of the edit control to UTF-8 byte offsets of its text.
int32_t utf8Offset(const std::wstring& w, int32_t units) {
    units = std::clamp<int32_t>(units, 0, static_cast<int32_t>(w.size()));
    return static_cast<int32_t>(narrow(w.c_str(), units).size());
}

LRESULT CALLBACK editProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    auto* b = reinterpret_cast<EditBox*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
    if (!b) return DefWindowProcW(hwnd, message, wParam, lParam);
    const WNDPROC previous = b->previous;
    switch (message) {
    case WM_GETDLGCODE:
        // Every key, Return included, comes to the box even inside a host's dialog.
        return DLGC_WANTALLKEYS;
    case WM_KEYDOWN:
        if (wParam == VK_RETURN && !deliver(b, EditBoxEvent::returnKey)) return 0;
        if (wParam == VK_ESCAPE && !deliver(b, EditBoxEvent::escapeKey)) return 0;
        break;
    case WM_CHAR:
        // The single-line control would only beep at them.
        if (wParam == '\r' || wParam == '\n' || wParam == 27) return 0;
        break;
    case WM_KILLFOCUS:
        if (!deliver(b, EditBoxEvent::focusLost)) return 0;
        break;
    default: break;
    }
    return CallWindowProcW(previous, hwnd, message, wParam, lParam);
}

bool colours(void* owner, EditColors* out) {
    auto* b = static_cast<EditBox*>(owner);
    if (!b || !out) return false;
    out->text = b->options.textColor;
    out->back = b->options.backColor;
    return true;
}

}  // namespace

EditBox* createEditBox(Window* window, const EditBoxOptions& designOptions) {
    if (!window || !window->hwnd || !IsWindow(window->hwnd) || window->editBox) return nullptr;
    // The control lives in device pixels: its place and font at the window's scale.
    const EditBoxOptions o = deviceEditBox(designOptions, windowScale(window));
    const Rect& r = o.rect;
    if (r.right <= r.left || r.bottom <= r.top) return nullptr;
    auto* b = new EditBox;
    b->owner = window;
    b->options = o;
    b->options.text = nullptr;
    b->options.limit = std::clamp(o.limit, 0, 1 << 20);
    DWORD style = WS_CHILD | WS_VISIBLE | ES_AUTOHSCROLL;
    style |= o.align == TextAlign::right    ? ES_RIGHT
             : o.align == TextAlign::center ? ES_CENTER
                                            : ES_LEFT;
    std::string text = o.text ? o.text : "";
    text.resize(cutAt(text, static_cast<std::size_t>(b->options.limit)));
    const ParentAwareness awareness(window->hwnd);
    b->hwnd = CreateWindowExW(0, L"EDIT", widen(text.c_str()).c_str(), style, r.left, r.top,
                              r.right - r.left, r.bottom - r.top, window->hwnd, nullptr,
                              static_cast<HINSTANCE>(thisModule()), nullptr);
    if (!b->hwnd) {
        delete b;
        return nullptr;
    }
    char face[LF_FACESIZE] = "Arial";
    if (o.font.face && *o.font.face) std::snprintf(face, sizeof face, "%s", o.font.face);
    b->font = CreateFontA(o.font.height == 0 ? -12 : std::clamp(o.font.height, -2048, 2048), 0, 0,
                          0, std::clamp(o.font.weight, 0, 1000), o.font.italic, o.font.underline,
                          FALSE, ANSI_CHARSET, OUT_STRING_PRECIS, CLIP_STROKE_PRECIS,
                          DEFAULT_QUALITY, o.font.pitchAndFamily, face);
    window->editBox = b;
    window->editColorQuery = &colours;
    window->editColorOwner = b;
    SetWindowLongPtrW(b->hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(b));
    if (b->font) SendMessageW(b->hwnd, WM_SETFONT, reinterpret_cast<WPARAM>(b->font), TRUE);
    SendMessageW(b->hwnd, EM_SETMARGINS, EC_LEFTMARGIN | EC_RIGHTMARGIN, 0);
    SendMessageW(b->hwnd, EM_SETSEL, 0, -1);
    SendMessageW(b->hwnd, EM_LIMITTEXT, static_cast<WPARAM>(std::max(b->options.limit, 1)), 0);
    b->previous = reinterpret_cast<WNDPROC>(
        SetWindowLongPtrW(b->hwnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&editProc)));
    if (o.takeKeyboardFocus) {
        b->previousFocus = SetFocus(b->hwnd);
        b->tookFocus = true;
    }
    return b;
}

void destroyEditBox(EditBox* b) {
    if (!b) return;
    if (b->destroyed) *b->destroyed = true;
    if (Window* w = b->owner) {
        if (w->editBox == b) w->editBox = nullptr;
        if (w->editColorOwner == b) {
            w->editColorQuery = nullptr;
            w->editColorOwner = nullptr;
        }
        if (w->editBrush) {
            DeleteObject(w->editBrush);
            w->editBrush = nullptr;
        }
    }
    if (!b->gone && b->hwnd && IsWindow(b->hwnd)) {
        SetWindowLongPtrW(b->hwnd, GWLP_USERDATA, 0);
        SetWindowLongPtrW(b->hwnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(b->previous));
        const bool hadFocus = GetFocus() == b->hwnd;
        DestroyWindow(b->hwnd);
        if (b->tookFocus && hadFocus) {
            // The focus goes back where it came from, or to the frame's window.
            HWND back = b->previousFocus && IsWindow(b->previousFocus) ? b->previousFocus
                        : b->owner && b->owner->hwnd                   ? b->owner->hwnd
                                                                       : nullptr;
            if (back) SetFocus(back);
        }
    }
    if (b->font) DeleteObject(b->font);
    delete b;
}

void editBoxWindowGone(Window* w, bool notify) {
    EditBox* b = w ? w->editBox : nullptr;
    if (!b || b->gone) return;
    b->lastText = currentText(b);
    if (b->hwnd && IsWindow(b->hwnd)) SetWindowLongPtrW(b->hwnd, GWLP_USERDATA, 0);
    b->gone = true;
    b->hwnd = nullptr;
    w->editBox = nullptr;
    w->editColorQuery = nullptr;
    w->editColorOwner = nullptr;
    b->owner = nullptr;
    // The host destroyed its window with ours inside: closes as on focus loss.
    if (notify) deliver(b, EditBoxEvent::focusLost);
}

bool editBoxCommand(Window* w, WPARAM wParam, LPARAM lParam) {
    EditBox* b = w ? w->editBox : nullptr;
    if (!b || b->gone || reinterpret_cast<HWND>(lParam) != b->hwnd) return false;
    if (HIWORD(wParam) == EN_MAXTEXT) deliver(b, EditBoxEvent::limitReached);
    return true;
}

std::size_t editBoxText(EditBox* b, char* buffer, std::size_t size) {
    if (!b || !buffer || size == 0) return 0;
    const std::string text = currentText(b);
    const std::size_t n =
        cutAt(text, std::min(size - 1, static_cast<std::size_t>(b->options.limit)));
    std::memcpy(buffer, text.data(), n);
    buffer[n] = '\0';
    return n;
}

EditSelection editBoxSelection(EditBox* b) {
    if (!b || b->gone || !b->hwnd) return {};
    DWORD start = 0, end = 0;
    SendMessageW(b->hwnd, EM_GETSEL, reinterpret_cast<WPARAM>(&start),
                 reinterpret_cast<LPARAM>(&end));
    const int length = GetWindowTextLengthW(b->hwnd);
    std::wstring w(static_cast<size_t>(std::max(length, 0)) + 1, L'\0');
    w.resize(static_cast<size_t>(std::max(GetWindowTextW(b->hwnd, w.data(), length + 1), 0)));
    return {utf8Offset(w, static_cast<int32_t>(start)), utf8Offset(w, static_cast<int32_t>(end))};
}

bool editBoxKey(EditBox* b, const EditKeyInput& in) {
    // Keys the host kept: handed to the control as the messages it would have received.
    if (!b || b->gone || !b->hwnd) return false;
    HWND h = b->hwnd;
    DWORD start = 0, end = 0;
    SendMessageW(h, EM_GETSEL, reinterpret_cast<WPARAM>(&start), reinterpret_cast<LPARAM>(&end));
    const LRESULT length = GetWindowTextLengthW(h);
    auto select = [&](LRESULT from, LRESULT to) {
        SendMessageW(h, EM_SETSEL, static_cast<WPARAM>(from), to);
    };
    switch (in.key) {
    case EditKey::text: {
        if (!in.text) return false;
        const std::wstring w = widen(in.text);
        SendMessageW(h, EM_REPLACESEL, TRUE, reinterpret_cast<LPARAM>(w.c_str()));
        return true;
    }
    case EditKey::left:
        if (in.shift) select(start, std::max<LRESULT>(static_cast<LRESULT>(end) - 1, 0));
        else
            select(start != end ? start : std::max<LRESULT>(static_cast<LRESULT>(start) - 1, 0),
                   start != end ? start : std::max<LRESULT>(static_cast<LRESULT>(start) - 1, 0));
        return true;
    case EditKey::right:
        if (in.shift) select(start, std::min<LRESULT>(static_cast<LRESULT>(end) + 1, length));
        else
            select(start != end ? end : std::min<LRESULT>(static_cast<LRESULT>(end) + 1, length),
                   start != end ? end : std::min<LRESULT>(static_cast<LRESULT>(end) + 1, length));
        return true;
    case EditKey::home: select(in.shift ? end : 0, 0); return true;
    case EditKey::end: select(in.shift ? start : length, length); return true;
    case EditKey::backspace:
    case EditKey::del:
        if (start == end) {
            if (in.key == EditKey::backspace && start > 0) select(start - 1, start);
            else if (in.key == EditKey::del && static_cast<LRESULT>(end) < length)
                select(start, end + 1);
            else return true;
        }
        SendMessageW(h, EM_REPLACESEL, TRUE, reinterpret_cast<LPARAM>(L""));
        return true;
    case EditKey::selectAll: select(0, -1); return true;
    case EditKey::copy: SendMessageW(h, WM_COPY, 0, 0); return true;
    case EditKey::cut: SendMessageW(h, WM_CUT, 0, 0); return true;
    case EditKey::paste: SendMessageW(h, WM_PASTE, 0, 0); return true;
    case EditKey::returnKey: deliver(b, EditBoxEvent::returnKey); return true;
    case EditKey::escape: deliver(b, EditBoxEvent::escapeKey); return true;
    }
    return false;
}

}  // namespace platform
