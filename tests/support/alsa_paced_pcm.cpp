// SPDX-License-Identifier: GPL-3.0-or-later
// corvex_paced: an ALSA playback device for the tests, loaded by ALSA as an external plug-in, that
// plays at the pace of a sound card without one: it takes each period as the monotonic clock
// reaches it and throws the samples away (the stock file plug-in in front of it records them).
// Its options make a card's failures happen on cue:
//   pcm.!default { type corvex_paced  [gone_after FRAMES]  [xrun_at FRAMES]  [busy 1] }
//   pcm_type.corvex_paced { lib "/path/to/libasound_module_pcm_corvex_paced.so" }
// gone_after: after this many frames played it behaves as an unplugged card (writes and waits
// fail with -ENODEV); xrun_at: once, at this frame, it reports an underrun as if the writer had
// been late. A writer that really is late gets an underrun too. busy: it cannot be opened, as a
// card another program holds.
// Threads: ALSA calls every callback under the PCM's own lock, from whichever thread uses it.
#include <alsa/asoundlib.h>
#include <alsa/pcm_external.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <ctime>
#include <poll.h>
#include <sys/timerfd.h>
#include <unistd.h>

namespace {

uint64_t nowNs() {
    timespec t{};
    clock_gettime(CLOCK_MONOTONIC, &t);
    return static_cast<uint64_t>(t.tv_sec) * 1000000000ull + static_cast<uint64_t>(t.tv_nsec);
}

struct Paced {
    snd_pcm_ioplug_t io{};
    int timer = -1;
    bool running = false;
    uint64_t startNs = 0;
    uint64_t written = 0;       // frames taken since the last prepare
    uint64_t playedBefore = 0;  // frames played before the last prepare
    uint64_t goneAfter = 0;     // 0: never
    uint64_t xrunAt = 0;        // 0: never
    bool xrunDone = false;
    bool gone = false;
};

Paced* of(snd_pcm_ioplug_t* io) { return static_cast<Paced*>(io->private_data); }

// Frames the card has played since it started, as the clock says, at most what it was given.
uint64_t consumed(const Paced& p) {
    if (!p.running) return 0;
    return (nowNs() - p.startNs) * p.io.rate / 1000000000ull;
}

void arm(Paced& p, bool on) {
    itimerspec timing{};
    if (on && p.io.rate) {
        const uint64_t ns = static_cast<uint64_t>(p.io.period_size) * 1000000000ull / p.io.rate;
        timing.it_value.tv_sec = timing.it_interval.tv_sec =
            static_cast<time_t>(ns / 1000000000ull);
        timing.it_value.tv_nsec = timing.it_interval.tv_nsec =
            static_cast<long>(ns % 1000000000ull);
    }
    timerfd_settime(p.timer, 0, &timing, nullptr);
}

int start(snd_pcm_ioplug_t* io) {
    Paced& p = *of(io);
    p.startNs = nowNs();
    p.running = true;
    arm(p, true);
    return 0;
}

int stop(snd_pcm_ioplug_t* io) {
    Paced& p = *of(io);
    p.playedBefore += std::min(consumed(p), p.written);
    p.running = false;
    arm(p, false);
    return 0;
}

int prepare(snd_pcm_ioplug_t* io) {
    Paced& p = *of(io);
    if (p.running) stop(io);
    p.written = 0;
    // Wakes the writer each period even before the start, so a wait never hangs.
    arm(p, true);
    return 0;
}

snd_pcm_sframes_t pointer(snd_pcm_ioplug_t* io) {
    Paced& p = *of(io);
    const uint64_t now = consumed(p);
    const uint64_t played = std::min(now, p.written);
    if (p.goneAfter && p.playedBefore + played >= p.goneAfter) {
        p.gone = true;
        snd_pcm_ioplug_set_state(io, SND_PCM_STATE_DISCONNECTED);
    }
    if (p.xrunAt && !p.xrunDone && p.playedBefore + played >= p.xrunAt) {
        p.xrunDone = true;
        return -EPIPE;
    }
    if (p.running && now > p.written) return -EPIPE;
    return static_cast<snd_pcm_sframes_t>(played % io->buffer_size);
}

snd_pcm_sframes_t transfer(snd_pcm_ioplug_t* io, const snd_pcm_channel_area_t*, snd_pcm_uframes_t,
                           snd_pcm_uframes_t size) {
    Paced& p = *of(io);
    if (p.gone) return -ENODEV;
    p.written += size;
    return static_cast<snd_pcm_sframes_t>(size);
}

int pollRevents(snd_pcm_ioplug_t* io, struct pollfd*, unsigned int, unsigned short* revents) {
    Paced& p = *of(io);
    uint64_t expirations = 0;
    [[maybe_unused]] auto got = read(p.timer, &expirations, sizeof expirations);
    if (p.gone) {
        *revents = POLLERR;
        return 0;
    }
    const uint64_t queued = p.written - std::min(consumed(p), p.written);
    *revents = queued + io->period_size <= io->buffer_size ? POLLOUT : 0;
    return 0;
}

int closePcm(snd_pcm_ioplug_t* io) {
    Paced* p = of(io);
    close(p->timer);
    delete p;
    return 0;
}

const snd_pcm_ioplug_callback_t callbacks = [] {
    snd_pcm_ioplug_callback_t c{};
    c.start = start;
    c.stop = stop;
    c.pointer = pointer;
    c.transfer = transfer;
    c.close = closePcm;
    c.prepare = prepare;
    c.poll_revents = pollRevents;
    return c;
}();

int constrain(snd_pcm_ioplug_t* io) {
    // Memory-mapped too: ALSA's converting plug-ins write to their slave that way.
    static const unsigned int access[] = {SND_PCM_ACCESS_RW_INTERLEAVED,
                                          SND_PCM_ACCESS_MMAP_INTERLEAVED};
    static const unsigned int formats[] = {SND_PCM_FORMAT_FLOAT_LE, SND_PCM_FORMAT_S32_LE,
                                           SND_PCM_FORMAT_S16_LE};
    int err = 0;
    if ((err = snd_pcm_ioplug_set_param_list(io, SND_PCM_IOPLUG_HW_ACCESS, 2, access)) < 0 ||
        (err = snd_pcm_ioplug_set_param_list(io, SND_PCM_IOPLUG_HW_FORMAT, 3, formats)) < 0 ||
        (err = snd_pcm_ioplug_set_param_minmax(io, SND_PCM_IOPLUG_HW_CHANNELS, 2, 2)) < 0 ||
        (err = snd_pcm_ioplug_set_param_minmax(io, SND_PCM_IOPLUG_HW_RATE, 8000, 384000)) < 0 ||
        (err = snd_pcm_ioplug_set_param_minmax(io, SND_PCM_IOPLUG_HW_PERIOD_BYTES, 64, 1 << 20)) <
            0 ||
        (err = snd_pcm_ioplug_set_param_minmax(io, SND_PCM_IOPLUG_HW_PERIODS, 2, 16)) < 0)
        return err;
    return 0;
}

}  // namespace

extern "C" SND_PCM_PLUGIN_DEFINE_FUNC(corvex_paced) {
    (void)root;
    auto* p = new Paced;
    bool busy = false;
    snd_config_iterator_t i = nullptr, next = nullptr;
    snd_config_for_each(i, next, conf) {
        snd_config_t* entry = snd_config_iterator_entry(i);
        const char* id = nullptr;
        if (snd_config_get_id(entry, &id) < 0) continue;
        long value = 0;
        if (std::strcmp(id, "comment") == 0 || std::strcmp(id, "type") == 0) continue;
        if (std::strcmp(id, "gone_after") == 0 && snd_config_get_integer(entry, &value) == 0)
            p->goneAfter = static_cast<uint64_t>(value);
        else if (std::strcmp(id, "xrun_at") == 0 && snd_config_get_integer(entry, &value) == 0)
            p->xrunAt = static_cast<uint64_t>(value);
        else if (std::strcmp(id, "busy") == 0 && snd_config_get_integer(entry, &value) == 0)
            busy = value != 0;
        else {
            SNDERR("corvex_paced: unknown or malformed field %s", id);
            delete p;
            return -EINVAL;
        }
    }
    if (stream != SND_PCM_STREAM_PLAYBACK || busy) {
        delete p;
        return busy ? -EBUSY : -EINVAL;
    }
    p->timer = timerfd_create(CLOCK_MONOTONIC, TFD_NONBLOCK | TFD_CLOEXEC);
    p->io.version = SND_PCM_IOPLUG_VERSION;
    p->io.name = "Corvex's paced test device";
    p->io.callback = &callbacks;
    p->io.private_data = p;
    p->io.poll_fd = p->timer;
    p->io.poll_events = POLLIN;
    p->io.flags = SND_PCM_IOPLUG_FLAG_MONOTONIC;
    int err = p->timer < 0 ? -errno : snd_pcm_ioplug_create(&p->io, name, stream, mode);
    if (err < 0) {
        if (p->timer >= 0) close(p->timer);
        delete p;
        return err;
    }
    if ((err = constrain(&p->io)) < 0) {
        snd_pcm_ioplug_delete(&p->io);
        return err;
    }
    *pcmp = p->io.pcm;
    return 0;
}
extern "C" {
SND_PCM_PLUGIN_SYMBOL(corvex_paced);
}
