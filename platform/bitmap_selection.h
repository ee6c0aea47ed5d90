// SPDX-License-Identifier: GPL-3.0-or-later
// The rules every raster follows for bitmaps in contexts, whatever its bitmap record holds: a
// bitmap lives in one context at a time, deleting a selected bitmap waits until its context lets
// go of it, and a context's stock bitmap stays its own (never handed to another context, never
// freed by deleteBitmap). Each raster supplies its records (fields selectedBy, deletePending and,
// in the context, bitmap) and how a bitmap is freed; the caller of each rule holds the raster's
// thread, as for every raster call.
#pragma once

namespace platform::selection {

// deleteBitmap: true when the bitmap may be freed now; otherwise its deletion is marked to wait
// for its context (or for whatever else still uses it, inUse).
template <class Bitmap> bool mayFreeNow(Bitmap* bitmap, bool inUse = false) {
    if (bitmap->selectedBy || inUse) {
        bitmap->deletePending = true;
        return false;
    }
    return true;
}

// selectBitmap: whether context may take bitmap (false: it is another context's).
template <class Bitmap, class Context>
bool maySelect(const Context* context, const Bitmap* bitmap) {
    return !bitmap->selectedBy || bitmap->selectedBy == context;
}

// selectBitmap, once the system has taken bitmap into the context in place of context->bitmap:
// what selectBitmap returns. A bitmap whose deletion waited is freed as it leaves (and null is
// returned, as it is gone); the stock bitmap keeps its owner, so no other context can take it.
template <class Bitmap, class Context, class Free>
Bitmap* swap(Context* context, Bitmap* bitmap, const Bitmap* stock, Free free) {
    Bitmap* old = context->bitmap;
    context->bitmap = bitmap;
    bitmap->selectedBy = context;
    if (!old || old == stock) return old;
    if (old->selectedBy == context) old->selectedBy = nullptr;
    if (old->deletePending) {
        free(old);
        return nullptr;
    }
    return old;
}

// deleteContext: lets go of what the context holds, freeing it if its deletion waited. The stock
// bitmap is the context's own to free.
template <class Bitmap, class Context, class Free>
void release(Context* context, const Bitmap* stock, Free free) {
    Bitmap* held = context->bitmap;
    if (!held || held == stock || held->selectedBy != context) return;
    held->selectedBy = nullptr;
    if (held->deletePending) free(held);
}

}  // namespace platform::selection
