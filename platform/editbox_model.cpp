// SPDX-License-Identifier: GPL-3.0-or-later
// The edit box's behaviour, shared by the backends: caret, selection, limit and the commands.
#include "platform/editbox_model.h"

#include "utf8.h"

#include <algorithm>

namespace platform {

namespace {

bool continuation(unsigned char c) { return utf8::continuation(c); }

}  // namespace

void EditModel::reset(const char* text, int32_t limit) {
    maxBytes = std::max<int32_t>(0, limit);
    content.clear();
    if (text) {
        const std::string clean = utf8::clean(text);
        content.assign(clean, 0, utf8::boundaryAtOrBefore(clean, static_cast<size_t>(maxBytes)));
    }
    selectAll();
}

void EditModel::selectAll() {
    anchorPos = 0;
    caretPos = static_cast<int32_t>(content.size());
}

void EditModel::setCaret(int32_t offset, bool extend) {
    offset = std::clamp<int32_t>(offset, 0, static_cast<int32_t>(content.size()));
    while (offset > 0 && offset < static_cast<int32_t>(content.size()) &&
           continuation(static_cast<unsigned char>(content[static_cast<size_t>(offset)])))
        --offset;
    caretPos = offset;
    if (!extend) anchorPos = offset;
}

int32_t EditModel::previousBoundary(int32_t offset) const {
    if (offset <= 0) return 0;
    --offset;
    while (offset > 0 &&
           continuation(static_cast<unsigned char>(content[static_cast<size_t>(offset)])))
        --offset;
    return offset;
}

int32_t EditModel::nextBoundary(int32_t offset) const {
    const auto size = static_cast<int32_t>(content.size());
    if (offset >= size) return size;
    ++offset;
    while (offset < size &&
           continuation(static_cast<unsigned char>(content[static_cast<size_t>(offset)])))
        ++offset;
    return offset;
}

std::string EditModel::selected() const {
    const auto from = static_cast<size_t>(std::min(caretPos, anchorPos));
    const auto to = static_cast<size_t>(std::max(caretPos, anchorPos));
    return content.substr(from, to - from);
}

void EditModel::deleteSelection() {
    const int32_t from = std::min(caretPos, anchorPos);
    const int32_t to = std::max(caretPos, anchorPos);
    content.erase(static_cast<size_t>(from), static_cast<size_t>(to - from));
    caretPos = anchorPos = from;
}

EditModel::Result EditModel::insert(const std::string& text) {
    const std::string clean = utf8::clean(text);
    if (clean.empty()) return Result::none;
    const int32_t selectedBytes = std::abs(caretPos - anchorPos);
    const int32_t room = maxBytes - (static_cast<int32_t>(content.size()) - selectedBytes);
    const size_t take = utf8::boundaryAtOrBefore(clean, static_cast<size_t>(std::max(room, 0)));
    if (take == 0) return Result::refused;
    deleteSelection();
    content.insert(static_cast<size_t>(caretPos), clean, 0, take);
    caretPos = anchorPos = caretPos + static_cast<int32_t>(take);
    return take < clean.size() ? Result::refused : Result::changed;
}

EditModel::Result EditModel::apply(const EditKeyInput& in) {
    const auto size = static_cast<int32_t>(content.size());
    switch (in.key) {
    case EditKey::text: return in.text ? insert(in.text) : Result::none;
    case EditKey::left:
        if (hasSelection() && !in.shift) setCaret(std::min(caretPos, anchorPos), false);
        else setCaret(previousBoundary(caretPos), in.shift);
        return Result::moved;
    case EditKey::right:
        if (hasSelection() && !in.shift) setCaret(std::max(caretPos, anchorPos), false);
        else setCaret(nextBoundary(caretPos), in.shift);
        return Result::moved;
    case EditKey::home: setCaret(0, in.shift); return Result::moved;
    case EditKey::end: setCaret(size, in.shift); return Result::moved;
    case EditKey::backspace:
        if (!hasSelection()) {
            if (caretPos == 0) return Result::none;
            anchorPos = previousBoundary(caretPos);
        }
        deleteSelection();
        return Result::changed;
    case EditKey::del:
        if (!hasSelection()) {
            if (caretPos == size) return Result::none;
            anchorPos = nextBoundary(caretPos);
        }
        deleteSelection();
        return Result::changed;
    case EditKey::selectAll: selectAll(); return Result::moved;
    case EditKey::copy: return hasSelection() ? Result::copy : Result::none;
    case EditKey::cut:
        if (!hasSelection()) return Result::none;
        return Result::cut;
    case EditKey::paste: return Result::paste;
    case EditKey::returnKey: return Result::returnKey;
    case EditKey::escape: return Result::escapeKey;
    }
    return Result::none;
}

}  // namespace platform
