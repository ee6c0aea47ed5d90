// SPDX-License-Identifier: GPL-3.0-or-later
// Resources on Windows: the module handle is the one the loader gives DllMain (found here from
// our own code's address, so the library and a test program alike know theirs), and bitmaps come
// from the module's resource section by number.
#include "win32_internal.h"

namespace platform {

void* thisModule() {
    HMODULE module = nullptr;
    if (!GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS |
                                GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                            reinterpret_cast<LPCSTR>(&thisModule), &module))
        return nullptr;
    return module;
}

Bitmap* loadBitmapResource(void* module, int32_t id) {
    if (!module) return nullptr;
    HBITMAP loaded = LoadBitmapA(static_cast<HINSTANCE>(module), MAKEINTRESOURCEA(id & 0xFFFF));
    if (!loaded) return nullptr;
    BITMAP info{};
    Bitmap* b = nullptr;
    if (GetObjectA(loaded, sizeof info, &info) == sizeof info)
        b = createBitmap(info.bmWidth, info.bmHeight);
    if (b) {
        // Copied into a DIB section like every other colour bitmap here.
        HDC from = CreateCompatibleDC(nullptr);
        HDC to = CreateCompatibleDC(nullptr);
        HGDIOBJ oldFrom = SelectObject(from, loaded);
        HGDIOBJ oldTo = SelectObject(to, b->handle);
        BitBlt(to, 0, 0, b->width, b->height, from, 0, 0, SRCCOPY);
        SelectObject(from, oldFrom);
        SelectObject(to, oldTo);
        DeleteDC(from);
        DeleteDC(to);
        GdiFlush();
    }
    DeleteObject(loaded);
    return b;
}

}  // namespace platform
