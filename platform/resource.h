// SPDX-License-Identifier: GPL-3.0-or-later
// Resources embedded in a loaded module, found by type and number through the module handle
// (the load hook's handle: on Linux the base address of the loaded library or program).
#pragma once

#include <cstddef>
#include <cstdint>

namespace platform {

constexpr uint32_t kResourceBitmap = 2;

// Points data/size at the resource's bytes inside the module's read-only image. False when the
// module is unknown or holds no such resource.
bool findResource(void* module, uint32_t type, int32_t id, const uint8_t** data, std::size_t* size);

}  // namespace platform
