// SPDX-License-Identifier: GPL-3.0-or-later
// The editor the plug-in gives its effect: Corvex's window, on whichever window layer the build
// links.
#pragma once

#include "host/audioeffect.h"

class AEffEditor;

// A new editor registered with effect (which owns it from then on), or null.
AEffEditor* createEditorInstance(AudioEffect* effect);
