// SPDX-License-Identifier: GPL-3.0-or-later
// Writing the rendered audio through libsndfile, so that a file either appears complete under
// its name or not at all, and measuring what was written.
#pragma once

#include "tools/corvex-render/options.h"

#include <cstdint>
#include <string>

struct sf_private_tag;

namespace renderer {

// The libsndfile container for a file name's extension (.wav, .aif/.aiff, .flac, .caf, .w64,
// any case). Throws RenderError for other names and for sample formats the container cannot
// hold (FLAC has no float samples).
int containerFor(const std::string& path, SampleFormat format);
// "24-bit WAV", "32-bit float FLAC", ...
std::string describeFormat(const std::string& path, SampleFormat format);

// Writes into a temporary file beside the target and renames it over the target in commit().
// Destroying an uncommitted writer removes the temporary file; so does a fatal signal (a crashing
// plug-in, Ctrl-C) while it exists. Every failure throws RenderError naming the target.
class AudioFileWriter {
public:
    // `expectedFrames` only chooses a container able to hold that much (RF64 for huge WAVs).
    AudioFileWriter(const std::string& path, SampleFormat format, int channels, uint32_t rate,
                    int64_t expectedFrames);
    ~AudioFileWriter();
    AudioFileWriter(const AudioFileWriter&) = delete;
    AudioFileWriter& operator=(const AudioFileWriter&) = delete;

    // Interleaved frames of `channels` samples each.
    void write(const float* interleaved, int64_t frames);
    // Flushes, closes and renames the file into place.
    void commit();

    const std::string& targetPath() const { return target; }
    const std::string& temporaryPath() const { return temp; }

private:
    void discard();

    std::string target;
    std::string temp;
    int fd = -1;
    sf_private_tag* file = nullptr;
};

// Peak and RMS of everything written, over all channels.
class LevelMeter {
public:
    // Replaces any non-finite sample by 0 (a broken plug-in must not poison the file) and adds
    // the samples to the measurement.
    void add(float* samples, std::size_t count);

    double peak() const { return peakValue; }
    double peakDb() const;  // dBFS; -infinity for silence
    double rmsDb() const;   // dBFS of the mean square; -infinity for silence
    int64_t nonFinite() const { return badSamples; }
    bool clipped() const { return peakValue > 1.0; }

private:
    double peakValue = 0.0;
    double sumSquares = 0.0;
    int64_t sampleCount = 0;
    int64_t badSamples = 0;
};

// "+1.5", "-6.0", "-inf"
std::string formatDb(double db);

}  // namespace renderer
