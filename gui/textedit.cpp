// SPDX-License-Identifier: GPL-3.0-or-later
// CTextEdit: the text, its drawing, and the edit box's life from a click to the commit.
#include "gui/textedit.h"

#include "gui/drawcontext.h"
#include "gui/frame.h"

#include <cstdio>
#include <cstring>

namespace gui {

namespace {

// Copies src into a kTextBufferSize buffer, cut at a character boundary.
void copyText(char* dst, const char* src) {
    std::strncpy(dst, src, kTextBufferSize - 1);
    dst[kTextBufferSize - 1] = '\0';
    // strncpy stops at 255 bytes; a longer source may have been cut inside a character.
    if (std::strlen(src) > static_cast<size_t>(kTextBufferSize - 1)) {
        char wide[kTextBufferSize + 1];
        std::memcpy(wide, src, kTextBufferSize);
        wide[kTextBufferSize] = '\0';
        cutAtCharacter(wide, kTextBufferSize - 1);
        std::memcpy(dst, wide, std::strlen(wide) + 1);
    }
}

// One code point as UTF-8; 0 bytes for what is not a character.
int32_t encodeUtf8(int32_t c, char* out) {
    if (c < 0x20 || c == 0x7F || (c >= 0xD800 && c <= 0xDFFF) || c > 0x10FFFF) return 0;
    if (c < 0x80) {
        out[0] = static_cast<char>(c);
        return 1;
    }
    if (c < 0x800) {
        out[0] = static_cast<char>(0xC0 | (c >> 6));
        out[1] = static_cast<char>(0x80 | (c & 0x3F));
        return 2;
    }
    if (c < 0x10000) {
        out[0] = static_cast<char>(0xE0 | (c >> 12));
        out[1] = static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out[2] = static_cast<char>(0x80 | (c & 0x3F));
        return 3;
    }
    out[0] = static_cast<char>(0xF0 | (c >> 18));
    out[1] = static_cast<char>(0x80 | ((c >> 12) & 0x3F));
    out[2] = static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out[3] = static_cast<char>(0x80 | (c & 0x3F));
    return 4;
}

// A key from the host's key requests as an editing command: the named editing keys, the space
// and keypad keys as the characters they type (Control or not), anything else by its character.
bool translateKey(const CKeyCode& key, platform::EditKeyInput& input, char* utf8) {
    input = {};
    input.shift = (key.modifiers & kKeyShift) != 0;
    const bool control = (key.modifiers & kKeyControl) != 0;
    utf8[0] = '\0';
    auto typed = [&](char c) {
        utf8[0] = c;
        utf8[1] = '\0';
    };
    switch (key.key) {
    case CKey::backspace: input.key = platform::EditKey::backspace; return true;
    case CKey::returnKey:
    case CKey::enter: input.key = platform::EditKey::returnKey; return true;
    case CKey::escape: input.key = platform::EditKey::escape; return true;
    case CKey::end: input.key = platform::EditKey::end; return true;
    case CKey::home: input.key = platform::EditKey::home; return true;
    case CKey::left: input.key = platform::EditKey::left; return true;
    case CKey::right: input.key = platform::EditKey::right; return true;
    case CKey::del: input.key = platform::EditKey::del; return true;
    case CKey::space: typed(' '); break;
    case CKey::keypadMultiply: typed('*'); break;
    case CKey::keypadAdd: typed('+'); break;
    case CKey::keypadSubtract: typed('-'); break;
    case CKey::keypadDecimal: typed('.'); break;
    case CKey::keypadDivide: typed('/'); break;
    case CKey::none: break;
    default:
        if (key.key >= CKey::keypad0 && key.key <= CKey::keypad9)
            typed(static_cast<char>(
                '0' + (static_cast<int32_t>(key.key) - static_cast<int32_t>(CKey::keypad0))));
        else return false;
        break;
    }
    if (utf8[0] == '\0') {
        if (control) {
            switch (key.character | 0x20) {
            case 'a': input.key = platform::EditKey::selectAll; return true;
            case 'c': input.key = platform::EditKey::copy; return true;
            case 'x': input.key = platform::EditKey::cut; return true;
            case 'v': input.key = platform::EditKey::paste; return true;
            default: return false;
            }
        }
        const int32_t n = encodeUtf8(key.character, utf8);
        if (n == 0) return false;
        utf8[n] = '\0';
    }
    input.key = platform::EditKey::text;
    input.text = utf8;
    return true;
}

}  // namespace

CTextEdit::CTextEdit(const CRect& size, CControlListener* listener, int32_t tag, const char* txt,
                     CBitmap* background, int32_t style)
    : CParamDisplay(size, background, style) {
    this->listener = listener;
    this->tag = tag;
    if (txt) copyText(text, txt);
}

CTextEdit::~CTextEdit() {
    // Destroyed while open (removed from the tree without losing the focus): no commit.
    if (editBox) platform::destroyEditBox(editBox);
    editBox = nullptr;
}

void CTextEdit::setText(const char* txt) {
    if (!txt) return;
    char candidate[kTextBufferSize];
    copyText(candidate, txt);
    if (std::strcmp(candidate, text) != 0) {
        std::memcpy(text, candidate, sizeof text);
        setDirty(true);
    }
}

void CTextEdit::getText(char* txt) const {
    if (txt) std::memcpy(txt, text, std::strlen(text) + 1);
}

void CTextEdit::setTextEditConvert(CTextEditConvert convert) { editConvert = convert; }

void CTextEdit::setTextEditConvert(CTextEditConvertWithData convert, void* data) {
    editConvert2 = convert;
    userData = data;
}

void CTextEdit::draw(CDrawContext* context) {
    if (editBox) {
        setDirty(false);
        return;
    }
    char scratch[kConvertScratchSize];
    scratch[0] = '\0';
    if (editConvert2) {
        editConvert2(text, scratch, userData);
    } else if (editConvert) {
        editConvert(text, scratch);
    } else {
        std::snprintf(scratch, kTextBufferSize, "%s", text);
    }
    scratch[kConvertScratchSize - 1] = '\0';
    cutAtCharacter(scratch, kTextBufferSize - 1);
    drawText(context, scratch);
    setDirty(false);
}

void CTextEdit::mouse(CDrawContext* context, CPoint&) {
    if (!context || !getMouseEnabled() || !parentFrame) return;
    if (!(context->getMouseButtons() & kMouseLeft)) return;
    if (parentFrame->getEditView() == this) return;
    if ((style & kDoubleClickStyle) && !isDoubleClick()) return;
    parentFrame->setEditView(this);
    openedByClick = true;
    takeFocus(context);
    openedByClick = false;
}

void CTextEdit::takeFocus(CDrawContext* context) {
    if (editBox || !parentFrame || !parentFrame->getSystemWindow()) return;
    // Opened some other way than by a click: it still has to be the one edit view, or nothing
    // would ever close its box.
    if (parentFrame->getEditView() != this) parentFrame->setEditView(this);

    CRect r(size);
    if (context) r.offset(context->offset.x, context->offset.y);
    else if (parentView) {
        CRect parentSize;
        parentView->getViewSize(parentSize);
        r.offset(parentSize.left, parentSize.top);
    }

    platform::EditBoxOptions o;
    o.rect = {r.left, r.top, r.left + r.width() + 1, r.top + r.height() + 1};
    o.text = text;
    const int32_t font = fontID >= 0 && fontID < kNumStandardFonts ? fontID : kFontSystem;
    int32_t height = standardFontSize[font];
    if (size.height() - 2 < height) height = size.height() - 2;
    if (height < 1) height = 1;
    o.font.height = -height;
    o.font.weight = 400;
    o.font.pitchAndFamily = 0x22;
    o.font.face = standardFontName[font];
    o.align = horiTxtAlign == kAlignLeft    ? platform::TextAlign::left
              : horiTxtAlign == kAlignRight ? platform::TextAlign::right
                                            : platform::TextAlign::center;
    CColor textColor = fontColor, back = backColor;
    parentFrame->getEditColors(textColor, back);
    o.textColor = textColor.packed();
    o.backColor = back.packed();
    o.limit = kTextBufferSize - 1;
    o.takeKeyboardFocus = openedByClick;
    o.events = this;
    editBox = platform::createEditBox(parentFrame->getSystemWindow(), o);
    if (!editBox && parentFrame->getEditView() == this) parentFrame->setEditView(nullptr);
}

void CTextEdit::looseFocus(CDrawContext* context) { closeBox(true, context); }

void CTextEdit::closeBox(bool commit, CDrawContext* context) {
    if (!editBox || closing) return;
    closing = true;
    // The frame calls looseFocus once more from here; `closing` makes that a no-op.
    if (parentFrame && parentFrame->getEditView() == this) parentFrame->setEditView(nullptr);

    char previous[kTextBufferSize];
    std::memcpy(previous, text, sizeof previous);
    // All 255 bytes the box accepts are read back, not one fewer.
    if (commit) platform::editBoxText(editBox, text, sizeof text);
    platform::destroyEditBox(editBox);
    editBox = nullptr;
    // The field shows its text again (the window system may not send a repaint for the area).
    setDirty(true);

    if (commit && std::strcmp(previous, text) != 0 && listener) {
        platform::Window* window = parentFrame ? parentFrame->getSystemWindow() : nullptr;
        if (context || !window) {
            listener->valueChanged(context, this);
        } else if (platform::Context* dc = platform::getWindowContext(window)) {
            {
                CDrawContext made(parentFrame, dc, window);
                if (parentView) {
                    CRect parentSize;
                    parentView->getViewSize(parentSize);
                    made.offset(parentSize.left, parentSize.top);
                }
                listener->valueChanged(&made, this);
            }
            platform::releaseWindowContext(window, dc);
        } else {
            listener->valueChanged(nullptr, this);
        }
    }
    closing = false;
    if (parentView) parentView->notify(this, "LooseFocus");
    else if (parentFrame) parentFrame->notify(this, "LooseFocus");
}

int32_t CTextEdit::onKeyDown(CKeyCode& keyCode) {
    if (!editBox) return CParamDisplay::onKeyDown(keyCode);
    platform::EditKeyInput input;
    char utf8[8];
    if (translateKey(keyCode, input, utf8)) platform::editBoxKey(editBox, input);
    // Every key belongs to the open box: none may reach another control meanwhile.
    return 1;
}

int32_t CTextEdit::onKeyUp(CKeyCode& keyCode) {
    if (!editBox) return CParamDisplay::onKeyUp(keyCode);
    return 1;
}

int32_t CTextEdit::notify(CView* sender, const char* message) {
    if (message == kMsgKeysRequired) return editBox ? 1 : 0;
    return CParamDisplay::notify(sender, message);
}

void CTextEdit::WindowProcEdit(platform::EditBoxEvent event) {
    switch (event) {
    case platform::EditBoxEvent::returnKey:
    case platform::EditBoxEvent::focusLost: looseFocus(nullptr); break;
    case platform::EditBoxEvent::escapeKey: closeBox(false, nullptr); break;
    case platform::EditBoxEvent::limitReached: break;
    }
}

void CTextEdit::onEditBoxEvent(platform::EditBox* box, platform::EditBoxEvent event) {
    if (box == editBox) WindowProcEdit(event);
}

}  // namespace gui
