// SPDX-License-Identifier: GPL-3.0-or-later
// Guards against resources a window leaves behind: what the process and this thread hold of the
// system's objects, counted where the system counts them and probed where Wine does not (it
// answers 0 for GDI, USER and kernel handle counts). A leak shows as a census that differs from
// the one taken before the same work.
#pragma once

#include <windows.h>
#include <ole2.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <ostream>
#include <vector>

namespace census {

namespace detail {
// Wine's GDI objects by their slots: a handle's low word alone names a live object's slot (the
// generation in the high word is checked only when present).
inline int32_t gdiSlotsInUse() {
    int32_t n = 0;
    for (uintptr_t slot = 1; slot < 0x10000; ++slot)
        n += GetObjectType(reinterpret_cast<HGDIOBJ>(slot)) != 0;
    return n;
}
// Whether the slots count objects here: one brush more is one slot more.
inline bool slotsCountObjects() {
    const int32_t without = gdiSlotsInUse();
    HBRUSH brush = CreateSolidBrush(RGB(1, 2, 3));
    const int32_t with = gdiSlotsInUse();
    DeleteObject(brush);
    return with == without + 1 && gdiSlotsInUse() == without;
}
}  // namespace detail

// GDI objects in use where the system counts them (Wine answers 0); else their slots in use;
// else the highest slot 256 fresh objects reach, which climbs once objects are left behind (the
// slots of freed objects are handed out again first).
inline uint32_t gdiObjects() {
    const DWORD counted = GetGuiResources(GetCurrentProcess(), GR_GDIOBJECTS);
    if (counted) return counted;
    static const bool bySlots = detail::slotsCountObjects();
    if (bySlots) return static_cast<uint32_t>(detail::gdiSlotsInUse());
    std::vector<HGDIOBJ> probes(256);
    uint32_t highest = 0;
    for (auto& p : probes) {
        p = CreateSolidBrush(RGB(1, 2, 3));
        highest = std::max<uint32_t>(
            highest, static_cast<uint32_t>(reinterpret_cast<uintptr_t>(p)) & 0xFFFF);
    }
    for (auto p : probes) DeleteObject(p);
    return highest;
}

// Kernel handles of the process where the system counts them. Under Wine the highest value 64
// fresh handles get: the lowest free slots are handed out first, so one left open moves it up.
inline uint32_t handleProbe() {
    DWORD counted = 0;
    if (GetProcessHandleCount(GetCurrentProcess(), &counted) && counted) return counted;
    std::vector<HANDLE> probes(64);
    uintptr_t highest = 0;
    for (auto& h : probes) {
        h = CreateEventA(nullptr, TRUE, FALSE, nullptr);
        highest = std::max(highest, reinterpret_cast<uintptr_t>(h));
    }
    for (auto h : probes) CloseHandle(h);
    return static_cast<uint32_t>(highest);
}

namespace detail {
inline BOOL CALLBACK countOne(HWND, LPARAM count) {
    ++*reinterpret_cast<int32_t*>(count);
    return TRUE;
}
inline BOOL CALLBACK countWithDescendants(HWND w, LPARAM count) {
    ++*reinterpret_cast<int32_t*>(count);
    EnumChildWindows(w, &countOne, count);
    return TRUE;
}
}  // namespace detail

// Every window of this thread: the top-level ones with all their descendants, and the
// message-only ones (OLE keeps its apartment's window there while it is initialised).
inline int32_t threadWindows() {
    int32_t n = 0;
    EnumThreadWindows(GetCurrentThreadId(), &detail::countWithDescendants,
                      reinterpret_cast<LPARAM>(&n));
    const DWORD self = GetCurrentThreadId();
    for (HWND w = FindWindowExA(HWND_MESSAGE, nullptr, nullptr, nullptr); w;
         w = FindWindowExA(HWND_MESSAGE, w, nullptr, nullptr))
        if (GetWindowThreadProcessId(w, nullptr) == self) ++n;
    return n;
}

// The descendants of one window.
inline int32_t descendants(HWND parent) {
    int32_t n = 0;
    if (parent) EnumChildWindows(parent, &detail::countOne, reinterpret_cast<LPARAM>(&n));
    return n;
}

// Whether OLE is initialised on this thread: a window that registered for drops and never
// revoked leaves it so.
inline bool oleInitialized() {
    const HRESULT r = OleInitialize(nullptr);
    if (SUCCEEDED(r)) OleUninitialize();
    return r == S_FALSE;
}

struct Census {
    uint32_t gdi = 0;
    uint32_t user = 0;  // 0 under Wine: the window count stands in
    int32_t windows = 0;
    uint32_t handles = 0;
    bool ole = false;
    bool operator==(const Census& o) const {
        return gdi == o.gdi && user == o.user && windows == o.windows && handles == o.handles &&
               ole == o.ole;
    }
};

inline Census take() {
    Census c;
    // First: initialising OLE for the question may set up what the probes below would count.
    c.ole = oleInitialized();
    c.gdi = gdiObjects();
    c.user = GetGuiResources(GetCurrentProcess(), GR_USEROBJECTS);
    c.windows = threadWindows();
    c.handles = handleProbe();
    return c;
}

inline std::ostream& operator<<(std::ostream& out, const Census& c) {
    return out << "{gdi " << c.gdi << ", user " << c.user << ", windows " << c.windows
               << ", handles " << c.handles << ", ole " << (c.ole ? "initialised" : "not") << "}";
}

inline void print(const char* what, const Census& before, const Census& after) {
    std::printf(
        "%s: gdi %u -> %u, user %u -> %u, windows %d -> %d, handles %u -> %u, ole %d -> %d\n", what,
        before.gdi, after.gdi, before.user, after.user, before.windows, after.windows,
        before.handles, after.handles, before.ole, after.ole);
}

}  // namespace census
