// SPDX-License-Identifier: GPL-3.0-or-later
// The LV2 DSP library's entry point: the descriptor of Corvex, its URID and option look-ups at
// instantiation, and the calls forwarded to CorvexLv2. Threads as in lv2/corvex_lv2.h; the
// descriptor itself is constant data.
#include "lv2/corvex_lv2.h"
#include "lv2/features.h"

#include <lv2/atom/atom.h>
#include <lv2/buf-size/buf-size.h>
#include <lv2/core/lv2.h>
#include <lv2/midi/midi.h>
#include <lv2/options/options.h>
#include <lv2/urid/urid.h>

#include <cstring>
#include <new>

namespace {

using corvex_lv2::findFeature;

using corvex_lv2::CorvexLv2;

// The host's largest block, from bufsz:maxBlockLength or else bufsz:nominalBlockLength; 0 when
// it gives neither as an int.
int32_t announcedBlock(const LV2_Options_Option* options, LV2_URID_Map* map) {
    if (!options) return 0;
    const LV2_URID atomInt = map->map(map->handle, LV2_ATOM__Int);
    const LV2_URID maxBlock = map->map(map->handle, LV2_BUF_SIZE__maxBlockLength);
    const LV2_URID nominal = map->map(map->handle, LV2_BUF_SIZE__nominalBlockLength);
    int32_t found = 0;
    for (const LV2_Options_Option* o = options; o->key || o->value; ++o) {
        if (o->type != atomInt || o->size != sizeof(int32_t) || !o->value) continue;
        const int32_t value = *static_cast<const int32_t*>(o->value);
        if (o->key == maxBlock && value > 0) return value;
        if (o->key == nominal && value > 0) found = value;
    }
    return found;
}

LV2_Handle instantiate(const LV2_Descriptor*, double rate, const char*,
                       const LV2_Feature* const* features) {
    auto* map = static_cast<LV2_URID_Map*>(const_cast<void*>(findFeature(features, LV2_URID__map)));
    if (!map || !map->map) return nullptr;
    corvex_lv2::Urids urids;
    urids.atomSequence = map->map(map->handle, LV2_ATOM__Sequence);
    urids.midiEvent = map->map(map->handle, LV2_MIDI__MidiEvent);
    urids.beatTime = map->map(map->handle, LV2_ATOM__beatTime);
    const auto* options =
        static_cast<const LV2_Options_Option*>(findFeature(features, LV2_OPTIONS__options));
    return new (std::nothrow) CorvexLv2(rate, urids, announcedBlock(options, map));
}

void connectPort(LV2_Handle instance, uint32_t port, void* data) {
    static_cast<CorvexLv2*>(instance)->connectPort(port, data);
}

void activate(LV2_Handle instance) { static_cast<CorvexLv2*>(instance)->activate(); }

void run(LV2_Handle instance, uint32_t frames) { static_cast<CorvexLv2*>(instance)->run(frames); }

void cleanup(LV2_Handle instance) { delete static_cast<CorvexLv2*>(instance); }

const void* extensionData(const char*) { return nullptr; }

const LV2_Descriptor kDescriptor = {
    corvex_lv2::kPluginUri, instantiate, connectPort, activate, run, nullptr, cleanup,
    extensionData,
};

}  // namespace

extern "C" LV2_SYMBOL_EXPORT const LV2_Descriptor* lv2_descriptor(uint32_t index) {
    return index == 0 ? &kDescriptor : nullptr;
}
