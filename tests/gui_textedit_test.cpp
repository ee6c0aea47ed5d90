// SPDX-License-Identifier: GPL-3.0-or-later
// Guards the text field on the memory window system: a click opens one box exactly over the field
// with everything selected and the field's colours; typing replaces it; Return, a click elsewhere
// and focus loss commit once (never when unchanged); Escape cancels; the 255-byte limit; the
// double-click style; nothing drawn over an open box; host keys routed into the box; long texts
// and oversized conversions cut safely; the "LooseFocus" notice.
#include "support/controls_support.h"

#include "gui/textedit.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

using namespace gui;
using controls_test::MemoryFrame;
using controls_test::Recorder;

namespace {

constexpr uint32_t kLeft = platform::kButtonLeft;

class Panel : public CViewContainer {
public:
    using CViewContainer::CViewContainer;
    int32_t notify(CView* sender, const char* message) override {
        if (std::strcmp(message, "LooseFocus") == 0) ++looseFocusNotices;
        return CViewContainer::notify(sender, message);
    }
    int looseFocusNotices = 0;
};

// A panel at (20, 20) holding a field at (10, 40, 70, 52) (screen (30, 60, 90, 72)) and a second
// field below it.
class TextEditTest : public ::testing::Test {
protected:
    void SetUp() override {
        panel = new Panel(CRect(20, 20, 280, 180), env.frame);
        env.frame->addView(panel);
        field = new CTextEdit(CRect(10, 40, 70, 52), &listener, 105, "0.5");
        field->setFont(kFontSmaller);
        field->setFontColor(kYellowCColor);
        field->setBackColor(kBlueCColor);
        panel->addView(field);
        other = new CTextEdit(CRect(10, 80, 70, 92), &listener, 106, "other");
        panel->addView(other);
    }
    platform::EditBox* box() { return platform::memory::editBoxOf(env.frame->getSystemWindow()); }
    std::string boxText() {
        char buffer[512];
        platform::editBoxText(box(), buffer, sizeof buffer);
        return buffer;
    }
    std::string text(CTextEdit* f) {
        char buffer[kTextBufferSize];
        f->getText(buffer);
        return buffer;
    }
    void key(platform::EditKey k) {
        platform::EditKeyInput in;
        in.key = k;
        platform::editBoxKey(box(), in);
    }

    Recorder listener;  // outlives the frame, whose closing may still report a commit
    MemoryFrame env;
    Panel* panel = nullptr;
    CTextEdit* field = nullptr;
    CTextEdit* other = nullptr;
};

TEST_F(TextEditTest, AClickOpensOneBoxOverTheFieldWithEverythingSelected) {
    env.click(CPoint(40, 65), kLeft);
    ASSERT_NE(box(), nullptr);
    EXPECT_EQ(platform::memory::liveEditBoxes(), 1);
    EXPECT_EQ(env.frame->getEditView(), field);
    EXPECT_TRUE(env.frame->keysRequired());
    const platform::EditBoxOptions o = platform::memory::editBoxOptions(box());
    EXPECT_EQ(o.rect.left, 30);
    EXPECT_EQ(o.rect.top, 60);
    EXPECT_EQ(o.rect.right, 91);  // width + 1
    EXPECT_EQ(o.rect.bottom, 73);
    EXPECT_EQ(o.font.height, -10);  // kFontSmaller's 10 pixels fit a 12-pixel field
    EXPECT_STREQ(o.font.face, "Arial");
    EXPECT_EQ(o.align, platform::TextAlign::center);
    EXPECT_EQ(o.textColor, kYellowCColor.packed());
    EXPECT_EQ(o.backColor, kBlueCColor.packed());
    EXPECT_EQ(o.limit, 255);
    EXPECT_TRUE(platform::memory::editBoxHasFocus(box()));
    EXPECT_EQ(boxText(), "0.5");
    const platform::EditSelection sel = platform::editBoxSelection(box());
    EXPECT_EQ(sel.anchor, 0);
    EXPECT_EQ(sel.caret, 3);

    env.click(CPoint(40, 65), kLeft);  // a click on the field being edited changes nothing
    EXPECT_EQ(platform::memory::liveEditBoxes(), 1);
}

TEST_F(TextEditTest, TypingReplacesAndReturnCommitsOnce) {
    env.click(CPoint(40, 65), kLeft);
    platform::memory::editBoxType(box(), "0.75");
    EXPECT_EQ(boxText(), "0.75");
    key(platform::EditKey::returnKey);
    EXPECT_EQ(box(), nullptr);
    EXPECT_EQ(text(field), "0.75");
    EXPECT_EQ(listener.tags, std::vector<int32_t>{105});
    EXPECT_EQ(listener.withContext, 1);
    EXPECT_EQ(env.frame->getEditView(), nullptr);
    EXPECT_FALSE(env.frame->keysRequired());
    EXPECT_EQ(panel->looseFocusNotices, 1);
    EXPECT_TRUE(field->isDirty());
}

TEST_F(TextEditTest, AnUnchangedTextCallsNoListener) {
    env.click(CPoint(40, 65), kLeft);
    platform::memory::editBoxType(box(), "0.5");
    key(platform::EditKey::returnKey);
    EXPECT_TRUE(listener.tags.empty());
    EXPECT_EQ(panel->looseFocusNotices, 1);
}

TEST_F(TextEditTest, AClickElsewhereCommitsAndMayOpenTheNextField) {
    env.click(CPoint(40, 65), kLeft);
    platform::memory::editBoxType(box(), "0.1");
    env.click(CPoint(40, 105), kLeft);  // on the second field
    EXPECT_EQ(text(field), "0.1");
    EXPECT_EQ(listener.tags, std::vector<int32_t>{105});
    ASSERT_NE(box(), nullptr);
    EXPECT_EQ(boxText(), "other");
    EXPECT_EQ(platform::memory::liveEditBoxes(), 1);
    env.click(CPoint(200, 150), kLeft);  // on the panel alone
    EXPECT_EQ(box(), nullptr);
    EXPECT_EQ(listener.tags.size(), 1u);
}

TEST_F(TextEditTest, LosingTheKeyboardFocusCommits) {
    env.click(CPoint(40, 65), kLeft);
    platform::memory::editBoxType(box(), "0.2");
    platform::memory::editBoxFocusOut(box());
    EXPECT_EQ(box(), nullptr);
    EXPECT_EQ(text(field), "0.2");
    EXPECT_EQ(listener.tags.size(), 1u);
}

TEST_F(TextEditTest, EscapeClosesWithoutCommitting) {
    env.click(CPoint(40, 65), kLeft);
    platform::memory::editBoxType(box(), "0.9");
    key(platform::EditKey::escape);
    EXPECT_EQ(box(), nullptr);
    EXPECT_EQ(text(field), "0.5");
    EXPECT_TRUE(listener.tags.empty());
    EXPECT_EQ(env.frame->getEditView(), nullptr);
    EXPECT_EQ(panel->looseFocusNotices, 1);
}

TEST_F(TextEditTest, TheBoxRefusesThe256thCharacter) {
    env.click(CPoint(40, 65), kLeft);
    platform::memory::editBoxType(box(), std::string(300, '7').c_str());
    EXPECT_EQ(boxText().size(), 255u);
    key(platform::EditKey::returnKey);
    EXPECT_EQ(text(field), std::string(255, '7')) << "all 255 accepted bytes are kept";
}

TEST_F(TextEditTest, DoubleClickStyleOpensOnlyOnADoubleClick) {
    field->setStyle(kDoubleClickStyle);
    platform::memory::setTicks(1000);
    env.click(CPoint(40, 65), kLeft);
    EXPECT_EQ(box(), nullptr);
    platform::memory::setTicks(1100);
    env.click(CPoint(40, 65), kLeft);
    EXPECT_NE(box(), nullptr);
}

TEST_F(TextEditTest, DrawPaintsNothingWhileTheBoxIsOpen) {
    env.click(CPoint(40, 65), kLeft);
    platform::Bitmap* bmp = platform::createBitmap(100, 100);
    platform::Context* pc = platform::createContext(nullptr);
    platform::selectBitmap(pc, bmp);
    {
        CDrawContext c(nullptr, pc, nullptr);
        field->setDirty(true);
        field->draw(&c);
    }
    EXPECT_FALSE(field->isDirty());
    EXPECT_EQ(platform::getPixel(pc, {40, 45}), 0u);  // still the bitmap's black
    EXPECT_EQ(platform::getPixel(pc, {10, 40}), 0u);
    platform::deleteContext(pc);
    platform::deleteBitmap(bmp);
}

TEST_F(TextEditTest, HostKeysGoIntoTheOpenBox) {
    env.click(CPoint(40, 65), kLeft);
    CKeyCode five{'5', CKey::none, 0}, back{0, CKey::backspace, 0}, left{0, CKey::left, 0},
        zero{0, CKey::keypad0, 0}, ret{0, CKey::returnKey, 0};
    EXPECT_EQ(env.frame->onKeyDown(five), 1);
    EXPECT_EQ(boxText(), "5");
    env.frame->onKeyDown(back);
    EXPECT_EQ(boxText(), "");
    CKeyCode one{'1', CKey::none, 0}, dot{'.', CKey::none, 0};
    env.frame->onKeyDown(dot);
    env.frame->onKeyDown(one);
    env.frame->onKeyDown(left);
    env.frame->onKeyDown(left);
    env.frame->onKeyDown(zero);  // the keypad's 0 at the start
    CKeyCode up{0, CKey::up, 0};
    EXPECT_EQ(env.frame->onKeyDown(up), 1) << "no key leaks to other controls while editing";
    EXPECT_EQ(boxText(), "0.1");
    env.frame->onKeyDown(ret);
    EXPECT_EQ(text(field), "0.1");
    EXPECT_EQ(listener.tags.size(), 1u);
    EXPECT_EQ(env.frame->onKeyDown(five), -1) << "closed: keys are not the field's";
}

TEST_F(TextEditTest, HostControlKeysCopyAndPaste) {
    env.click(CPoint(40, 65), kLeft);
    CKeyCode copy{'c', CKey::none, kKeyControl}, paste{'v', CKey::none, kKeyControl},
        end{0, CKey::end, 0};
    env.frame->onKeyDown(copy);
    EXPECT_EQ(platform::memory::clipboard(), "0.5");
    env.frame->onKeyDown(end);
    env.frame->onKeyDown(paste);
    EXPECT_EQ(boxText(), "0.50.5");
    platform::memory::setClipboard("0.3");
    key(platform::EditKey::selectAll);
    key(platform::EditKey::paste);
    EXPECT_EQ(boxText(), "0.3");
}

TEST_F(TextEditTest, ClosingTheEditorWhileEditingClosesTheBox) {
    env.click(CPoint(40, 65), kLeft);
    platform::memory::editBoxType(box(), "0.6");
    env.frame->removeAll(true);
    EXPECT_EQ(platform::memory::liveEditBoxes(), 0);
    EXPECT_EQ(listener.tags.size(), 1u);
}

TEST_F(TextEditTest, AnotherEditViewClosesTheBoxInsteadOfOrphaningIt) {
    env.click(CPoint(40, 65), kLeft);
    platform::memory::editBoxType(box(), "0.4");
    env.frame->setEditView(other);
    EXPECT_EQ(platform::memory::liveEditBoxes(), 0);
    EXPECT_EQ(text(field), "0.4");
}

TEST(TextEditText, LongTextsAreCutAtACharacterBoundary) {
    std::string longText(254, 'a');
    longText += "\xC3\xA9\xC3\xA9";  // é é: the first straddles byte 255
    CTextEdit f(CRect(0, 0, 10, 10), nullptr, 0, longText.c_str());
    char buffer[kTextBufferSize];
    f.getText(buffer);
    EXPECT_EQ(std::string(buffer), std::string(254, 'a'));
    f.setDirty(false);
    f.setText(nullptr);
    f.getText(nullptr);
    EXPECT_FALSE(f.isDirty());
    f.setText(std::string(1000, 'b').c_str());
    f.getText(buffer);
    EXPECT_EQ(std::string(buffer), std::string(255, 'b'));
    EXPECT_TRUE(f.isDirty());
}

void shout(char* text, char* shown) {
    std::memset(shown, '!', 2000);
    shown[2000] = '\0';
    (void)text;
}
void bracket(char* text, char* shown, void* data) {
    std::snprintf(shown, kTextBufferSize, "%s[%s]", static_cast<const char*>(data), text);
}

TEST(TextEditText, EditConvertsMayWriteTooMuchWithoutHarm) {
    platform::Bitmap* bmp = platform::createBitmap(100, 30);
    platform::Context* pc = platform::createContext(nullptr);
    platform::selectBitmap(pc, bmp);
    {
        CDrawContext c(nullptr, pc, nullptr);
        CTextEdit f(CRect(0, 0, 100, 30), nullptr, 0, "x");
        f.setTextEditConvert(&shout);
        f.draw(&c);
        char data[] = "v";
        f.setTextEditConvert(&bracket, data);
        f.draw(&c);
        EXPECT_FALSE(f.isDirty());
    }
    platform::deleteContext(pc);
    platform::deleteBitmap(bmp);
}

}  // namespace
