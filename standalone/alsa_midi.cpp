// SPDX-License-Identifier: GPL-3.0-or-later
// The ALSA sequencer client: its port, the connections it makes, the MIDI thread.
#include "standalone/alsa_midi.h"

#include <alsa/asoundlib.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <system_error>
#include <unistd.h>

namespace corvex_standalone {

namespace {

uint8_t seven(int value) { return static_cast<uint8_t>(std::clamp(value, 0, 127)); }

// "24:0 USB Keyboard MIDI 1": the address aconnect takes and the port's own name.
std::string describe(snd_seq_t* seq, int client, int port) {
    std::string text = std::to_string(client) + ":" + std::to_string(port);
    snd_seq_port_info_t* info = nullptr;
    if (snd_seq_port_info_malloc(&info) == 0) {
        if (snd_seq_get_any_port_info(seq, client, port, info) == 0)
            text += std::string(" ") + snd_seq_port_info_get_name(info);
        snd_seq_port_info_free(info);
    }
    return text;
}

}  // namespace

int decodeSequencerEvent(const snd_seq_event_t& event, uint8_t out[3]) {
    const auto channel = static_cast<uint8_t>(event.data.note.channel & 0x0F);
    switch (event.type) {
    case SND_SEQ_EVENT_NOTEON:
    case SND_SEQ_EVENT_NOTEOFF:
    case SND_SEQ_EVENT_KEYPRESS:
        out[0] = static_cast<uint8_t>((event.type == SND_SEQ_EVENT_NOTEON    ? 0x90
                                       : event.type == SND_SEQ_EVENT_NOTEOFF ? 0x80
                                                                             : 0xA0) |
                                      channel);
        out[1] = static_cast<uint8_t>(event.data.note.note & 0x7F);
        out[2] = static_cast<uint8_t>(event.data.note.velocity & 0x7F);
        return 3;
    default: break;
    }
    const auto controlChannel = static_cast<uint8_t>(event.data.control.channel & 0x0F);
    const int value = event.data.control.value;
    switch (event.type) {
    case SND_SEQ_EVENT_CONTROLLER:
        if (event.data.control.param > 127) return 0;
        out[0] = static_cast<uint8_t>(0xB0 | controlChannel);
        out[1] = static_cast<uint8_t>(event.data.control.param);
        out[2] = seven(value);
        return 3;
    case SND_SEQ_EVENT_PGMCHANGE:
        out[0] = static_cast<uint8_t>(0xC0 | controlChannel);
        out[1] = seven(value);
        return 2;
    case SND_SEQ_EVENT_CHANPRESS:
        out[0] = static_cast<uint8_t>(0xD0 | controlChannel);
        out[1] = seven(value);
        return 2;
    case SND_SEQ_EVENT_PITCHBEND: {
        // The sequencer centres the wheel on 0 (-8192..8191); MIDI on 8192.
        const int bend = std::clamp(value + 8192, 0, 16383);
        out[0] = static_cast<uint8_t>(0xE0 | controlChannel);
        out[1] = static_cast<uint8_t>(bend & 0x7F);
        out[2] = static_cast<uint8_t>(bend >> 7);
        return 3;
    }
    default: return 0;
    }
}

bool isKeyboardPort(int client, int ownClient, unsigned capability, unsigned type) {
    const unsigned readable = SND_SEQ_PORT_CAP_READ | SND_SEQ_PORT_CAP_SUBS_READ;
    return client != SND_SEQ_CLIENT_SYSTEM && client != ownClient &&
           (capability & readable) == readable && !(capability & SND_SEQ_PORT_CAP_NO_EXPORT) &&
           (type & (SND_SEQ_PORT_TYPE_HARDWARE | SND_SEQ_PORT_TYPE_MIDI_GENERIC)) != 0;
}

AlsaMidi::~AlsaMidi() { close(); }

AlsaMidi::OpenResult AlsaMidi::open(const char* clientName, std::string& error) {
    close();
    int err = snd_seq_open(&seq, "default", SND_SEQ_OPEN_INPUT, SND_SEQ_NONBLOCK);
    if (err < 0) {
        seq = nullptr;
        error = std::string("the ALSA sequencer cannot be opened (") + snd_strerror(err) + ")";
        return err == -ENOENT || err == -ENODEV ? OpenResult::noSequencer : OpenResult::failed;
    }
    snd_seq_set_client_name(seq, clientName);
    clientId = snd_seq_client_id(seq);
    portId = snd_seq_create_simple_port(
        seq, "MIDI In", SND_SEQ_PORT_CAP_WRITE | SND_SEQ_PORT_CAP_SUBS_WRITE,
        SND_SEQ_PORT_TYPE_MIDI_GENERIC | SND_SEQ_PORT_TYPE_APPLICATION);
    if (clientId < 0 || portId < 0 || pipe2(wakeFds, O_CLOEXEC | O_NONBLOCK) != 0) {
        err = portId < 0 ? portId : clientId < 0 ? clientId : -errno;
        error = std::string("the ALSA sequencer gave no input port (") + snd_strerror(err) + ")";
        close();
        return OpenResult::failed;
    }
    return OpenResult::ok;
}

bool AlsaMidi::connect(int client, int port, std::string& line) {
    line = describe(seq, client, port);
    return snd_seq_connect_from(seq, portId, client, port) == 0;
}

AlsaMidi::Connected AlsaMidi::connectPresent() {
    Connected result;
    if (!seq) return result;
    snd_seq_client_info_t* clientInfo = nullptr;
    snd_seq_port_info_t* portInfo = nullptr;
    if (snd_seq_client_info_malloc(&clientInfo) == 0 && snd_seq_port_info_malloc(&portInfo) == 0) {
        snd_seq_client_info_set_client(clientInfo, -1);
        while (snd_seq_query_next_client(seq, clientInfo) == 0) {
            const int client = snd_seq_client_info_get_client(clientInfo);
            snd_seq_port_info_set_client(portInfo, client);
            snd_seq_port_info_set_port(portInfo, -1);
            while (snd_seq_query_next_port(seq, portInfo) == 0) {
                if (!isKeyboardPort(client, clientId, snd_seq_port_info_get_capability(portInfo),
                                    snd_seq_port_info_get_type(portInfo)))
                    continue;
                std::string line;
                const bool made = connect(client, snd_seq_port_info_get_port(portInfo), line);
                (made ? result.made : result.failed).push_back(line);
            }
        }
    }
    if (portInfo) snd_seq_port_info_free(portInfo);
    if (clientInfo) snd_seq_client_info_free(clientInfo);
    return result;
}

bool AlsaMidi::start(bool followNewPorts, std::string& error) {
    if (!seq || thread.joinable()) return false;
    follow = followNewPorts;
    // The system announces every port that appears; we listen for as long as we connect them.
    if (follow &&
        snd_seq_connect_from(seq, portId, SND_SEQ_CLIENT_SYSTEM, SND_SEQ_PORT_SYSTEM_ANNOUNCE) < 0)
        follow = false;
    try {
        thread = std::thread([this] { run(); });
    } catch (const std::system_error& e) {
        error = std::string("cannot start the MIDI thread: ") + e.what();
        return false;
    }
    return true;
}

void AlsaMidi::close() {
    if (thread.joinable()) {
        const char byte = 'q';
        [[maybe_unused]] auto written = ::write(wakeFds[1], &byte, 1);
        thread.join();
    }
    if (seq) snd_seq_close(seq);
    seq = nullptr;
    clientId = portId = -1;
    for (int& fd : wakeFds) {
        if (fd >= 0) ::close(fd);
        fd = -1;
    }
}

void AlsaMidi::portStarted(int client, int port) {
    snd_seq_port_info_t* info = nullptr;
    if (snd_seq_port_info_malloc(&info) != 0) return;
    if (snd_seq_get_any_port_info(seq, client, port, info) == 0 &&
        isKeyboardPort(client, clientId, snd_seq_port_info_get_capability(info),
                       snd_seq_port_info_get_type(info))) {
        std::string line;
        if (connect(client, port, line))
            std::printf("corvex: connected %s -> Corvex:MIDI In\n", line.c_str());
        else std::fprintf(stderr, "corvex: warning: could not connect %s\n", line.c_str());
        std::fflush(stdout);
    }
    snd_seq_port_info_free(info);
}

void AlsaMidi::run() {
    sigset_t all;
    sigfillset(&all);
    pthread_sigmask(SIG_BLOCK, &all, nullptr);
    const int count = snd_seq_poll_descriptors_count(seq, POLLIN);
    std::vector<pollfd> fds(static_cast<std::size_t>(std::max(count, 0)) + 1);
    const int filled =
        snd_seq_poll_descriptors(seq, fds.data() + 1, static_cast<unsigned>(count), POLLIN);
    fds.resize(static_cast<std::size_t>(std::max(filled, 0)) + 1);
    fds[0] = {wakeFds[0], POLLIN, 0};
    for (;;) {
        if (poll(fds.data(), fds.size(), -1) < 0 && errno != EINTR) break;
        if (fds[0].revents) break;
        for (;;) {
            snd_seq_event_t* event = nullptr;
            const int got = snd_seq_event_input(seq, &event);
            // -ENOSPC: the kernel's queue overflowed while we were away; what is left is read.
            if (got == -ENOSPC) continue;
            if (got < 0 || !event) break;
            const uint64_t now = monotonicNs();
            if (event->type == SND_SEQ_EVENT_PORT_START) {
                if (follow) portStarted(event->data.addr.client, event->data.addr.port);
                continue;
            }
            TimedMidi message;
            message.ns = now;
            message.size = static_cast<uint8_t>(decodeSequencerEvent(*event, message.bytes));
            if (message.size && !messages.push(message))
                droppedCount.fetch_add(1, std::memory_order_relaxed);
        }
    }
}

}  // namespace corvex_standalone
