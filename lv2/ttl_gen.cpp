// SPDX-License-Identifier: GPL-3.0-or-later
// corvex-lv2-ttl: writes the bundle's Turtle (manifest.ttl, corvex.ttl, presets.ttl and, with
// --ui, corvex_ui.ttl) from the core's parameter and program facts, so the bundle cannot drift
// from the synth. Run by the build:
//   corvex-lv2-ttl OUTPUT_DIR MINOR.MICRO [--ui]
// Single-threaded program.
#include "core/params.h"
#include "lv2/bundle.h"

#include <charconv>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>

namespace {

using namespace corvex_lv2;

constexpr char kPrefixes[] = "@prefix atom: <http://lv2plug.in/ns/ext/atom#> .\n"
                             "@prefix bufsz: <http://lv2plug.in/ns/ext/buf-size#> .\n"
                             "@prefix doap: <http://usefulinc.com/ns/doap#> .\n"
                             "@prefix foaf: <http://xmlns.com/foaf/0.1/> .\n"
                             "@prefix lv2: <http://lv2plug.in/ns/lv2core#> .\n"
                             "@prefix midi: <http://lv2plug.in/ns/ext/midi#> .\n"
                             "@prefix opts: <http://lv2plug.in/ns/ext/options#> .\n"
                             "@prefix pg: <http://lv2plug.in/ns/ext/port-groups#> .\n"
                             "@prefix pset: <http://lv2plug.in/ns/ext/presets#> .\n"
                             "@prefix rdf: <http://www.w3.org/1999/02/22-rdf-syntax-ns#> .\n"
                             "@prefix rdfs: <http://www.w3.org/2000/01/rdf-schema#> .\n"
                             "@prefix ui: <http://lv2plug.in/ns/extensions/ui#> .\n"
                             "@prefix urid: <http://lv2plug.in/ns/ext/urid#> .\n"
                             "\n";

// A float as a Turtle decimal that reads back as exactly the same float: the shortest text of
// its exact double value, so even a reader parsing it as a double loses nothing.
std::string decimal(float value) {
    char text[64];
    const auto result = std::to_chars(text, text + sizeof text - 2, static_cast<double>(value),
                                      std::chars_format::fixed);
    std::string s(text, result.ptr);
    if (s.find('.') == std::string::npos) s += ".0";
    return s;
}

// A Turtle string literal: quotes, backslashes and control characters escaped.
std::string literal(const char* text) {
    std::string s = "\"";
    for (const char* p = text; *p; ++p) {
        const unsigned char c = static_cast<unsigned char>(*p);
        if (c == '"' || c == '\\') {
            s += '\\';
            s += static_cast<char>(c);
        } else if (c < 0x20) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04X", c);
            s += escaped;
        } else s += static_cast<char>(c);
    }
    return s + "\"";
}

std::string uri(const std::string& u) { return "<" + u + ">"; }

std::string presetUri(int32_t program) { return kPresetUriPrefix + std::to_string(program); }

std::string manifest(bool withUi) {
    std::ostringstream out;
    out << kPrefixes;
    out << uri(kPluginUri) << "\n    a lv2:Plugin , lv2:InstrumentPlugin ;\n"
        << "    lv2:binary <" << kDspBinary << "> ;\n"
        << "    rdfs:seeAlso <corvex.ttl> .\n\n";
    if (withUi)
        out << uri(kUiUri) << "\n    a ui:X11UI ;\n"
            << "    ui:binary <" << kUiBinary << "> ;\n"
            << "    rdfs:seeAlso <corvex_ui.ttl> .\n\n";
    for (int32_t p = 0; p < kNumPrograms; ++p)
        out << uri(presetUri(p)) << "\n    a pset:Preset ;\n"
            << "    lv2:appliesTo " << uri(kPluginUri) << " ;\n"
            << "    rdfs:label " << literal(factoryProgram(p).name) << " ;\n"
            << "    rdfs:seeAlso <presets.ttl> .\n\n";
    return out.str();
}

std::string plugin(bool withUi, int minorVersion, int microVersion) {
    std::ostringstream out;
    out << kPrefixes;
    out << uri(kOutputGroupUri) << "\n    a pg:StereoGroup , pg:OutputGroup ;\n"
        << "    lv2:symbol \"out\" ;\n"
        << "    rdfs:label \"Output\" .\n\n";
    out << uri(kPluginUri) << "\n    a lv2:Plugin , lv2:InstrumentPlugin ;\n"
        << "    doap:name \"Corvex\" ;\n"
        << "    lv2:minorVersion " << minorVersion << " ;\n"
        << "    lv2:microVersion " << microVersion << " ;\n"
        << "    lv2:project [\n"
        << "        a doap:Project ;\n"
        << "        doap:name \"Corvex\" ;\n"
        << "        doap:maintainer [ a foaf:Person ; foaf:name \"Ondrel\" ]\n"
        << "    ] ;\n"
        << "    lv2:requiredFeature urid:map ;\n"
        << "    lv2:optionalFeature lv2:hardRTCapable , opts:options ;\n"
        << "    opts:supportedOption bufsz:maxBlockLength , bufsz:nominalBlockLength ;\n";
    if (withUi) out << "    ui:ui " << uri(kUiUri) << " ;\n";
    out << "    lv2:port";
    for (int32_t i = 0; i < kNumParams; ++i) {
        const ParamInfo& info = kParamInfo[i];
        out << (i == 0 ? " " : " , ") << "[\n"
            << "        a lv2:InputPort , lv2:ControlPort ;\n"
            << "        lv2:index " << i << " ;\n"
            << "        lv2:symbol " << literal(info.symbol) << " ;\n"
            << "        lv2:name " << literal(info.longName) << " ;\n"
            << "        lv2:shortName " << literal(info.name) << " ;\n"
            << "        lv2:default " << decimal(defaultValue(i)) << " ;\n"
            << "        lv2:minimum " << decimal(info.minimum) << " ;\n"
            << "        lv2:maximum " << decimal(info.maximum);
        if (i == kLfoPh)
            out << " ;\n        lv2:scalePoint [ rdfs:label \"Random\" ; rdf:value "
                << decimal(info.maximum) << " ]";
        out << "\n    ]";
    }
    out << " , [\n"
        << "        a lv2:InputPort , atom:AtomPort ;\n"
        << "        atom:bufferType atom:Sequence ;\n"
        << "        atom:supports midi:MidiEvent ;\n"
        << "        lv2:designation lv2:control ;\n"
        << "        lv2:index " << kMidiInPort << " ;\n"
        << "        lv2:symbol " << literal(kMidiInSymbol) << " ;\n"
        << "        lv2:name \"MIDI In\"\n"
        << "    ]";
    const struct {
        uint32_t index;
        const char* symbol;
        const char* name;
        const char* designation;
    } outputs[] = {{kLeftOutPort, kLeftOutSymbol, "Left", "pg:left"},
                   {kRightOutPort, kRightOutSymbol, "Right", "pg:right"}};
    for (const auto& o : outputs)
        out << " , [\n"
            << "        a lv2:OutputPort , lv2:AudioPort ;\n"
            << "        lv2:index " << o.index << " ;\n"
            << "        lv2:symbol " << literal(o.symbol) << " ;\n"
            << "        lv2:name " << literal(o.name) << " ;\n"
            << "        pg:group " << uri(kOutputGroupUri) << " ;\n"
            << "        lv2:designation " << o.designation << "\n"
            << "    ]";
    out << " .\n";
    return out.str();
}

std::string presetBank() {
    std::ostringstream out;
    out << kPrefixes;
    for (int32_t p = 0; p < kNumPrograms; ++p) {
        const FactoryProgram program = factoryProgram(p);
        out << uri(presetUri(p)) << "\n    a pset:Preset ;\n"
            << "    lv2:appliesTo " << uri(kPluginUri) << " ;\n"
            << "    rdfs:label " << literal(program.name) << " ;\n"
            << "    lv2:port";
        for (int32_t i = 0; i < kNumParams; ++i)
            out << (i == 0 ? " " : " , ") << "[ lv2:symbol " << literal(kParamInfo[i].symbol)
                << " ; pset:value " << decimal(program.values[i]) << " ]";
        out << " .\n\n";
    }
    return out.str();
}

std::string userInterface() {
    std::ostringstream out;
    out << kPrefixes;
    out << uri(kUiUri) << "\n    a ui:X11UI ;\n"
        << "    lv2:requiredFeature ui:idleInterface ;\n"
        << "    lv2:optionalFeature ui:parent , ui:resize , ui:touch , ui:noUserResize ;\n"
        << "    lv2:extensionData ui:idleInterface .\n";
    return out.str();
}

bool write(const std::string& dir, const char* name, const std::string& text) {
    const std::string path = dir + "/" + name;
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    file << text;
    file.close();
    if (!file) {
        std::fprintf(stderr, "corvex-lv2-ttl: cannot write %s\n", path.c_str());
        return false;
    }
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3 || argc > 4 || (argc == 4 && std::strcmp(argv[3], "--ui") != 0)) {
        std::fprintf(stderr, "usage: corvex-lv2-ttl OUTPUT_DIR MINOR.MICRO [--ui]\n");
        return 2;
    }
    int minor = 0, micro = 0;
    if (std::sscanf(argv[2], "%d.%d", &minor, &micro) != 2) {
        std::fprintf(stderr, "corvex-lv2-ttl: the version is MINOR.MICRO, not %s\n", argv[2]);
        return 2;
    }
    const std::string dir = argv[1];
    const bool withUi = argc == 4;
    bool ok = write(dir, "manifest.ttl", manifest(withUi)) &&
              write(dir, "corvex.ttl", plugin(withUi, minor, micro)) &&
              write(dir, "presets.ttl", presetBank());
    if (ok && withUi) ok = write(dir, "corvex_ui.ttl", userInterface());
    return ok ? 0 : 1;
}
