// SPDX-License-Identifier: GPL-3.0-or-later
// The Windows load hook, linked straight into this program: DllMain keeps the module handle
// whatever the reason of the call, and always agrees to the load.
#include "host/audioeffect.h"

#include <gtest/gtest.h>

extern "C" int __stdcall DllMain(void* module, unsigned long reason, void* reserved);

namespace {

TEST(DllMain, StoresTheModuleHandleForEveryReason) {
    int dummy[4] = {};
    // DLL_PROCESS_DETACH, DLL_PROCESS_ATTACH, DLL_THREAD_ATTACH, DLL_THREAD_DETACH
    for (unsigned long reason = 0; reason < 4; ++reason) {
        void* module = &dummy[reason];
        EXPECT_EQ(1, DllMain(module, reason, nullptr)) << "reason " << reason;
        EXPECT_EQ(module, GetInstance()) << "reason " << reason;
    }
}

}  // namespace
