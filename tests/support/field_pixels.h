// SPDX-License-Identifier: GPL-3.0-or-later
// The value field of an 85 x 12 box, drawn on an in-memory surface with the editor's font and
// colours: what a window must show for that text, for the tests that read the window back.
#pragma once

#include "gui/drawcontext.h"
#include "gui/textedit.h"
#include "platform/raster.h"

#include <cstdint>
#include <string>
#include <vector>

namespace testsupport {

inline std::vector<uint32_t> fieldInMemory(const std::string& text) {
    platform::Bitmap* bitmap = platform::createBitmap(85, 12);
    platform::Context* dc = platform::createContext(nullptr);
    platform::selectBitmap(dc, bitmap);
    {
        gui::CDrawContext context(nullptr, dc, nullptr);
        gui::CTextEdit field(gui::CRect(0, 0, 85, 12), nullptr, 0, text.c_str());
        field.setFont(gui::kFontSmaller);
        field.setFontColor(gui::kBlackCColor);
        field.setBackColor(gui::CColor{160, 160, 160, 0});
        field.draw(&context);
    }
    std::vector<uint32_t> pixels;
    int32_t stride = 0;
    const uint32_t* p = platform::bitmapPixels(bitmap, &stride);
    for (int32_t y = 0; y < 12; ++y)
        for (int32_t x = 0; x < 85; ++x) pixels.push_back(p[y * stride + x] & 0xFFFFFF);
    platform::deleteContext(dc);
    platform::deleteBitmap(bitmap);
    return pixels;
}

}  // namespace testsupport
