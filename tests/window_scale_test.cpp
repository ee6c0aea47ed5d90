// SPDX-License-Identifier: GPL-3.0-or-later
// Guards the window at 2× and 3× on the in-memory window system, built as the plug-in builds it:
// a scale read from the wrong setting or rounded the wrong way; a host asked for the 1× size; boxes
// that are not exact blocks of the 1× pixels or sit off their scaled place; a knob or text drawn
// small or stretched instead of at the larger size; pointer positions not brought back to design
// units (a drag giving another value than at 1×); an edit box opened at the 1× place or size. And
// the window at 1× must stay what it was, pixel for pixel. Lines and shapes far outside the window
// finish and leave only their blocks inside it.
#include "vst2/corvex_editor.h"
#include "gui/drawcontext.h"
#include "gui/frame.h"
#include "gui/textedit.h"
#include "plugin/plugin_factory.h"
#include "window/knob_arc.h"
#include "window/label.h"

#include "platform/memory_window.h"
#include "platform/raster.h"
#include "platform/window.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

using gui::CRect;

#ifdef _WIN32
// Built for Windows too, over the GDI raster: the C runtime's environment, which the in-memory
// window system reads.
int setenv(const char* name, const char* value, int) {
    return _putenv((std::string(name) + "=" + value).c_str());
}
int unsetenv(const char* name) { return _putenv((std::string(name) + "=").c_str()); }
#endif

namespace {

TEST(DesktopScale, TheOwnSettingFirstThenTheDesktopsRoundedDown) {
    struct Case {
        const char *own, *gdk, *qt;
        double dpi;
        int32_t scale;
    };
    const Case cases[] = {
        {nullptr, nullptr, nullptr, 0, 1},   {"2", "3", "3", 288, 2},
        {"3", nullptr, nullptr, 0, 3},       {"1", "2", nullptr, 192, 1},
        {"4", "2", nullptr, 0, 2},           {"1.5", nullptr, nullptr, 192, 2},
        {"abc", nullptr, "2", 0, 2},         {"", nullptr, nullptr, 0, 1},
        {nullptr, "2", "3", 288, 2},         {nullptr, "0", "2", 0, 2},
        {nullptr, "5", nullptr, 0, 3},       {nullptr, nullptr, "1.5", 288, 1},
        {nullptr, nullptr, "2.75", 0, 2},    {nullptr, nullptr, nullptr, 144, 1},
        {nullptr, nullptr, nullptr, 192, 2}, {nullptr, nullptr, nullptr, 287, 2},
        {nullptr, nullptr, nullptr, 288, 3}, {nullptr, nullptr, nullptr, 960, 3},
        {nullptr, nullptr, nullptr, -96, 1}, {nullptr, nullptr, nullptr, NAN, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << (c.own ? c.own : "-") << " " << (c.gdk ? c.gdk : "-")
                                        << " " << (c.qt ? c.qt : "-") << " " << c.dpi);
        EXPECT_EQ(platform::pickScale(c.own, c.gdk, c.qt, c.dpi), c.scale);
    }
}

// A window of the factory's editor in a memory host, with the scale chosen by CORVEX_SCALE.
class ScaledEditor {
public:
    explicit ScaledEditor(int32_t scale) {
        const std::string value = std::to_string(scale);
        setenv("CORVEX_SCALE", value.c_str(), 1);
        platform::memory::reset();
        host = platform::memory::createHostWindow({0, 0, 2000, 1200});
        AudioEffect* made = createEffectInstance(&hostCallback);
        record = made->getAeffect();
        editor = dynamic_cast<CorvexEditor*>(made->getEditor());
        dispatch(effOpen);
        dispatch(effEditGetRect, 0, 0, &before);
        beforeSize = {before->right, before->bottom};
        dispatch(effEditOpen, 0, 0, reinterpret_cast<void*>(host));
        // The window system's first expose, over the whole window in device pixels.
        platform::memory::postPaint(window(), {0, 0, 600 * scale, 350 * scale});
        dispatch(effEditIdle);
        if (const char* dump = std::getenv("CORVEX_SCALE_TEST_PNG")) {
            const std::string path = std::string(dump) + "-" + value + ".png";
            platform::writePng(platform::memory::windowImage(window()), path.c_str());
        }
    }
    ~ScaledEditor() {
        dispatch(effEditClose);
        dispatch(effClose);
        unsetenv("CORVEX_SCALE");
    }
    ScaledEditor(const ScaledEditor&) = delete;
    ScaledEditor& operator=(const ScaledEditor&) = delete;

    intptr_t dispatch(int32_t op, int32_t index = 0, intptr_t value = 0, void* ptr = nullptr) {
        return record->dispatcher(record, op, index, value, ptr, 0);
    }
    platform::Window* window() { return editor->getFrame()->getSystemWindow(); }
    // The window's image: device pixels, 0x00RRGGBB.
    uint32_t pixel(int32_t x, int32_t y) {
        int32_t stride = 0;
        uint32_t* p = platform::bitmapPixels(platform::memory::windowImage(window()), &stride);
        return p[static_cast<size_t>(y) * stride + x] & 0xFFFFFFu;
    }
    int32_t width() { return platform::bitmapWidth(platform::memory::windowImage(window())); }
    // Every device pixel, row by row.
    std::vector<uint32_t> image() {
        platform::Bitmap* b = platform::memory::windowImage(window());
        int32_t stride = 0;
        uint32_t* p = platform::bitmapPixels(b, &stride);
        std::vector<uint32_t> out;
        // bitmapWidth is in design units: the rows hold stride device pixels.
        const int32_t rows = platform::bitmapHeight(b) * platform::windowScale(window());
        for (int32_t y = 0; y < rows; ++y)
            for (int32_t x = 0; x < stride; ++x)
                out.push_back(p[size_t(y) * stride + x] & 0xFFFFFFu);
        return out;
    }

    static intptr_t hostCallback(AEffect*, int32_t opcode, int32_t, intptr_t, void*, float) {
        if (opcode == audioMasterVersion) return 2400;
        if (opcode == audioMasterIdle) {
            if (gStep < gPath.size()) platform::memory::setPointer(gPath[gStep++]);
            else platform::memory::setState(0);
        }
        return 0;
    }
    static inline std::vector<platform::Point> gPath;
    static inline size_t gStep = 0;

    platform::NativeWindow host = 0;
    AEffect* record = nullptr;
    CorvexEditor* editor = nullptr;
    ERect* before = nullptr;
    platform::Point beforeSize;
};

// FNV-1a over the window's pixels.
uint64_t fingerprint(const std::vector<uint32_t>& pixels) {
    uint64_t h = 1469598103934665603ull;
    for (uint32_t p : pixels) {
        for (int i = 0; i < 4; ++i) {
            h ^= (p >> (8 * i)) & 0xFF;
            h *= 1099511628211ull;
        }
    }
    return h;
}

TEST(WindowScale, AtOneTimesTheWindowIsThePixelsItAlwaysWas) {
    ScaledEditor one(1);
    ASSERT_NE(one.window(), nullptr);
    EXPECT_EQ(one.beforeSize.x, 600);
    EXPECT_EQ(one.beforeSize.y, 350);
    const std::vector<uint32_t> pixels = one.image();
    ASSERT_EQ(pixels.size(), 600u * 350u);
    // Drawn with Debian 12's cairo, FreeType and Liberation Sans, before the window could scale.
    EXPECT_EQ(fingerprint(pixels), 0xf2798a9016c3cd2eull) << std::hex << fingerprint(pixels);
}

class AtScale : public ::testing::TestWithParam<int32_t> {};

TEST_P(AtScale, TheHostIsAskedForTheScaledSizeBeforeAndAfterOpen) {
    const int32_t s = GetParam();
    ScaledEditor e(s);
    EXPECT_EQ(e.beforeSize.x, 600 * s);
    EXPECT_EQ(e.beforeSize.y, 350 * s);
    ERect* rect = nullptr;
    e.dispatch(effEditGetRect, 0, 0, &rect);
    ASSERT_NE(rect, nullptr);
    EXPECT_EQ(rect->right, 600 * s);
    EXPECT_EQ(rect->bottom, 350 * s);
    EXPECT_EQ(e.editor->getFrame()->getScale(), s);
    EXPECT_EQ(platform::windowScale(e.window()), s);
    EXPECT_EQ(platform::memory::hostWindowRect(platform::nativeHandle(e.window())).right, 600 * s);
    // The views keep the 1× layout.
    CRect r;
    e.editor->getKnob(6)->getViewSize(r);
    EXPECT_EQ(r.left, 389);
    EXPECT_EQ(r.right, 449);
}

TEST_P(AtScale, BoxesAreExactBlocksOfTheOneTimesPixelsAndKnobsAndTextAreDrawnLarger) {
    const int32_t s = GetParam();
    std::vector<uint32_t> oneTimes;
    {
        ScaledEditor one(1);
        oneTimes = one.image();
    }
    ScaledEditor e(s);
    ASSERT_EQ(e.image().size(), oneTimes.size() * s * s);
    auto at1 = [&](int32_t x, int32_t y) { return oneTimes[size_t(y) * 600 + x]; };

    // Knobs and the insides of texts are drawn afresh at the scale; everything else is a box or
    // a rule, which must cover exactly its scaled pixels.
    std::vector<CRect> drawnLarger;
    for (int32_t tag = 0; tag < 14; ++tag) {
        CRect r;
        e.editor->getKnob(tag)->getViewSize(r);
        drawnLarger.push_back(r);
        e.editor->getLabel(tag)->getViewSize(r);
        drawnLarger.push_back(r);
        e.editor->getTextField(tag)->getViewSize(r);
        drawnLarger.push_back(CRect(r.left + 1, r.top + 1, r.right - 1, r.bottom - 1));
    }
    // The title and maker texts at the top and bottom of the panel.
    for (int32_t i = 43; i < e.editor->getFrame()->getNbViews(); ++i) {
        CRect r;
        e.editor->getFrame()->getView(i)->getViewSize(r);
        drawnLarger.push_back(r);
    }
    auto larger = [&](int32_t x, int32_t y) {
        for (const CRect& r : drawnLarger)
            if (x >= r.left && x < r.right && y >= r.top && y < r.bottom) return true;
        return false;
    };
    int32_t blockMismatches = 0, checked = 0;
    for (int32_t y = 0; y < 350; ++y) {
        for (int32_t x = 0; x < 600; ++x) {
            if (larger(x, y)) continue;
            ++checked;
            for (int32_t dy = 0; dy < s; ++dy)
                for (int32_t dx = 0; dx < s; ++dx)
                    blockMismatches += e.pixel(x * s + dx, y * s + dy) != at1(x, y);
        }
    }
    EXPECT_GT(checked, 120000);  // of 210,000: the rest is knobs and text
    EXPECT_EQ(blockMismatches, 0);

    // The knob at the scale, shrunk back by averaging each block, is the 1× knob within a
    // small mean difference (both are area averages of a finer drawing of the same arc).
    CRect knob;
    e.editor->getKnob(6)->getViewSize(knob);
    double difference = 0;
    int32_t samples = 0, sharperPixels = 0;
    for (int32_t y = knob.top; y < knob.bottom; ++y) {
        for (int32_t x = knob.left; x < knob.right; ++x) {
            const uint32_t one = at1(x, y);
            uint32_t first = e.pixel(x * s, y * s);
            for (int32_t c = 0; c < 24; c += 8) {
                double sum = 0;
                for (int32_t dy = 0; dy < s; ++dy)
                    for (int32_t dx = 0; dx < s; ++dx)
                        sum += (e.pixel(x * s + dx, y * s + dy) >> c) & 0xFF;
                difference += std::fabs(sum / (s * s) - ((one >> c) & 0xFF));
                ++samples;
            }
            // Not a stretched copy: some blocks hold more than one colour.
            bool uniform = true;
            for (int32_t dy = 0; dy < s; ++dy)
                for (int32_t dx = 0; dx < s; ++dx)
                    uniform &= e.pixel(x * s + dx, y * s + dy) == first;
            sharperPixels += !uniform;
        }
    }
    EXPECT_LT(difference / samples, 4.0);
    EXPECT_GT(sharperPixels, 100);

    // Text: every 1× pixel with ink has ink somewhere in its block, and the block is not a copy.
    CRect label;
    e.editor->getLabel(6)->getViewSize(label);
    const uint32_t paper = at1(label.left + 1, label.top);
    int32_t inked = 0, inkedToo = 0, textBlocksMixed = 0;
    for (int32_t y = label.top; y < label.bottom; ++y) {
        for (int32_t x = label.left; x < label.right; ++x) {
            if (at1(x, y) == paper) continue;
            ++inked;
            bool any = false, mixed = false;
            const uint32_t first = e.pixel(x * s, y * s);
            for (int32_t dy = 0; dy < s; ++dy)
                for (int32_t dx = 0; dx < s; ++dx) {
                    const uint32_t p = e.pixel(x * s + dx, y * s + dy);
                    any |= p != paper;
                    mixed |= p != first;
                }
            inkedToo += any;
            textBlocksMixed += mixed;
        }
    }
    ASSERT_GT(inked, 50);
    EXPECT_GE(inkedToo * 100, inked * 95);
#ifdef _WIN32
    // Wine sets its substituted fonts without smoothing: at twice the size their strokes fill
    // whole blocks more often than smoothed glyphs do (a stretched copy fills every one).
    EXPECT_GT(textBlocksMixed, inked / 8);
#else
    EXPECT_GT(textBlocksMixed, inked / 4);
#endif
}

TEST_P(AtScale, PointerPositionsAreDesignUnitsSoADragGivesTheOneTimesValue) {
    const int32_t s = GetParam();
    auto dragLfoAmount = [](int32_t scale) {
        ScaledEditor e(scale);
        const int32_t cx = 419, cy = 175;
        // Half a turn clockwise over the top, 25 design units from the centre.
        ScaledEditor::gPath.clear();
        ScaledEditor::gStep = 0;
        for (int step = 0; step <= 12; ++step) {
            const double a = 3.141592653589793 * (1.0 - step / 12.0);
            ScaledEditor::gPath.push_back({(cx + static_cast<int32_t>(25 * std::cos(a))) * scale,
                                           (cy - static_cast<int32_t>(25 * std::sin(a))) * scale});
        }
        const platform::Point press{(cx - 25) * scale, cy * scale};
        platform::memory::setPointer(press);
        platform::memory::setState(platform::kButtonLeft);
        platform::memory::postButtonDown(e.window(), press, 1);
        e.dispatch(effEditIdle);
        platform::memory::setState(0);
        return e.record->getParameter(e.record, 6);
    };
    const float one = dragLfoAmount(1);
    EXPECT_NEAR(one, 5.0f / 6.0f, 0.02f);
    EXPECT_EQ(dragLfoAmount(s), one);
}

TEST_P(AtScale, AFieldsBoxOpensAtTheScaledPlaceAndFontAndItsValueLands) {
    const int32_t s = GetParam();
    ScaledEditor e(s);
    CRect r;
    e.editor->getTextField(11)->getViewSize(r);
    const platform::Point at{(r.left + 5) * s, (r.top + 5) * s};
    platform::memory::setPointer(at);
    platform::memory::setState(platform::kButtonLeft);
    platform::memory::postButtonDown(e.window(), at, 1);
    e.dispatch(effEditIdle);
    platform::memory::setState(0);
    platform::EditBox* box = platform::memory::editBoxOf(e.window());
    ASSERT_NE(box, nullptr);
    const platform::EditBoxOptions o = platform::memory::editBoxOptions(box);
    EXPECT_EQ(o.rect.left, r.left * s);
    EXPECT_EQ(o.rect.top, r.top * s);
    EXPECT_EQ(o.rect.right, (r.right + 1) * s);
    EXPECT_EQ(o.font.height, -10 * s);
    platform::memory::editBoxType(box, "0.25");
    platform::EditKeyInput ret;
    ret.key = platform::EditKey::returnKey;
    platform::editBoxKey(box, ret);
    e.dispatch(effEditIdle);
    EXPECT_EQ(e.record->getParameter(e.record, 11), 0.25f);
}

struct NoEvents : platform::WindowEvents {
    void onPaint(platform::Context*, const platform::Rect&) override {}
    void onButtonDown(platform::Context*, platform::Point, int, uint32_t) override {}
    void onDestroyed() override {}
    bool onDrop(platform::DropKind, const char* const*, int32_t, std::size_t,
                platform::Point) override {
        return false;
    }
};

TEST_P(AtScale, HugeCoordinatesFinishAndStayInsideTheWindowsBlocks) {
    const int32_t s = GetParam();
    platform::memory::reset();
    NoEvents events;
    platform::WindowOptions o;
    o.parent = platform::memory::createHostWindow({0, 0, 100 * s, 100 * s});
    o.width = o.height = 100;
    o.scale = s;
    o.events = &events;
    platform::Window* w = platform::createChildWindow(o);
    ASSERT_NE(w, nullptr);
    platform::Context* c = platform::getWindowContext(w);
    ASSERT_NE(c, nullptr);
    int32_t stride = 0;
    const uint32_t* px = platform::bitmapPixels(platform::memory::windowImage(w), &stride);
    ASSERT_NE(px, nullptr);
    auto count = [&](uint32_t colour) {
        int32_t n = 0;
        for (int32_t y = 0; y < 100 * s; ++y)
            for (int32_t x = 0; x < 100 * s; ++x)
                n += (px[static_cast<size_t>(y) * stride + x] & 0xFFFFFF) == colour;
        return n;
    };
    {
        gui::CDrawContext ctx(nullptr, c, nullptr);
        ctx.setFrameColor(gui::CColor{255, 0, 0, 0});
        // A one-pixel line across the whole window: one design row, s device rows.
        ctx.moveTo(gui::CPoint(-2000000000, 50));
        ctx.lineTo(gui::CPoint(2000000000, 50));
        EXPECT_EQ(count(0xFF0000), 100 * s * s);
        EXPECT_EQ(px[static_cast<size_t>(50 * s) * stride] & 0xFFFFFF, 0xFF0000u);
        EXPECT_NE(px[static_cast<size_t>(50 * s - 1) * stride] & 0xFFFFFF, 0xFF0000u);
        ctx.setLineWidth(5);
        ctx.drawEllipse(CRect(-2000000000, -2000000000, 2000000000, 2000000000));
        ctx.drawArc(CRect(5, 5, 5, 5), gui::CPoint(5, 5), gui::CPoint(5, 5));
        ctx.setLineWidth(1);
        const gui::CPoint far[] = {{-2000000000, 3}, {2000000000, 90}, {7, 2000000000}};
        ctx.fillPolygon(far, 3);
        ctx.polyLine(far, 3);
        ctx.fillRect(CRect(-2000000000, -2000000000, 2000000000, 2000000000));
        ctx.drawString("far", CRect(-2000000000, 0, 2000000000, 20));
        ctx.drawPoint(gui::CPoint(-2000000000, 2000000000), gui::CColor{0, 255, 0, 0});
        ctx.floodFill(gui::CPoint(-2000000000, 0));
        EXPECT_EQ(platform::getPixel(c, {INT32_MAX, 0}), platform::kInvalidColor);
        EXPECT_EQ(platform::getPixel(c, {INT32_MIN, INT32_MIN}), platform::kInvalidColor);
        EXPECT_EQ(platform::setPixel(c, {INT32_MAX / 2, 7}, 0x00FF00), platform::kInvalidColor);
    }
    EXPECT_EQ(count(0x00FF00), 0);
    platform::releaseWindowContext(w, c);
    platform::destroyWindow(w);
}

INSTANTIATE_TEST_SUITE_P(TwoAndThree, AtScale, ::testing::Values(2, 3));

}  // namespace
