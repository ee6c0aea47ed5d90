// SPDX-License-Identifier: GPL-3.0-or-later
// The platform layer's UTF-8 rules (see utf8.h).
#include "utf8.h"

#include <cstring>

namespace platform::utf8 {

void appendLatin1(std::string& out, unsigned char c) {
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else {
        out += static_cast<char>(0xC0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
}

std::size_t sequenceLength(const char* s, std::size_t n, std::size_t i) {
    if (i >= n) return 0;
    const auto c = static_cast<unsigned char>(s[i]);
    if (c < 0x80) return 1;
    const std::size_t len = c >= 0xC2 && c <= 0xDF   ? 2
                            : c >= 0xE0 && c <= 0xEF ? 3
                            : c >= 0xF0 && c <= 0xF4 ? 4
                                                     : 0;
    if (len == 0 || n - i < len) return 0;
    const auto second = static_cast<unsigned char>(s[i + 1]);
    // The second byte's range is where overlong forms, surrogates and code points past U+10FFFF
    // are told apart from the real thing.
    unsigned char low = 0x80, high = 0xBF;
    if (c == 0xE0) low = 0xA0;
    else if (c == 0xED) high = 0x9F;
    else if (c == 0xF0) low = 0x90;
    else if (c == 0xF4) high = 0x8F;
    if (second < low || second > high) return 0;
    for (std::size_t k = 2; k < len; ++k)
        if (!continuation(static_cast<unsigned char>(s[i + k]))) return 0;
    return len;
}

bool valid(const char* s, std::size_t n) {
    for (std::size_t i = 0; i < n;) {
        const std::size_t len = sequenceLength(s, n, i);
        if (len == 0) return false;
        i += len;
    }
    return true;
}

std::size_t boundedLength(const char* s, std::size_t limit) {
    std::size_t n = strnlen(s, limit);
    if (n == limit && s[n] != '\0') {
        while (n > 0 && continuation(static_cast<unsigned char>(s[n]))) --n;
    }
    return n;
}

std::size_t boundaryAtOrBefore(const std::string& s, std::size_t n) {
    if (n >= s.size()) return s.size();
    while (n > 0 && continuation(static_cast<unsigned char>(s[n]))) --n;
    return n;
}

std::string fromLatin1(const char* s, std::size_t n) {
    std::string out;
    out.reserve(n * 2);
    for (std::size_t i = 0; i < n; ++i) appendLatin1(out, static_cast<unsigned char>(s[i]));
    return out;
}

std::string clean(const std::string& in) {
    std::string out;
    const char* s = in.data();
    const std::size_t n = in.size();
    for (std::size_t i = 0; i < n;) {
        const auto c = static_cast<unsigned char>(s[i]);
        const std::size_t len = sequenceLength(s, n, i);
        if (len == 0) {
            if (c >= 0xA0) appendLatin1(out, c);
            ++i;
            continue;
        }
        if (!(len == 1 && (c < 0x20 || c == 0x7F))) out.append(in, i, len);
        i += len;
    }
    return out;
}

}  // namespace platform::utf8
