// SPDX-License-Identifier: GPL-3.0-or-later
// The editor where a window layer exists: Corvex's window as a VST2 editor.
#include "editor_factory.h"

#include "vst2/corvex_editor.h"

#include <new>

AEffEditor* createEditorInstance(AudioEffect* effect) {
    return new (std::nothrow) CorvexEditor(effect);
}
