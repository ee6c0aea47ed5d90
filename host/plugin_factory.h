// The one effect this library creates; defined by the effect's own module.
#pragma once

#include "audioeffect.h"

// Returns a new effect owned by the host through its record, or null if creation failed.
AudioEffect* createEffectInstance(audioMasterCallback audioMaster);
