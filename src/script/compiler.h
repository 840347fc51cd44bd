// Script compiler: source text to a script image, the Compiler Output pane writer and the
// Open-dialog file reader used by the Script Manager's upload paths.
#pragma once
#include "script/instruction_set.h"
#include <cstdint>

// Compiles NUL-terminated source text. On success image holds the instructions (address 0;
// the caller sets the start address) and belongs to the caller. On failure the error is in
// the Compiler Output pane, no image exists, and *errorOffset (when given) is the byte
// offset of the token the error names.
bool compileScript(const char* text, ScriptImage& image, long* errorOffset = nullptr);

// Finds the next keyword token at or after pos, skipping separators and ";" comments.
// False at the end of the text; otherwise the token is text[*start, *end).
bool nextKeyword(const char* text, long pos, long* start, long* end);

// Reads the numbers of an instruction from pos (just after its keyword) and appends the
// operand bytes at bytes[*length], advancing *length. Returns the position after the last
// character the numbers used, or -1 when a number is missing or out of range.
long encodeArguments(int opcode, const char* text, long pos, uint8_t* bytes, int* length);

// One number as the scanf "%i" conversion reads it: leading white space (space, tab, CR,
// LF, VT, FF), optional sign, then 0x/0X and hexadecimal digits, a 0 and octal digits, or
// decimal digits, ending at the first character that cannot continue it. False when no
// number starts there. A value too large for 32 bits is reported as a value beyond every
// range (it never wraps). *next is the position after the number.
bool readScanfInteger(const char* text, long pos, int64_t* value, long* next);

// Replaces the whole Compiler Output pane with the message, or with message, one space and
// the detail when a detail is given.
void showCompilerOutput(const char* message, const char* detail = nullptr);
// The text the pane was last given ("" after reset), for front-ends without the pane.
const char* lastCompilerOutput();
void resetCompilerOutput();

// Lets the operator choose a file and reads it whole. Returns a malloc'ed NUL-terminated
// text owned by the caller, or nullptr when cancelled or not read.
char* readChosenFile();
// The same whole-file read for a known path (a partial read shows "Failed to read whole
// file! Continuing anyway" and goes on with what arrived).
char* readScriptFile(const char* path);
