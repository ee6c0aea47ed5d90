// SPDX-License-Identifier: GPL-3.0-or-later
// CTextEdit: a parameter display that shows a text and lets the user type a new one in a platform
// edit box opened exactly over it. Return, a click elsewhere or the focus moving away commits
// (the listener hears a changed text once); Escape closes the box without committing.
// User-interface thread only; the box's events arrive there too (from the frame's event pump, or
// from host key requests routed through onKeyDown).
#pragma once

#include "gui/paramdisplay.h"

#include "platform/editbox.h"

namespace gui {

using CTextEditConvert = void (*)(char* text, char* shown);
using CTextEditConvertWithData = void (*)(char* text, char* shown, void* data);

class CTextEdit : public CParamDisplay, private platform::EditBoxEvents {
public:
    // txt may be null (empty); texts longer than 255 bytes are cut at a character boundary.
    CTextEdit(const CRect& size, CControlListener* listener, int32_t tag, const char* txt = nullptr,
              CBitmap* background = nullptr, int32_t style = 0);
    ~CTextEdit() override;

    // While the box is open only clears the dirty state: the box shows the text.
    void draw(CDrawContext* context) override;
    // Left click (a double click with kDoubleClickStyle): becomes the frame's edit view and opens
    // the box with the keyboard focus.
    void mouse(CDrawContext* context, CPoint& where) override;
    // Closes the box and commits, when it is open and this is the frame's edit view.
    void looseFocus(CDrawContext* context = nullptr) override;
    // Opens the box over the view, the whole text selected.
    void takeFocus(CDrawContext* context = nullptr) override;
    // While the box is open: keys a host sends through its key requests go into the box.
    int32_t onKeyDown(CKeyCode& keyCode) override;
    int32_t onKeyUp(CKeyCode& keyCode) override;
    // Answers kMsgKeysRequired with 1 while the box is open.
    int32_t notify(CView* sender, const char* message) override;

    // Copies text (null: nothing) and marks the field dirty when it differs.
    virtual void setText(const char* txt);
    // Copies the text into buffer (kTextBufferSize bytes); null: nothing.
    virtual void getText(char* txt) const;
    virtual void setTextEditConvert(CTextEditConvert convert);
    virtual void setTextEditConvert(CTextEditConvertWithData convert, void* userData);

    // The handler of the box's events: Return and focus loss commit, Escape cancels.
    void WindowProcEdit(platform::EditBoxEvent event);
    bool isEditing() const { return editBox != nullptr; }
    platform::EditBox* getEditBox() const { return editBox; }

protected:
    void closeBox(bool commit, CDrawContext* context);
    void onEditBoxEvent(platform::EditBox* box, platform::EditBoxEvent event) override;

    platform::EditBox* editBox = nullptr;
    char text[kTextBufferSize] = {};
    CTextEditConvert editConvert = nullptr;
    CTextEditConvertWithData editConvert2 = nullptr;
    bool openedByClick = false;
    bool closing = false;
};

}  // namespace gui
