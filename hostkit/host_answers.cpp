// SPDX-License-Identifier: GPL-3.0-or-later
// The plainest host callback.
#include "hostkit/host_answers.h"

namespace hostkit {

intptr_t versionOnlyHost(AEffect*, int32_t opcode, int32_t, intptr_t, void*, float) {
    return opcode == audioMasterVersion ? kHostVstVersion : 0;
}

}  // namespace hostkit
