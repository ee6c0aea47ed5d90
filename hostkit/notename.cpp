// SPDX-License-Identifier: GPL-3.0-or-later
// Note-name parsing.
#include "hostkit/notename.h"

#include <cctype>

namespace hostkit {

namespace {

// Reads a decimal integer, perhaps negative, that must fill the rest of the text.
std::optional<int> wholeInteger(const std::string& text, std::size_t pos) {
    const bool negative = pos < text.size() && text[pos] == '-';
    if (negative) ++pos;
    if (pos >= text.size() || text.size() - pos > 3) return std::nullopt;
    int value = 0;
    for (; pos < text.size(); ++pos) {
        if (!std::isdigit(static_cast<unsigned char>(text[pos]))) return std::nullopt;
        value = value * 10 + (text[pos] - '0');
    }
    return negative ? -value : value;
}

}  // namespace

std::optional<int> parseNote(const std::string& text) {
    if (text.empty()) return std::nullopt;
    if (std::isdigit(static_cast<unsigned char>(text[0]))) {
        const auto number = wholeInteger(text, 0);
        if (!number || *number > 127) return std::nullopt;
        return number;
    }
    static constexpr int kPitchClass[7] = {9, 11, 0, 2, 4, 5, 7};  // A B C D E F G
    const char letter = static_cast<char>(std::toupper(static_cast<unsigned char>(text[0])));
    if (letter < 'A' || letter > 'G') return std::nullopt;
    int pitch = kPitchClass[letter - 'A'];
    std::size_t pos = 1;
    for (; pos < text.size() && (text[pos] == '#' || text[pos] == 'b'); ++pos)
        pitch += text[pos] == '#' ? 1 : -1;
    if (pos - 1 > 2) return std::nullopt;  // more than a double sharp or flat is a typo
    const auto octave = wholeInteger(text, pos);
    if (!octave || *octave < -1 || *octave > 9) return std::nullopt;
    const int note = (*octave + 1) * 12 + pitch;
    if (note < 0 || note > 127) return std::nullopt;
    return note;
}

std::string noteName(int note) {
    if (note < 0 || note > 127) return "?";
    static constexpr const char* kNames[12] = {"C",  "C#", "D",  "D#", "E",  "F",
                                               "F#", "G",  "G#", "A",  "A#", "B"};
    return std::string(kNames[note % 12]) + std::to_string(note / 12 - 1);
}

}  // namespace hostkit
