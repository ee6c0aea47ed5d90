// SPDX-License-Identifier: GPL-3.0-or-later
// The ALSA playback: the device's set-up, the audio thread's loop, recovery from underruns.
#include "standalone/alsa_engine.h"

#include <alsa/asoundlib.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <pthread.h>
#include <sched.h>
#include <system_error>
#include <unistd.h>

namespace corvex_standalone {

namespace {

// Above the desktop's ordinary threads, below JACK's usual servers and the kernel's own.
constexpr int kPriority = 20;
// How long one wait for room may take before the loop looks whether it should stop: a stalled
// device (suspended, or a sound server that stopped asking) then still lets corvex quit.
constexpr int kWaitMs = 100;

struct HwParamsFree {
    void operator()(snd_pcm_hw_params_t* p) const { snd_pcm_hw_params_free(p); }
};
struct SwParamsFree {
    void operator()(snd_pcm_sw_params_t* p) const { snd_pcm_sw_params_free(p); }
};

snd_pcm_format_t alsaFormat(SampleFormat format) {
    switch (format) {
    case SampleFormat::float32: return SND_PCM_FORMAT_FLOAT;
    case SampleFormat::s32: return SND_PCM_FORMAT_S32;
    case SampleFormat::s16: return SND_PCM_FORMAT_S16;
    }
    return SND_PCM_FORMAT_FLOAT;
}

std::size_t sampleBytes(SampleFormat format) { return format == SampleFormat::s16 ? 2 : 4; }

// x scaled by full (the integer format's 2^(bits-1)), rounded half away from zero and clipped to
// [-full, full - 1]. NaN is silence.
template <typename T> T toInteger(float x, double full) {
    if (!(x == x)) return 0;
    const double scaled = static_cast<double>(x) * full;
    if (scaled >= full - 1.0) return static_cast<T>(full - 1.0);
    if (scaled <= -full) return static_cast<T>(-full);
    return static_cast<T>(scaled < 0 ? scaled - 0.5 : scaled + 0.5);
}

}  // namespace

const char* sampleFormatName(SampleFormat format) {
    switch (format) {
    case SampleFormat::float32: return "32-bit float";
    case SampleFormat::s32: return "32-bit integer";
    case SampleFormat::s16: return "16-bit integer";
    }
    return "?";
}

void interleave(const float* left, const float* right, int32_t frames, SampleFormat format,
                void* out) {
    const auto n = static_cast<std::size_t>(std::max(frames, 0));
    switch (format) {
    case SampleFormat::float32: {
        auto* o = static_cast<float*>(out);
        for (std::size_t i = 0; i < n; ++i) {
            o[2 * i] = left[i];
            o[2 * i + 1] = right[i];
        }
        break;
    }
    case SampleFormat::s32: {
        auto* o = static_cast<int32_t*>(out);
        for (std::size_t i = 0; i < n; ++i) {
            o[2 * i] = toInteger<int32_t>(left[i], 2147483648.0);
            o[2 * i + 1] = toInteger<int32_t>(right[i], 2147483648.0);
        }
        break;
    }
    case SampleFormat::s16: {
        auto* o = static_cast<int16_t*>(out);
        for (std::size_t i = 0; i < n; ++i) {
            o[2 * i] = toInteger<int16_t>(left[i], 32768.0);
            o[2 * i + 1] = toInteger<int16_t>(right[i], 32768.0);
        }
        break;
    }
    }
}

AlsaEngine::AlsaEngine(CorvexSynth& s, PeriodProcessor& p) : synth(s), period(p) {
    if (pipe2(pipeFds, O_CLOEXEC | O_NONBLOCK) != 0) pipeFds[0] = pipeFds[1] = -1;
}

AlsaEngine::~AlsaEngine() {
    close();
    for (int fd : pipeFds)
        if (fd >= 0) ::close(fd);
}

AlsaEngine::OpenResult AlsaEngine::open(const Request& request, std::string& error) {
    close();
    name = request.device;
    const std::string device = "ALSA's device '" + name + "'";
    // Not blocking: a device another program holds answers at once instead of waiting for it.
    int err = snd_pcm_open(&pcm, name.c_str(), SND_PCM_STREAM_PLAYBACK, SND_PCM_NONBLOCK);
    if (err < 0) {
        pcm = nullptr;
        if (err == -EBUSY) {
            error = device + " is busy: another program holds it (" +
                    (name == "default" ? "stop that program" : "use --device default, or stop it") +
                    ")";
            return OpenResult::busy;
        }
        error = device + " cannot be opened (" + snd_strerror(err) + ")";
        return err == -ENOENT || err == -ENODEV || err == -ENXIO ? OpenResult::noDevice
                                                                 : OpenResult::failed;
    }
    const auto refuse = [&](const std::string& what, int code) {
        error = device + " " + what;
        if (code < 0) error += std::string(" (") + snd_strerror(code) + ")";
        snd_pcm_close(pcm);
        pcm = nullptr;
        return OpenResult::failed;
    };

    snd_pcm_hw_params_t* rawHw = nullptr;
    snd_pcm_sw_params_t* rawSw = nullptr;
    if (snd_pcm_hw_params_malloc(&rawHw) < 0 || snd_pcm_sw_params_malloc(&rawSw) < 0) {
        if (rawHw) snd_pcm_hw_params_free(rawHw);
        return refuse("could not be set up (out of memory)", 0);
    }
    const std::unique_ptr<snd_pcm_hw_params_t, HwParamsFree> hw(rawHw);
    const std::unique_ptr<snd_pcm_sw_params_t, SwParamsFree> sw(rawSw);

    if ((err = snd_pcm_hw_params_any(pcm, hw.get())) < 0)
        return refuse("offers no playback settings", err);
    if ((err = snd_pcm_hw_params_set_access(pcm, hw.get(), SND_PCM_ACCESS_RW_INTERLEAVED)) < 0)
        return refuse("takes no interleaved samples (try plughw: instead of hw:)", err);
    bool formatSet = false;
    for (SampleFormat f : {SampleFormat::float32, SampleFormat::s32, SampleFormat::s16})
        if (snd_pcm_hw_params_set_format(pcm, hw.get(), alsaFormat(f)) == 0) {
            sampleFormat = f;
            formatSet = true;
            break;
        }
    if (!formatSet)
        return refuse("takes neither float nor 32- or 16-bit samples (try plughw: instead of hw:)",
                      0);
    if ((err = snd_pcm_hw_params_set_channels(pcm, hw.get(), 2)) < 0)
        return refuse("does not play two channels (try plughw: instead of hw:)", err);
    unsigned int gotRate = request.rate;
    if ((err = snd_pcm_hw_params_set_rate_near(pcm, hw.get(), &gotRate, nullptr)) < 0)
        return refuse("takes no rate near " + std::to_string(request.rate) + " Hz", err);
    snd_pcm_uframes_t gotPeriod = request.period;
    if ((err = snd_pcm_hw_params_set_period_size_near(pcm, hw.get(), &gotPeriod, nullptr)) < 0)
        return refuse("takes no period near " + std::to_string(request.period) + " frames", err);
    // Two periods keep the latency low; a device that wants more gets the fewest it takes.
    unsigned int gotPeriods = 2;
    if ((err = snd_pcm_hw_params_set_periods_near(pcm, hw.get(), &gotPeriods, nullptr)) < 0)
        return refuse("takes no number of periods near 2", err);
    if ((err = snd_pcm_hw_params(pcm, hw.get())) < 0)
        return refuse("refused the settings it had offered", err);
    snd_pcm_uframes_t bufferFrames = 0;
    snd_pcm_hw_params_get_period_size(hw.get(), &gotPeriod, nullptr);
    snd_pcm_hw_params_get_buffer_size(hw.get(), &bufferFrames);
    snd_pcm_hw_params_get_rate(hw.get(), &gotRate, nullptr);
    if (gotPeriod == 0 || gotPeriod > 65536 || gotRate == 0)
        return refuse("gave a period of " + std::to_string(gotPeriod) + " frames at " +
                          std::to_string(gotRate) + " Hz",
                      0);

    // Start when the buffer is full, so the first periods are not already late; wake when a
    // period's room is free.
    if ((err = snd_pcm_sw_params_current(pcm, sw.get())) < 0 ||
        (err = snd_pcm_sw_params_set_start_threshold(pcm, sw.get(), bufferFrames)) < 0 ||
        (err = snd_pcm_sw_params_set_avail_min(pcm, sw.get(), gotPeriod)) < 0 ||
        (err = snd_pcm_sw_params(pcm, sw.get())) < 0)
        return refuse("refused its start settings", err);

    rate = gotRate;
    periodFrames = static_cast<uint32_t>(gotPeriod);
    periodsInBuffer = static_cast<uint32_t>(bufferFrames / gotPeriod);
    frameBytes = 2 * sampleBytes(sampleFormat);
    left.assign(periodFrames, 0.0f);
    right.assign(periodFrames, 0.0f);
    interleaved.assign(periodFrames * frameBytes, 0);
    // Nothing renders yet, so the synth may be set up from here.
    synth.setSampleRate(static_cast<float>(rate));
    synth.setBlockSize(static_cast<int32_t>(periodFrames));
    synth.reset();
    return OpenResult::ok;
}

bool AlsaEngine::activate(std::string& error) {
    if (!pcm || thread.joinable()) return false;
    stopping.store(false, std::memory_order_relaxed);
    try {
        thread = std::thread([this] { run(); });
    } catch (const std::system_error& e) {
        error = std::string("cannot start the audio thread: ") + e.what();
        return false;
    }
    return true;
}

void AlsaEngine::close() {
    stopping.store(true, std::memory_order_relaxed);
    if (thread.joinable()) thread.join();
    if (pcm) {
        if (!deviceGone()) snd_pcm_drop(pcm);
        snd_pcm_close(pcm);
        pcm = nullptr;
    }
}

std::string AlsaEngine::shutdownReason() const {
    if (!deviceGone()) return {};
    return std::string(reason, strnlen(reason, sizeof reason));
}

void AlsaEngine::fail(int code, const char* what) {
    // snd_strerror's texts are static: nothing is allocated on the way out.
    const char* texts[] = {what, ": ", snd_strerror(code)};
    std::size_t n = 0;
    for (const char* text : texts)
        for (; *text && n + 1 < sizeof reason; ++text) reason[n++] = *text;
    reason[n] = '\0';
    gone.store(true, std::memory_order_release);
    const char byte = 'x';
    if (pipeFds[1] >= 0) [[maybe_unused]]
        auto written = ::write(pipeFds[1], &byte, 1);
}

void AlsaEngine::run() {
    // Signals are the main thread's to take; the priority is asked for once, before the loop.
    sigset_t all;
    sigfillset(&all);
    pthread_sigmask(SIG_BLOCK, &all, nullptr);
    sched_param param{};
    param.sched_priority = std::min(kPriority, sched_get_priority_max(SCHED_FIFO));
    if (pthread_setschedparam(pthread_self(), SCHED_FIFO, &param) == 0)
        realTimeGranted.store(true, std::memory_order_relaxed);

    const auto frames = static_cast<int32_t>(periodFrames);
    previousStartNs = monotonicNs();
    while (!stopping.load(std::memory_order_relaxed)) {
        const uint64_t startNs = monotonicNs();
        period.begin(frames, rate);
        const uint64_t end = framesPlayed + periodFrames;
        for (; nextScheduled < scheduled.size() && scheduled[nextScheduled].frame < end;
             ++nextScheduled) {
            const ScheduledMidi& m = scheduled[nextScheduled];
            const uint64_t at = m.frame > framesPlayed ? m.frame - framesPlayed : 0;
            period.midi(m.bytes, m.size, static_cast<int32_t>(at));
        }
        takeMidi();
        previousStartNs = startNs;
        period.render(left.data(), right.data());
        interleave(left.data(), right.data(), frames, sampleFormat, interleaved.data());
        if (!write()) break;
        framesPlayed = end;
        periodCount.fetch_add(1, std::memory_order_relaxed);
    }
}

void AlsaEngine::takeMidi() {
    if (!midiInput) return;
    const auto frames = static_cast<int32_t>(periodFrames);
    TimedMidi m;
    // At most a ring's worth a period, so a flood cannot hold up the write.
    for (std::size_t i = 0; i < 1024 && midiInput->pop(m); ++i)
        period.midi(m.bytes, m.size, frameOfEvent(m.ns, previousStartNs, rate, frames));
}

bool AlsaEngine::write() {
    const uint8_t* data = interleaved.data();
    auto remaining = static_cast<snd_pcm_uframes_t>(periodFrames);
    while (remaining > 0) {
        if (stopping.load(std::memory_order_relaxed)) return false;
        const snd_pcm_sframes_t written = snd_pcm_writei(pcm, data, remaining);
        if (written > 0) {
            data += static_cast<std::size_t>(written) * frameBytes;
            remaining -= static_cast<snd_pcm_uframes_t>(written);
            continue;
        }
        auto err = static_cast<int>(written);
        if (err == 0 || err == -EAGAIN) {
            // The PCM's own wait: until a period's room is free.
            err = snd_pcm_wait(pcm, kWaitMs);
            if (err >= 0) continue;
        }
        if (err == -ENODEV || err == -EBADFD) {
            fail(err, name.c_str());
            return false;
        }
        if (err == -EPIPE) underrunCount.fetch_add(1, std::memory_order_relaxed);
        // An underrun prepares the device again (what was not written is written next); a
        // suspend waits for the resume; anything else it cannot mend means the device is lost.
        const int recovered = snd_pcm_recover(pcm, err, 1);
        if (recovered < 0) {
            fail(recovered, name.c_str());
            return false;
        }
    }
    return true;
}

}  // namespace corvex_standalone
