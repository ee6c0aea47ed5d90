// SPDX-License-Identifier: GPL-3.0-or-later
// The UTF-8 rules every text of the platform layer follows, whichever system draws or edits it:
// what counts as valid, how other bytes are read (as Latin-1), where a text may be cut, and which
// characters a one-line text drops. Pure functions of their arguments: any thread; a null pointer
// with a nonzero length is never passed (callers hold real strings).
#pragma once

#include <cstddef>
#include <string>

namespace platform::utf8 {

inline bool continuation(unsigned char c) { return (c & 0xC0) == 0x80; }

// Length of the well-formed sequence starting at s[i] (RFC 3629: no overlong forms, no
// surrogates, nothing above U+10FFFF, nothing past n), or 0 when there is none. Cairo refuses
// anything else, so a text passed on by these rules is one it draws.
std::size_t sequenceLength(const char* s, std::size_t n, std::size_t i);

bool valid(const char* s, std::size_t n);

// strlen bounded by limit; a text cut there is cut at the last character boundary before it,
// so that a long valid text stays valid.
std::size_t boundedLength(const char* s, std::size_t limit);

// n, or less to the start of the character that n falls inside.
std::size_t boundaryAtOrBefore(const std::string& s, std::size_t n);

void appendLatin1(std::string& out, unsigned char c);

// Every byte as the Latin-1 character of that code.
std::string fromLatin1(const char* s, std::size_t n);

// A one-line text: valid sequences kept except ASCII controls; a byte outside any valid sequence
// becomes its Latin-1 character when that is printable (0xA0 and up) and is dropped otherwise.
std::string clean(const std::string& in);

}  // namespace platform::utf8
