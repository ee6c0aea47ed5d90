// The effect this library creates: Corvex. The one place that names the engine for the entry
// points.
#include "plugin_factory.h"

#include "engine/corvex.h"

#include <new>

AudioEffect* createEffectInstance(audioMasterCallback audioMaster) {
    return new (std::nothrow) Corvex(audioMaster);
}
