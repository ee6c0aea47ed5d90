// SPDX-License-Identifier: GPL-3.0-or-later
// Command-line parsing and program look-up.
#include "standalone/options.h"

#include "core/params.h"
#include "core/synth.h"

#include <algorithm>
#include <cctype>
#include <cstring>

namespace corvex_standalone {

namespace {

std::string folded(const std::string& text) {
    std::size_t begin = 0, end = text.size();
    while (begin < end && std::isspace(static_cast<unsigned char>(text[begin]))) ++begin;
    while (end > begin && std::isspace(static_cast<unsigned char>(text[end - 1]))) --end;
    std::string out = text.substr(begin, end - begin);
    for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return out;
}

// Edits (insert, delete, replace) from a to b; both are short names.
std::size_t distance(const std::string& a, const std::string& b) {
    std::vector<std::size_t> row(b.size() + 1);
    for (std::size_t j = 0; j <= b.size(); ++j) row[j] = j;
    for (std::size_t i = 1; i <= a.size(); ++i) {
        std::size_t diagonal = row[0];
        row[0] = i;
        for (std::size_t j = 1; j <= b.size(); ++j) {
            const std::size_t above = row[j];
            row[j] = std::min({row[j] + 1, row[j - 1] + 1, diagonal + (a[i - 1] != b[j - 1])});
            diagonal = above;
        }
    }
    return row[b.size()];
}

}  // namespace

const char* usage() {
    return "usage: corvex [--headless] [--no-connect] [--program NAME|N] [--reset]\n"
           "              [--audio auto|jack|alsa] [--device NAME] [--rate HZ] [--period FRAMES]\n"
           "  --headless        no window: a sound module, quit with Ctrl-C (SIGINT) or SIGTERM\n"
           "  --no-connect      leave every connection (JACK ports, ALSA MIDI) to you\n"
           "  --program P       start on program P: its number (0-63) or its name\n"
           "  --reset           start from the factory bank, not the sound saved last time\n"
           "  --audio A         auto (JACK when a server runs, else ALSA), jack or alsa\n"
           "  --device NAME     ALSA's device, such as default or hw:1 (default: default)\n"
           "  --rate HZ         ALSA's sample rate to ask for, 8000-384000 (default 48000)\n"
           "  --period FRAMES   ALSA's period to ask for, 16-8192 frames (default 256)\n"
           "  --help, --version\n";
}

namespace {

// A whole number in [low, high], nothing else.
bool number(const std::string& text, uint32_t low, uint32_t high, uint32_t& out) {
    if (text.empty() || text.size() > 9 ||
        !std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; }))
        return false;
    const unsigned long value = std::stoul(text);
    if (value < low || value > high) return false;
    out = static_cast<uint32_t>(value);
    return true;
}

}  // namespace

bool parseOptions(int argc, const char* const* argv, Options& options, std::string& error) {
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i] ? argv[i] : "";
        if (arg == "--headless") options.headless = true;
        else if (arg == "--no-connect") options.connect = false;
        else if (arg == "--reset") options.reset = true;
        else if (arg == "-h" || arg == "--help") options.help = true;
        else if (arg == "--version") options.version = true;
        else {
            // The options that take a value, as "--name value" or "--name=value".
            static const char* const withValue[] = {"--program", "--audio", "--device", "--rate",
                                                    "--period"};
            const std::size_t equals = arg.find('=');
            const std::string name = arg.substr(0, equals);
            if (std::none_of(std::begin(withValue), std::end(withValue),
                             [&](const char* n) { return name == n; })) {
                error = "unknown option '" + arg.substr(0, 64) + "'";
                return false;
            }
            std::string value;
            if (equals != std::string::npos) value = arg.substr(equals + 1);
            else if (i + 1 < argc && argv[i + 1]) value = argv[++i];
            const std::string shown = value.substr(0, 64);
            if (name == "--program") {
                if (value.empty()) {
                    error = "--program needs a program name or number";
                    return false;
                }
                options.program = value;
            } else if (name == "--audio") {
                if (value == "auto") options.audio = AudioChoice::automatic;
                else if (value == "jack") options.audio = AudioChoice::jack;
                else if (value == "alsa") options.audio = AudioChoice::alsa;
                else {
                    error = "--audio takes auto, jack or alsa" +
                            (value.empty() ? std::string() : ", not '" + shown + "'");
                    return false;
                }
            } else if (name == "--device") {
                // ALSA's names are short ("hw:1,0", "plughw:CARD=USB,DEV=0", "default").
                if (value.empty() || value.size() > 256 || value.find('\n') != std::string::npos) {
                    error = "--device needs an ALSA device name, such as default or hw:1";
                    return false;
                }
                options.device = value;
                options.alsaSettingsGiven = true;
            } else if (name == "--rate") {
                if (!number(value, kMinRate, kMaxRate, options.rate)) {
                    error = "--rate takes a sample rate from 8000 to 384000 Hz" +
                            (value.empty() ? std::string() : ", not '" + shown + "'");
                    return false;
                }
                options.alsaSettingsGiven = true;
            } else {
                if (!number(value, kMinPeriod, kMaxPeriod, options.period)) {
                    error = "--period takes a number of frames from 16 to 8192" +
                            (value.empty() ? std::string() : ", not '" + shown + "'");
                    return false;
                }
                options.alsaSettingsGiven = true;
            }
        }
    }
    if (options.audio == AudioChoice::jack && options.alsaSettingsGiven) {
        error = "--device, --rate and --period are ALSA's; JACK's server sets its own rate and "
                "period";
        return false;
    }
    return true;
}

bool parseScheduledMidi(const std::string& text, std::vector<ScheduledMidi>& out,
                        std::string& error) {
    out.clear();
    std::size_t pos = 0;
    while (pos <= text.size() && !text.empty()) {
        const std::size_t end = std::min(text.find(',', pos), text.size());
        const std::string item = text.substr(pos, end - pos);
        // Four fields, each a number.
        unsigned long long fields[4] = {};
        int count = 0;
        bool good = true;
        for (std::size_t at = 0; good && at <= item.size(); ++count) {
            const std::size_t colon = std::min(item.find(':', at), item.size());
            const std::string field = item.substr(at, colon - at);
            const bool hex = field.size() > 2 && field[0] == '0' && (field[1] | 0x20) == 'x';
            const std::string digits = hex ? field.substr(2) : field;
            good = count < 4 && !digits.empty() && digits.size() <= 12 &&
                   std::all_of(digits.begin(), digits.end(), [&](char c) {
                       const auto u = static_cast<unsigned char>(c);
                       return hex ? std::isxdigit(u) != 0 : std::isdigit(u) != 0;
                   });
            if (good) fields[count] = std::stoull(digits, nullptr, hex ? 16 : 10);
            at = colon + 1;
        }
        good = good && count == 4;
        const auto status = fields[1];
        if (!good || status < 0x80 || status > 0xEF || fields[2] > 0x7F || fields[3] > 0x7F) {
            error = item.substr(0, 40) +
                    ": not frame:status:data1:data2 with a channel message's status";
            return false;
        }
        if (out.size() >= kMaxScheduledMidi) {
            error = "more than 4096 messages";
            return false;
        }
        ScheduledMidi m;
        m.frame = fields[0];
        m.bytes[0] = static_cast<uint8_t>(status);
        m.bytes[1] = static_cast<uint8_t>(fields[2]);
        m.bytes[2] = static_cast<uint8_t>(fields[3]);
        m.size = (status & 0xE0) == 0xC0 ? 2 : 3;
        out.push_back(m);
        pos = end + 1;
    }
    std::stable_sort(out.begin(), out.end(), [](const ScheduledMidi& a, const ScheduledMidi& b) {
        return a.frame < b.frame;
    });
    return true;
}

std::vector<std::string> programNames() {
    static const CorvexSynth bank;
    std::vector<std::string> names;
    for (int32_t i = 0; i < kNumPrograms; ++i) {
        char name[kProgramNameSize] = {};
        bank.getProgramNameIndexed(i, name);
        names.emplace_back(name);
    }
    return names;
}

int32_t findProgram(const std::string& text) {
    if (!text.empty() && text.size() <= 3 &&
        std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; })) {
        const int32_t n = std::stoi(text);
        return n < kNumPrograms ? n : -1;
    }
    const std::vector<std::string> names = programNames();
    for (int32_t i = 0; i < kNumPrograms; ++i)
        if (names[i] == text) return i;
    const std::string wanted = folded(text);
    if (wanted.empty()) return -1;
    for (int32_t i = 0; i < kNumPrograms; ++i)
        if (folded(names[i]) == wanted) return i;
    return -1;
}

std::vector<std::string> nearPrograms(const std::string& text) {
    const std::string wanted = folded(text.substr(0, 64));
    std::vector<std::pair<std::size_t, std::string>> scored;
    for (const std::string& name : programNames()) {
        const std::string f = folded(name);
        std::size_t score = distance(wanted, f);
        // "rain" finds "Rain-2": a name holding the text (or held by it) counts as close.
        if (!wanted.empty() && (f.find(wanted) != std::string::npos ||
                                (f.size() >= 3 && wanted.find(f) != std::string::npos)))
            score = 0;
        if (score <= std::max<std::size_t>(2, wanted.size() / 3))
            if (std::none_of(scored.begin(), scored.end(),
                             [&](const auto& s) { return s.second == name; }))
                scored.emplace_back(score, name);
    }
    std::stable_sort(scored.begin(), scored.end(),
                     [](const auto& a, const auto& b) { return a.first < b.first; });
    std::vector<std::string> out;
    for (std::size_t i = 0; i < scored.size() && i < 5; ++i) out.push_back(scored[i].second);
    return out;
}

}  // namespace corvex_standalone
