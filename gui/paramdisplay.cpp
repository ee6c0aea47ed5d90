// SPDX-License-Identifier: GPL-3.0-or-later
// CParamDisplay: formatting the value and drawing the box, its borders and the text.
#include "gui/paramdisplay.h"

#include "gui/bitmap.h"
#include "gui/drawcontext.h"

#include <cstdio>
#include <cstring>

namespace gui {

void cutAtCharacter(char* text, int32_t maxBytes) {
    if (!text || maxBytes < 0) return;
    const size_t length = strnlen(text, static_cast<size_t>(maxBytes) + 1);
    if (length <= static_cast<size_t>(maxBytes)) return;
    size_t cut = static_cast<size_t>(maxBytes);
    // Back up over continuation bytes so that no character is left half.
    while (cut > 0 && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80) --cut;
    text[cut] = '\0';
}

CParamDisplay::CParamDisplay(const CRect& size, CBitmap* background, int32_t style)
    : CControl(size, nullptr, 0, background), style(style) {
    if (style & kNoDrawStyle) setDirty(false);
}

CParamDisplay::~CParamDisplay() = default;

void CParamDisplay::setFont(CFont font) {
    if (fontID != font) setDirty(true);
    fontID = font;
}

void CParamDisplay::setFontColor(CColor color) {
    if (color != fontColor) setDirty(true);
    fontColor = color;
}

void CParamDisplay::setBackColor(CColor color) {
    if (color != backColor) setDirty(true);
    backColor = color;
}

void CParamDisplay::setFrameColor(CColor color) {
    if (color != frameColor) setDirty(true);
    frameColor = color;
}

void CParamDisplay::setShadowColor(CColor color) {
    if (color != shadowColor) setDirty(true);
    shadowColor = color;
}

void CParamDisplay::setHoriAlign(CHoriTxtAlign align) {
    if (align != horiTxtAlign) setDirty(true);
    horiTxtAlign = align;
}

void CParamDisplay::setStringConvert(CStringConvert convert) { stringConvert = convert; }

void CParamDisplay::setStringConvert(CStringConvertWithData convert, void* data) {
    stringConvert2 = convert;
    userData = data;
}

void CParamDisplay::setString2FloatConvert(CString2FloatConvert convert) {
    string2FloatConvert = convert;
}

void CParamDisplay::setStyle(int32_t val) {
    if (style != val) {
        style = val;
        setDirty(true);
    }
}

void CParamDisplay::setTxtFace(int32_t val) {
    if (txtFace != val) setDirty(true);
    txtFace = val;
}

void CParamDisplay::draw(CDrawContext* context) {
    // The converters get room to spare; whatever they write past 255 bytes is cut here.
    char scratch[kConvertScratchSize];
    scratch[0] = '\0';
    if (stringConvert2) {
        stringConvert2(value, scratch, userData);
    } else if (stringConvert) {
        stringConvert(value, scratch);
    } else {
        std::snprintf(scratch, kTextBufferSize, "%2.2f", static_cast<double>(value));
    }
    scratch[kConvertScratchSize - 1] = '\0';
    cutAtCharacter(scratch, kTextBufferSize - 1);
    drawText(context, scratch);
}

void CParamDisplay::drawText(CDrawContext* context, const char* string, CBitmap* newBack) {
    setDirty(false);
    if (style & kNoDrawStyle) return;
    if (!context) return;

    CBitmap* back = newBack ? newBack : pBackground;
    if (back) {
        if (getTransparency()) back->drawTransparent(context, size, backOffset);
        else back->draw(context, size, backOffset);
    } else if (!getTransparency()) {
        context->setFillColor(backColor);
        context->fillRect(size);
        if (!(style & (k3DIn | k3DOut))) {
            context->setFrameColor(frameColor);
            context->drawRect(size);
        }
    }

    if (style & (k3DIn | k3DOut)) {
        const CColor first = (style & k3DIn) ? backColor : frameColor;
        const CColor second = (style & k3DIn) ? frameColor : backColor;
        context->setFrameColor(first);
        context->moveTo(CPoint(size.left, size.bottom));
        context->lineTo(CPoint(size.left, size.top));
        context->lineTo(CPoint(size.right + 1, size.top));
        context->setFrameColor(second);
        context->moveTo(CPoint(size.right, size.top + 1));
        context->lineTo(CPoint(size.right, size.bottom));
        context->lineTo(CPoint(size.left, size.bottom));
    }

    if (!(style & kNoTextStyle) && string) {
        context->setFont(fontID, 0, txtFace);
        const int16_t opaque = textTransparency ? 0 : 1;
        if (style & kShadowText) {
            CRect shadow(size);
            shadow.offset(1, 1);
            context->setFontColor(shadowColor);
            context->drawString(string, shadow, opaque, horiTxtAlign);
        }
        context->setFontColor(fontColor);
        context->drawString(string, size, opaque, horiTxtAlign);
    }
}

}  // namespace gui
