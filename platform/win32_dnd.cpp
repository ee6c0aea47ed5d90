// SPDX-License-Identifier: GPL-3.0-or-later
// The OLE drop target: file lists (CF_HDROP) and text (CF_TEXT) dropped on a window reach the
// shared window rules like any other event. Shortcuts (.lnk, any case) are passed on as the path
// they point to. OLE is initialised for the thread while a window is registered.
#include "win32_internal.h"

#include "platform/uri_list.h"

#include <ole2.h>
#include <shellapi.h>
#include <shlobj.h>

#include <cwctype>
#include <string>
#include <vector>

namespace platform {

namespace {

constexpr SIZE_T kMaxDropBytes = 16u << 20;

// The target of a shortcut in its short form; false when path is no shortcut or it cannot be
// resolved (without any user interface, waiting at most 500 ms).
bool resolveShortcut(const std::wstring& path, std::wstring* resolved) {
    const std::size_t dot = path.rfind(L'.');
    if (dot == std::wstring::npos || path.size() - dot != 4) return false;
    std::wstring ext = path.substr(dot);
    for (auto& ch : ext) ch = static_cast<wchar_t>(std::towlower(ch));
    if (ext != L".lnk") return false;
    IShellLinkW* link = nullptr;
    if (FAILED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW,
                                reinterpret_cast<void**>(&link))))
        return false;
    bool ok = false;
    IPersistFile* file = nullptr;
    if (SUCCEEDED(link->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(&file)))) {
        if (SUCCEEDED(file->Load(path.c_str(), STGM_READ)) &&
            SUCCEEDED(link->Resolve(nullptr, SLR_NO_UI | SLR_ANY_MATCH | (500u << 16)))) {
            wchar_t target[MAX_PATH] = {};
            if (link->GetPath(target, MAX_PATH, nullptr, SLGP_SHORTPATH) == S_OK && target[0]) {
                // Not every system honours the short-form flag (Wine does not): asked again.
                wchar_t shortened[MAX_PATH] = {};
                const DWORD n = GetShortPathNameW(target, shortened, MAX_PATH);
                *resolved = n > 0 && n < MAX_PATH ? shortened : target;
                ok = true;
            }
        }
        file->Release();
    }
    link->Release();
    return ok;
}

bool offers(IDataObject* data, CLIPFORMAT format) {
    FORMATETC fe{format, nullptr, DVASPECT_CONTENT, -1, TYMED_HGLOBAL};
    return data && data->QueryGetData(&fe) == S_OK;
}

}  // namespace

class DropTarget final : public IDropTarget {
public:
    explicit DropTarget(Window* window) : window(window) {}
    void detach() { window = nullptr; }

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
        if (!out) return E_POINTER;
        if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IDropTarget)) {
            *out = static_cast<IDropTarget*>(this);
            AddRef();
            return S_OK;
        }
        *out = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return static_cast<ULONG>(++refs); }
    ULONG STDMETHODCALLTYPE Release() override {
        if (--refs < 1) {
            delete this;
            return 0;
        }
        return static_cast<ULONG>(refs);
    }

    HRESULT STDMETHODCALLTYPE DragEnter(IDataObject* data, DWORD keys, POINTL pt,
                                        DWORD* effect) override {
        accept = offers(data, CF_TEXT) || offers(data, CF_HDROP);
        return DragOver(keys, pt, effect);
    }
    HRESULT STDMETHODCALLTYPE DragOver(DWORD keys, POINTL, DWORD* effect) override {
        if (!effect) return E_INVALIDARG;
        // Asked again on every move: the answer changes with a modal view or the Control key.
        *effect = accept && window && window->dispatch.canDrop()
                      ? ((keys & MK_CONTROL) ? DROPEFFECT_COPY : DROPEFFECT_MOVE)
                      : DROPEFFECT_NONE;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE DragLeave() override {
        accept = false;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Drop(IDataObject* data, DWORD keys, POINTL pt,
                                   DWORD* effect) override {
        DWORD answer = DROPEFFECT_NONE;
        if (window && window->hwnd && data) {
            POINT p{pt.x, pt.y};
            ScreenToClient(window->hwnd, &p);
            const bool taken = dropText(data, {p.x, p.y}) || dropFiles(data, {p.x, p.y});
            if (taken) answer = (keys & MK_CONTROL) ? DROPEFFECT_COPY : DROPEFFECT_MOVE;
        }
        if (effect) *effect = answer;
        DragLeave();
        return S_OK;
    }

private:
    // Text first, as file managers offer the names as text too. The block's whole size is
    // passed on (it may exceed the text); the copy handed out always ends in a terminator.
    bool dropText(IDataObject* data, Point where) {
        FORMATETC fe{CF_TEXT, nullptr, DVASPECT_CONTENT, -1, TYMED_HGLOBAL};
        STGMEDIUM medium{};
        if (data->GetData(&fe, &medium) != S_OK) return false;
        bool taken = false;
        if (medium.tymed == TYMED_HGLOBAL && medium.hGlobal) {
            const SIZE_T size = GlobalSize(medium.hGlobal);
            const void* block = GlobalLock(medium.hGlobal);
            if (block && size > 0 && size <= kMaxDropBytes) {
                const std::string text(static_cast<const char*>(block), size);
                const char* items[1] = {text.c_str()};
                taken = window->dispatch.drop(DropKind::text, items, 1, size, where);
            }
            if (block) GlobalUnlock(medium.hGlobal);
        }
        ReleaseStgMedium(&medium);
        return taken;
    }

    // Paths as UTF-8, like every text of the platform layer; shortcuts replaced by their targets.
    bool dropFiles(IDataObject* data, Point where) {
        FORMATETC fe{CF_HDROP, nullptr, DVASPECT_CONTENT, -1, TYMED_HGLOBAL};
        STGMEDIUM medium{};
        if (data->GetData(&fe, &medium) != S_OK) return false;
        bool taken = false;
        HDROP drop = medium.tymed == TYMED_HGLOBAL ? static_cast<HDROP>(medium.hGlobal) : nullptr;
        const UINT count = drop ? DragQueryFileW(drop, 0xFFFFFFFFu, nullptr, 0) : 0;
        std::vector<std::string> paths;
        for (UINT i = 0; i < count && paths.size() < kMaxDropPaths; ++i) {
            const UINT length = DragQueryFileW(drop, i, nullptr, 0);
            if (length == 0 || length > kMaxPathBytes) continue;
            std::wstring path(length + 1, L'\0');
            if (DragQueryFileW(drop, i, path.data(), length + 1) == 0) continue;
            path.resize(length);
            std::wstring target;
            if (resolveShortcut(path, &target)) path = target;
            paths.push_back(narrow(path.c_str(), static_cast<int>(path.size())));
        }
        if (!paths.empty()) {
            std::vector<const char*> items;
            for (const auto& s : paths) items.push_back(s.c_str());
            taken = window->dispatch.drop(DropKind::files, items.data(),
                                          static_cast<int32_t>(items.size()), 0, where);
        }
        ReleaseStgMedium(&medium);
        return taken;
    }

    LONG refs = 0;
    bool accept = false;
    Window* window;
};

bool registerDropTarget(Window* w) {
    if (!w || !w->hwnd || w->dropTarget) return false;
    const HRESULT init = OleInitialize(nullptr);
    if (init != S_OK && init != S_FALSE) return false;  // a multi-threaded apartment: no drops
    auto* target = new DropTarget(w);
    target->AddRef();
    const bool ok = RegisterDragDrop(w->hwnd, target) == S_OK;
    target->Release();  // the registration holds the only reference from here on
    if (!ok) {
        OleUninitialize();
        return false;
    }
    w->dropTarget = target;
    w->oleInitialized = true;
    return true;
}

void revokeDropTarget(Window* w) {
    if (!w || !w->dropTarget) return;
    // A drag in progress may still hold the object: it must no longer reach the window.
    w->dropTarget->detach();
    w->dropTarget = nullptr;
    if (w->hwnd) RevokeDragDrop(w->hwnd);
    if (w->oleInitialized) OleUninitialize();
    w->oleInitialized = false;
}

}  // namespace platform
