// SPDX-License-Identifier: GPL-3.0-or-later
// What a top-level window's tests record of its events, the same on every window system: keys
// with their order among the notices, close requests and focus losses. Built on Linux and in the
// Windows tests alike.
#pragma once

#include "platform/editbox.h"
#include "platform/raster.h"
#include "platform/window.h"

#include <string>
#include <vector>

namespace testsupport {

struct Pressed {
    platform::KeyEvent event;
    bool down = false;
};

struct TopLevelRecorder : platform::WindowEvents {
    int paints = 0, closes = 0, focusOuts = 0, destroyed = 0;
    std::vector<Pressed> keys;
    std::vector<std::string> order;  // keys (by character) and notices, as they came
    platform::Window* window = nullptr;
    bool take = true;             // what onKey answers
    bool destroyOnClose = false;  // a close request ends the window, as an owner would
    bool fill = false;            // paint each exposed area in fillColor
    platform::Color fillColor = 0;

    void onPaint(platform::Context* c, const platform::Rect& r) override {
        ++paints;
        if (!fill) return;
        platform::Brush* b = platform::createSolidBrush(fillColor);
        platform::fillRect(c, r, b);
        platform::deleteBrush(b);
    }
    void onButtonDown(platform::Context*, platform::Point, int, uint32_t) override {}
    void onDestroyed() override { ++destroyed; }
    bool onDrop(platform::DropKind, const char* const*, int32_t, std::size_t,
                platform::Point) override {
        return false;
    }
    bool onKey(const platform::KeyEvent& k, bool down) override {
        keys.push_back({k, down});
        order.push_back(std::string(down ? "down " : "up ") + std::to_string(k.character));
        return take;
    }
    void onCloseRequest() override {
        ++closes;
        order.push_back("close");
        if (destroyOnClose) platform::destroyWindow(window);
    }
    void onFocusOut() override {
        ++focusOuts;
        order.push_back("focus-out");
    }
};

struct BoxEvents : platform::EditBoxEvents {
    std::vector<platform::EditBoxEvent> seen;
    void onEditBoxEvent(platform::EditBox*, platform::EditBoxEvent e) override {
        seen.push_back(e);
    }
};

}  // namespace testsupport
