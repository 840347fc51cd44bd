// The Script Manager's Compiler Output pane and its Open dialog for script files.
#pragma once
#include "script/compiler.h"

// Replaces the whole Compiler Output pane with the message, or with message, one space and
// the detail when a detail is given.
void showCompilerOutput(const char* message);
void showDiagnostic(const ScriptDiagnostic& diagnostic);
// The text the pane was last given ("" after reset), for front-ends without the pane.
const char* lastCompilerOutput();
void resetCompilerOutput();

// Lets the operator choose a file and reads it whole (a partial read is said in the pane).
// Returns a malloc'ed NUL-terminated text owned by the caller, or nullptr when cancelled or
// not read.
char* readChosenFile();
