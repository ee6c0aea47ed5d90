// SPDX-License-Identifier: GPL-3.0-or-later
// Standard MIDI File reader.
#include "hostkit/midifile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>

namespace hostkit {

namespace {

using u128 = unsigned __int128;

std::string hex(unsigned value) {
    char buf[8];
    std::snprintf(buf, sizeof buf, "0x%02X", value & 0xFFu);
    return buf;
}

// A bounds-checked cursor over one region of the file. Every read names what it was reading so
// a refusal can say where the file went wrong.
class Reader {
public:
    Reader(const uint8_t* data, std::size_t size, std::string where)
        : data(data), size(size), where(std::move(where)) {}

    bool atEnd() const { return pos >= size; }
    std::size_t remaining() const { return size - pos; }
    std::size_t offset() const { return pos; }

    [[noreturn]] void fail(const std::string& what) const {
        throw MidiFileError("bad MIDI file: " + where + ": " + what);
    }

    uint8_t byte(const char* what) {
        if (pos >= size) fail(std::string("truncated while reading ") + what);
        return data[pos++];
    }
    uint32_t be(int bytes, const char* what) {
        if (remaining() < static_cast<std::size_t>(bytes))
            fail(std::string("truncated while reading ") + what);
        uint32_t v = 0;
        for (int i = 0; i < bytes; ++i) v = (v << 8) | data[pos++];
        return v;
    }
    // A variable-length quantity: at most four bytes, seven bits each.
    uint32_t vlq(const char* what) {
        uint32_t v = 0;
        for (int i = 0; i < 4; ++i) {
            const uint8_t b = byte(what);
            v = (v << 7) | (b & 0x7Fu);
            if ((b & 0x80u) == 0) return v;
        }
        fail(std::string("variable-length number longer than four bytes in ") + what);
    }
    const uint8_t* take(std::size_t n, const char* what) {
        if (remaining() < n) fail(std::string(what) + " runs past its end");
        const uint8_t* p = data + pos;
        pos += n;
        return p;
    }
    bool startsWith(const char (&id)[5]) const {
        return remaining() >= 4 && std::equal(id, id + 4, data + pos);
    }

private:
    const uint8_t* data;
    std::size_t size;
    std::size_t pos = 0;
    std::string where;
};

int dataBytesFor(uint8_t status) {
    const uint8_t kind = status & 0xF0u;
    return kind == 0xC0 || kind == 0xD0 ? 1 : 2;
}

bool kept(uint8_t status) {
    const uint8_t kind = status & 0xF0u;
    return kind == 0x80 || kind == 0x90 || kind == 0xB0 || kind == 0xE0;
}

struct TrackResult {
    std::vector<MidiMessage> messages;
    std::vector<TempoChange> tempos;
};

TrackResult readTrack(const uint8_t* data, std::size_t size, int32_t index) {
    Reader r(data, size, "track " + std::to_string(index + 1));
    TrackResult out;
    int64_t tick = 0;
    uint8_t running = 0;
    while (!r.atEnd()) {
        tick += r.vlq("an event time");
        uint8_t status = r.byte("an event");
        std::array<uint8_t, 3> bytes{};
        int have = 0;
        if (status < 0x80) {
            // Running status: this is the first data byte of a repeat of the last message.
            if (running == 0) r.fail("data byte " + hex(status) + " without a preceding status");
            bytes[1] = status;
            have = 1;
            status = running;
        }
        if (status < 0xF0) {
            running = status;
            bytes[0] = status;
            const int need = dataBytesFor(status);
            for (int i = have; i < need; ++i) {
                const uint8_t d = r.byte("a channel message");
                if (d >= 0x80)
                    r.fail("message " + hex(status) + " is cut short by status byte " + hex(d));
                bytes[static_cast<std::size_t>(i) + 1] = d;
            }
            if (kept(status)) out.messages.push_back({tick, index, bytes});
            continue;
        }
        // The format says system-exclusive and meta events cancel running status, but files in
        // the wild rely on it surviving them; keeping it costs a correct file nothing.
        if (status == 0xF0 || status == 0xF7) {
            const uint32_t length = r.vlq("a system-exclusive length");
            r.take(length, "a system-exclusive message");
        } else if (status == 0xFF) {
            const uint8_t type = r.byte("a meta event");
            const uint32_t length = r.vlq("a meta event length");
            const uint8_t* payload = r.take(length, "a meta event");
            if (type == 0x2F) break;  // end of track; anything after it is not part of the track
            if (type == 0x51) {
                if (length != 3)
                    r.fail("tempo event of " + std::to_string(length) + " bytes, not 3");
                const uint32_t micros =
                    (uint32_t{payload[0]} << 16) | (uint32_t{payload[1]} << 8) | payload[2];
                if (micros == 0) r.fail("tempo of 0 microseconds per quarter note");
                out.tempos.push_back({tick, micros});
            }
        } else {
            r.fail("status byte " + hex(status) + " cannot appear in a file");
        }
    }
    return out;
}

}  // namespace

MidiFile MidiFile::parse(const uint8_t* data, std::size_t size) {
    if (!data || size == 0) throw MidiFileError("bad MIDI file: the file is empty");
    if (size > kMaxMidiFileBytes) throw MidiFileError("bad MIDI file: larger than 64 MiB");
    Reader file(data, size, "header");
    if (!file.startsWith("MThd"))
        throw MidiFileError("not a Standard MIDI File: it does not begin with an MThd chunk");
    file.take(4, "the chunk name");
    const uint32_t headerLength = file.be(4, "the header length");
    if (headerLength < 6) file.fail("header chunk of " + std::to_string(headerLength) + " bytes");
    Reader header(file.take(headerLength, "the header chunk"), headerLength, "header");

    MidiFile midi;
    midi.fileFormat = static_cast<int>(header.be(2, "the format"));
    midi.tracks = static_cast<int>(header.be(2, "the track count"));
    const uint32_t division = header.be(2, "the time division");
    if (midi.fileFormat == 2)
        header.fail("format 2 (independent sequences) is not supported; use format 0 or 1");
    if (midi.fileFormat > 2) header.fail("unknown format " + std::to_string(midi.fileFormat));
    if (midi.tracks == 0) header.fail("the file declares no tracks");
    if (midi.fileFormat == 0 && midi.tracks != 1)
        header.fail("a format 0 file must hold one track, not " + std::to_string(midi.tracks));
    if (division & 0x8000u) {
        const int fps = -static_cast<int8_t>(division >> 8);
        if (fps != 24 && fps != 25 && fps != 29 && fps != 30)
            header.fail("SMPTE rate of " + std::to_string(fps) + " frames per second");
        midi.smpteFps = fps;
        midi.smpteTicksPerFrame = static_cast<int>(division & 0xFFu);
        if (midi.smpteTicksPerFrame == 0) header.fail("SMPTE division of 0 ticks per frame");
    } else {
        midi.ppq = static_cast<int>(division);
        if (midi.ppq == 0) header.fail("time division of 0 ticks per quarter note");
    }

    std::vector<TrackResult> results;
    while (static_cast<int>(results.size()) < midi.tracks) {
        if (file.atEnd())
            throw MidiFileError("bad MIDI file: truncated: " + std::to_string(midi.tracks) +
                                " tracks declared, " + std::to_string(results.size()) + " found");
        if (file.remaining() < 8) file.fail("truncated chunk header");
        const bool isTrack = file.startsWith("MTrk");
        file.take(4, "the chunk name");
        const uint32_t length = file.be(4, "a chunk length");
        if (length > file.remaining())
            throw MidiFileError("bad MIDI file: a chunk of " + std::to_string(length) +
                                " bytes runs past the end of the file (truncated?)");
        const uint8_t* body = file.take(length, "a chunk");
        // Chunks of other types are allowed by the format and carry nothing we use.
        if (isTrack)
            results.push_back(readTrack(body, length, static_cast<int32_t>(results.size())));
    }

    std::size_t total = 0;
    for (const auto& t : results) total += t.messages.size();
    midi.merged.reserve(total);
    for (auto& t : results) {
        midi.merged.insert(midi.merged.end(), t.messages.begin(), t.messages.end());
        midi.tempos.insert(midi.tempos.end(), t.tempos.begin(), t.tempos.end());
    }
    // Stable: within a tick, tracks keep their order and each track its own event order.
    std::stable_sort(midi.merged.begin(), midi.merged.end(),
                     [](const MidiMessage& a, const MidiMessage& b) { return a.tick < b.tick; });
    std::stable_sort(midi.tempos.begin(), midi.tempos.end(),
                     [](const TempoChange& a, const TempoChange& b) { return a.tick < b.tick; });
    return midi;
}

MidiFile MidiFile::load(const std::string& path) {
    // Opened without blocking and checked before reading: a FIFO would otherwise hang the open
    // until a writer came, and a folder would read as a file of nonsense size.
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0) throw MidiFileError("cannot open MIDI file " + path + ": " + std::strerror(errno));
    struct Closer {
        int fd;
        ~Closer() { ::close(fd); }
    } closer{fd};
    struct stat st {};
    if (::fstat(fd, &st) != 0)
        throw MidiFileError("cannot read MIDI file " + path + ": " + std::strerror(errno));
    if (S_ISDIR(st.st_mode))
        throw MidiFileError("cannot read MIDI file " + path + ": it is a folder");
    if (!S_ISREG(st.st_mode))
        throw MidiFileError("cannot read MIDI file " + path + ": it is not a regular file");
    if (static_cast<uint64_t>(st.st_size) > kMaxMidiFileBytes)
        throw MidiFileError(path + ": bad MIDI file: larger than 64 MiB");
    std::vector<uint8_t> bytes(static_cast<std::size_t>(st.st_size));
    std::size_t got = 0;
    while (got < bytes.size()) {
        const ssize_t n = ::read(fd, bytes.data() + got, bytes.size() - got);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0)
            throw MidiFileError("cannot read MIDI file " + path + ": " + std::strerror(errno));
        if (n == 0) break;  // shrank while being read: parse what is there
        got += static_cast<std::size_t>(n);
    }
    bytes.resize(got);
    try {
        return parse(bytes.data(), bytes.size());
    } catch (const MidiFileError& e) {
        throw MidiFileError(path + ": " + e.what());
    }
}

namespace {

// Time as an exact fraction of a second: numerator / denominator.
struct Fraction {
    u128 numerator;
    u128 denominator;
};

int64_t roundedFrames(Fraction seconds, uint32_t sampleRate) {
    // Cannot overflow: numerators stay below 2^80 (ticks below 2^55 times tempos below 2^24).
    const u128 frames =
        (seconds.numerator * sampleRate + seconds.denominator / 2) / seconds.denominator;
    constexpr auto kMax = static_cast<u128>(INT64_MAX);
    return static_cast<int64_t>(frames > kMax ? kMax : frames);
}

}  // namespace

int64_t MidiFile::frameAt(int64_t tick, uint32_t sampleRate) const {
    if (tick <= 0) return 0;
    if (ppq == 0) {
        // SMPTE timing: ticks are fractions of a fixed frame rate; tempo does not apply.
        const u128 t = static_cast<u128>(tick);
        if (smpteFps == 29)
            return roundedFrames({t * 1001u, u128{30000} * smpteTicksPerFrame}, sampleRate);
        return roundedFrames({t, static_cast<u128>(smpteFps) * smpteTicksPerFrame}, sampleRate);
    }
    // Sum of (ticks in each tempo segment x its microseconds per quarter), over ppq x 10^6.
    u128 sum = 0;
    int64_t at = 0;
    uint32_t tempo = 500000;
    for (const auto& change : tempos) {
        if (change.tick >= tick) break;
        sum += static_cast<u128>(change.tick - at) * tempo;
        at = change.tick;
        tempo = change.microsPerQuarter;
    }
    sum += static_cast<u128>(tick - at) * tempo;
    return roundedFrames({sum, static_cast<u128>(ppq) * 1000000u}, sampleRate);
}

std::vector<TimedMidiEvent> MidiFile::schedule(uint32_t sampleRate) const {
    std::vector<TimedMidiEvent> out;
    out.reserve(merged.size());
    if (ppq == 0) {
        for (const auto& m : merged) out.push_back({frameAt(m.tick, sampleRate), m.bytes});
        return out;
    }
    // One walk through messages and tempo changes together; same arithmetic as frameAt.
    const u128 denominator = static_cast<u128>(ppq) * 1000000u;
    u128 sum = 0;
    int64_t at = 0;
    uint32_t tempo = 500000;
    std::size_t next = 0;
    for (const auto& m : merged) {
        while (next < tempos.size() && tempos[next].tick < m.tick) {
            sum += static_cast<u128>(tempos[next].tick - at) * tempo;
            at = tempos[next].tick;
            tempo = tempos[next].microsPerQuarter;
            ++next;
        }
        const u128 t = sum + static_cast<u128>(m.tick - at) * tempo;
        out.push_back({roundedFrames({t, denominator}, sampleRate), m.bytes});
    }
    return out;
}

}  // namespace hostkit
