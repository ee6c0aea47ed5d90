// SPDX-License-Identifier: GPL-3.0-or-later
// CorvexWindow: the layout, the binding of knobs and fields to the controller's parameters, and
// the hand-over of changes made on other threads.
#include "window/corvex_window.h"

#include "core/params.h"
#include "gui/bitmap.h"
#include "gui/textedit.h"
#include "window/knob_arc.h"
#include "window/label.h"

#include <cstdio>

using gui::CColor;
using gui::CPoint;
using gui::CRect;

namespace {

constexpr CColor kGrey160CColor{160, 160, 160, 0};
constexpr CColor kGrey200CColor{200, 200, 200, 0};
constexpr CColor kBlue240CColor{0, 0, 240, 0};
constexpr CColor kPanelColor{0, 0, 140, 0};

constexpr uint32_t kKnobBackground = 0x8C0000;  // (0, 0, 140)
constexpr uint32_t kOscillatorArc = 0x00FAF0;   // (240, 250, 0)
constexpr uint32_t kLfoArc = 0xFAF000;          // (0, 240, 250)
constexpr uint32_t kEnvelopeArc = 0x0064F0;     // (240, 100, 0)

constexpr int32_t kLfoPhase = 5;

struct Place {
    int32_t index;
    float fx, fy;
};

// In creation order. Knobs: tag = index; fields: tag = index + 100; labels sit under the knob.
constexpr Place kKnobPlaces[CorvexWindow::kNumParams] = {
    {2, 0.1f, 0.2f}, {0, 0.3f, 0.2f},  {1, 0.5f, 0.2f},  {5, 0.7f, 0.2f},  {12, 0.9f, 0.2f},
    {7, 0.1f, 0.5f}, {13, 0.3f, 0.5f}, {4, 0.5f, 0.5f},  {6, 0.7f, 0.5f},  {3, 0.9f, 0.5f},
    {8, 0.2f, 0.8f}, {9, 0.4f, 0.8f},  {10, 0.6f, 0.8f}, {11, 0.8f, 0.8f},
};

// Per parameter index: the arc colour of its group. The labels are the parameters' long names.
constexpr uint32_t kArcColors[CorvexWindow::kNumParams] = {
    kLfoArc,      kLfoArc,      kOscillatorArc, kLfoArc,        kLfoArc,
    kLfoArc,      kLfoArc,      kOscillatorArc, kEnvelopeArc,   kEnvelopeArc,
    kEnvelopeArc, kEnvelopeArc, kLfoArc,        kOscillatorArc,
};

// The label row lies 0.15 of the height below its knob, the field row 0.1 below.
constexpr float kLabelRows[3] = {0.35f, 0.65f, 0.95f};
constexpr float kFieldRows[3] = {0.3f, 0.6f, 0.9f};

int32_t rowOf(float fy) { return fy < 0.3f ? 0 : fy < 0.6f ? 1 : 2; }

// A view of size (w, h) centred at fractions of the frame: the centre truncated from a product
// formed in double precision, the half sizes truncated too.
CRect placed(int32_t w, int32_t h, float fx, float fy, int32_t frameWidth, int32_t frameHeight) {
    const int32_t cx = static_cast<int32_t>(static_cast<double>(fx) * frameWidth);
    const int32_t cy = static_cast<int32_t>(static_cast<double>(fy) * frameHeight);
    CRect r(0, 0, w, h);
    r.offset(cx - w / 2, cy - h / 2);
    return r;
}

bool isParameter(int32_t index) { return index >= 0 && index < CorvexWindow::kNumParams; }

// The fields' own conversion of a typed text: a leading number, clamped to 0-1.
void typedValue(char* text, float& value) { string2float(text, value); }

// The parameter of a text field's tag, or -1 for any other tag (negative ones included).
int32_t fieldParameter(int32_t tag) {
    return tag >= CorvexWindow::kFieldTagBase &&
                   tag < CorvexWindow::kFieldTagBase + CorvexWindow::kNumParams
               ? tag - CorvexWindow::kFieldTagBase
               : -1;
}

}  // namespace

CorvexWindow::CorvexWindow(EditController& controller, gui::CFrameOwner& shell)
    : controller(controller), shell(shell) {}

// No frame outlives its owner: the frame calls back into this object.
CorvexWindow::~CorvexWindow() { close(); }

bool CorvexWindow::onUserInterfaceThread() const {
    return uiThread.load(std::memory_order_acquire) == std::this_thread::get_id();
}

bool CorvexWindow::open(void* ptr) {
    return build([&](const CRect& size) { return new gui::CFrame(size, ptr, this); });
}

bool CorvexWindow::openTopLevel(const char* title, int32_t extraHeight) {
    gui::CTopLevel window;
    window.title = title;
    return openTopLevel(window, extraHeight);
}

bool CorvexWindow::openTopLevel(const gui::CTopLevel& window, int32_t extraHeight) {
    extraRows = extraHeight > 0 && extraHeight <= 1000 ? extraHeight : 0;
    const bool opened =
        build([&](const CRect& size) { return new gui::CFrame(size, window, this); });
    extraRows = 0;
    return opened;
}

bool CorvexWindow::setTitle(const char* utf8) { return frame && frame->setTitle(utf8); }

template <typename MakeFrame> bool CorvexWindow::build(MakeFrame&& makeFrame) {
    // A second open without a close (hosts do it after rebuilding their own window) gets a fresh
    // window in the parent it names; the first one, whose parent may be gone, is closed first.
    if (frame) close();
    uiThread.store(std::this_thread::get_id(), std::memory_order_release);

    auto* background = new gui::CBitmap(kBackgroundBitmap);
    const int32_t width = background->isLoaded() ? background->getWidth() : kWidth;
    const int32_t height = background->isLoaded() ? background->getHeight() : kHeight;
    builtHeight = height;
    const CRect frameSize(0, 0, width, height + extraRows);
    frame = makeFrame(frameSize);
    frame->setBackground(background);
    background->forget();
    if (!frame->getSystemWindow()) {
        // No usable parent or no window system: say so instead of reporting a window nobody sees.
        close();
        return false;
    }

    auto* panel = new gui::CViewContainer(CRect(6, 4, width - 6, height - 4), frame, nullptr);
    panel->setBackgroundColor(kPanelColor);
    frame->addView(panel);

    for (const Place& p : kKnobPlaces) {
        auto* knob = new CKnobArc(placed(60, 60, p.fx, p.fy, width, height), this, p.index,
                                  kKnobBackground, kArcColors[p.index], CPoint(0, 0));
        knob->setInsetValue(7);
        knob->setTransparency(true);
        frame->addView(knob);
        knobs[p.index] = knob;
    }
    for (const Place& p : kKnobPlaces) {
        auto* label = new CLabel(placed(85, 12, p.fx, kLabelRows[rowOf(p.fy)], width, height),
                                 kParamInfo[p.index].longName);
        label->setFont(gui::kFontSmaller);
        label->setFontColor(gui::kBlackCColor);
        label->setBackColor(kGrey160CColor);
        frame->addView(label);
        labels[p.index] = label;
    }
    for (const Place& p : kKnobPlaces) {
        auto* field =
            new gui::CTextEdit(placed(85, 12, p.fx, kFieldRows[rowOf(p.fy)], width, height), this,
                               kFieldTagBase + p.index, "", nullptr, 0);
        field->setFont(gui::kFontSmaller);
        field->setFontColor(gui::kBlackCColor);
        field->setBackColor(kGrey160CColor);
        field->setString2FloatConvert(&typedValue);
        frame->addView(field);
        textFields[p.index] = field;
    }
    auto* title = new CLabel(placed(450, 24, 0.5f, 0.07f, width, height),
                             "CORVEX - Monophonic texture synth");
    title->setFont(gui::kFontVeryBig);
    title->setFontColor(gui::kWhiteCColor);
    title->setBackColor(kGrey160CColor);
    frame->addView(title);
    auto* maker = new CLabel(placed(46, 18, 0.93f, 0.925f, width, height), "Ondrel 2012");
    maker->setFont(gui::kFontSmall);
    maker->setTxtFace(gui::kStyleBold);
    maker->setFontColor(kBlue240CColor);
    maker->setBackColor(kGrey200CColor);
    frame->addView(maker);

    // Every current value is shown next: what other threads recorded until now is in it. Only
    // the window learns them; the synth's values, program and program name stay untouched.
    pending.store(0, std::memory_order_release);
    controller.resendValues();
    frame->setDirty(true);
    return true;
}

void CorvexWindow::close() {
    if (!frame) return;
    // Not delete: a host may close the window from inside the frame's own event handling (its
    // idle answer during a knob drag); the frame then ends itself once that has unwound.
    frame->dispose();
    frame = nullptr;
}

bool CorvexWindow::idle() {
    if (!frame || !onUserInterfaceThread()) return false;
    const uint32_t mask = pending.exchange(0, std::memory_order_acq_rel);
    for (int32_t index = 0; index < kNumParams; ++index)
        if (mask & (1u << index))
            showParameter(index, latest[index].load(std::memory_order_relaxed));
    return mask != 0;
}

bool CorvexWindow::setParameter(int32_t index, float value) {
    if (!onUserInterfaceThread()) {
        // Never touch a view from here: the user-interface thread may be drawing it.
        if (isParameter(index)) {
            latest[index].store(value, std::memory_order_relaxed);
            pending.fetch_or(1u << index, std::memory_order_release);
        }
        return false;
    }
    if (!frame) return false;
    if (isParameter(index)) {
        // Shown now: an older value recorded from another thread must not follow it.
        pending.fetch_and(~(1u << index), std::memory_order_acq_rel);
        showParameter(index, value);
    }
    return true;
}

void CorvexWindow::showParameter(int32_t index, float received) {
    char text[gui::kTextBufferSize];
    std::snprintf(text, sizeof text, "%0.6f", static_cast<double>(received));
    const float current = controller.getParameter(index);
    if (CKnobArc* knob = knobs[index]) knob->setValue(current);
    if (gui::CTextEdit* field = textFields[index]) {
        field->setValue(current);
        field->setText(index == kLfoPhase && current == 1.0f ? "RANDOM" : text);
    }
}

void CorvexWindow::valueChanged(gui::CDrawContext* context, gui::CControl* control) {
    // A control of a closed window that is still unwinding (a drag cut short) changes nothing.
    if (!frame || !control || control->getParent() != frame) return;
    const int32_t tag = control->getTag();
    if (fieldParameter(tag) >= 0) {
        auto* field = dynamic_cast<gui::CTextEdit*>(control);
        if (field) {
            char typed[gui::kTextBufferSize];
            field->getText(typed);
            float v = field->getValue();
            string2float(typed, v);
            field->setValue(v);
        }
    }
    const float value = control->getValue();
    char text[gui::kTextBufferSize];
    std::snprintf(text, sizeof text, "%0.6f", static_cast<double>(value));

    if (isParameter(tag)) {
        if (gui::CTextEdit* partner = textFields[tag]) {
            partner->setValue(value);
            partner->setText(text);
            controller.setParameterFromUser(tag, value);
        }
    } else if (const int32_t index = fieldParameter(tag); index >= 0) {
        if (CKnobArc* partner = knobs[index]) {
            partner->setValue(value);
            controller.setParameterFromUser(index, value);
            if (context) partner->update(context);
        }
    }
    if (isParameter(tag)) controller.setParameterFromUser(tag, value);
    else if (const int32_t index = fieldParameter(tag); index >= 0)
        controller.setParameterFromUser(index, value);
    else if (context) control->update(context);
}

CKnobArc* CorvexWindow::getKnob(int32_t index) const {
    return frame && isParameter(index) ? knobs[index] : nullptr;
}

gui::CTextEdit* CorvexWindow::getTextField(int32_t index) const {
    return frame && isParameter(index) ? textFields[index] : nullptr;
}

CLabel* CorvexWindow::getLabel(int32_t index) const {
    return frame && isParameter(index) ? labels[index] : nullptr;
}
