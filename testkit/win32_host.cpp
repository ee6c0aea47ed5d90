// SPDX-License-Identifier: GPL-3.0-or-later
// Host-side Win32 helpers for tests and tools: a top-level window, pixel read-back, SendInput and
// an OLE drag source driven by the system's own drag-and-drop loop.
#include "testkit/win32_host.h"

#include <windows.h>
#include <ole2.h>
#include <shlobj.h>

#include <algorithm>
#include <cstring>

namespace testkit::win32host {

namespace {

LRESULT CALLBACK hostProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    return DefWindowProcA(hwnd, message, wParam, lParam);
}

const char* hostClass() {
    static const char* name = [] {
        WNDCLASSA wc{};
        wc.lpfnWndProc = &hostProc;
        wc.hInstance = GetModuleHandleA(nullptr);
        wc.hCursor = LoadCursorA(nullptr, IDC_ARROW);
        wc.hbrBackground = static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH));
        wc.lpszClassName = "CorvexTestHost";
        RegisterClassA(&wc);
        return "CorvexTestHost";
    }();
    return name;
}

HWND hwndOf(NativeWindow w) { return reinterpret_cast<HWND>(w); }

std::wstring widen(const std::string& text) {
    const int n =
        MultiByteToWideChar(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring out(static_cast<size_t>(std::max(n, 0)), L'\0');
    if (n > 0)
        MultiByteToWideChar(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), out.data(), n);
    return out;
}

bool sendMouse(DWORD flags, LONG dx = 0, LONG dy = 0) {
    INPUT in{};
    in.type = INPUT_MOUSE;
    in.mi.dx = dx;
    in.mi.dy = dy;
    in.mi.dwFlags = flags;
    return SendInput(1, &in, sizeof in) == 1;
}

// A data object offering one HGLOBAL format.
class DataObject final : public IDataObject {
public:
    DataObject(CLIPFORMAT format, std::vector<uint8_t> bytes)
        : format(format), bytes(std::move(bytes)) {}
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
        if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IDataObject)) {
            *out = static_cast<IDataObject*>(this);
            AddRef();
            return S_OK;
        }
        *out = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return static_cast<ULONG>(++refs); }
    ULONG STDMETHODCALLTYPE Release() override {
        const LONG left = --refs;
        if (left == 0) delete this;
        return static_cast<ULONG>(left);
    }
    HRESULT STDMETHODCALLTYPE GetData(FORMATETC* fe, STGMEDIUM* medium) override {
        if (QueryGetData(fe) != S_OK) return DV_E_FORMATETC;
        HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE, bytes.size());
        if (!block) return E_OUTOFMEMORY;
        std::memcpy(GlobalLock(block), bytes.data(), bytes.size());
        GlobalUnlock(block);
        medium->tymed = TYMED_HGLOBAL;
        medium->hGlobal = block;
        medium->pUnkForRelease = nullptr;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetDataHere(FORMATETC*, STGMEDIUM*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE QueryGetData(FORMATETC* fe) override {
        return fe && fe->cfFormat == format && (fe->tymed & TYMED_HGLOBAL) ? S_OK : DV_E_FORMATETC;
    }
    HRESULT STDMETHODCALLTYPE GetCanonicalFormatEtc(FORMATETC*, FORMATETC* out) override {
        if (out) out->ptd = nullptr;
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE SetData(FORMATETC*, STGMEDIUM*, BOOL) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE EnumFormatEtc(DWORD direction, IEnumFORMATETC** out) override {
        if (direction != DATADIR_GET) return E_NOTIMPL;
        FORMATETC fe{format, nullptr, DVASPECT_CONTENT, -1, TYMED_HGLOBAL};
        return SHCreateStdEnumFmtEtc(1, &fe, out);
    }
    HRESULT STDMETHODCALLTYPE DAdvise(FORMATETC*, DWORD, IAdviseSink*, DWORD*) override {
        return OLE_E_ADVISENOTSUPPORTED;
    }
    HRESULT STDMETHODCALLTYPE DUnadvise(DWORD) override { return OLE_E_ADVISENOTSUPPORTED; }
    HRESULT STDMETHODCALLTYPE EnumDAdvise(IEnumSTATDATA**) override {
        return OLE_E_ADVISENOTSUPPORTED;
    }

private:
    LONG refs = 1;
    CLIPFORMAT format;
    std::vector<uint8_t> bytes;
};

// Lets the system's loop find the target under the cursor once, then drops.
class DropSource final : public IDropSource {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
        if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IDropSource)) {
            *out = static_cast<IDropSource*>(this);
            AddRef();
            return S_OK;
        }
        *out = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return static_cast<ULONG>(++refs); }
    ULONG STDMETHODCALLTYPE Release() override {
        const LONG left = --refs;
        if (left == 0) delete this;
        return static_cast<ULONG>(left);
    }
    HRESULT STDMETHODCALLTYPE QueryContinueDrag(BOOL escape, DWORD) override {
        if (escape) return DRAGDROP_S_CANCEL;
        return ++calls >= 3 ? DRAGDROP_S_DROP : S_OK;
    }
    HRESULT STDMETHODCALLTYPE GiveFeedback(DWORD) override { return DRAGDROP_S_USEDEFAULTCURSORS; }

private:
    LONG refs = 1;
    int calls = 0;
};

uint32_t drag(CLIPFORMAT format, std::vector<uint8_t> bytes, Point at) {
    const HRESULT init = OleInitialize(nullptr);
    SetCursorPos(at.x, at.y);
    auto* data = new DataObject(format, std::move(bytes));
    auto* source = new DropSource;
    DWORD effect = DROPEFFECT_NONE;
    const HRESULT hr = DoDragDrop(data, source, DROPEFFECT_COPY | DROPEFFECT_MOVE, &effect);
    data->Release();
    source->Release();
    if (SUCCEEDED(init)) OleUninitialize();
    return hr == DRAGDROP_S_DROP ? effect : 0;
}

}  // namespace

NativeWindow create(int32_t width, int32_t height, const char* title) {
    RECT r{0, 0, width, height};
    const DWORD style = WS_OVERLAPPEDWINDOW | WS_VISIBLE;
    AdjustWindowRect(&r, style, FALSE);
    HWND h =
        CreateWindowExA(0, hostClass(), title ? title : "host", style, 20, 20, r.right - r.left,
                        r.bottom - r.top, nullptr, nullptr, GetModuleHandleA(nullptr), nullptr);
    if (!h) return 0;
    ShowWindow(h, SW_SHOW);
    UpdateWindow(h);
    SetForegroundWindow(h);
    return reinterpret_cast<NativeWindow>(h);
}

void destroy(NativeWindow window) {
    if (window && IsWindow(hwndOf(window))) DestroyWindow(hwndOf(window));
}

bool pump(uint32_t ms) {
    const DWORD start = GetTickCount();
    bool running = true;
    do {
        MSG msg;
        while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
            if (msg.message == WM_QUIT) running = false;
            TranslateMessage(&msg);
            DispatchMessageA(&msg);
        }
        Sleep(2);
    } while (GetTickCount() - start < ms);
    return running;
}

bool readPixels(NativeWindow window, std::vector<uint32_t>* pixels, int32_t* width,
                int32_t* height) {
    HWND h = hwndOf(window);
    RECT r{};
    if (!pixels || !width || !height || !h || !GetClientRect(h, &r) || r.right <= 0 ||
        r.bottom <= 0)
        return false;
    BITMAPINFO bi{};
    bi.bmiHeader.biSize = sizeof bi.bmiHeader;
    bi.bmiHeader.biWidth = r.right;
    bi.bmiHeader.biHeight = -r.bottom;
    bi.bmiHeader.biPlanes = 1;
    bi.bmiHeader.biBitCount = 32;
    bi.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    HBITMAP copy = CreateDIBSection(nullptr, &bi, DIB_RGB_COLORS, &bits, nullptr, 0);
    if (!copy) return false;
    HDC from = GetDC(h);
    HDC to = CreateCompatibleDC(from);
    HGDIOBJ old = SelectObject(to, copy);
    const bool ok = BitBlt(to, 0, 0, r.right, r.bottom, from, 0, 0, SRCCOPY) != 0;
    SelectObject(to, old);
    DeleteDC(to);
    ReleaseDC(h, from);
    GdiFlush();
    if (ok) {
        const auto* p = static_cast<const uint32_t*>(bits);
        pixels->assign(p, p + static_cast<size_t>(r.right) * r.bottom);
        for (auto& v : *pixels) v &= 0xFFFFFF;
        *width = r.right;
        *height = r.bottom;
    }
    DeleteObject(copy);
    return ok;
}

Point clientOrigin(NativeWindow window) {
    POINT p{0, 0};
    ClientToScreen(hwndOf(window), &p);
    return {p.x, p.y};
}

NativeWindow findChild(NativeWindow parent, const char* className) {
    return reinterpret_cast<NativeWindow>(
        FindWindowExA(hwndOf(parent), nullptr, className, nullptr));
}

bool classRegistered(const char* className, void* module) {
    WNDCLASSA wc{};
    return GetClassInfoA(static_cast<HINSTANCE>(module), className, &wc) != 0;
}

bool movePointer(int32_t x, int32_t y) {
    // Absolute positions are in 1/65536 of the primary screen.
    const int w = GetSystemMetrics(SM_CXSCREEN), h = GetSystemMetrics(SM_CYSCREEN);
    if (w <= 0 || h <= 0) return false;
    const LONG nx = static_cast<LONG>((static_cast<int64_t>(x) * 65536 + w / 2) / w);
    const LONG ny = static_cast<LONG>((static_cast<int64_t>(y) * 65536 + h / 2) / h);
    return sendMouse(MOUSEEVENTF_MOVE | MOUSEEVENTF_ABSOLUTE, nx, ny);
}

bool button(int32_t number, bool press) {
    DWORD flag = 0;
    if (number == 1) flag = press ? MOUSEEVENTF_LEFTDOWN : MOUSEEVENTF_LEFTUP;
    else if (number == 2) flag = press ? MOUSEEVENTF_MIDDLEDOWN : MOUSEEVENTF_MIDDLEUP;
    else if (number == 3) flag = press ? MOUSEEVENTF_RIGHTDOWN : MOUSEEVENTF_RIGHTUP;
    else return false;
    return sendMouse(flag);
}

bool key(uint16_t virtualKey, bool press) {
    INPUT in{};
    in.type = INPUT_KEYBOARD;
    in.ki.wVk = virtualKey;
    in.ki.dwFlags = press ? 0 : KEYEVENTF_KEYUP;
    return SendInput(1, &in, sizeof in) == 1;
}

uint32_t dragFiles(const std::vector<std::string>& paths, Point at) {
    std::wstring list;
    for (const auto& p : paths) {
        list += widen(p);
        list += L'\0';
    }
    list += L'\0';
    std::vector<uint8_t> bytes(sizeof(DROPFILES) + list.size() * sizeof(wchar_t));
    DROPFILES header{};
    header.pFiles = sizeof(DROPFILES);
    header.fWide = TRUE;
    std::memcpy(bytes.data(), &header, sizeof header);
    std::memcpy(bytes.data() + sizeof header, list.data(), list.size() * sizeof(wchar_t));
    return drag(CF_HDROP, std::move(bytes), at);
}

uint32_t dragText(const std::string& text, Point at) {
    std::vector<uint8_t> bytes(text.begin(), text.end());
    bytes.push_back(0);
    return drag(CF_TEXT, std::move(bytes), at);
}

bool writeShortcut(const std::string& linkPath, const std::string& target) {
    const HRESULT init = CoInitialize(nullptr);
    IShellLinkW* link = nullptr;
    bool ok = false;
    if (SUCCEEDED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW,
                                   reinterpret_cast<void**>(&link)))) {
        IPersistFile* file = nullptr;
        if (SUCCEEDED(link->SetPath(widen(target).c_str())) &&
            SUCCEEDED(link->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(&file)))) {
            ok = SUCCEEDED(file->Save(widen(linkPath).c_str(), TRUE));
            file->Release();
        }
        link->Release();
    }
    if (SUCCEEDED(init)) CoUninitialize();
    return ok;
}

}  // namespace testkit::win32host
