// SPDX-License-Identifier: GPL-3.0-or-later
// The check runner: a child process per check, findings read back over a pipe, the report.
#include "runner.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>

namespace validate {

namespace {

uint32_t checkSeed(uint32_t seed, const char* name) {
    // Each check's own sequence, the same whichever other checks run.
    uint32_t h = 2166136261u ^ seed;
    for (const char* p = name; *p; ++p) h = (h ^ static_cast<uint8_t>(*p)) * 16777619u;
    return h;
}

[[noreturn]] void childMain(const CheckDef& check, const Settings& settings, int fd) {
    if (!settings.verbose) {
        // The plug-in's own chatter would break the one-line-per-check report.
        const int null = ::open("/dev/null", O_WRONLY);
        if (null >= 0) {
            ::dup2(null, STDOUT_FILENO);
            ::dup2(null, STDERR_FILENO);
            ::close(null);
        }
    }
    Context ctx(settings, checkSeed(settings.seed, check.name));
    ctx.setSink(fd);
    try {
        check.run(ctx);
    } catch (const hostkit::HostError& e) {
        ctx.fail(e.what());
    } catch (const std::exception& e) {
        ctx.fail(std::string("a C++ exception escaped the plug-in: ") + e.what());
    } catch (...) {
        ctx.fail("an exception of unknown type escaped the plug-in");
    }
    const char end[] = "E\t\n";
    (void)!::write(fd, end, sizeof end - 1);
    // No exit handlers: a plug-in's static destructors are not what this check is about.
    ::_exit(0);
}

std::string signalName(int sig) {
    const char* name = ::strsignal(sig);
    return format("signal %d (%s)", sig, name ? name : "?");
}

void parseLine(const std::string& line, CheckResult& r, bool& ended) {
    if (line.size() < 2) return;
    const std::string text = line.substr(2);
    switch (line[0]) {
    case 'F': r.failures.push_back(text); break;
    case 'W': r.warnings.push_back(text); break;
    case 'N': r.notes.push_back(text); break;
    case 'S': r.skipped = text; break;
    case 'E': ended = true; break;
    default: break;
    }
}

std::string jsonString(const std::string& s) {
    std::string out = "\"";
    for (unsigned char c : s) {
        if (c == '"' || c == '\\') out += '\\', out += static_cast<char>(c);
        else if (c < 0x20) out += format("\\u%04x", c);
        else out += static_cast<char>(c);
    }
    return out + "\"";
}

std::string jsonList(const std::vector<std::string>& items) {
    std::string out = "[";
    for (std::size_t i = 0; i < items.size(); ++i) out += (i ? ", " : "") + jsonString(items[i]);
    return out + "]";
}

const char* outcomeWord(char outcome) {
    switch (outcome) {
    case 'F': return "FAIL";
    case 'W': return "WARN";
    case 'S': return "SKIP";
    default: return "PASS";
    }
}

std::string summaryDetail(const CheckResult& r) {
    auto first = [](const std::vector<std::string>& v) {
        std::string s = v.front();
        if (v.size() > 1) s += format(" (and %zu more)", v.size() - 1);
        return s;
    };
    switch (r.outcome) {
    case 'F': return first(r.failures);
    case 'W': return first(r.warnings);
    case 'S': return r.skipped;
    default: {
        std::string s;
        for (const auto& n : r.notes) s += (s.empty() ? "" : "; ") + n;
        return s;
    }
    }
}

}  // namespace

CheckResult runIsolated(const CheckDef& check, const Settings& settings, int timeoutSeconds) {
    CheckResult r;
    r.name = check.name;
    const auto start = std::chrono::steady_clock::now();
    int fds[2];
    if (::pipe(fds) != 0) {
        r.failures.push_back("cannot create a pipe for the check");
        r.outcome = 'F';
        return r;
    }
    std::fflush(nullptr);
    const pid_t pid = ::fork();
    if (pid < 0) {
        ::close(fds[0]);
        ::close(fds[1]);
        r.failures.push_back("cannot start a process for the check");
        r.outcome = 'F';
        return r;
    }
    if (pid == 0) {
        ::close(fds[0]);
        childMain(check, settings, fds[1]);
    }
    ::close(fds[1]);
    std::string pending;
    bool ended = false, timedOut = false;
    const auto deadline = start + std::chrono::seconds(timeoutSeconds);
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                              deadline - std::chrono::steady_clock::now())
                              .count();
        if (left <= 0) {
            timedOut = true;
            break;
        }
        pollfd p{fds[0], POLLIN, 0};
        const int ready = ::poll(&p, 1, static_cast<int>(left < 1000 ? left : 1000));
        if (ready < 0 && errno == EINTR) continue;
        if (ready <= 0) continue;
        char buf[4096];
        const ssize_t n = ::read(fds[0], buf, sizeof buf);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        pending.append(buf, static_cast<std::size_t>(n));
        for (auto nl = pending.find('\n'); nl != std::string::npos; nl = pending.find('\n')) {
            parseLine(pending.substr(0, nl), r, ended);
            pending.erase(0, nl + 1);
        }
    }
    ::close(fds[0]);
    if (timedOut) ::kill(pid, SIGKILL);
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    r.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    if (timedOut)
        r.failures.push_back(format("no answer within %d s: the plug-in hangs", timeoutSeconds));
    else if (!ended) {
        if (WIFSIGNALED(status))
            r.failures.push_back("the plug-in crashed the host: " + signalName(WTERMSIG(status)));
        else
            r.failures.push_back(format("the plug-in ended the host process (exit status %d)",
                                        WIFEXITED(status) ? WEXITSTATUS(status) : -1));
    }
    if (!r.failures.empty()) r.outcome = 'F';
    else if (!r.skipped.empty()) r.outcome = 'S';
    else if (!r.warnings.empty()) r.outcome = 'W';
    else r.outcome = 'P';
    return r;
}

int runAll(const Settings& settings, std::FILE* out) {
    std::vector<CheckDef> checks = pluginChecks();
    for (const auto& c : editorChecks()) checks.push_back(c);
    const char* display = std::getenv("DISPLAY");
    const bool displaySet = display && *display;
    const bool haveDisplay = displaySet && !settings.skipEditor && displayReachable();
    std::vector<CheckResult> results;
    for (const auto& check : checks) {
        if (!settings.only.empty() && std::strstr(check.name, settings.only.c_str()) == nullptr)
            continue;
        CheckResult r;
        r.name = check.name;
        r.outcome = 'S';
        if (check.level > settings.strictness)
            r.skipped = format("runs from strictness %d", check.level);
        else if (check.editor && settings.skipEditor) r.skipped = "--skip-editor";
        else if (check.editor && !haveDisplay)
            r.skipped = displaySet ? format("the X display %s cannot be opened", display)
                                   : std::string("no X display (DISPLAY is not set)");
        else r = runIsolated(check, settings, 180);
        std::fprintf(out, "%s  %-30s %s\n", outcomeWord(r.outcome), r.name.c_str(),
                     summaryDetail(r).c_str());
        if (settings.verbose) {
            for (const auto& f : r.failures) std::fprintf(out, "        fail: %s\n", f.c_str());
            for (const auto& w : r.warnings) std::fprintf(out, "        warn: %s\n", w.c_str());
            for (const auto& n : r.notes) std::fprintf(out, "        note: %s\n", n.c_str());
        }
        std::fflush(out);
        results.push_back(std::move(r));
    }
    int passed = 0, failed = 0, warned = 0, skipped = 0;
    for (const auto& r : results) {
        passed += r.outcome == 'P' || r.outcome == 'W';
        failed += r.outcome == 'F';
        warned += r.outcome == 'W';
        skipped += r.outcome == 'S';
    }
    if (!settings.json.empty() && !writeJson(settings.json, settings, results)) {
        std::fprintf(stderr, "corvex-validate: cannot write %s\n", settings.json.c_str());
        ++failed;
    }
    std::fprintf(out, "%d with warnings, %d skipped\n", warned, skipped);
    std::fprintf(out, "%d passed, %d failed\n", passed, failed);
    return failed;
}

bool writeJson(const std::string& path, const Settings& settings,
               const std::vector<CheckResult>& results) {
    std::FILE* f = std::fopen(path.c_str(), "w");
    if (!f) return false;
    int passed = 0, failed = 0;
    std::fprintf(f,
                 "{\n  \"plugin\": %s,\n  \"strictness\": %d,\n  \"seed\": %u,\n  \"checks\": [\n",
                 jsonString(settings.plugin).c_str(), settings.strictness, settings.seed);
    for (std::size_t i = 0; i < results.size(); ++i) {
        const auto& r = results[i];
        passed += r.outcome == 'P' || r.outcome == 'W';
        failed += r.outcome == 'F';
        std::fprintf(f,
                     "    {\"name\": %s, \"result\": \"%s\", \"seconds\": %.3f, \"failures\": %s, "
                     "\"warnings\": %s, \"notes\": %s, \"skipped\": %s}%s\n",
                     jsonString(r.name).c_str(), outcomeWord(r.outcome), r.seconds,
                     jsonList(r.failures).c_str(), jsonList(r.warnings).c_str(),
                     jsonList(r.notes).c_str(), jsonString(r.skipped).c_str(),
                     i + 1 < results.size() ? "," : "");
    }
    std::fprintf(f, "  ],\n  \"passed\": %d,\n  \"failed\": %d\n}\n", passed, failed);
    return std::fclose(f) == 0;
}

}  // namespace validate
