// SPDX-License-Identifier: GPL-3.0-or-later
// The one effect this library creates (plugin_factory.cpp) and the entry point's shared work.
#pragma once

#include "host/audioeffect.h"

// Returns a new effect owned by the host through its record, or null if creation failed.
AudioEffect* createEffectInstance(audioMasterCallback audioMaster);

// The entry point's work, the same on every platform: the record of a new effect, or null.
inline AEffect* openPlugin(audioMasterCallback audioMaster) {
    if (!audioMaster) return nullptr;
    // A host answering 0 predates the interface this effect needs.
    if (audioMaster(nullptr, audioMasterVersion, 0, 0, nullptr, 0.0f) == 0) return nullptr;
    AudioEffect* effect = createEffectInstance(audioMaster);
    return effect ? effect->getAeffect() : nullptr;
}
