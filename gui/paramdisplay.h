// SPDX-License-Identifier: GPL-3.0-or-later
// CParamDisplay: a control that shows its value as text in a box, formatted with "%2.2f" or by a
// conversion its owner supplies, over a bitmap, a filled box or nothing, with optional borders and
// a shadowed text. Takes no input of its own. User-interface thread only.
#pragma once

#include "gui/control.h"

namespace gui {

// Style bits read by the drawing.
enum : int32_t {
    k3DIn = 0x80,       // top/left edges in the back colour, right/bottom in the frame colour
    k3DOut = 0x100,     // the reverse
    kShadowText = 0x4,  // the text first drawn one pixel right and down in the shadow colour
    kNoTextStyle = 0x800,
    kNoDrawStyle = 0x1000,
    kDoubleClickStyle = 0x2000,  // text fields: only a double click opens the edit box
};

// Conversions write at most 255 bytes and a terminator into text; longer output is cut.
using CStringConvert = void (*)(float value, char* text);
using CStringConvertWithData = void (*)(float value, char* text, void* data);
using CString2FloatConvert = void (*)(char* text, float& value);

// Capacity of the texts displays and fields draw, terminator included.
inline constexpr int32_t kTextBufferSize = 256;
// Room given to conversion functions: output beyond kTextBufferSize - 1 bytes is cut afterwards
// instead of overrunning the draw buffer.
inline constexpr int32_t kConvertScratchSize = 4096;
// Cuts a UTF-8 text at the last character boundary that leaves at most maxBytes bytes.
void cutAtCharacter(char* text, int32_t maxBytes);

class CParamDisplay : public CControl {
public:
    CParamDisplay(const CRect& size, CBitmap* background = nullptr, int32_t style = 0);
    ~CParamDisplay() override;

    void draw(CDrawContext* context) override;

    // The setters mark the display dirty only when the value changes.
    virtual void setFont(CFont fontID);
    virtual void setFontColor(CColor color);
    virtual void setBackColor(CColor color);
    virtual void setFrameColor(CColor color);
    virtual void setShadowColor(CColor color);
    virtual void setHoriAlign(CHoriTxtAlign hAlign);
    // Store only; the one with data wins when both are set.
    virtual void setStringConvert(CStringConvert convert);
    virtual void setStringConvert(CStringConvertWithData convert, void* userData);
    virtual void setString2FloatConvert(CString2FloatConvert convert);
    virtual void setStyle(int32_t val);
    virtual void setTxtFace(int32_t val);
    virtual void setTextTransparency(bool val) { textTransparency = val; }

    // Draws the box with text (may be null: no text) over newBack, or the display's own bitmap.
    void drawText(CDrawContext* context, const char* text, CBitmap* newBack = nullptr);
    CColor getFontColor() const { return fontColor; }
    CColor getBackColor() const { return backColor; }
    CColor getFrameColor() const { return frameColor; }
    CColor getShadowColor() const { return shadowColor; }
    CFont getFont() const { return fontID; }
    int32_t getTxtFace() const { return txtFace; }
    CHoriTxtAlign getHoriAlign() const { return horiTxtAlign; }
    int32_t getStyle() const { return style; }
    bool getTextTransparency() const { return textTransparency; }
    CString2FloatConvert getString2FloatConvert() const { return string2FloatConvert; }

protected:
    CStringConvert stringConvert = nullptr;
    CStringConvertWithData stringConvert2 = nullptr;
    CString2FloatConvert string2FloatConvert = nullptr;
    void* userData = nullptr;
    CHoriTxtAlign horiTxtAlign = kAlignCenter;
    int32_t style = 0;
    CFont fontID = kFontNormal;
    int32_t txtFace = 0;
    CColor fontColor = kWhiteCColor;
    CColor backColor = kBlackCColor;
    CColor frameColor = kBlackCColor;
    CColor shadowColor = kRedCColor;
    bool textTransparency = true;
};

}  // namespace gui
