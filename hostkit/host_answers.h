// SPDX-License-Identifier: GPL-3.0-or-later
// The answers every host of ours gives to the version request, and the plainest host callback.
// Portable: built for the Windows host check too.
#pragma once

#include "host/aeffect.h"

#include <cstdint>

namespace hostkit {

// The interface version our hosts claim (2.4).
constexpr intptr_t kHostVstVersion = 2400;

// A host that answers the version request and 0 to everything else: for driving an effect whose
// requests do not matter to the caller. Any thread.
intptr_t versionOnlyHost(AEffect* effect, int32_t opcode, int32_t index, intptr_t value, void* ptr,
                         float opt);

}  // namespace hostkit
