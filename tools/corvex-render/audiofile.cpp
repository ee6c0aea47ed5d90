// SPDX-License-Identifier: GPL-3.0-or-later
// Audio-file output through libsndfile, with write-then-rename and crash cleanup.
#include "tools/corvex-render/audiofile.h"

#include <sndfile.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <climits>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>

namespace renderer {

namespace {

// ---- Cleanup on fatal signals -------------------------------------------------------------
// A plug-in that crashes takes the process down; the handler removes the temporary file first so
// no half-written audio is left behind. Only async-signal-safe calls happen inside it.

char pendingTemp[PATH_MAX];
volatile std::sig_atomic_t havePendingTemp = 0;

extern "C" void removePendingTempAndDie(int sig) {
    if (havePendingTemp) ::unlink(pendingTemp);
    // The handler was installed with SA_RESETHAND: re-raising ends the process as the signal
    // would have, core dump and exit status included.
    std::raise(sig);
}

void installCleanupHandlers() {
    static bool installed = false;
    if (installed) return;
    installed = true;
    struct sigaction action {};
    action.sa_handler = removePendingTempAndDie;
    sigemptyset(&action.sa_mask);
    action.sa_flags = static_cast<int>(SA_RESETHAND | SA_NODEFER);
    for (int sig : {SIGSEGV, SIGBUS, SIGILL, SIGFPE, SIGABRT, SIGINT, SIGTERM, SIGHUP, SIGPIPE})
        ::sigaction(sig, &action, nullptr);
}

void registerTemp(const std::string& path) {
    if (path.size() >= sizeof pendingTemp) return;
    havePendingTemp = 0;
    std::memcpy(pendingTemp, path.c_str(), path.size() + 1);
    havePendingTemp = 1;
}

void unregisterTemp() { havePendingTemp = 0; }

// ---- Names and formats --------------------------------------------------------------------

std::string lowerExtension(const std::string& path) {
    const auto slash = path.find_last_of('/');
    const auto dot = path.find_last_of('.');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return {};
    std::string ext = path.substr(dot + 1);
    for (char& c : ext) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return ext;
}

int subtypeFor(SampleFormat format) {
    switch (format) {
    case SampleFormat::Pcm16: return SF_FORMAT_PCM_16;
    case SampleFormat::Pcm24: return SF_FORMAT_PCM_24;
    case SampleFormat::Float: return SF_FORMAT_FLOAT;
    }
    return SF_FORMAT_PCM_24;
}

std::string errnoText(int err) { return std::strerror(err); }

std::string dirOf(const std::string& path) {
    const auto slash = path.find_last_of('/');
    if (slash == std::string::npos) return ".";
    if (slash == 0) return "/";
    return path.substr(0, slash);
}

// The file a (possibly chained) symbolic link finally names, existing or not; `path` itself when
// it is no link. Gives up after 40 links, as the system does, and then leaves `path` alone.
std::string linkTarget(const std::string& path) {
    std::string current = path;
    for (int hops = 0; hops < 40; ++hops) {
        struct stat st {};
        if (::lstat(current.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return current;
        std::string next(PATH_MAX, '\0');
        const ssize_t n = ::readlink(current.c_str(), next.data(), next.size());
        if (n <= 0 || static_cast<std::size_t>(n) >= next.size()) return path;
        next.resize(static_cast<std::size_t>(n));
        if (next.front() == '/') {
            current = next;
        } else {
            current = dirOf(current);
            current.append("/").append(next);
        }
    }
    return path;
}

}  // namespace

int containerFor(const std::string& path, SampleFormat format) {
    const std::string ext = lowerExtension(path);
    int major = 0;
    if (ext == "wav") major = SF_FORMAT_WAV;
    else if (ext == "aif" || ext == "aiff") major = SF_FORMAT_AIFF;
    else if (ext == "flac") major = SF_FORMAT_FLAC;
    else if (ext == "caf") major = SF_FORMAT_CAF;
    else if (ext == "w64") major = SF_FORMAT_W64;
    else
        throw RenderError("cannot tell which kind of audio file " + quotedValue(path) +
                          " should be: name it .wav, .aiff, .flac, .caf or .w64");
    if (major == SF_FORMAT_FLAC && format == SampleFormat::Float)
        throw RenderError("FLAC holds integer samples only: use --format wav16 or wav24 for " +
                          shownPath(path));
    return major;
}

std::string describeFormat(const std::string& path, SampleFormat format) {
    std::string kind = lowerExtension(path);
    for (char& c : kind) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    if (kind == "AIF") kind = "AIFF";
    switch (format) {
    case SampleFormat::Pcm16: return "16-bit " + kind;
    case SampleFormat::Pcm24: return "24-bit " + kind;
    case SampleFormat::Float: return "32-bit float " + kind;
    }
    return kind;
}

// ---- Writer -------------------------------------------------------------------------------

AudioFileWriter::AudioFileWriter(const std::string& path, SampleFormat format, int channels,
                                 uint32_t rate, int64_t expectedFrames)
    : target(path) {
    int major = containerFor(path, format);
    // A WAV header cannot describe more than 4 GiB of data; longer renders become RF64, the
    // WAV extension that can. Everything shorter stays plain WAV, which every program reads.
    const int64_t bytesPerSample = format == SampleFormat::Pcm16   ? 2
                                   : format == SampleFormat::Pcm24 ? 3
                                                                   : 4;
    if (major == SF_FORMAT_WAV && expectedFrames * channels * bytesPerSample > 0xFFFFFF00LL)
        major = SF_FORMAT_RF64;
    if (channels < 1) throw RenderError("the plug-in has no audio outputs to write");

    // Write where a link points and keep the link, as shell redirection does; a link to a name
    // that does not exist yet creates that name.
    target = linkTarget(path);
    const std::string shown = target == path
                                  ? shownPath(path)
                                  : shownPath(path) + " (a link to " + shownPath(target) + ")";
    struct stat st {};
    if (::stat(target.c_str(), &st) == 0 && !S_ISREG(st.st_mode))
        throw RenderError("cannot write " + shown + ": it exists and is not a regular file");

    // The temporary file sits beside the target, so the final rename cannot cross file systems.
    // Its name is short and fixed in length, so every name the file system accepts for the
    // target can be written.
    installCleanupHandlers();
    temp = dirOf(target) + "/.corvex-XXXXXX";
    fd = ::mkostemp(temp.data(), O_CLOEXEC);
    if (fd < 0) {
        const int err = errno;
        temp.clear();
        throw RenderError("cannot write " + shown + ": " + errnoText(err));
    }
    // mkostemp makes the file private; the finished file gets the mode a newly created one
    // would, as before.
    const mode_t mask = ::umask(0);
    ::umask(mask);
    ::fchmod(fd, 0666 & ~mask);
    registerTemp(temp);

    SF_INFO info{};
    info.samplerate = static_cast<int>(rate);
    info.channels = channels;
    info.format = major | subtypeFor(format);
    if (!sf_format_check(&info)) {
        discard();
        throw RenderError("cannot write " + shownPath(path) + ": libsndfile cannot store " +
                          describeFormat(path, format) + " at " + std::to_string(rate) + " Hz");
    }
    file = sf_open_fd(fd, SFM_WRITE, &info, SF_FALSE);
    if (!file) {
        const std::string why = sf_strerror(nullptr);
        discard();
        throw RenderError("cannot write " + shownPath(path) + ": " + why);
    }
    // Integer files saturate at full scale instead of wrapping around.
    if (format != SampleFormat::Float) sf_command(file, SFC_SET_CLIPPING, nullptr, SF_TRUE);
    // The PEAK chunk carries a time stamp; without it the same render gives the same bytes.
    sf_command(file, SFC_SET_ADD_PEAK_CHUNK, nullptr, SF_FALSE);
    sf_set_string(file, SF_STR_SOFTWARE, "corvex-render");
}

AudioFileWriter::~AudioFileWriter() { discard(); }

void AudioFileWriter::discard() {
    if (file) sf_close(file);
    file = nullptr;
    if (fd >= 0) ::close(fd);
    fd = -1;
    if (!temp.empty()) ::unlink(temp.c_str());
    temp.clear();
    unregisterTemp();
}

void AudioFileWriter::write(const float* interleaved, int64_t frames) {
    if (!file) throw RenderError("cannot write " + shownPath(target) + ": the file is closed");
    if (sf_writef_float(file, interleaved, frames) != frames) {
        const std::string why = sf_strerror(file);
        discard();
        throw RenderError("cannot write " + shownPath(target) + ": " + why);
    }
}

void AudioFileWriter::commit() {
    if (!file) throw RenderError("cannot write " + shownPath(target) + ": the file is closed");
    const int closed = sf_close(file);
    file = nullptr;
    if (closed != 0) {
        const std::string why = sf_error_number(closed);
        discard();
        throw RenderError("cannot finish " + shownPath(target) + ": " + why);
    }
    // The data reaches the disk before the name does, so a power cut cannot leave a named but
    // empty file either.
    if (::fsync(fd) != 0 || ::close(fd) != 0) {
        const int err = errno;
        fd = -1;
        discard();
        throw RenderError("cannot finish " + shownPath(target) + ": " + errnoText(err));
    }
    fd = -1;
    if (::rename(temp.c_str(), target.c_str()) != 0) {
        const int err = errno;
        discard();
        throw RenderError("cannot write " + shownPath(target) + ": " + errnoText(err));
    }
    temp.clear();
    unregisterTemp();
}

// ---- Levels -------------------------------------------------------------------------------

void LevelMeter::add(float* samples, std::size_t count) {
    double peakHere = peakValue;
    double sum = 0.0;
    for (std::size_t i = 0; i < count; ++i) {
        float v = samples[i];
        if (!std::isfinite(v)) {
            ++badSamples;
            v = samples[i] = 0.0f;
        }
        const double d = v;
        peakHere = std::max(peakHere, std::fabs(d));
        sum += d * d;
    }
    peakValue = peakHere;
    sumSquares += sum;
    sampleCount += static_cast<int64_t>(count);
}

double LevelMeter::peakDb() const {
    return peakValue > 0.0 ? 20.0 * std::log10(peakValue)
                           : -std::numeric_limits<double>::infinity();
}

double LevelMeter::rmsDb() const {
    if (sampleCount == 0 || sumSquares <= 0.0) return -std::numeric_limits<double>::infinity();
    return 10.0 * std::log10(sumSquares / static_cast<double>(sampleCount));
}

std::string formatDb(double db) {
    if (!std::isfinite(db)) return "-inf";
    char buf[32];
    std::snprintf(buf, sizeof buf, "%+.1f", db);
    return buf;
}

}  // namespace renderer
