// SPDX-License-Identifier: GPL-3.0-or-later
// Helpers for the renderer's tests: scratch folders, Standard MIDI File building, reading audio
// files back, and running the corvex-render program as a user would.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

namespace testsupport {

// A fresh folder under the system's temporary folder, removed with everything in it.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::filesystem::path& path() const { return dir; }
    std::string operator/(const std::string& name) const { return (dir / name).string(); }
    // Names of everything in the folder, sorted.
    std::vector<std::string> entries() const;

private:
    std::filesystem::path dir;
};

using Bytes = std::vector<uint8_t>;

// Builds Standard MIDI Files byte by byte, so tests can also build broken ones.
class Smf {
public:
    static Bytes vlq(uint32_t value);
    static Bytes header(uint16_t format, uint16_t tracks, uint16_t division);
    // An MTrk chunk around the given events; `withEnd` appends a zero-delta end-of-track.
    static Bytes track(const Bytes& events, bool withEnd = true);
    static Bytes chunk(const char (&id)[5], const Bytes& body);
    // One event with its delta time.
    static Bytes event(uint32_t delta, std::initializer_list<uint8_t> bytes);
    static Bytes tempo(uint32_t delta, uint32_t microsPerQuarter);
    static Bytes cat(std::initializer_list<Bytes> parts);
};

void writeFile(const std::string& path, const Bytes& bytes);
void writeText(const std::string& path, const std::string& text);

struct Audio {
    int64_t frames = 0;
    int rate = 0;
    int channels = 0;
    int format = 0;              // libsndfile's format word
    std::vector<float> samples;  // interleaved
    float at(int64_t frame, int channel) const {
        return samples[static_cast<std::size_t>(frame * channels + channel)];
    }
};
// Reads a whole audio file; fails the current test (and returns empty) when it cannot.
Audio readAudio(const std::string& path);

struct RunResult {
    int exitCode = -1;  // the exit status, or -signal when a signal ended the program
    std::string out;
    std::string err;
};
// Runs build/corvex-render with the arguments, in `workDir`, with extra environment entries
// ("NAME=VALUE"); returns once it has ended.
RunResult runRenderer(const std::vector<std::string>& args, const std::string& workDir,
                      const std::vector<std::string>& env = {});

std::string rendererPath();
std::string probePluginPath();
std::string noEntryPluginPath();
bool fileExists(const std::string& path);

}  // namespace testsupport
