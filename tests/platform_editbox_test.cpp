// SPDX-License-Identifier: GPL-3.0-or-later
// Guards the edit box's shared behaviour (both backends use it): caret moves and Shift selection
// on whole UTF-8 characters, Backspace and Delete, the byte limit never splitting a character,
// control characters and invalid bytes filtered from typed and pasted text.
#include "platform/editbox_model.h"
#include "platform/utf8.h"

#include <gtest/gtest.h>

using platform::EditKey;
using platform::EditKeyInput;
using platform::EditModel;

namespace {

EditModel::Result press(EditModel& m, EditKey k, bool shift = false) {
    EditKeyInput in;
    in.key = k;
    in.shift = shift;
    return m.apply(in);
}

TEST(EditModel, OpensWithEverythingSelectedAndTypingReplacesIt) {
    EditModel m;
    m.reset("0.5", 255);
    EXPECT_EQ(m.anchor(), 0);
    EXPECT_EQ(m.caret(), 3);
    EXPECT_EQ(m.insert("7"), EditModel::Result::changed);
    EXPECT_EQ(m.text(), "7");
}

TEST(EditModel, CaretAndSelectionStepOverWholeCharacters) {
    EditModel m;
    m.reset("a\xC3\xA9z", 255);  // aéz
    press(m, EditKey::end);
    press(m, EditKey::left);
    press(m, EditKey::left, true);
    EXPECT_EQ(m.selected(), "\xC3\xA9");
    press(m, EditKey::left);  // collapses to the selection's start
    EXPECT_EQ(m.caret(), 1);
    EXPECT_FALSE(m.hasSelection());
    press(m, EditKey::del);
    EXPECT_EQ(m.text(), "az");
    press(m, EditKey::end);
    press(m, EditKey::backspace);
    press(m, EditKey::backspace);
    press(m, EditKey::backspace);
    EXPECT_EQ(m.text(), "");
    EXPECT_EQ(press(m, EditKey::backspace), EditModel::Result::none);
    m.reset("abc", 255);
    press(m, EditKey::home);
    press(m, EditKey::end, true);
    EXPECT_EQ(m.selected(), "abc");
    EXPECT_EQ(press(m, EditKey::selectAll), EditModel::Result::moved);
    EXPECT_EQ(press(m, EditKey::cut), EditModel::Result::cut);
}

TEST(EditModel, TheLimitIsInBytesAndNeverSplitsACharacter) {
    EditModel m;
    m.reset(std::string(254, 'x').c_str(), 255);
    press(m, EditKey::end);
    EXPECT_EQ(m.insert("\xC3\xA9"), EditModel::Result::refused);  // two bytes, one left
    EXPECT_EQ(m.text().size(), 254u);
    EXPECT_EQ(m.insert("y"), EditModel::Result::changed);
    EXPECT_EQ(m.insert("z"), EditModel::Result::refused);
    EXPECT_EQ(m.text().size(), 255u);
    m.reset(std::string(300, 'q').c_str(), 255);
    EXPECT_EQ(m.text().size(), 255u);
    // A paste longer than the room takes what fits.
    m.reset("", 4);
    EXPECT_EQ(m.insert("123456"), EditModel::Result::refused);
    EXPECT_EQ(m.text(), "1234");
}

TEST(EditModel, ControlCharactersAndInvalidBytesAreFiltered) {
    EditModel m;
    m.reset("", 255);
    m.insert(std::string("a\tb\nc\x7F") + "\xFF" + "\xE9");  // stray bytes taken as Latin-1
    EXPECT_EQ(m.text(), "abc\xC3\xBF\xC3\xA9");
    EXPECT_EQ(m.insert("\x01"), EditModel::Result::none);
    EXPECT_EQ(platform::utf8::clean("\xC3"), "\xC3\x83");
}

}  // namespace
