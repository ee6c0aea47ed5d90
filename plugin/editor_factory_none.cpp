// SPDX-License-Identifier: GPL-3.0-or-later
// The editor of a build without a window system (the engine-only cross builds): none. Hosts
// then see a plug-in without an editor and offer their own controls.
#include "editor_factory.h"

AEffEditor* createEditorInstance(AudioEffect*) { return nullptr; }
