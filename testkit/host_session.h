// SPDX-License-Identifier: GPL-3.0-or-later
// A scripted host session against a loaded copy of the plug-in, recorded as key/value entries.
//
// The same session runs against the Linux plug-in (corvex-session writes its record into the build
// folder) and against the Windows DLLs under Wine (the Windows host check compares what they
// answer with that record), so the three builds are held to the same answers and the same
// samples, bit for bit. Keys are "section/name"; values are printable text.
#pragma once

#include "host/aeffect.h"

#include <string>
#include <vector>

namespace session {

using PluginMain = AEffect* (*)(audioMasterCallback);

struct Entry {
    std::string key;
    std::string value;
};
using Transcript = std::vector<Entry>;

// Runs the whole session: record fields, identity and dispatcher answers, programs, parameters
// and renders over every factory program, every note, several sample rates and random settings.
// Each part uses fresh instances created through `pluginMain`. With `only`, just that section.
Transcript record(PluginMain pluginMain, const std::string& only = {});

// The sections of a session, in the order they are recorded.
std::vector<std::string> sections();

// One entry a line, "key<TAB>value".
std::string format(const Transcript& transcript);
// False for text that is not in that format.
bool parse(const std::string& text, Transcript& transcript);

// The section a key belongs to: the part before its '/'.
std::string sectionOf(const std::string& key);

// What differs between two values of `key`, for a test failure message: for renders, the first
// differing sample with both bit patterns and how many samples differ.
std::string describeDifference(const std::string& key, const std::string& expected,
                               const std::string& actual);

}  // namespace session
