// SPDX-License-Identifier: GPL-3.0-or-later
// The LV2 UI library's entry point: the descriptor of Corvex's X11 UI, the features it takes at
// instantiation and its idle interface. Threads as in lv2/corvex_lv2_ui.h; the descriptors are
// constant data.
#include "lv2/corvex_lv2_ui.h"
#include "lv2/features.h"

#include <lv2/core/lv2.h>
#include <lv2/ui/ui.h>

#include <cstring>
#include <new>

namespace {

using corvex_lv2::findFeature;

using corvex_lv2::CorvexLv2Ui;

LV2UI_Handle instantiate(const LV2UI_Descriptor*, const char* pluginUri, const char*,
                         LV2UI_Write_Function write, LV2UI_Controller controller,
                         LV2UI_Widget* widget, const LV2_Feature* const* features) {
    if (!pluginUri || std::strcmp(pluginUri, corvex_lv2::kPluginUri) != 0) return nullptr;
    void* parent = const_cast<void*>(findFeature(features, LV2_UI__parent));
    if (!parent) return nullptr;  // the window is only ever embedded
    auto* ui = new (std::nothrow) CorvexLv2Ui(
        write, controller, static_cast<const LV2UI_Touch*>(findFeature(features, LV2_UI__touch)),
        static_cast<const LV2UI_Resize*>(findFeature(features, LV2_UI__resize)));
    if (!ui) return nullptr;
    if (!ui->open(parent)) {
        delete ui;
        return nullptr;
    }
    if (widget) *widget = reinterpret_cast<LV2UI_Widget>(ui->widget());
    return ui;
}

void cleanup(LV2UI_Handle ui) { delete static_cast<CorvexLv2Ui*>(ui); }

void portEvent(LV2UI_Handle ui, uint32_t port, uint32_t size, uint32_t format, const void* buffer) {
    static_cast<CorvexLv2Ui*>(ui)->portEvent(port, size, format, buffer);
}

int idle(LV2UI_Handle ui) { return static_cast<CorvexLv2Ui*>(ui)->idle(); }

const LV2UI_Idle_Interface kIdle = {idle};

const void* extensionData(const char* uri) {
    return uri && std::strcmp(uri, LV2_UI__idleInterface) == 0 ? &kIdle : nullptr;
}

const LV2UI_Descriptor kDescriptor = {corvex_lv2::kUiUri, instantiate, cleanup, portEvent,
                                      extensionData};

}  // namespace

extern "C" LV2_SYMBOL_EXPORT const LV2UI_Descriptor* lv2ui_descriptor(uint32_t index) {
    return index == 0 ? &kDescriptor : nullptr;
}
