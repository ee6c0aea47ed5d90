// SPDX-License-Identifier: GPL-3.0-or-later
// The effect this library creates: Corvex, with the editor this build offers. The one place that
// names the engine for the entry points.
#include "plugin_factory.h"

#include "vst2/corvex.h"
#include "editor_factory.h"

#include <new>

AudioEffect* createEffectInstance(audioMasterCallback audioMaster) {
    return new (std::nothrow) Corvex(audioMaster, &createEditorInstance);
}
