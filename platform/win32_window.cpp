// The Win32 window system: the window class "Plugin%08x" of the module, child windows in the
// host's window, and a window procedure that translates messages for the shared window rules
// (window_dispatch.h). The host's message loop is the event source; pumpEvents only lets waiting
// paint messages through, as the toolkit's tracking loops expect.
#include "win32_internal.h"

#include <windowsx.h>

#include <cstdio>
#include <memory>

namespace platform {

// ---- Window class and settings ---------------------------------------------------------------

namespace {
int32_t gClassUses = 0;
char gClassName[20] = {};
bool gSwapped = false;

HINSTANCE module() { return static_cast<HINSTANCE>(thisModule()); }

LRESULT CALLBACK windowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
}  // namespace

int32_t registerWindowClass() {
    if (++gClassUses == 1) {
        // One class per loaded copy of the module: its handle is in the name.
        std::snprintf(gClassName, sizeof gClassName, "Plugin%08x",
                      static_cast<unsigned>(reinterpret_cast<uintptr_t>(thisModule())));
        WNDCLASSA wc{};
        wc.style = CS_GLOBALCLASS;
        wc.lpfnWndProc = &windowProc;
        wc.hInstance = module();
        wc.hCursor = LoadCursorA(nullptr, IDC_ARROW);
        wc.hbrBackground = reinterpret_cast<HBRUSH>(static_cast<INT_PTR>(COLOR_BTNFACE + 1));
        wc.lpszClassName = gClassName;
        RegisterClassA(&wc);
        gSwapped = GetSystemMetrics(SM_SWAPBUTTON) != 0;
    }
    return gClassUses;
}

int32_t unregisterWindowClass() {
    if (gClassUses > 0 && --gClassUses == 0) UnregisterClassA(gClassName, module());
    return gClassUses;
}

int32_t windowClassUseCount() { return gClassUses; }
bool swappedMouseButtons() { return gSwapped; }

uint32_t ticks() { return GetTickCount(); }
void sleepMs(uint32_t ms) { Sleep(ms); }
uint32_t doubleClickTime() { return GetDoubleClickTime(); }

// ---- The window procedure --------------------------------------------------------------------

namespace {

// The paint message's own device context, lent for the one paint it is made for.
class PaintContext final : public ContextSource {
public:
    PaintContext(HDC dc, HWND hwnd) : dc(dc), hwnd(hwnd) {}
    Context* acquire() override { return wrapForeignContext(dc, hwnd); }
    void release(Context* c) override { releaseForeignContext(c); }

private:
    HDC dc;
    HWND hwnd;
};

Window* windowOf(HWND hwnd) {
    return reinterpret_cast<Window*>(GetWindowLongPtrA(hwnd, GWLP_USERDATA));
}

// Buttons are reported physically: the system's left button message is the primary button,
// which the swap setting moves to the right-hand one.
int physical(UINT message) {
    if (message == WM_MBUTTONDOWN) return 2;
    const bool primary = message == WM_LBUTTONDOWN;
    return primary != gSwapped ? 1 : 3;
}

// The press's buttons as the message recorded them, made physical like the pressed button, and
// the modifiers as they were when the message was posted.
uint32_t pressState(UINT message, WPARAM wParam) {
    uint32_t s = 0;
    const uint32_t primary = gSwapped ? kButtonRight : kButtonLeft;
    const uint32_t secondary = gSwapped ? kButtonLeft : kButtonRight;
    if ((wParam & MK_LBUTTON) || message == WM_LBUTTONDOWN) s |= primary;
    if ((wParam & MK_RBUTTON) || message == WM_RBUTTONDOWN) s |= secondary;
    if ((wParam & MK_MBUTTON) || message == WM_MBUTTONDOWN) s |= kButtonMiddle;
    if (wParam & MK_SHIFT) s |= kModShift;
    if (wParam & MK_CONTROL) s |= kModControl;
    if (GetKeyState(VK_MENU) & 0x8000) s |= kModAlt;
    return s;
}

void destroyNow(Window* w);

LRESULT CALLBACK windowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_NCCREATE) {
        const auto* cs = reinterpret_cast<const CREATESTRUCTA*>(lParam);
        SetWindowLongPtrA(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(cs->lpCreateParams));
    }
    Window* w = windowOf(hwnd);
    if (!w) return DefWindowProcA(hwnd, message, wParam, lParam);
    switch (message) {
    case WM_PAINT: {
        RECT update{};
        if (!GetUpdateRect(hwnd, &update, FALSE)) break;
        PAINTSTRUCT ps{};
        HDC dc = BeginPaint(hwnd, &ps);
        if (dc) {
            PaintContext source(dc, hwnd);
            EventDispatch::Pass pass(w->dispatch, true);
            w->dispatch.addDamage(
                {ps.rcPaint.left, ps.rcPaint.top, ps.rcPaint.right, ps.rcPaint.bottom});
            w->dispatch.paint(&source);
        }
        EndPaint(hwnd, &ps);
        if (w->dispatch.finished()) destroyNow(w);
        return 0;
    }
    case WM_LBUTTONDOWN:
    case WM_RBUTTONDOWN:
    case WM_MBUTTONDOWN: {
        w->eventTicks = static_cast<uint32_t>(GetMessageTime());
        {
            EventDispatch::Pass pass(w->dispatch, false);
            w->dispatch.buttonDown({GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)}, physical(message),
                                   pressState(message, wParam));
        }
        // A handler closed the window: ended now that no pass holds it (the window procedure of
        // a window may destroy it; nothing below touches it).
        if (w->dispatch.finished()) destroyNow(w);
        return 0;
    }
    case WM_COMMAND:
        if (editBoxCommand(w, wParam, lParam)) return 0;
        break;
    case WM_CTLCOLOREDIT: {
        EditColors colors;
        if (!w->editColorQuery || !w->editColorQuery(w->editColorOwner, &colors)) break;
        HDC dc = reinterpret_cast<HDC>(wParam);
        SetTextColor(dc, colors.text & 0xFFFFFF);
        SetBkColor(dc, colors.back & 0xFFFFFF);
        HBRUSH brush = CreateSolidBrush(colors.back & 0xFFFFFF);
        if (w->editBrush) DeleteObject(w->editBrush);
        w->editBrush = brush;
        return reinterpret_cast<LRESULT>(brush);
    }
    case WM_DESTROY:
        // Destroyed by the system (with the host's window): OLE lets go of us while the window
        // still exists.
        revokeDropTarget(w);
        editBoxWindowGone(w, true);
        w->dispatch.destroyed();
        break;
    case WM_NCDESTROY:
        SetWindowLongPtrA(hwnd, GWLP_USERDATA, 0);
        w->hwnd = nullptr;
        break;
    default: break;
    }
    return DefWindowProcA(hwnd, message, wParam, lParam);
}

}  // namespace

// ---- Windows ---------------------------------------------------------------------------------

Window* createChildWindow(const WindowOptions& o) {
    HWND parent = reinterpret_cast<HWND>(o.parent);
    if (!parent || !IsWindow(parent) || gClassUses == 0 || o.width <= 0 || o.height <= 0 ||
        o.width > kMaxBitmapSide || o.height > kMaxBitmapSide)
        return nullptr;
    auto w = std::make_unique<Window>();
    w->events = o.events;
    w->dispatch.bind(o.events, &w->contexts);
    w->hwnd = CreateWindowExA(0, gClassName, "Window", WS_CHILD | WS_VISIBLE, 0, 0, o.width,
                              o.height, parent, nullptr, module(), w.get());
    if (!w->hwnd) return nullptr;
    return w.release();
}

namespace {
void destroyNow(Window* w) {
    editBoxWindowGone(w, false);
    if (w->hwnd && IsWindow(w->hwnd)) {
        revokeDropTarget(w);
        // Ours to end: no destroy notice goes back to the owner.
        SetWindowLongPtrA(w->hwnd, GWLP_USERDATA, 0);
        DestroyWindow(w->hwnd);
    }
    revokeDropTarget(w);
    if (w->editBrush) DeleteObject(w->editBrush);
    delete w;
}
}  // namespace

void destroyWindow(Window* w) {
    if (!w) return;
    if (w->dispatch.depth() > 0) {
        // Inside one of its own passes (a handler closed the editor): hidden now, ended when the
        // window procedure's pass is over.
        w->dispatch.retire();
        if (w->hwnd && IsWindow(w->hwnd)) ShowWindow(w->hwnd, SW_HIDE);
        return;
    }
    destroyNow(w);
}

NativeWindow nativeHandle(Window* w) { return w ? reinterpret_cast<NativeWindow>(w->hwnd) : 0; }
bool windowAlive(Window* w) { return w && w->hwnd && w->dispatch.alive(); }

void pumpEvents(Window* w, bool /*paintOnly*/) {
    if (!w) return;
    // The host's loop delivers every message; what a caller inside a handler needs is a waiting
    // paint let through (for any window of the thread, the host's too).
    MSG msg;
    if (PeekMessageA(&msg, nullptr, WM_PAINT, WM_PAINT, PM_REMOVE)) DispatchMessageA(&msg);
}

bool takeLeftButtonDown(Window* w) {
    if (!w || !w->hwnd) return false;
    // Only our window's: a click meant for one of the host's windows is not ours to swallow.
    MSG msg;
    return PeekMessageA(&msg, w->hwnd, WM_LBUTTONDOWN, WM_LBUTTONDOWN, PM_REMOVE | PM_NOYIELD) != 0;
}

uint32_t eventTime(Window* w) { return w ? w->eventTicks : 0; }

Context* getWindowContext(Window* w) {
    if (!w || !w->hwnd) return nullptr;
    HDC dc = GetDC(w->hwnd);
    if (!dc) return nullptr;
    Context* c = wrapForeignContext(dc, w->hwnd);
    if (!c) {
        ReleaseDC(w->hwnd, dc);
        return nullptr;
    }
    c->fromGetDC = true;
    return c;
}

void releaseWindowContext(Window* /*w*/, Context* c) {
    if (!c) return;
    if (c->fromGetDC) ReleaseDC(c->window, c->dc);
    releaseForeignContext(c);
}

Rect windowScreenRect(Window* w) {
    RECT r{};
    if (!w || !w->hwnd || !GetWindowRect(w->hwnd, &r)) return {};
    return {r.left, r.top, r.right, r.bottom};
}

bool resizeWindow(Window* w, int32_t width, int32_t height) {
    if (!w || !w->hwnd || width <= 0 || height <= 0 || width > kMaxBitmapSide ||
        height > kMaxBitmapSide)
        return false;
    return SetWindowPos(w->hwnd, nullptr, 0, 0, width, height,
                        SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE) != 0;
}

NativeWindow nativeParent(Window*, NativeWindow window) {
    HWND h = reinterpret_cast<HWND>(window);
    if (!h || !IsWindow(h)) return 0;
    HWND p = GetAncestor(h, GA_PARENT);
    if (!p || p == GetDesktopWindow()) return 0;
    // Resizing stops at a multiple-document client area, which sizes its children itself.
    char name[16] = {};
    if (GetClassNameA(p, name, sizeof name) && lstrcmpiA(name, "MDIClient") == 0) return 0;
    return reinterpret_cast<NativeWindow>(p);
}

bool nativeScreenRect(Window*, NativeWindow window, Rect* rect) {
    RECT r{};
    if (!rect || !window || !GetWindowRect(reinterpret_cast<HWND>(window), &r)) return false;
    *rect = {r.left, r.top, r.right, r.bottom};
    return true;
}

bool nativeResize(Window*, NativeWindow window, int32_t width, int32_t height) {
    if (!window || width <= 0 || height <= 0) return false;
    return SetWindowPos(reinterpret_cast<HWND>(window), nullptr, 0, 0, width, height,
                        SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE) != 0;
}

bool nativeHasCaption(Window*, NativeWindow window) {
    if (!window || !IsWindow(reinterpret_cast<HWND>(window))) return false;
    const LONG style = GetWindowLongA(reinterpret_cast<HWND>(window), GWL_STYLE);
    return (style & WS_CAPTION) == WS_CAPTION;
}

bool nativeRaise(Window*, NativeWindow window) {
    if (!window) return false;
    return SetWindowPos(reinterpret_cast<HWND>(window), HWND_TOP, 0, 0, 0, 0,
                        SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE) != 0;
}

// ---- Input -----------------------------------------------------------------------------------

bool queryPointer(Window* w, PointerState* out) {
    if (!out) return false;
    *out = {};
    if (!w) return false;
    POINT p{};
    GetCursorPos(&p);
    out->screen = {p.x, p.y};
    // The physical buttons (the asynchronous state does not apply the swap) and the modifiers.
    auto down = [](int key) { return (GetAsyncKeyState(key) & 0x8000) != 0; };
    uint32_t s = 0;
    if (down(VK_LBUTTON)) s |= kButtonLeft;
    if (down(VK_MBUTTON)) s |= kButtonMiddle;
    if (down(VK_RBUTTON)) s |= kButtonRight;
    if (down(VK_SHIFT)) s |= kModShift;
    if (down(VK_CONTROL)) s |= kModControl;
    if (down(VK_MENU)) s |= kModAlt;
    out->state = s;
    return true;
}

void setCursor(Window* w, Cursor cursor) {
    if (!w) return;
    if (!w->cursorTouched) {
        w->defaultCursor = GetCursor();
        w->cursorTouched = true;
    }
    LPCSTR shape = nullptr;
    switch (cursor) {
    case Cursor::standard:
        SetCursor(w->defaultCursor ? w->defaultCursor : LoadCursorA(nullptr, IDC_ARROW));
        return;
    case Cursor::wait: shape = IDC_WAIT; break;
    case Cursor::sizeWE: shape = IDC_SIZEWE; break;
    case Cursor::sizeNS: shape = IDC_SIZENS; break;
    case Cursor::sizeAll: shape = IDC_SIZEALL; break;
    case Cursor::sizeNESW: shape = IDC_SIZENESW; break;
    case Cursor::sizeNWSE: shape = IDC_SIZENWSE; break;
    default: return;
    }
    SetCursor(LoadCursorA(nullptr, shape));  // system cursors are shared: never destroyed
}

bool setDropTarget(Window* w, bool active) {
    if (!w || !w->hwnd) return false;
    if (active) return w->dropTarget || registerDropTarget(w);
    revokeDropTarget(w);
    return true;
}

}  // namespace platform
