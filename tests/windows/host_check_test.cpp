// SPDX-License-Identifier: GPL-3.0-or-later
// The Windows host check: loads Corvex.dll as a Windows host does (LoadLibrary, GetProcAddress
// "main") and checks what a host sees: the export table, the record in this width, the entry
// point's answers, the resources, and then the whole scripted session compared with the Linux
// build's record, answer for answer and sample for sample.
#include "host/aeffect.h"
#include "hostkit/host_answers.h"
#include "hostkit/recording_host.h"
#include "testkit/host_session.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

// Corvex.dll is built beside this program.
std::string dllPath() {
    char path[MAX_PATH] = {};
    const DWORD length = GetModuleFileNameA(nullptr, path, MAX_PATH);
    std::string self(path, length);
    return self.substr(0, self.find_last_of("\\/") + 1) + "Corvex.dll";
}

// GetProcAddress's result as the entry point's type (through void*: the types are unrelated).
session::PluginMain entryOf(HMODULE module) {
    return reinterpret_cast<session::PluginMain>(
        reinterpret_cast<void*>(GetProcAddress(module, "main")));
}

// A whole file, or "" if it cannot be read.
std::string readFile(const char* path) {
    std::string text;
    FILE* file = std::fopen(path, "rb");
    if (!file) return text;
    char chunk[65536];
    std::size_t n = 0;
    while ((n = std::fread(chunk, 1, sizeof chunk, file)) > 0) text.append(chunk, n);
    std::fclose(file);
    return text;
}

class Library {
public:
    Library() : module(LoadLibraryA(dllPath().c_str())) {
        if (module) entry = entryOf(module);
    }
    ~Library() {
        if (module) FreeLibrary(module);
    }
    Library(const Library&) = delete;
    Library& operator=(const Library&) = delete;

    HMODULE module = nullptr;
    session::PluginMain entry = nullptr;
};

using hostkit::RecordingHost;

class HostCheck : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_NE(nullptr, library.module)
            << "cannot load " << dllPath() << ", error " << GetLastError();
        ASSERT_NE(nullptr, library.entry) << "Corvex.dll has no export named main";
        host.answers[audioMasterVersion] = hostkit::kHostVstVersion;
    }

    AEffect* open() {
        AEffect* e = library.entry(RecordingHost::callback());
        if (e) e->dispatcher(e, effOpen, 0, 0, nullptr, 0.0f);
        return e;
    }
    static void close(AEffect* e) { e->dispatcher(e, effClose, 0, 0, nullptr, 0.0f); }

    Library library;
    RecordingHost host;
};

// ---- The DLL as a file -----------------------------------------------------------------------

// The start of one of the loaded image's data directories (exports, imports, ...), or null.
template <typename T> const T* imageDirectory(HMODULE module, int entry) {
    const auto* base = reinterpret_cast<const unsigned char*>(module);
    const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
    const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
    const IMAGE_DATA_DIRECTORY& dir = nt->OptionalHeader.DataDirectory[entry];
    return dir.VirtualAddress ? reinterpret_cast<const T*>(base + dir.VirtualAddress) : nullptr;
}

TEST_F(HostCheck, ExportsOnlyMain) {
    const auto* base = reinterpret_cast<const unsigned char*>(library.module);
    const auto* exports =
        imageDirectory<IMAGE_EXPORT_DIRECTORY>(library.module, IMAGE_DIRECTORY_ENTRY_EXPORT);
    ASSERT_NE(nullptr, exports);
    EXPECT_EQ(1u, exports->NumberOfFunctions);
    ASSERT_EQ(1u, exports->NumberOfNames);
    const auto* names = reinterpret_cast<const DWORD*>(base + exports->AddressOfNames);
    EXPECT_STREQ("main", reinterpret_cast<const char*>(base + names[0]));
    EXPECT_STREQ("Corvex.dll", reinterpret_cast<const char*>(base + exports->Name));
    for (const char* hidden : {"main_plugin", "DllMain", "VSTPluginMain", "createEffectInstance"})
        EXPECT_EQ(nullptr, GetProcAddress(library.module, hidden)) << hidden;
}

TEST_F(HostCheck, NeedsNoRuntimeDllBesideIt) {
    // Everything but the system's own libraries is linked in: the kernel, the C runtime, windows,
    // GDI, and OLE and the shell for drops and shortcuts. msimg32.dll is bound at run time, never
    // imported: the editor works without it.
    const auto* base = reinterpret_cast<const unsigned char*>(library.module);
    const auto* import =
        imageDirectory<IMAGE_IMPORT_DESCRIPTOR>(library.module, IMAGE_DIRECTORY_ENTRY_IMPORT);
    ASSERT_NE(nullptr, import);
    for (; import->Name != 0; ++import) {
        std::string name = reinterpret_cast<const char*>(base + import->Name);
        for (char& c : name) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        EXPECT_TRUE(name == "kernel32.dll" || name == "msvcrt.dll" || name == "user32.dll" ||
                    name == "gdi32.dll" || name == "ole32.dll" || name == "shell32.dll" ||
                    name.rfind("api-ms-win-", 0) == 0)
            << "imports " << name;
    }
}

TEST_F(HostCheck, LoadsAgainAfterBeingUnloaded) {
    const std::string path = dllPath();
    ASSERT_TRUE(FreeLibrary(library.module));
    library.module = nullptr;
    EXPECT_EQ(nullptr, GetModuleHandleA(path.c_str())) << "still loaded";
    library.module = LoadLibraryA(path.c_str());
    ASSERT_NE(nullptr, library.module);
    library.entry = entryOf(library.module);
    ASSERT_NE(nullptr, library.entry);
    AEffect* e = open();
    ASSERT_NE(nullptr, e);
    EXPECT_EQ(kEffectMagic, e->magic);
    close(e);
}

TEST_F(HostCheck, CarriesItsVersionRecord) {
    const std::string path = dllPath();
    DWORD handle = 0;
    const DWORD size = GetFileVersionInfoSizeA(path.c_str(), &handle);
    ASSERT_NE(0u, size);
    std::vector<char> data(size);
    ASSERT_TRUE(GetFileVersionInfoA(path.c_str(), 0, size, data.data()));
    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT fixedSize = 0;
    ASSERT_TRUE(VerQueryValueA(data.data(), "\\", reinterpret_cast<void**>(&fixed), &fixedSize));
    // The project's version, major.minor.patch.tweak, as two 32-bit halves.
    const DWORD high = (CORVEX_VERSION_MAJOR << 16) | CORVEX_VERSION_MINOR;
    const DWORD low = (CORVEX_VERSION_PATCH << 16) | CORVEX_VERSION_TWEAK;
    EXPECT_EQ(high, fixed->dwFileVersionMS);
    EXPECT_EQ(low, fixed->dwFileVersionLS);
    EXPECT_EQ(high, fixed->dwProductVersionMS);
    EXPECT_EQ(low, fixed->dwProductVersionLS);
    EXPECT_EQ(static_cast<DWORD>(VFT_DLL), fixed->dwFileType);
    auto text = [&](const char* name) {
        char* value = nullptr;
        UINT length = 0;
        const std::string query = std::string("\\StringFileInfo\\040904b0\\") + name;
        if (!VerQueryValueA(data.data(), query.c_str(), reinterpret_cast<void**>(&value), &length))
            return std::string("<missing>");
        return std::string(value);
    };
    EXPECT_EQ("Ondrel", text("CompanyName"));
    EXPECT_EQ("Corvex plugin", text("FileDescription"));
    EXPECT_EQ(CORVEX_PROJECT_VERSION, text("FileVersion"));
    EXPECT_EQ(CORVEX_PROJECT_VERSION, text("ProductVersion"));
    for (const char* empty :
         {"Comments", "InternalName", "LegalCopyright", "OriginalFilename", "ProductName"})
        EXPECT_EQ("", text(empty)) << empty;
}

TEST_F(HostCheck, CarriesTheLinuxBuildsEditorBackground) {
    HRSRC found = FindResourceA(library.module, MAKEINTRESOURCEA(10001), MAKEINTRESOURCEA(2));
    ASSERT_NE(nullptr, found);
    const auto* bitmap =
        static_cast<const unsigned char*>(LockResource(LoadResource(library.module, found)));
    ASSERT_NE(nullptr, bitmap);
    BITMAPINFOHEADER header;
    std::memcpy(&header, bitmap, sizeof header);
    EXPECT_EQ(600, header.biWidth);
    EXPECT_EQ(350, std::abs(header.biHeight));
    EXPECT_EQ(24, header.biBitCount);
    // A bitmap resource is the bitmap file without its 14-byte file header.
    const std::string linuxFile = readFile(CORVEX_LINUX_BACKGROUND);
    ASSERT_GT(linuxFile.size(), 14u) << "no " << CORVEX_LINUX_BACKGROUND;
    ASSERT_EQ(linuxFile.size() - 14, SizeofResource(library.module, found));
    EXPECT_EQ(0, std::memcmp(linuxFile.data() + 14, bitmap, linuxFile.size() - 14));
}

// ---- The record and the entry point ----------------------------------------------------------

template <typename T> T fieldAt(const AEffect* e, std::size_t offset) {
    T value;
    std::memcpy(&value, reinterpret_cast<const unsigned char*>(e) + offset, sizeof value);
    return value;
}

TEST_F(HostCheck, RecordHasTheWireLayoutOfThisWidth) {
    AEffect* e = library.entry(RecordingHost::callback());
    ASSERT_NE(nullptr, e);
    // Read at the raw offsets a host compiled elsewhere uses.
    const bool wide = sizeof(void*) == 8;
    EXPECT_EQ(wide ? 192u : 144u, sizeof(AEffect));
    EXPECT_EQ(0x56737450, fieldAt<int32_t>(e, 0));
    EXPECT_EQ(64, fieldAt<int32_t>(e, wide ? 40 : 20));
    EXPECT_EQ(14, fieldAt<int32_t>(e, wide ? 44 : 24));
    EXPECT_EQ(0, fieldAt<int32_t>(e, wide ? 48 : 28));
    EXPECT_EQ(2, fieldAt<int32_t>(e, wide ? 52 : 32));
    // An editor, replacing, a synth.
    EXPECT_EQ(0x111, fieldAt<int32_t>(e, wide ? 56 : 36) & 0x111);
    EXPECT_EQ(1.0f, fieldAt<float>(e, wide ? 92 : 60));
    EXPECT_EQ(static_cast<void*>(e->object), fieldAt<void*>(e, wide ? 96 : 64));
    EXPECT_EQ(0x4F6E6472, fieldAt<int32_t>(e, wide ? 112 : 72));
    EXPECT_EQ(1, fieldAt<int32_t>(e, wide ? 116 : 76));
    EXPECT_NE(nullptr, fieldAt<void*>(e, wide ? 120 : 80));
    const char zeros[60] = {};
    EXPECT_EQ(0, std::memcmp(zeros, reinterpret_cast<const char*>(e) + (wide ? 128 : 84), 60));
    close(e);
}

TEST_F(HostCheck, MainAsksTheVersionAndForMidi) {
    AEffect* e = library.entry(RecordingHost::callback());
    ASSERT_NE(nullptr, e);
    ASSERT_GE(host.calls.size(), 2u);
    EXPECT_EQ(audioMasterVersion, host.calls.front().opcode);
    EXPECT_EQ(1, host.count(audioMasterWantMidi));
    EXPECT_EQ(1, e->dispatcher(e, effClose, 0, 0, nullptr, 0.0f));
}

TEST_F(HostCheck, MainRefusesATooOldHostOrNoHost) {
    host.answers.clear();  // 0 to the version request: a host older than 2.0
    EXPECT_EQ(nullptr, library.entry(RecordingHost::callback()));
    ASSERT_EQ(1u, host.calls.size());
    EXPECT_EQ(audioMasterVersion, host.calls[0].opcode);
    EXPECT_EQ(nullptr, library.entry(nullptr));
}

// ---- Behaviour a host relies on --------------------------------------------------------------

void renderBlock(AEffect* e, std::vector<float>& left, std::vector<float>& right) {
    float* outputs[2] = {left.data(), right.data()};
    e->processReplacing(e, outputs, outputs, static_cast<int32_t>(left.size()));
}

void noteOn(AEffect* e, int note) {
    VstMidiEvent midi{};
    midi.type = kVstMidiType;
    midi.byteSize = sizeof midi;
    midi.midiData[0] = static_cast<char>(0x90);
    midi.midiData[1] = static_cast<char>(note);
    midi.midiData[2] = 100;
    VstEvents events{};
    events.numEvents = 1;
    events.events[0] = reinterpret_cast<VstEvent*>(&midi);
    e->dispatcher(e, effProcessEvents, 0, 0, &events, 0.0f);
}

TEST_F(HostCheck, IdleIsSilentAndANoteSoundsOnBothOutputs) {
    AEffect* e = open();
    ASSERT_NE(nullptr, e);
    std::vector<float> left(256, 9.0f), right(256, 9.0f);
    renderBlock(e, left, right);
    EXPECT_EQ(std::vector<float>(256, 0.0f), left);
    EXPECT_EQ(left, right);
    noteOn(e, 60);
    float peak = 0.0f;
    for (int block = 0; block < 8; ++block) {
        renderBlock(e, left, right);
        ASSERT_EQ(left, right);
        for (float v : left) peak = std::max(peak, std::fabs(v));
    }
    EXPECT_GT(peak, 0.01f);
    close(e);
}

TEST_F(HostCheck, EveryInstanceIsAlignedForTheRenderLoop) {
    // The render loop keeps its phases in 16-byte SSE lanes inside the effect object, whatever
    // alignment the C runtime's malloc gives (8 bytes in 32-bit Windows).
    std::vector<AEffect*> effects;
    for (int i = 0; i < 24; ++i) {
        AEffect* e = open();
        ASSERT_NE(nullptr, e);
        EXPECT_EQ(0u, reinterpret_cast<uintptr_t>(e->object) % 16) << "instance " << i;
        noteOn(e, 40 + i);
        std::vector<float> left(64), right(64);
        renderBlock(e, left, right);
        effects.push_back(e);
    }
    for (AEffect* e : effects) close(e);
}

TEST_F(HostCheck, InstancesDoNotDisturbEachOther) {
    // The same note rendered alone and interleaved with a second, busier instance.
    auto renderAlone = [&](AEffect* other) {
        AEffect* e = open();
        noteOn(e, 48);
        if (other) noteOn(other, 80);
        std::vector<float> all, left(128), right(128), scratchL(97), scratchR(97);
        for (int block = 0; block < 10; ++block) {
            if (other) renderBlock(other, scratchL, scratchR);
            renderBlock(e, left, right);
            all.insert(all.end(), left.begin(), left.end());
        }
        close(e);
        return all;
    };
    const std::vector<float> alone = renderAlone(nullptr);
    AEffect* other = open();
    ASSERT_NE(nullptr, other);
    other->setParameter(other, 12, 1.0f);  // drawing random numbers all the time
    const std::vector<float> interleaved = renderAlone(other);
    close(other);
    EXPECT_EQ(0, std::memcmp(alone.data(), interleaved.data(), alone.size() * sizeof(float)));
}

// ---- The same answers and samples as the Linux build -----------------------------------------

const session::Transcript& linuxRecord() {
    static const session::Transcript transcript = [] {
        session::Transcript t;
        if (!session::parse(readFile(CORVEX_SESSION_RECORD), t)) t.clear();
        return t;
    }();
    return transcript;
}

class LinuxParity : public HostCheck, public ::testing::WithParamInterface<std::string> {};

TEST_P(LinuxParity, SameAsTheLinuxBuild) {
    const std::string& section = GetParam();
    session::Transcript expected;
    for (const session::Entry& entry : linuxRecord())
        if (session::sectionOf(entry.key) == section) expected.push_back(entry);
    ASSERT_FALSE(expected.empty())
        << "no Linux record for \"" << section << "\" in " << CORVEX_SESSION_RECORD
        << "; build the Linux target corvex-session-record first";

    const session::Transcript actual = session::record(library.entry, section);
    ASSERT_EQ(expected.size(), actual.size());
    int reported = 0;
    for (std::size_t i = 0; i < expected.size(); ++i) {
        ASSERT_EQ(expected[i].key, actual[i].key);
        if (expected[i].value != actual[i].value && reported++ < 8)
            ADD_FAILURE() << session::describeDifference(expected[i].key, expected[i].value,
                                                         actual[i].value);
    }
    EXPECT_EQ(0, reported) << "entries differing from Linux";
}

INSTANTIATE_TEST_SUITE_P(Sections, LinuxParity, ::testing::ValuesIn(session::sections()),
                         [](const ::testing::TestParamInfo<std::string>& info) {
                             std::string name = info.param;
                             for (char& c : name)
                                 if (c == '-') c = '_';
                             return name;
                         });

}  // namespace
