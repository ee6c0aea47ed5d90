// SPDX-License-Identifier: GPL-3.0-or-later
// CLabel: box, outline, centred text; the drop text.
#include "window/label.h"

#include "gui/drawcontext.h"

#include <cstdio>
#include <cstring>

CLabel::CLabel(const gui::CRect& size, const char* text) : gui::CParamDisplay(size, nullptr, 0) {
    label[0] = '\0';
    setLabel(text);
}

CLabel::~CLabel() = default;

void CLabel::setLabel(const char* text) {
    if (text) {
        // Copy one byte more than fits so the cut can see whether a character runs past it.
        char scratch[gui::kTextBufferSize + 1];
        std::strncpy(scratch, text, sizeof scratch - 1);
        scratch[sizeof scratch - 1] = '\0';
        gui::cutAtCharacter(scratch, gui::kTextBufferSize - 1);
        std::memcpy(label, scratch, std::strlen(scratch) + 1);
    }
    setDirty(true);
}

void CLabel::draw(gui::CDrawContext* context) {
    if (!context) return;
    context->setFillColor(backColor);
    context->fillRect(size);
    context->setFrameColor(fontColor);
    context->drawRect(size);
    context->setFont(fontID, 0, txtFace);
    context->setFontColor(fontColor);
    context->drawString(label, size, 0, gui::kAlignCenter);
}

bool CLabel::onDrop(void** items, int32_t nbItems, int32_t type, gui::CPoint& where) {
    if (nbItems >= 1 && type == gui::kDropFiles) {
        const char* first = items && items[0] ? static_cast<const char*>(items[0]) : "";
        // Room for any path: the label cuts what does not fit at a character boundary.
        char text[gui::kConvertScratchSize];
        std::snprintf(text, sizeof text, "%d : %s at %d", static_cast<int>(nbItems), first,
                      static_cast<int>(static_cast<int64_t>(where.x) - size.left));
        setLabel(text);
    }
    return true;
}
