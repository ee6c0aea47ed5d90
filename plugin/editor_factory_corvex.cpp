// The editor where a window layer exists: CorvexEditor, given what it needs of the engine.
#include "editor_factory.h"

#include "engine/corvex.h"
#include "editor/corvex_editor.h"

#include <new>

namespace {

void typedValue(char* text, float& value) { string2float(text, value); }

}  // namespace

AEffEditor* createEditorInstance(AudioEffect* effect) {
    return new (std::nothrow) CorvexEditor(effect, CorvexEditorHooks{&typedValue});
}
