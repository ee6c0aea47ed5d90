// SPDX-License-Identifier: GPL-3.0-or-later
// Helpers for the renderer's tests.
#include "render_support.h"

#include <gtest/gtest.h>
#include <sndfile.h>

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <sstream>

extern char** environ;

namespace testsupport {

TempDir::TempDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "corvex-test-XXXXXX").string();
    if (!::mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
    dir = pattern;
}

TempDir::~TempDir() {
    std::error_code ec;
    std::filesystem::remove_all(dir, ec);
}

std::vector<std::string> TempDir::entries() const {
    std::vector<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(dir))
        names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

Bytes Smf::vlq(uint32_t value) {
    Bytes out{static_cast<uint8_t>(value & 0x7F)};
    while (value >>= 7) out.insert(out.begin(), static_cast<uint8_t>(0x80 | (value & 0x7F)));
    return out;
}

Bytes Smf::chunk(const char (&id)[5], const Bytes& body) {
    Bytes out(id, id + 4);
    const auto n = static_cast<uint32_t>(body.size());
    for (int shift : {24, 16, 8, 0}) out.push_back(static_cast<uint8_t>(n >> shift));
    out.insert(out.end(), body.begin(), body.end());
    return out;
}

Bytes Smf::header(uint16_t format, uint16_t tracks, uint16_t division) {
    return chunk("MThd", {static_cast<uint8_t>(format >> 8), static_cast<uint8_t>(format),
                          static_cast<uint8_t>(tracks >> 8), static_cast<uint8_t>(tracks),
                          static_cast<uint8_t>(division >> 8), static_cast<uint8_t>(division)});
}

Bytes Smf::track(const Bytes& events, bool withEnd) {
    Bytes body = events;
    if (withEnd) body.insert(body.end(), {0x00, 0xFF, 0x2F, 0x00});
    return chunk("MTrk", body);
}

Bytes Smf::event(uint32_t delta, std::initializer_list<uint8_t> bytes) {
    Bytes out = vlq(delta);
    out.insert(out.end(), bytes.begin(), bytes.end());
    return out;
}

Bytes Smf::tempo(uint32_t delta, uint32_t micros) {
    return event(delta, {0xFF, 0x51, 0x03, static_cast<uint8_t>(micros >> 16),
                         static_cast<uint8_t>(micros >> 8), static_cast<uint8_t>(micros)});
}

Bytes Smf::cat(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const auto& p : parts) out.insert(out.end(), p.begin(), p.end());
    return out;
}

void writeFile(const std::string& path, const Bytes& bytes) {
    std::ofstream f(path, std::ios::binary);
    f.write(reinterpret_cast<const char*>(bytes.data()),
            static_cast<std::streamsize>(bytes.size()));
}

void writeText(const std::string& path, const std::string& text) {
    std::ofstream f(path, std::ios::binary);
    f << text;
}

Audio readAudio(const std::string& path) {
    Audio a;
    SF_INFO info{};
    SNDFILE* f = sf_open(path.c_str(), SFM_READ, &info);
    if (!f) {
        ADD_FAILURE() << "cannot read " << path << ": " << sf_strerror(nullptr);
        return a;
    }
    a.frames = info.frames;
    a.rate = info.samplerate;
    a.channels = info.channels;
    a.format = info.format;
    a.samples.resize(static_cast<std::size_t>(info.frames * info.channels));
    const sf_count_t got = sf_readf_float(f, a.samples.data(), info.frames);
    EXPECT_EQ(got, info.frames) << path;
    sf_close(f);
    return a;
}

RunResult runRenderer(const std::vector<std::string>& args, const std::string& workDir,
                      const std::vector<std::string>& env) {
    RunResult run;
    const std::string exe = rendererPath();
    const std::string outPath = workDir + "/.stdout";
    const std::string errPath = workDir + "/.stderr";
    std::vector<std::string> argStore{exe};
    argStore.insert(argStore.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (auto& a : argStore) argv.push_back(a.data());
    argv.push_back(nullptr);
    // The extra entries replace inherited ones of the same name.
    std::vector<std::string> envStore = env;
    for (char** e = environ; *e; ++e) {
        const std::string entry = *e;
        const std::string name = entry.substr(0, entry.find('=') + 1);
        const bool replaced = std::any_of(
            env.begin(), env.end(), [&](const std::string& x) { return x.rfind(name, 0) == 0; });
        if (!replaced) envStore.push_back(entry);
    }
    std::vector<char*> envp;
    for (auto& e : envStore) envp.push_back(e.data());
    envp.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0644);
    posix_spawn_file_actions_addopen(&actions, 2, errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0644);
    posix_spawn_file_actions_addchdir_np(&actions, workDir.c_str());
    pid_t pid = -1;
    const int spawned =
        ::posix_spawn(&pid, exe.c_str(), &actions, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0) {
        ADD_FAILURE() << "cannot run " << exe;
        return run;
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    run.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -WTERMSIG(status);
    auto slurp = [](const std::string& p) {
        std::ifstream f(p);
        std::stringstream s;
        s << f.rdbuf();
        return s.str();
    };
    run.out = slurp(outPath);
    run.err = slurp(errPath);
    std::filesystem::remove(outPath);
    std::filesystem::remove(errPath);
    return run;
}

std::string rendererPath() { return std::string(CORVEX_BINARY_DIR) + "/corvex-render"; }
std::string probePluginPath() { return CORVEX_PROBE_PLUGIN; }
std::string noEntryPluginPath() { return CORVEX_NOENTRY_PLUGIN; }

bool fileExists(const std::string& path) {
    std::error_code ec;
    return std::filesystem::exists(path, ec);
}

}  // namespace testsupport
