// SPDX-License-Identifier: GPL-3.0-or-later
// The host's features as both LV2 libraries look them up at instantiation. Header-only, so the UI
// library links nothing of the DSP's. Pure function: any thread.
#pragma once

#include <lv2/core/lv2.h>

#include <cstring>

namespace corvex_lv2 {

// The data of the feature named uri in the host's null-terminated list; null when the list is
// null or holds no such feature.
inline const void* findFeature(const LV2_Feature* const* features, const char* uri) {
    if (!features || !uri) return nullptr;
    for (const LV2_Feature* const* f = features; *f; ++f)
        if ((*f)->URI && std::strcmp((*f)->URI, uri) == 0) return (*f)->data;
    return nullptr;
}

}  // namespace corvex_lv2
