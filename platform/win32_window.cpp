// SPDX-License-Identifier: GPL-3.0-or-later
// The Win32 window system: the window class "Plugin%08x" of the module, child windows in the
// host's window, top-level windows of a Unicode class of their own ("PluginTop%08x"), and window
// procedures that translate messages for the shared window rules (window_dispatch.h). The host's
// message loop is the event source; pumpEvents only lets waiting paint messages through, as the
// toolkit's tracking loops expect.
#include "win32_internal.h"

#include <windowsx.h>

#include <cstdio>
#include <memory>
#include <string>

namespace platform {

// ---- Window class and settings ---------------------------------------------------------------

namespace {
int32_t gClassUses = 0;
char gClassName[20] = {};
bool gSwapped = false;

HINSTANCE module() { return static_cast<HINSTANCE>(thisModule()); }

LRESULT CALLBACK windowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
LRESULT CALLBACK topLevelProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);

// The top-level class is registered while a top-level window lives. Unlike the child class it
// is no global class: nobody but this module creates its windows.
int32_t gTopLevels = 0;
wchar_t gTopClassName[24] = {};

bool holdTopLevelClass() {
    if (gTopLevels > 0) {
        ++gTopLevels;
        return true;
    }
    char name[24] = {};
    std::snprintf(name, sizeof name, "PluginTop%08x",
                  static_cast<unsigned>(reinterpret_cast<uintptr_t>(thisModule())));
    for (std::size_t i = 0; i < sizeof name; ++i) gTopClassName[i] = static_cast<wchar_t>(name[i]);
    WNDCLASSW wc{};
    wc.lpfnWndProc = &topLevelProc;
    wc.hInstance = module();
    wc.hCursor = LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW));
    wc.hbrBackground = reinterpret_cast<HBRUSH>(static_cast<INT_PTR>(COLOR_BTNFACE + 1));
    wc.lpszClassName = gTopClassName;
    if (!RegisterClassW(&wc) && GetLastError() != ERROR_CLASS_ALREADY_EXISTS) return false;
    ++gTopLevels;
    return true;
}

void releaseTopLevelClass() {
    if (gTopLevels > 0 && --gTopLevels == 0) UnregisterClassW(gTopClassName, module());
}
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

// ---- Scale -----------------------------------------------------------------------------------

namespace {

// user32's DPI functions, looked up at run time: older systems (and older Wine) have none.
using GetDpiForWindowFn = UINT(WINAPI*)(HWND);
using DpiContext = HANDLE;  // DPI_AWARENESS_CONTEXT, which older headers do not name
using GetWindowDpiAwarenessContextFn = DpiContext(WINAPI*)(HWND);
using GetThreadDpiAwarenessContextFn = DpiContext(WINAPI*)();
using SetThreadDpiAwarenessContextFn = DpiContext(WINAPI*)(DpiContext);
using GetAwarenessFromDpiAwarenessContextFn = int(WINAPI*)(DpiContext);

struct DpiFunctions {
    GetDpiForWindowFn dpiForWindow = nullptr;
    GetWindowDpiAwarenessContextFn windowContext = nullptr;
    GetThreadDpiAwarenessContextFn threadContext = nullptr;
    SetThreadDpiAwarenessContextFn setThreadContext = nullptr;
    GetAwarenessFromDpiAwarenessContextFn awareness = nullptr;
};

template <typename Fn> Fn lookUp(HMODULE user32, const char* name) {
    return reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(user32, name)));
}

const DpiFunctions& dpiFunctions() {
    static const DpiFunctions functions = [] {
        DpiFunctions f;
        // user32 stays loaded for the life of any process with windows: no reference is kept.
        HMODULE user32 = GetModuleHandleA("user32.dll");
        if (!user32) return f;
        f.dpiForWindow = lookUp<GetDpiForWindowFn>(user32, "GetDpiForWindow");
        f.windowContext =
            lookUp<GetWindowDpiAwarenessContextFn>(user32, "GetWindowDpiAwarenessContext");
        f.threadContext =
            lookUp<GetThreadDpiAwarenessContextFn>(user32, "GetThreadDpiAwarenessContext");
        f.setThreadContext =
            lookUp<SetThreadDpiAwarenessContextFn>(user32, "SetThreadDpiAwarenessContext");
        f.awareness = lookUp<GetAwarenessFromDpiAwarenessContextFn>(
            user32, "GetAwarenessFromDpiAwarenessContext");
        return f;
    }();
    return functions;
}

constexpr int kPerMonitorAware = 2;  // DPI_AWARENESS_PER_MONITOR_AWARE

// The dots per inch the system gives the host's window: what it says for that window where it can
// (a host that is not DPI aware is told 96, and the system stretches its windows, ours with them),
// else the screen's logical DPI as this process sees it; 0 when neither answers.
double windowDpi(HWND parent) {
    const DpiFunctions& f = dpiFunctions();
    if (parent && IsWindow(parent) && f.dpiForWindow)
        if (const UINT dpi = f.dpiForWindow(parent); dpi > 0) return dpi;
    HDC dc = GetDC(parent && IsWindow(parent) ? parent : nullptr);
    if (!dc) return 0;
    const int dpi = GetDeviceCaps(dc, LOGPIXELSY);
    ReleaseDC(parent && IsWindow(parent) ? parent : nullptr, dc);
    return dpi > 0 ? dpi : 0;
}

}  // namespace

// The process's DPI awareness is the host's to declare, never ours. One case is taken further:
// a host whose plug-in window is per-monitor aware while the thread calling us is not (hosts that
// switch the thread's awareness only around their own window's creation) gets our windows created
// with its window's awareness, as the system requires of a child in a per-monitor parent. The
// thread's awareness is put back at once; the system sets it per window while messages run.
ParentAwareness::ParentAwareness(HWND parent) {
    const DpiFunctions& f = dpiFunctions();
    if (!parent || !f.windowContext || !f.threadContext || !f.setThreadContext || !f.awareness)
        return;
    const DpiContext wanted = f.windowContext(parent);
    if (!wanted || f.awareness(wanted) != kPerMonitorAware) return;
    const DpiContext current = f.threadContext();
    if (current && f.awareness(current) == kPerMonitorAware) return;
    previous = f.setThreadContext(wanted);
}

ParentAwareness::~ParentAwareness() {
    if (previous) dpiFunctions().setThreadContext(previous);
}

int32_t desktopScale(NativeWindow parent) {
    // The variable as the process environment holds it (the C runtime's copy may be another
    // module's).
    char own[16] = {};
    const DWORD n = GetEnvironmentVariableA("CORVEX_SCALE", own, sizeof own);
    const char* ownScale = n > 0 && n < sizeof own ? own : nullptr;
    if (const int32_t byVariable = pickScale(ownScale, nullptr, nullptr, 0);
        byVariable == pickScale(ownScale, nullptr, nullptr, 96.0 * kMaxScale))
        return byVariable;
    return pickScale(nullptr, nullptr, nullptr, windowDpi(reinterpret_cast<HWND>(parent)));
}

uint32_t ticks() { return GetTickCount(); }
void sleepMs(uint32_t ms) { Sleep(ms); }
uint32_t doubleClickTime() { return GetDoubleClickTime(); }

// ---- The window procedure --------------------------------------------------------------------

namespace {

// The paint message's own device context, lent for the one paint it is made for.
class PaintContext final : public ContextSource {
public:
    PaintContext(HDC dc, HWND hwnd, int32_t scale) : dc(dc), hwnd(hwnd), scale(scale) {}
    Context* acquire() override { return wrapForeignContext(dc, hwnd, scale); }
    void release(Context* c) override { releaseForeignContext(c); }

private:
    HDC dc;
    HWND hwnd;
    int32_t scale;
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

using DefaultProc = LRESULT(WINAPI*)(HWND, UINT, WPARAM, LPARAM);

// What child and top-level windows share; the rest goes to the default procedure of the window's
// kind (ANSI for the child class, Unicode for the top-level one).
LRESULT process(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam, DefaultProc defaultProc) {
    if (message == WM_NCCREATE) {
        // lpCreateParams leads both forms of the structure.
        const auto* cs = reinterpret_cast<const CREATESTRUCTA*>(lParam);
        SetWindowLongPtrA(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(cs->lpCreateParams));
    }
    Window* w = windowOf(hwnd);
    if (!w) return defaultProc(hwnd, message, wParam, lParam);
    switch (message) {
    case WM_PAINT: {
        RECT update{};
        if (!GetUpdateRect(hwnd, &update, FALSE)) break;
        PAINTSTRUCT ps{};
        HDC dc = BeginPaint(hwnd, &ps);
        if (dc) {
            PaintContext source(dc, hwnd, w->scale);
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
    return defaultProc(hwnd, message, wParam, lParam);
}

LRESULT CALLBACK windowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    return process(hwnd, message, wParam, lParam, &DefWindowProcA);
}

// ---- Keys of top-level windows ---------------------------------------------------------------

bool printable(uint32_t c) {
    return c >= 0x20 && !(c >= 0x7F && c < 0xA0) && c <= 0x10FFFF && !(c >= 0xD800 && c < 0xE000);
}

Key namedKey(WPARAM vk, bool extended) {
    if (vk >= VK_F1 && vk <= VK_F12)
        return static_cast<Key>(static_cast<int32_t>(Key::f1) + static_cast<int32_t>(vk - VK_F1));
    switch (vk) {
    case VK_BACK: return Key::backspace;
    case VK_TAB: return Key::tab;
    case VK_RETURN: return extended ? Key::enter : Key::returnKey;
    case VK_ESCAPE: return Key::escape;
    case VK_SPACE: return Key::space;
    case VK_DELETE: return Key::del;
    case VK_INSERT: return Key::insert;
    case VK_HOME: return Key::home;
    case VK_END: return Key::end;
    case VK_PRIOR: return Key::pageUp;
    case VK_NEXT: return Key::pageDown;
    case VK_LEFT: return Key::left;
    case VK_UP: return Key::up;
    case VK_RIGHT: return Key::right;
    case VK_DOWN: return Key::down;
    default: return Key::none;
    }
}

uint32_t physicalKey(WPARAM vk, LPARAM lParam) {
    if (vk == VK_PACKET) return 0;  // text typed by software
    const auto scan = static_cast<uint32_t>((lParam >> 16) & 0xFF);
    // Input made by software may carry no scan code: the layout's own for the key then.
    if (scan == 0) return MapVirtualKeyW(static_cast<UINT>(vk), MAPVK_VK_TO_VSC_EX);
    return (lParam & (1 << 24)) ? 0xE000 | scan : scan;
}

// The character the layout gives the key with Shift alone: what it types when no translated
// character is waiting (Control turned it into a control code, or the loop does not translate).
uint32_t layoutCharacter(WPARAM vk, LPARAM lParam) {
    // A dead key's state belongs to the system's translation: never disturbed from here.
    if (MapVirtualKeyW(static_cast<UINT>(vk), MAPVK_VK_TO_CHAR) & 0x80000000u) return 0;
    BYTE state[256] = {};
    if (!GetKeyboardState(state)) return 0;
    for (int k : {VK_CONTROL, VK_LCONTROL, VK_RCONTROL, VK_MENU, VK_LMENU, VK_RMENU}) state[k] = 0;
    wchar_t out[4] = {};
    // Flag 4: the keyboard state is left as it was.
    const int n = ToUnicodeEx(static_cast<UINT>(vk), static_cast<UINT>((lParam >> 16) & 0xFF),
                              state, out, 4, 4, GetKeyboardLayout(0));
    uint32_t c = 0;
    if (n == 1) c = out[0];
    else if (n == 2 && out[0] >= 0xD800 && out[0] < 0xDC00 && out[1] >= 0xDC00 && out[1] < 0xE000)
        c = 0x10000 + ((static_cast<uint32_t>(out[0]) - 0xD800) << 10) + (out[1] - 0xDC00);
    return printable(c) ? c : 0;
}

// Hands a key message to the shared rules; false when it goes on to the default procedure.
bool keyMessage(Window* w, HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    const bool down = message == WM_KEYDOWN || message == WM_SYSKEYDOWN;
    const bool system = message == WM_SYSKEYDOWN || message == WM_SYSKEYUP;
    KeyEvent k;
    k.scancode = physicalKey(wParam, lParam);
    k.key = namedKey(wParam, (lParam & (1 << 24)) != 0);
    if (GetKeyState(VK_SHIFT) & 0x8000) k.modifiers |= kModShift;
    if (GetKeyState(VK_CONTROL) & 0x8000) k.modifiers |= kModControl;
    if (GetKeyState(VK_MENU) & 0x8000) k.modifiers |= kModAlt;
    k.repeat = down && (lParam & (1 << 30));
    // The loop translated the press before dispatching it: its character waits in the queue.
    const UINT charMessage = system ? WM_SYSCHAR : WM_CHAR;
    bool charWaiting = false;
    if (down) {
        uint32_t c = 0;
        MSG m;
        if (PeekMessageW(&m, hwnd, charMessage, charMessage, PM_NOREMOVE | PM_NOYIELD)) {
            c = static_cast<uint32_t>(m.wParam);
            charWaiting = true;
            if (c >= 0xD800 && c < 0xDC00) {
                PeekMessageW(&m, hwnd, charMessage, charMessage, PM_REMOVE | PM_NOYIELD);
                const bool low =
                    PeekMessageW(&m, hwnd, charMessage, charMessage, PM_NOREMOVE | PM_NOYIELD) &&
                    m.wParam >= 0xDC00 && m.wParam < 0xE000;
                c = low ? 0x10000 + ((c - 0xD800) << 10) +
                              (static_cast<uint32_t>(m.wParam) - 0xDC00)
                        : 0;
                charWaiting = low;
            }
        }
        if (printable(c)) {
            // AltGr reaches us as Control+Alt; it typed the character, so neither was meant.
            if ((k.modifiers & (kModControl | kModAlt)) == (kModControl | kModAlt))
                k.modifiers &= ~(kModControl | kModAlt);
        } else {
            c = layoutCharacter(wParam, lParam);
        }
        k.character = c;
    }
    if (k.key == Key::none && k.character == 0) k.key = Key::unknown;
    w->eventTicks = static_cast<uint32_t>(GetMessageTime());
    bool taken = false;
    {
        EventDispatch::Pass pass(w->dispatch, false);
        taken = w->dispatch.key(k, down);
    }
    if (w->dispatch.finished()) {
        destroyNow(w);
        return true;
    }
    // A character message does nothing for the default procedure; a system one may open the
    // window menu (Alt+Space), so it stays when the key was not taken.
    if (charWaiting && (taken || !system)) {
        MSG m;
        PeekMessageW(&m, hwnd, charMessage, charMessage, PM_REMOVE | PM_NOYIELD);
    }
    return taken;
}

// Runs one notice through the rules; true when its handler closed the window (now ended).
template <typename Deliver> bool notice(Window* w, Deliver deliver) {
    {
        EventDispatch::Pass pass(w->dispatch, false);
        deliver();
    }
    if (!w->dispatch.finished()) return false;
    destroyNow(w);
    return true;
}

LRESULT CALLBACK topLevelProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    Window* w = message == WM_NCCREATE ? nullptr : windowOf(hwnd);
    if (w) {
        switch (message) {
        case WM_KEYDOWN:
        case WM_KEYUP:
        case WM_SYSKEYDOWN:
        case WM_SYSKEYUP:
            if (keyMessage(w, hwnd, message, wParam, lParam)) return 0;
            break;
        case WM_CLOSE:
            // Never the default's DestroyWindow: the owner decides.
            notice(w, [&] { w->dispatch.closeRequest(); });
            return 0;
        case WM_KILLFOCUS: {
            // To one of our own edit boxes is no loss.
            const HWND to = reinterpret_cast<HWND>(wParam);
            if (to && IsChild(hwnd, to)) break;
            if (notice(w, [&] { w->dispatch.focusOut(); })) return 0;
            break;
        }
        case WM_ACTIVATE: {
            // Deactivated while an edit box of ours had the focus: the box hears of it, the window
            // receives no WM_KILLFOCUS of its own.
            const HWND focus = GetFocus();
            if (LOWORD(wParam) == WA_INACTIVE && focus && IsChild(hwnd, focus) &&
                notice(w, [&] { w->dispatch.focusOut(); }))
                return 0;
            break;
        }
        case WM_GETMINMAXINFO: {
            RECT r{0, 0, w->minWidth, w->minHeight};
            AdjustWindowRectEx(&r, static_cast<DWORD>(GetWindowLongW(hwnd, GWL_STYLE)), FALSE,
                               static_cast<DWORD>(GetWindowLongW(hwnd, GWL_EXSTYLE)));
            auto* info = reinterpret_cast<MINMAXINFO*>(lParam);
            info->ptMinTrackSize = {r.right - r.left, r.bottom - r.top};
            return 0;
        }
        default: break;
        }
    }
    return process(hwnd, message, wParam, lParam, &DefWindowProcW);
}

}  // namespace

// ---- Windows ---------------------------------------------------------------------------------

Window* createChildWindow(const WindowOptions& o) {
    HWND parent = reinterpret_cast<HWND>(o.parent);
    if (!parent || !IsWindow(parent) || gClassUses == 0 || o.width <= 0 || o.height <= 0 ||
        o.scale < 1 || o.scale > kMaxScale || o.width > kMaxBitmapSide / o.scale ||
        o.height > kMaxBitmapSide / o.scale)
        return nullptr;
    auto w = std::make_unique<Window>();
    w->events = o.events;
    w->scale = o.scale;
    w->dispatch.bind(o.events, &w->contexts);
    w->dispatch.setScale(o.scale);
    const ParentAwareness awareness(parent);
    w->hwnd =
        CreateWindowExA(0, gClassName, "Window", WS_CHILD | WS_VISIBLE, 0, 0, o.width * o.scale,
                        o.height * o.scale, parent, nullptr, module(), w.get());
    if (!w->hwnd) return nullptr;
    return w.release();
}

Window* createTopLevelWindow(const TopLevelOptions& o) {
    if (o.width <= 0 || o.height <= 0 || o.scale < 1 || o.scale > kMaxScale ||
        o.width > kMaxBitmapSide / o.scale || o.height > kMaxBitmapSide / o.scale)
        return nullptr;
    if (!holdTopLevelClass()) return nullptr;
    if (gClassUses == 0) gSwapped = GetSystemMetrics(SM_SWAPBUTTON) != 0;
    auto w = std::make_unique<Window>();
    w->events = o.events;
    w->dispatch.bind(o.events, &w->contexts, w.get());
    w->dispatch.setScale(o.scale);
    w->scale = o.scale;
    w->topLevel = true;
    w->minWidth = (o.minWidth > 0 && o.minWidth <= o.width ? o.minWidth : o.width) * o.scale;
    w->minHeight = (o.minHeight > 0 && o.minHeight <= o.height ? o.minHeight : o.height) * o.scale;
    const DWORD style = WS_OVERLAPPEDWINDOW;
    RECT r{0, 0, o.width * o.scale, o.height * o.scale};
    AdjustWindowRectEx(&r, style, FALSE, 0);
    const std::wstring title = widen(windowTitleText(o.title).c_str());
    w->hwnd =
        CreateWindowExW(0, gTopClassName, title.c_str(), style, CW_USEDEFAULT, CW_USEDEFAULT,
                        r.right - r.left, r.bottom - r.top, nullptr, nullptr, module(), w.get());
    if (!w->hwnd) {
        releaseTopLevelClass();
        return nullptr;
    }
    ShowWindow(w->hwnd, SW_SHOW);
    UpdateWindow(w->hwnd);
    return w.release();
}

bool setWindowTitle(Window* w, const char* utf8) {
    if (!w || !w->topLevel || !w->hwnd || !utf8) return false;
    return SetWindowTextW(w->hwnd, widen(windowTitleText(utf8).c_str()).c_str()) != 0;
}

// The box's own keys never come here (the control has the focus); keys of the window while a
// box is open go to it by the shared rules.
EditBox* openEditBox(Window* w) { return w ? w->editBox : nullptr; }

namespace {
void destroyNow(Window* w) {
    const bool topLevel = w->topLevel;
    const bool heldClass = !topLevel && w->dispatch.isRetired();
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
    if (topLevel) releaseTopLevelClass();
    // The class could not go while this window still existed.
    if (heldClass) unregisterWindowClass();
}
}  // namespace

void destroyWindow(Window* w) {
    if (!w) return;
    if (w->dispatch.depth() > 0) {
        // Inside one of its own passes (a handler closed the editor): hidden now, ended when the
        // window procedure's pass is over. It keeps its class until then: its owner lets go of
        // the class first, and the system refuses to withdraw a class while a window of it exists.
        if (!w->topLevel && !w->dispatch.isRetired()) ++gClassUses;
        w->dispatch.retire();
        if (w->hwnd && IsWindow(w->hwnd)) ShowWindow(w->hwnd, SW_HIDE);
        return;
    }
    destroyNow(w);
}

NativeWindow nativeHandle(Window* w) { return w ? reinterpret_cast<NativeWindow>(w->hwnd) : 0; }
int32_t windowScale(Window* w) { return w ? w->scale : 1; }
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
    Context* c = wrapForeignContext(dc, w->hwnd, w->scale);
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
    return designScreenRect({r.left, r.top, r.right, r.bottom}, w->scale);
}

bool resizeWindow(Window* w, int32_t width, int32_t height) {
    if (!w || !w->hwnd || width <= 0 || height <= 0 || width > kMaxBitmapSide / w->scale ||
        height > kMaxBitmapSide / w->scale)
        return false;
    return SetWindowPos(w->hwnd, nullptr, 0, 0, width * w->scale, height * w->scale,
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
    RECT r{};
    if (w->scale > 1 && w->hwnd && GetWindowRect(w->hwnd, &r))
        out->screen = designPointer(out->screen, {r.left, r.top, r.right, r.bottom}, w->scale);
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
