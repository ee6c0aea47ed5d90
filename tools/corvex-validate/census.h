// SPDX-License-Identifier: GPL-3.0-or-later
// What this process holds of the system and of the X server: open file descriptors, connections
// to an X server, and top-level windows on the display. The editor checks count these before and
// after what they do to a plug-in to see what it left behind.
//
// The X server is asked over a connection of our own, spoken byte by byte rather than through
// Xlib: Xlib's state (its error handler, its locks) is shared with the plug-in under test, which
// may have replaced or damaged it, and the request that names each client's process (X-Resource)
// has no client library in the build. Only a local server (a unix socket, no cookie or a
// MIT-MAGIC-COOKIE-1) is asked; anywhere else the windows are not counted. Header-only: the
// editor checks are its one user.
#pragma once

#include <dirent.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <set>
#include <string>
#include <vector>

namespace validate::census {

struct Holdings {
    int fds = -1;          // open file descriptors; -1 when /proc/self/fd cannot be read
    int xConnections = 0;  // of them, sockets connected to an X server
    int topLevels = -1;    // top-level windows of the process's X connections; -1: not counted
    std::string whyNoWindows;
};

namespace detail {

// X servers listen on /tmp/.X11-unix/X<n> (often also under the same name in the abstract
// namespace) or on TCP port 6000 + n.
inline bool isXServerAddress(const sockaddr_storage& a, socklen_t len) {
    if (a.ss_family == AF_UNIX) {
        const auto& u = reinterpret_cast<const sockaddr_un&>(a);
        const auto offset = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path));
        if (len <= offset) return false;
        std::size_t n = std::min<std::size_t>(len - offset, sizeof u.sun_path);
        const char* path = u.sun_path;
        if (path[0] == '\0') ++path, --n;  // an abstract name
        static constexpr char kPrefix[] = "/tmp/.X11-unix/X";
        return n >= sizeof kPrefix - 1 && std::memcmp(path, kPrefix, sizeof kPrefix - 1) == 0;
    }
    uint16_t port = 0;
    if (a.ss_family == AF_INET) port = ntohs(reinterpret_cast<const sockaddr_in&>(a).sin_port);
    else if (a.ss_family == AF_INET6)
        port = ntohs(reinterpret_cast<const sockaddr_in6&>(a).sin6_port);
    else return false;
    return port >= 6000 && port < 6064;
}

// A connection to the local X server of DISPLAY, spoken in the client's little-endian order.
class Wire {
public:
    ~Wire() {
        if (fd >= 0) ::close(fd);
    }
    Wire() = default;
    Wire(const Wire&) = delete;
    Wire& operator=(const Wire&) = delete;

    // Connects and reads the server's setup; false with `why` set on any failure.
    bool open(std::string* why);
    // Sends one request and reads its reply (the 32-byte header and what follows). False on an
    // X error, a broken connection or no answer within the deadline.
    bool request(const std::vector<uint8_t>& req, std::vector<uint8_t>* reply);

    const std::vector<uint32_t>& roots() const { return rootWindows; }
    uint32_t idMask() const { return mask; }

    static uint32_t u32(const std::vector<uint8_t>& b, std::size_t at) {
        if (at + 4 > b.size()) return 0;
        return static_cast<uint32_t>(b[at]) | static_cast<uint32_t>(b[at + 1]) << 8 |
               static_cast<uint32_t>(b[at + 2]) << 16 | static_cast<uint32_t>(b[at + 3]) << 24;
    }
    static uint16_t u16(const std::vector<uint8_t>& b, std::size_t at) {
        if (at + 2 > b.size()) return 0;
        return static_cast<uint16_t>(b[at] | b[at + 1] << 8);
    }
    static void put16(std::vector<uint8_t>& b, uint32_t v) {
        b.push_back(static_cast<uint8_t>(v));
        b.push_back(static_cast<uint8_t>(v >> 8));
    }
    static void put32(std::vector<uint8_t>& b, uint32_t v) {
        put16(b, v & 0xFFFF);
        put16(b, v >> 16);
    }
    static void pad4(std::vector<uint8_t>& b) {
        while (b.size() % 4) b.push_back(0);
    }

private:
    bool sendAll(const uint8_t* p, std::size_t n);
    bool readAll(uint8_t* p, std::size_t n);
    bool connectTo(int display);
    void cookie(int display, std::string* name, std::string* data);

    int fd = -1;
    uint32_t mask = 0;
    std::vector<uint32_t> rootWindows;
    std::chrono::steady_clock::time_point deadline;
};

// The longest reply believed: a server that claims more is not one to trust.
constexpr std::size_t kMaxReply = std::size_t{64} << 20;

inline bool Wire::sendAll(const uint8_t* p, std::size_t n) {
    while (n > 0) {
        const ssize_t k = ::send(fd, p, n, MSG_NOSIGNAL);
        if (k <= 0) return false;
        p += k;
        n -= static_cast<std::size_t>(k);
    }
    return true;
}

inline bool Wire::readAll(uint8_t* p, std::size_t n) {
    while (n > 0) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                              deadline - std::chrono::steady_clock::now())
                              .count();
        if (left <= 0) return false;
        pollfd pf{fd, POLLIN, 0};
        const int ready = ::poll(&pf, 1, static_cast<int>(left));
        if (ready < 0 && errno != EINTR) return false;
        if (ready <= 0) continue;
        const ssize_t k = ::recv(fd, p, n, 0);
        if (k <= 0) return false;
        p += k;
        n -= static_cast<std::size_t>(k);
    }
    return true;
}

inline bool Wire::connectTo(int display) {
    const std::string path = "/tmp/.X11-unix/X" + std::to_string(display);
    for (const bool abstract : {true, false}) {
        fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (fd < 0) return false;
        sockaddr_un a{};
        a.sun_family = AF_UNIX;
        const std::size_t at = abstract ? 1 : 0;
        if (path.size() + at >= sizeof a.sun_path) {
            ::close(fd);
            fd = -1;
            return false;
        }
        std::memcpy(a.sun_path + at, path.data(), path.size());
        const auto len = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + at + path.size() +
                                                (abstract ? 0 : 1));
        if (::connect(fd, reinterpret_cast<sockaddr*>(&a), len) == 0) return true;
        ::close(fd);
        fd = -1;
    }
    return false;
}

// The MIT-MAGIC-COOKIE-1 for this host's display from the authority file, if there is one.
inline void Wire::cookie(int display, std::string* name, std::string* data) {
    std::string file;
    if (const char* x = std::getenv("XAUTHORITY"); x && *x) file = x;
    else if (const char* home = std::getenv("HOME"); home && *home)
        file = std::string(home) + "/.Xauthority";
    if (file.empty()) return;
    std::ifstream in(file, std::ios::binary);
    std::string all;
    char buf[4096];
    while (in.read(buf, sizeof buf) || in.gcount() > 0) {
        all.append(buf, static_cast<std::size_t>(in.gcount()));
        if (all.size() > (std::size_t{1} << 20)) return;
    }
    char host[256] = {};
    ::gethostname(host, sizeof host - 1);
    const std::string number = std::to_string(display);
    std::size_t at = 0;
    auto field = [&](std::string* out) {
        if (at + 2 > all.size()) return false;
        const std::size_t n =
            static_cast<uint8_t>(all[at]) << 8 | static_cast<uint8_t>(all[at + 1]);
        at += 2;
        if (at + n > all.size()) return false;
        *out = all.substr(at, n);
        at += n;
        return true;
    };
    while (at + 2 <= all.size()) {
        const unsigned family =
            static_cast<uint8_t>(all[at]) << 8 | static_cast<uint8_t>(all[at + 1]);
        at += 2;
        std::string address, num, kind, secret;
        if (!field(&address) || !field(&num) || !field(&kind) || !field(&secret)) return;
        const bool local = family == 256 && address == host;  // FamilyLocal
        const bool wild = family == 65535;
        if ((local || wild) && (num.empty() || num == number) && kind == "MIT-MAGIC-COOKIE-1") {
            *name = kind;
            *data = secret;
            return;
        }
    }
}

inline bool Wire::open(std::string* why) {
    deadline = std::chrono::steady_clock::now() + std::chrono::seconds(3);
    const char* env = std::getenv("DISPLAY");
    const std::string display = env ? env : "";
    const auto colon = display.rfind(':');
    const std::string host = colon == std::string::npos ? "" : display.substr(0, colon);
    if (colon == std::string::npos || !(host.empty() || host == "unix")) {
        *why = "the display is not a local one";
        return false;
    }
    char* end = nullptr;
    const long number = std::strtol(display.c_str() + colon + 1, &end, 10);
    if (end == display.c_str() + colon + 1 || number < 0 || number > 65535) {
        *why = "DISPLAY names no display number";
        return false;
    }
    if (!connectTo(static_cast<int>(number))) {
        *why = "cannot connect to the X server's socket";
        return false;
    }
    std::string authName, authData;
    cookie(static_cast<int>(number), &authName, &authData);
    std::vector<uint8_t> setup = {'l', 0};
    put16(setup, 11);
    put16(setup, 0);
    put16(setup, static_cast<uint32_t>(authName.size()));
    put16(setup, static_cast<uint32_t>(authData.size()));
    put16(setup, 0);
    setup.insert(setup.end(), authName.begin(), authName.end());
    pad4(setup);
    setup.insert(setup.end(), authData.begin(), authData.end());
    pad4(setup);
    std::vector<uint8_t> head(8);
    if (!sendAll(setup.data(), setup.size()) || !readAll(head.data(), head.size())) {
        *why = "the X server did not answer";
        return false;
    }
    std::vector<uint8_t> body(static_cast<std::size_t>(u16(head, 6)) * 4);
    if (!readAll(body.data(), body.size())) {
        *why = "the X server's setup was cut short";
        return false;
    }
    if (head[0] != 1) {
        *why = "the X server refused the connection";
        return false;
    }
    mask = u32(body, 8);
    const std::size_t vendor = u16(body, 16);
    const std::size_t screens = body.size() >= 22 ? body[20] : 0;
    const std::size_t formats = body.size() >= 22 ? body[21] : 0;
    std::size_t at = 32 + (vendor + 3) / 4 * 4 + 8 * formats;
    for (std::size_t s = 0; s < screens && at + 40 <= body.size(); ++s) {
        rootWindows.push_back(u32(body, at));
        const std::size_t depths = body[at + 39];
        at += 40;
        for (std::size_t d = 0; d < depths && at + 8 <= body.size(); ++d)
            at += 8 + 24 * static_cast<std::size_t>(u16(body, at + 2));
    }
    if (rootWindows.empty() || mask == 0) {
        *why = "the X server's setup names no screen";
        return false;
    }
    return true;
}

inline bool Wire::request(const std::vector<uint8_t>& req, std::vector<uint8_t>* reply) {
    deadline = std::chrono::steady_clock::now() + std::chrono::seconds(3);
    if (!sendAll(req.data(), req.size())) return false;
    for (;;) {
        reply->assign(32, 0);
        if (!readAll(reply->data(), 32)) return false;
        const uint8_t type = (*reply)[0] & 0x7F;
        if (type == 0) return false;            // an error
        if (type != 1 && type != 35) continue;  // an event nobody asked for
        const std::size_t extra = static_cast<std::size_t>(u32(*reply, 4)) * 4;
        if (extra > kMaxReply) return false;
        reply->resize(32 + extra);
        if (!readAll(reply->data() + 32, extra)) return false;
        if (type == 1) return true;
    }
}

// The resource-id bases of this process's connections, through X-Resource's client ids.
inline bool ownClients(Wire& wire, std::set<uint32_t>* bases, std::string* why) {
    std::vector<uint8_t> req = {98, 0}, reply;  // QueryExtension
    static constexpr char kName[] = "X-Resource";
    Wire::put16(req, 2 + (sizeof kName - 1 + 3) / 4);
    Wire::put16(req, sizeof kName - 1);
    Wire::put16(req, 0);
    req.insert(req.end(), kName, kName + sizeof kName - 1);
    Wire::pad4(req);
    if (!wire.request(req, &reply) || reply[8] == 0) {
        *why = "the X server has no X-Resource extension";
        return false;
    }
    const uint8_t major = reply[9];
    req = {major, 0};  // QueryVersion 1.2: the first with client ids
    Wire::put16(req, 2);
    req.insert(req.end(), {1, 2, 0, 0});
    const auto version = [&] { return Wire::u16(reply, 8) * 1000 + Wire::u16(reply, 10); };
    if (!wire.request(req, &reply) || version() < 1002) {
        *why = "the X server's X-Resource is older than 1.2";
        return false;
    }
    req = {major, 4};  // QueryClientIds: every client (0), by process id (mask 2)
    Wire::put16(req, 4);
    Wire::put32(req, 1);
    Wire::put32(req, 0);
    Wire::put32(req, 2);
    if (!wire.request(req, &reply)) {
        *why = "the X server did not name its clients' processes";
        return false;
    }
    const uint32_t count = Wire::u32(reply, 8);
    const auto pid = static_cast<uint32_t>(::getpid());
    std::size_t at = 32;
    for (uint32_t n = 0; n < count && at + 12 <= reply.size(); ++n) {
        const uint32_t client = Wire::u32(reply, at), kind = Wire::u32(reply, at + 4);
        const std::size_t bytes = Wire::u32(reply, at + 8);
        at += 12;
        if (bytes > reply.size() - at) break;
        if ((kind & 2) && bytes >= 4 && Wire::u32(reply, at) == pid)
            bases->insert(client & ~wire.idMask());
        at += (bytes + 3) / 4 * 4;
    }
    return true;
}

}  // namespace detail

// Counts the process's file descriptors and X connections, then its top-level windows (over a
// connection opened after the count and closed before returning, so never counted itself).
inline Holdings take() {
    Holdings h;
    if (DIR* dir = ::opendir("/proc/self/fd")) {
        h.fds = 0;
        const int own = ::dirfd(dir);
        while (const dirent* e = ::readdir(dir)) {
            char* end = nullptr;
            const long fd = std::strtol(e->d_name, &end, 10);
            if (end == e->d_name || *end || fd == own) continue;
            ++h.fds;
            struct stat st {};
            if (::fstat(static_cast<int>(fd), &st) != 0 || !S_ISSOCK(st.st_mode)) continue;
            // An X connection is a socket whose peer is the server's listening name. Asking the
            // socket itself for its peer finds that name for unix and TCP alike; /proc/net/unix
            // would not: it lists our end of a connection without a name and without its peer.
            // Other sockets (D-Bus, JACK, a sound server) have other peers and are not counted.
            sockaddr_storage peer{};
            socklen_t len = sizeof peer;
            if (::getpeername(static_cast<int>(fd), reinterpret_cast<sockaddr*>(&peer), &len) ==
                    0 &&
                detail::isXServerAddress(peer, len))
                ++h.xConnections;
        }
        ::closedir(dir);
    }
    detail::Wire wire;
    std::set<uint32_t> bases;
    if (!wire.open(&h.whyNoWindows) || !detail::ownClients(wire, &bases, &h.whyNoWindows)) return h;
    int count = 0;
    for (const uint32_t root : wire.roots()) {
        std::vector<uint8_t> req = {15, 0}, reply;  // QueryTree
        detail::Wire::put16(req, 2);
        detail::Wire::put32(req, root);
        if (!wire.request(req, &reply)) {
            h.whyNoWindows = "the X server did not list its top-level windows";
            return h;
        }
        const std::size_t children = detail::Wire::u16(reply, 16);
        for (std::size_t c = 0; c < children && 32 + 4 * c + 4 <= reply.size(); ++c)
            count += bases.count(detail::Wire::u32(reply, 32 + 4 * c) & ~wire.idMask()) > 0;
    }
    h.topLevels = count;
    return h;
}

}  // namespace validate::census
