// SPDX-License-Identifier: GPL-3.0-or-later
// Guards the built corvex.so's window on a real X server, driven as a host drives it (dlopen,
// main, the record; a parent window of the host's own, idled at 25 Hz): views not painted where
// the tables put them, a real drag that does not reach the effect continuously or is not bracketed
// by begin and end of edit, a field that does not follow the drag, a real click and typed value
// that miss the effect, host automation from a second thread that never shows, X errors or leaks
// over many opens and with the parent destroyed first; X connections and windows left behind by
// effects closed with their window open or opened twice, quick clicks lost between two idles, a
// host that closes the window from its idle answer in the middle of a drag, and a window at twice
// the size (by CORVEX_SCALE or the server's Xft.dpi) that asks the host for the wrong size or
// maps the pointer wrongly.
#include "support/x11_environment.h"

#include "hostkit/plugin.h"
#include "support/record_calls.h"

#include "gui/drawcontext.h"
#include "gui/textedit.h"

#include "platform/raster.h"
#include "testkit/x11_host.h"
#include "support/field_pixels.h"
#include "support/knob_gesture.h"
#include "support/process_probe.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <dirent.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cmath>
#include <functional>
#include <cstdio>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

namespace {

using testsupport::fieldInMemory;
using testsupport::finished;
using testsupport::inChildProcess;
using testsupport::openFds;
using testsupport::sleepMs;
using testsupport::socketFds;
using testsupport::valueText;

// What the host saw, and what the test wants to look at during a drag (when the editor lets the
// host idle from inside its tracking loop).
struct HostState {
    std::vector<std::pair<int32_t, int32_t>> edits;  // (opcode, index)
    std::vector<float> dragValues;
    std::vector<bool> fieldMatched;
    std::function<void()> onIdle;
};
HostState gHost;

intptr_t hostCallback(AEffect*, int32_t opcode, int32_t index, intptr_t, void*, float) {
    switch (opcode) {
    case audioMasterVersion: return 2400;
    case audioMasterBeginEdit:
    case audioMasterEndEdit: gHost.edits.emplace_back(opcode, index); return 1;
    case audioMasterIdle:
        if (gHost.onIdle) gHost.onIdle();
        return 0;
    default: return 0;
    }
}

struct FieldBox {
    int32_t left, top;
};
// Value field boxes by parameter index (the layout table).
constexpr FieldBox kFields[14] = {
    {138, 99}, {258, 99}, {18, 99},   {497, 204}, {258, 204}, {377, 99}, {377, 204},
    {18, 204}, {78, 308}, {198, 308}, {318, 308}, {438, 308}, {497, 99}, {138, 204},
};

class CorvexX11 : public ::testing::Test {
protected:
    void SetUp() override {
        gHost = HostState{};
        ASSERT_NE(plugin.entry(), nullptr);
        effect = plugin.entry()(&hostCallback);
        ASSERT_NE(effect, nullptr);
        dispatch(effect, effOpen);
        dispatch(effect, effSetSampleRate, 0, 0, nullptr, 44100.0f);
        dispatch(effect, effMainsChanged, 0, 1);
        // A loaded server may refuse a connection for a moment: retry for up to a second.
        for (int attempt = 0; !host && attempt < 20; ++attempt) {
            host = testkit::x11host::create(600, 350, "corvex test host");
            if (!host) sleepMs(50);
        }
        ASSERT_NE(host, nullptr) << "no X display";
        testkit::x11host::installHostErrorHandler();
        handlerInstalled = true;
    }
    void TearDown() override {
        gHost.onIdle = nullptr;
        if (effect) {
            dispatch(effect, effEditClose);
            dispatch(effect, effClose);
        }
        if (host) testkit::x11host::destroy(host);
        if (!handlerInstalled) return;
        EXPECT_EQ(testkit::x11host::hostErrorCount(), 0);
        EXPECT_TRUE(testkit::x11host::uninstallHostErrorHandler());
    }
    void openEditor() {
        ASSERT_EQ(dispatch(effect, effEditOpen, 0, 0,
                           reinterpret_cast<void*>(testkit::x11host::handle(host))),
                  1);
        ASSERT_EQ(testkit::x11host::childCount(testkit::x11host::handle(host)), 1);
        // The editor's window fills the host's: reading the host's window reads the editor's.
        editorWindow = testkit::x11host::handle(host);
    }
    // One host idle cycle at 25 Hz.
    void idleOnce() {
        dispatch(effect, effEditIdle);
        if (host) testkit::x11host::pump(host);
        sleepMs(40);
    }
    template <typename Pred> bool idleUntil(Pred pred, int cycles = 100) {
        for (int i = 0; i < cycles; ++i) {
            idleOnce();
            if (pred()) return true;
        }
        return false;
    }
    bool readWindow() {
        return testkit::x11host::readPixels(editorWindow, &pixels, &width, &height);
    }
    uint32_t pixel(int32_t x, int32_t y) const {
        return x < width && y < height ? pixels[static_cast<size_t>(y) * width + x] : 0xFFFFFFFFu;
    }
    bool fieldShows(int32_t index, const std::string& text) {
        if (!readWindow()) return false;
        const std::vector<uint32_t> expected = fieldInMemory(text);
        for (int32_t y = 0; y < 12; ++y)
            for (int32_t x = 0; x < 85; ++x)
                if (pixel(kFields[index].left + x, kFields[index].top + y) != expected[y * 85 + x])
                    return false;
        return true;
    }
    float parameter(int32_t i) { return effect->getParameter(effect, i); }
    // A real click on "Decay"'s value field (its place times the window's scale), then "0.25"
    // and Return typed.
    void clickDecayAndType025(int32_t scale) {
        const platform::Rect r = testkit::x11host::screenRect(editorWindow);
        ASSERT_TRUE(testkit::x11host::movePointer(r.left + 240 * scale, r.top + 313 * scale));
        ASSERT_TRUE(testkit::x11host::button(1, true));
        // The field reads the live button state when the press reaches it: release only after.
        const bool opened = idleUntil([&] { return dispatch(effect, effKeysRequired) == 0; });
        ASSERT_TRUE(testkit::x11host::button(1, false));
        ASSERT_TRUE(opened);
        for (const char* key : {"0", "period", "2", "5", "Return"}) {
            ASSERT_TRUE(testkit::x11host::key(key, true));
            ASSERT_TRUE(testkit::x11host::key(key, false));
            idleOnce();
        }
    }

    hostkit::Library plugin{CORVEX_PLUGIN_PATH};
    AEffect* effect = nullptr;
    testkit::x11host::HostWindow* host = nullptr;
    platform::NativeWindow editorWindow = 0;
    bool handlerInstalled = false;
    std::vector<uint32_t> pixels;
    int32_t width = 0, height = 0;
};

}  // namespace

TEST_F(CorvexX11, ThePanelAndEveryViewArePaintedWhereTheTablesPutThem) {
    openEditor();
    ASSERT_TRUE(idleUntil([&] { return readWindow() && pixel(10, 10) == 0x00008Cu; }));
    EXPECT_EQ(width, 600);
    EXPECT_EQ(height, 350);
    EXPECT_EQ(pixel(300, 130), 0x00008Cu) << "the panel between the rows";
    EXPECT_NE(pixel(2, 200), 0x00008Cu) << "the background's border";
    EXPECT_NE(pixel(597, 200), 0x00008Cu);
    // The panel composes on a black surface and fills its interior only: a one-pixel black edge
    // along its top and left, none along its right and bottom.
    for (int32_t y = 4; y < 346; ++y) ASSERT_EQ(pixel(6, y), 0u) << "left edge, y " << y;
    for (int32_t x = 6; x < 594; ++x) ASSERT_EQ(pixel(x, 4), 0u) << "top edge, x " << x;
    EXPECT_EQ(pixel(7, 5), 0x00008Cu) << "the panel's first inner pixel";
    EXPECT_EQ(pixel(593, 345), 0x00008Cu) << "the panel's last pixel";
    const int32_t knobs[14][2] = {{30, 40},  {150, 40},  {270, 40},  {389, 40},  {509, 40},
                                  {30, 145}, {150, 145}, {270, 145}, {389, 145}, {509, 145},
                                  {90, 250}, {210, 250}, {330, 250}, {450, 250}};
    for (const auto& k : knobs) {
        SCOPED_TRACE(std::to_string(k[0]) + "," + std::to_string(k[1]));
        EXPECT_EQ(pixel(k[0] + 30, k[1] + 19), 0x464646u) << "the track's inner rim";
        EXPECT_EQ(pixel(k[0] + 30, k[1] + 30), 0x00008Cu) << "the knob's middle";
        const int32_t labelTop = k[1] == 40 ? 116 : k[1] == 145 ? 221 : 326;
        EXPECT_EQ(pixel(k[0] - 12, labelTop), 0u) << "label outline";
        EXPECT_EQ(pixel(k[0] - 10, labelTop + 2), 0xA0A0A0u) << "label box";
        const int32_t fieldTop = labelTop - 17 + (k[1] == 250 ? -1 : 0);
        EXPECT_EQ(pixel(k[0] - 10, fieldTop + 2), 0xA0A0A0u) << "field box";
    }
    for (int32_t i = 0; i < 14; ++i) {
        const float v = parameter(i);
        EXPECT_TRUE(fieldShows(i, i == 5 && v == 1.0f ? "RANDOM" : valueText(v))) << i;
    }
    EXPECT_EQ(pixel(80, 14), 0xA0A0A0u) << "title box";
    EXPECT_EQ(pixel(537, 316), 0xC8C8C8u) << "maker box";
}

TEST_F(CorvexX11, ARealDragOnLfoAmountChangesItContinuouslyAndTheFieldFollows) {
    openEditor();
    ASSERT_TRUE(idleUntil([&] { return readWindow() && pixel(10, 10) == 0x00008Cu; }));
    gHost.onIdle = [&] {
        const float v = parameter(6);
        if (gHost.dragValues.empty() || gHost.dragValues.back() != v) {
            gHost.dragValues.push_back(v);
            gHost.fieldMatched.push_back(fieldShows(6, valueText(v)));
        }
    };
    const platform::Rect r = testkit::x11host::screenRect(editorWindow);
    const int32_t cx = r.left + 419, cy = r.top + 175;
    const pid_t pid = testsupport::dragKnobHalfTurn(cx, cy);
    ASSERT_GT(pid, 0);
    const bool done = idleUntil([&] { return finished(pid); }, 200);
    idleUntil([] { return false; }, 5);
    gHost.onIdle = nullptr;
    ASSERT_TRUE(done);
    EXPECT_NEAR(parameter(6), 5.0f / 6.0f, 0.02f);
    ASSERT_GE(gHost.dragValues.size(), 3u) << "seen during the drag, not only at its end";
    for (size_t i = 1; i < gHost.dragValues.size(); ++i)
        EXPECT_GT(gHost.dragValues[i], gHost.dragValues[i - 1]);
    for (size_t i = 0; i < gHost.fieldMatched.size(); ++i)
        EXPECT_TRUE(gHost.fieldMatched[i]) << "field 106 during the drag, " << gHost.dragValues[i];
    ASSERT_EQ(gHost.edits.size(), 2u);
    EXPECT_EQ(gHost.edits[0], std::make_pair(int32_t{audioMasterBeginEdit}, int32_t{6}));
    EXPECT_EQ(gHost.edits[1], std::make_pair(int32_t{audioMasterEndEdit}, int32_t{6}));
    EXPECT_TRUE(idleUntil([&] { return fieldShows(6, valueText(parameter(6))); }));
}

TEST_F(CorvexX11, ARealClickOnDecayAndTypingSetsTheValue) {
    openEditor();
    ASSERT_TRUE(idleUntil([&] { return readWindow() && pixel(10, 10) == 0x00008Cu; }));
    ASSERT_NO_FATAL_FAILURE(clickDecayAndType025(1));
    ASSERT_TRUE(idleUntil([&] { return parameter(9) == 0.25f; }));
    EXPECT_TRUE(idleUntil([&] { return fieldShows(9, "0.250000"); }));
    EXPECT_EQ(dispatch(effect, effKeysRequired), 1);
    EXPECT_TRUE(gHost.edits.empty()) << "typing sends no edit notices";
}

TEST_F(CorvexX11, HostAutomationFromASecondThreadShowsUp) {
    openEditor();
    ASSERT_TRUE(idleUntil([&] { return readWindow() && pixel(10, 10) == 0x00008Cu; }));
    std::atomic<bool> stop{false};
    std::thread automation([&] {
        for (int round = 0; !stop.load(); ++round)
            for (int32_t i = 0; i < 14; ++i)
                effect->setParameter(effect, i, static_cast<float>((round + i) % 100) / 100.0f);
    });
    for (int i = 0; i < 10; ++i) idleOnce();
    stop = true;
    automation.join();
    for (int32_t i = 0; i < 14; ++i) effect->setParameter(effect, i, (i + 1) / 16.0f);
    std::thread([&] { effect->setParameter(effect, 5, 1.0f); }).join();
    for (int32_t i = 0; i < 14; ++i) {
        const std::string expected = i == 5 ? "RANDOM" : valueText((i + 1) / 16.0f);
        EXPECT_TRUE(idleUntil([&] { return fieldShows(i, expected); }, 25)) << i;
    }
}

TEST_F(CorvexX11, OpenAndCloseTwentyTimesThenLoseTheParentFirst) {
    openEditor();
    idleOnce();
    dispatch(effect, effEditClose);
    const int fds = openFds();
    for (int i = 0; i < 20; ++i) {
        openEditor();
        idleOnce();
        dispatch(effect, effEditClose);
        EXPECT_EQ(testkit::x11host::childCount(testkit::x11host::handle(host)), 0);
    }
    EXPECT_EQ(openFds(), fds);
    EXPECT_FALSE(testkit::x11host::hasProperty(testkit::x11host::handle(host), "XdndProxy"));
    openEditor();
    ASSERT_TRUE(idleUntil([&] { return readWindow() && pixel(10, 10) == 0x00008Cu; }));
    testkit::x11host::destroyWindowOnly(host);
    for (int i = 0; i < 5; ++i) {
        dispatch(effect, effEditIdle);
        sleepMs(20);
    }
    effect->setParameter(effect, 3, 0.5f);
    dispatch(effect, effEditIdle);
    dispatch(effect, effEditClose);
    dispatch(effect, effEditClose);
}

// Hosts close a project with plug-in windows open: effClose without effEditClose. Each cycle
// used to leave an X connection behind, until the server refused every client (about 250).
TEST_F(CorvexX11, EffectsClosedWithTheirWindowOpenLeaveNoConnectionOrWindow) {
    const platform::NativeWindow parent = testkit::x11host::handle(host);
    auto cycle = [&] {
        AEffect* fx = plugin.entry()(&hostCallback);
        ASSERT_NE(fx, nullptr);
        dispatch(fx, effOpen);
        ASSERT_EQ(dispatch(fx, effEditOpen, 0, 0, reinterpret_cast<void*>(parent)), 1);
        dispatch(fx, effEditIdle);
        dispatch(fx, effClose);
    };
    cycle();
    const int sockets = socketFds(), fds = openFds();
    for (int i = 0; i < 300; ++i) {
        cycle();
        ASSERT_EQ(testkit::x11host::childCount(parent), 0) << "cycle " << i;
    }
    EXPECT_EQ(socketFds(), sockets);
    EXPECT_EQ(openFds(), fds);
}

// A host that rebuilds its own window opens again without closing: the new parent gets the one
// window, and the first window and its connection go.
TEST_F(CorvexX11, OpeningTwiceWithoutClosingReplacesTheWindow) {
    const platform::NativeWindow parent = testkit::x11host::handle(host);
    void* ptr = reinterpret_cast<void*>(parent);
    dispatch(effect, effEditOpen, 0, 0, ptr);
    dispatch(effect, effEditClose);
    const int sockets = socketFds(), fds = openFds();
    for (int i = 0; i < 300; ++i) {
        ASSERT_EQ(dispatch(effect, effEditOpen, 0, 0, ptr), 1);
        ASSERT_EQ(dispatch(effect, effEditOpen, 0, 0, ptr), 1);
        ASSERT_EQ(testkit::x11host::childCount(parent), 1) << "cycle " << i;
        dispatch(effect, effEditIdle);
        dispatch(effect, effEditClose);
        ASSERT_EQ(testkit::x11host::childCount(parent), 0) << "cycle " << i;
    }
    EXPECT_EQ(socketFds(), sockets);
    EXPECT_EQ(openFds(), fds);
    openEditor();
    EXPECT_TRUE(idleUntil([&] { return readWindow() && pixel(10, 10) == 0x00008Cu; }));
}

// A touchpad tap lasts 5-30 ms, a host idles every 40 ms: the press is over before the field
// sees it, and the field must go by what the press recorded.
TEST_F(CorvexX11, QuickClicksOnAValueFieldOpenItsBoxEveryTime) {
    openEditor();
    ASSERT_TRUE(idleUntil([&] { return readWindow() && pixel(10, 10) == 0x00008Cu; }));
    const platform::Rect r = testkit::x11host::screenRect(editorWindow);
    ASSERT_TRUE(testkit::x11host::movePointer(r.left + 240, r.top + 313));
    for (const int ms : {5, 15}) {
        int opened = 0;
        for (int n = 0; n < 10; ++n) {
            std::thread tap([ms] {
                testkit::x11host::button(1, true);
                sleepMs(ms);
                testkit::x11host::button(1, false);
            });
            const bool open = idleUntil([&] { return dispatch(effect, effKeysRequired) == 0; }, 10);
            tap.join();
            opened += open ? 1 : 0;
            if (!open) continue;
            ASSERT_TRUE(testkit::x11host::key("Escape", true));
            ASSERT_TRUE(testkit::x11host::key("Escape", false));
            ASSERT_TRUE(idleUntil([&] { return dispatch(effect, effKeysRequired) == 1; }));
        }
        EXPECT_EQ(opened, 10) << ms << " ms clicks that opened the box";
    }
}

// A host that closes the editor from its idle answer while a knob is dragged: the knob's loop
// is still running on the window that closes. The drag ends, its gesture is closed towards the
// host, the window goes, and the editor opens again.
TEST_F(CorvexX11, AHostClosingTheWindowFromItsIdleAnswerMidDragIsSafe) {
    openEditor();
    ASSERT_TRUE(idleUntil([&] { return readWindow() && pixel(10, 10) == 0x00008Cu; }));
    bool closed = false;
    gHost.onIdle = [&] {
        if (closed || gHost.edits.empty()) return;
        closed = true;
        dispatch(effect, effEditClose);
    };
    const platform::Rect r = testkit::x11host::screenRect(editorWindow);
    const int32_t cx = r.left + 419, cy = r.top + 175;
    const pid_t pid = inChildProcess([&] {
        testkit::x11host::movePointer(cx - 25, cy);
        sleepMs(100);
        testkit::x11host::button(1, true);
        for (int step = 0; step <= 36; ++step) {
            testkit::x11host::movePointer(cx - 25 + step, cy - step);
            sleepMs(16);
        }
        testkit::x11host::button(1, false);
    });
    ASSERT_GT(pid, 0);
    const bool done = idleUntil([&] { return finished(pid); }, 200);
    idleUntil([] { return false; }, 3);
    gHost.onIdle = nullptr;
    ASSERT_TRUE(done);
    EXPECT_TRUE(closed);
    ASSERT_EQ(gHost.edits.size(), 2u);
    EXPECT_EQ(gHost.edits[0], std::make_pair(int32_t{audioMasterBeginEdit}, int32_t{6}));
    EXPECT_EQ(gHost.edits[1], std::make_pair(int32_t{audioMasterEndEdit}, int32_t{6}));
    EXPECT_EQ(testkit::x11host::childCount(testkit::x11host::handle(host)), 0);
    openEditor();
    EXPECT_TRUE(idleUntil([&] { return readWindow() && pixel(10, 10) == 0x00008Cu; }));
}

namespace {

// Sets (or, with null, removes) the X resources the server hands every client, as xrdb does.
void setServerResources(const char* text) {
    Display* d = XOpenDisplay(nullptr);
    if (!d) return;
    const Atom manager = XInternAtom(d, "RESOURCE_MANAGER", False);
    if (text)
        XChangeProperty(d, DefaultRootWindow(d), manager, XA_STRING, 8, PropModeReplace,
                        reinterpret_cast<const unsigned char*>(text),
                        static_cast<int>(std::strlen(text)));
    else XDeleteProperty(d, DefaultRootWindow(d), manager);
    XCloseDisplay(d);
}

// A drag on "LFO Amount" along the same path in design units: half a turn over the top.
float dragLfoAmount(const platform::Rect& r, int32_t s,
                    const std::function<bool(const std::function<bool()>&)>& idleUntil,
                    const std::function<float()>& value) {
    const int32_t cx = 419, cy = 175;
    const pid_t pid = inChildProcess([&] {
        testkit::x11host::movePointer(r.left + (cx - 25) * s, r.top + cy * s);
        sleepMs(100);
        testkit::x11host::button(1, true);
        for (int step = 0; step <= 36; ++step) {
            const double a = 3.141592653589793 * (1.0 - step / 36.0);
            testkit::x11host::movePointer(
                r.left + (cx + static_cast<int32_t>(25 * std::cos(a))) * s,
                r.top + (cy - static_cast<int32_t>(25 * std::sin(a))) * s);
            sleepMs(16);
        }
        sleepMs(300);
        testkit::x11host::button(1, false);
    });
    if (pid <= 0 || !idleUntil([&] { return finished(pid); })) return -1.0f;
    return value();
}

}  // namespace

TEST_F(CorvexX11, TheWindowAtTwiceTheSizeByVariableOrDpiDragsAndTypesAsAtOnce) {
    // At 1× first: the value the same drag gives there.
    openEditor();
    ASSERT_TRUE(idleUntil([&] { return readWindow() && pixel(10, 10) == 0x00008Cu; }));
    auto idleFor = [&](const std::function<bool()>& pred) { return idleUntil(pred, 200); };
    const float atOnce = dragLfoAmount(testkit::x11host::screenRect(editorWindow), 1, idleFor,
                                       [&] { return parameter(6); });
    EXPECT_NEAR(atOnce, 5.0f / 6.0f, 0.02f);
    dispatch(effect, effEditClose);
    dispatch(effect, effClose);
    effect = nullptr;
    testkit::x11host::destroy(host);
    host = nullptr;

    for (const char* how : {"CORVEX_SCALE=2", "Xft.dpi: 192"}) {
        SCOPED_TRACE(how);
        const bool variable = how[0] == 'C';
        // Whatever happens below, the next test finds the server and the variables as they were.
        struct Restore {
            ~Restore() {
                unsetenv("CORVEX_SCALE");
                setServerResources(nullptr);
            }
        } restore;
        if (variable) setenv("CORVEX_SCALE", "2", 1);
        else setServerResources("Xft.antialias:\t1\nXft.dpi:\t192\nXft.hinting:\t1\n");
        effect = plugin.entry()(&hostCallback);
        ASSERT_NE(effect, nullptr);
        dispatch(effect, effOpen);
        ERect* rect = nullptr;
        ASSERT_EQ(dispatch(effect, effEditGetRect, 0, 0, &rect), 1);
        EXPECT_EQ(rect->right, 1200) << "the host sizes its window by this before open";
        EXPECT_EQ(rect->bottom, 700);
        host = testkit::x11host::create(1200, 700, "corvex test host");
        ASSERT_NE(host, nullptr);
        openEditor();
        ASSERT_TRUE(idleUntil([&] { return readWindow() && pixel(20, 20) == 0x00008Cu; }));
        EXPECT_EQ(width, 1200);
        EXPECT_EQ(height, 700);
        ASSERT_EQ(dispatch(effect, effEditGetRect, 0, 0, &rect), 1);
        EXPECT_EQ(rect->right, 1200);
        // The panel's edge is two device pixels wide; the panel starts inside it.
        EXPECT_EQ(pixel(12, 100), 0u);
        EXPECT_EQ(pixel(13, 100), 0u);
        EXPECT_EQ(pixel(14, 100), 0x00008Cu);

        const float atTwice = dragLfoAmount(testkit::x11host::screenRect(editorWindow), 2, idleFor,
                                            [&] { return parameter(6); });
        EXPECT_EQ(atTwice, atOnce);

        // A click on "Decay"'s field at its doubled place, then typing.
        ASSERT_NO_FATAL_FAILURE(clickDecayAndType025(2));
        EXPECT_TRUE(idleUntil([&] { return parameter(9) == 0.25f; }));

        dispatch(effect, effEditClose);
        dispatch(effect, effClose);
        effect = nullptr;
        testkit::x11host::destroy(host);
        host = nullptr;
    }
}
