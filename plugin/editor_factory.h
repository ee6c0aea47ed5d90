// The editor the plug-in gives its effect: Corvex's window where this build has a window layer,
// none where it does not yet.
#pragma once

#include "host/audioeffect.h"

class AEffEditor;

// A new editor registered with effect (which owns it from then on), or null.
AEffEditor* createEditorInstance(AudioEffect* effect);
