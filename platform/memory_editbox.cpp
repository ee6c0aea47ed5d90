// SPDX-License-Identifier: GPL-3.0-or-later
// The in-memory edit box for the unit tests: the shared editing behaviour, a clipboard string,
// and input that the test gives through editBoxKey and the memory controls.
#include "platform/editbox_model.h"
#include "platform/memory_window.h"
#include "window_dispatch.h"

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

namespace platform {

struct EditBox {
    Window* window = nullptr;
    EditBoxOptions options;
    std::string face;
    EditModel model;
    bool focused = false;
};

namespace {

struct EditState {
    std::vector<EditBox*> boxes;
    std::string clipboard;
};
EditState& editState() {
    static EditState s;
    return s;
}

// Applies a command; true when used. May destroy the box (through its handler) before returning.
bool handle(EditBox* box, const EditKeyInput& input) {
    EditModel::Result r = box->model.apply(input);
    switch (r) {
    case EditModel::Result::copy: editState().clipboard = box->model.selected(); return true;
    case EditModel::Result::cut:
        editState().clipboard = box->model.selected();
        box->model.deleteSelection();
        return true;
    case EditModel::Result::paste: r = box->model.insert(editState().clipboard); break;
    default: break;
    }
    EditBoxEvents* events = box->options.events;
    switch (r) {
    case EditModel::Result::returnKey:
        if (events) events->onEditBoxEvent(box, EditBoxEvent::returnKey);
        return true;
    case EditModel::Result::escapeKey:
        if (events) events->onEditBoxEvent(box, EditBoxEvent::escapeKey);
        return true;
    case EditModel::Result::refused:
        if (events) events->onEditBoxEvent(box, EditBoxEvent::limitReached);
        return true;
    case EditModel::Result::none: return false;
    default: return true;
    }
}

bool live(EditBox* box) {
    auto& b = editState().boxes;
    return box && std::find(b.begin(), b.end(), box) != b.end();
}

}  // namespace

EditBox* createEditBox(Window* window, const EditBoxOptions& options) {
    if (!window || !windowAlive(window)) return nullptr;
    auto* box = new EditBox;
    box->window = window;
    box->options = deviceEditBox(options, windowScale(window));
    box->face = options.font.face ? options.font.face : "";
    box->options.font.face = box->face.c_str();
    box->options.text = nullptr;
    box->model.reset(options.text, options.limit);
    box->focused = options.takeKeyboardFocus;
    editState().boxes.push_back(box);
    return box;
}

void destroyEditBox(EditBox* box) {
    if (!live(box)) return;
    auto& b = editState().boxes;
    b.erase(std::find(b.begin(), b.end(), box));
    delete box;
}

std::size_t editBoxText(EditBox* box, char* buffer, std::size_t size) {
    if (!buffer || size == 0) return 0;
    buffer[0] = '\0';
    if (!live(box)) return 0;
    const std::string& t = box->model.text();
    size_t n = std::min(t.size(), size - 1);
    while (n > 0 && n < t.size() && (static_cast<unsigned char>(t[n]) & 0xC0) == 0x80) --n;
    std::memcpy(buffer, t.data(), n);
    buffer[n] = '\0';
    return n;
}

bool editBoxKey(EditBox* box, const EditKeyInput& input) { return live(box) && handle(box, input); }

EditSelection editBoxSelection(EditBox* box) {
    if (!live(box)) return {};
    return {box->model.anchor(), box->model.caret()};
}

namespace memory {

EditBox* editBoxOf(Window* window) {
    auto& b = editState().boxes;
    for (auto it = b.rbegin(); it != b.rend(); ++it)
        if ((*it)->window == window) return *it;
    return nullptr;
}

int32_t liveEditBoxes() { return static_cast<int32_t>(editState().boxes.size()); }

EditBoxOptions editBoxOptions(EditBox* box) { return live(box) ? box->options : EditBoxOptions{}; }

bool editBoxHasFocus(EditBox* box) { return live(box) && box->focused; }

void editBoxType(EditBox* box, const char* utf8) {
    if (!utf8) return;
    // One character at a time, as keys arrive.
    const std::string s = utf8;
    for (size_t i = 0; i < s.size() && live(box);) {
        size_t n = 1;
        while (i + n < s.size() && (static_cast<unsigned char>(s[i + n]) & 0xC0) == 0x80) ++n;
        const std::string one = s.substr(i, n);
        EditKeyInput in;
        in.text = one.c_str();
        handle(box, in);
        i += n;
    }
}

void editBoxFocusOut(EditBox* box) {
    if (!live(box)) return;
    box->focused = false;
    if (box->options.events) box->options.events->onEditBoxEvent(box, EditBoxEvent::focusLost);
}

void setClipboard(const std::string& text) { editState().clipboard = text; }
std::string clipboard() { return editState().clipboard; }

}  // namespace memory

}  // namespace platform
