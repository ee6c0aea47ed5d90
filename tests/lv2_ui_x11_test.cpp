// SPDX-License-Identifier: GPL-3.0-or-later
// Guards the LV2 UI, loaded from the built corvex_ui.so as a host loads it and embedded in a host
// window on a real X server, against: a window that is not embedded in ui:parent or does not
// tell the host its size; pixels that differ from the VST2 editor's for the same values; a real
// drag on "LFO Amount" that does not reach the host as port 6 values inside a touch grab and its
// release; a port_event for parameter 9 not shown in its field at the next idle; and windows,
// X connections or descriptors left behind by 20 opens and closes.
#include "support/x11_environment.h"
#include "gui/drawcontext.h"
#include "gui/textedit.h"
#include "hostkit/plugin.h"
#include "lv2/bundle.h"
#include "platform/raster.h"
#include "support/record_calls.h"
#include "testkit/x11_host.h"
#include "support/field_pixels.h"
#include "support/knob_gesture.h"
#include "support/process_probe.h"

#include <lv2/ui/ui.h>

#include <dirent.h>
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cmath>
#include <cstdlib>
#include <cstdio>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

namespace {

using testsupport::fieldInMemory;
using testsupport::finished;
using testsupport::openFds;
using testsupport::sleepMs;
using testsupport::valueText;

// Where parameter 9's value field is (the window's layout table).
constexpr int32_t kDecayFieldLeft = 198, kDecayFieldTop = 308;

// What the host was told by the UI.
struct HostLog {
    std::vector<std::pair<uint32_t, float>> writes;
    std::vector<std::pair<uint32_t, bool>> touches;
    std::vector<std::pair<int, int>> sizes;
};
HostLog gLog;

void writePort(LV2UI_Controller, uint32_t port, uint32_t size, uint32_t format,
               const void* buffer) {
    if (format == 0 && size == sizeof(float))
        gLog.writes.emplace_back(port, *static_cast<const float*>(buffer));
}
void touchPort(LV2UI_Feature_Handle, uint32_t port, bool grabbed) {
    gLog.touches.emplace_back(port, grabbed);
}
int resizeTo(LV2UI_Feature_Handle, int width, int height) {
    gLog.sizes.emplace_back(width, height);
    return 0;
}

class Lv2UiX11 : public ::testing::Test {
protected:
    void SetUp() override {
        gLog = HostLog{};
        library = dlopen(CORVEX_LV2_BUNDLE "/corvex_ui.so", RTLD_NOW | RTLD_LOCAL);
        ASSERT_NE(library, nullptr) << dlerror();
        auto entry = reinterpret_cast<LV2UI_DescriptorFunction>(dlsym(library, "lv2ui_descriptor"));
        ASSERT_NE(entry, nullptr);
        descriptor = entry(0);
        ASSERT_NE(descriptor, nullptr);
        EXPECT_STREQ(descriptor->URI, corvex_lv2::kUiUri);
        EXPECT_EQ(entry(1), nullptr);
        idle = static_cast<const LV2UI_Idle_Interface*>(
            descriptor->extension_data(LV2_UI__idleInterface));
        ASSERT_NE(idle, nullptr);
        for (int attempt = 0; !host && attempt < 20; ++attempt) {
            host = testkit::x11host::create(600, 350, "corvex lv2 test host");
            if (!host) sleepMs(50);
        }
        ASSERT_NE(host, nullptr) << "no X display";
    }
    void TearDown() override {
        closeUi();
        if (host) testkit::x11host::destroy(host);
        // The library stays loaded (-z nodelete); closing our handle is still what a host does.
        if (library) dlclose(library);
    }
    void openUi() {
        parentFeature = {LV2_UI__parent, reinterpret_cast<void*>(testkit::x11host::handle(host))};
        const LV2_Feature* features[] = {&parentFeature, &touchFeature, &resizeFeature, nullptr};
        LV2UI_Widget widget = nullptr;
        ui = descriptor->instantiate(descriptor, corvex_lv2::kPluginUri, CORVEX_LV2_BUNDLE "/",
                                     writePort, this, &widget, features);
        ASSERT_NE(ui, nullptr);
        uiWindow = reinterpret_cast<uintptr_t>(widget);
        ASSERT_NE(uiWindow, 0u);
    }
    void closeUi() {
        if (ui) descriptor->cleanup(ui);
        ui = nullptr;
    }
    void idleOnce() {
        if (ui) {
            EXPECT_EQ(idle->idle(ui), 0);
        }
        testkit::x11host::pump(host);
        sleepMs(40);
    }
    template <typename Pred> bool idleUntil(Pred pred, int cycles = 100) {
        for (int i = 0; i < cycles; ++i) {
            idleOnce();
            if (pred()) return true;
        }
        return false;
    }
    bool readWindow(std::vector<uint32_t>* into) {
        int32_t w = 0, h = 0;
        return testkit::x11host::readPixels(testkit::x11host::handle(host), into, &w, &h) &&
               w == 600 && h == 350;
    }
    bool decayFieldShows(const std::string& text) {
        std::vector<uint32_t> pixels;
        if (!readWindow(&pixels)) return false;
        const std::vector<uint32_t> expected = fieldInMemory(text);
        for (int32_t y = 0; y < 12; ++y)
            for (int32_t x = 0; x < 85; ++x)
                if (pixels[static_cast<size_t>(kDecayFieldTop + y) * 600 + kDecayFieldLeft + x] !=
                    expected[static_cast<size_t>(y) * 85 + x])
                    return false;
        return true;
    }

    void* library = nullptr;
    const LV2UI_Descriptor* descriptor = nullptr;
    const LV2UI_Idle_Interface* idle = nullptr;
    testkit::x11host::HostWindow* host = nullptr;
    LV2UI_Handle ui = nullptr;
    uintptr_t uiWindow = 0;
    LV2UI_Touch touch{nullptr, touchPort};
    LV2UI_Resize resize{nullptr, resizeTo};
    LV2_Feature parentFeature{LV2_UI__parent, nullptr};
    LV2_Feature touchFeature{LV2_UI__touch, &touch};
    LV2_Feature resizeFeature{LV2_UI__resize, &resize};
};

}  // namespace

TEST_F(Lv2UiX11, EmbedsInTheParentTellsItsSizeAndLooksLikeTheVst2Editor) {
    openUi();
    EXPECT_EQ(testkit::x11host::childCount(testkit::x11host::handle(host)), 1);
    ASSERT_EQ(gLog.sizes.size(), 1u);
    EXPECT_EQ(gLog.sizes[0], std::make_pair(600, 350));
    std::vector<uint32_t> lv2;
    ASSERT_TRUE(idleUntil([&] { return readWindow(&lv2) && lv2[10 * 600 + 10] == 0x00008Cu; }));
    idleUntil([] { return false; }, 3);
    ASSERT_TRUE(readWindow(&lv2));
    EXPECT_TRUE(gLog.writes.empty()) << "opening sets nothing";

    // The VST2 editor of a new instance (program 0's values, as the UI shows before any port
    // event) in a host window of the same size.
    hostkit::Library vst2{CORVEX_PLUGIN_PATH};
    AEffect* effect = vst2.entry()(&hostkit::versionOnlyHost);
    ASSERT_NE(effect, nullptr);
    dispatch(effect, effOpen);
    testkit::x11host::HostWindow* other = testkit::x11host::create(600, 350, "vst2 editor");
    ASSERT_NE(other, nullptr);
    ASSERT_EQ(dispatch(effect, effEditOpen, 0, 0,
                       reinterpret_cast<void*>(testkit::x11host::handle(other))),
              1);
    std::vector<uint32_t> vst;
    int32_t w = 0, h = 0;
    for (int i = 0; i < 10; ++i) {
        dispatch(effect, effEditIdle);
        testkit::x11host::pump(other);
        sleepMs(40);
    }
    const bool read = testkit::x11host::readPixels(testkit::x11host::handle(other), &vst, &w, &h);
    dispatch(effect, effEditClose);
    dispatch(effect, effClose);
    testkit::x11host::destroy(other);
    ASSERT_TRUE(read);
    ASSERT_EQ(vst.size(), lv2.size());
    size_t differing = 0;
    for (size_t i = 0; i < vst.size(); ++i) differing += vst[i] != lv2[i];
    EXPECT_EQ(differing, 0u);
}

TEST_F(Lv2UiX11, ARealDragOnLfoAmountWritesPort6InsideATouchGrab) {
    openUi();
    std::vector<uint32_t> pixels;
    ASSERT_TRUE(
        idleUntil([&] { return readWindow(&pixels) && pixels[10 * 600 + 10] == 0x00008Cu; }));
    const platform::Rect r = testkit::x11host::screenRect(uiWindow);
    const int32_t cx = r.left + 419, cy = r.top + 175;
    const pid_t pid = testsupport::dragKnobHalfTurn(cx, cy);
    ASSERT_GT(pid, 0);
    ASSERT_TRUE(idleUntil([&] { return finished(pid); }, 200));
    idleUntil([] { return false; }, 5);

    ASSERT_EQ(gLog.touches.size(), 2u);
    EXPECT_EQ(gLog.touches[0], std::make_pair(6u, true));
    EXPECT_EQ(gLog.touches[1], std::make_pair(6u, false));
    ASSERT_GE(gLog.writes.size(), 3u) << "values during the drag, not only at its end";
    for (const auto& [port, value] : gLog.writes) EXPECT_EQ(port, 6u);
    for (size_t i = 1; i < gLog.writes.size(); ++i)
        EXPECT_GE(gLog.writes[i].second, gLog.writes[i - 1].second);
    EXPECT_NEAR(gLog.writes.back().second, 5.0f / 6.0f, 0.02f);
}

TEST_F(Lv2UiX11, AtTwiceTheScaleItTellsTheHostTheScaledSize) {
    setenv("CORVEX_SCALE", "2", 1);
    openUi();
    unsetenv("CORVEX_SCALE");
    ASSERT_EQ(gLog.sizes.size(), 1u);
    EXPECT_EQ(gLog.sizes[0], std::make_pair(1200, 700));
    EXPECT_EQ(testkit::x11host::screenRect(uiWindow).right -
                  testkit::x11host::screenRect(uiWindow).left,
              1200);
}

TEST_F(Lv2UiX11, APortEventShowsAtTheNextIdleAndBadOnesAreIgnored) {
    openUi();
    const float value = 0.25f;
    descriptor->port_event(ui, 9, sizeof value, 0, &value);
    // Not a control, the wrong format or size, no buffer: nothing happens.
    const float other = 0.75f;
    descriptor->port_event(ui, corvex_lv2::kMidiInPort, sizeof other, 0, &other);
    descriptor->port_event(ui, 1000, sizeof other, 0, &other);
    descriptor->port_event(ui, 9, sizeof other, 1, &other);
    descriptor->port_event(ui, 9, 2, 0, &other);
    descriptor->port_event(ui, 9, sizeof other, 0, nullptr);
    idleOnce();
    EXPECT_TRUE(decayFieldShows(valueText(value)));
    EXPECT_TRUE(gLog.writes.empty()) << "a value from the host is not sent back";
}

TEST_F(Lv2UiX11, OpenAndCloseTwentyTimesLeavesNoWindowOrConnection) {
    openUi();
    idleOnce();
    closeUi();
    const int fds = openFds();
    for (int i = 0; i < 20; ++i) {
        openUi();
        idleOnce();
        closeUi();
        EXPECT_EQ(testkit::x11host::childCount(testkit::x11host::handle(host)), 0);
    }
    EXPECT_EQ(openFds(), fds);
    // No parent, or another plug-in's URI: no UI.
    LV2UI_Widget widget = nullptr;
    const LV2_Feature* none[] = {nullptr};
    EXPECT_EQ(descriptor->instantiate(descriptor, corvex_lv2::kPluginUri, CORVEX_LV2_BUNDLE "/",
                                      writePort, this, &widget, none),
              nullptr);
    parentFeature.data = reinterpret_cast<void*>(testkit::x11host::handle(host));
    const LV2_Feature* parentOnly[] = {&parentFeature, nullptr};
    EXPECT_EQ(descriptor->instantiate(descriptor, "urn:other", CORVEX_LV2_BUNDLE "/", writePort,
                                      this, &widget, parentOnly),
              nullptr);
}
