// No editor: builds whose window layer does not exist yet (Windows) offer none, and the record
// says so.
#include "editor_factory.h"

AEffEditor* createEditorInstance(AudioEffect*) { return nullptr; }
