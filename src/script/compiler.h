// Script compiler: source text to a script image or the diagnostic saying why there is none.
// It shows nothing: the Script Manager puts the diagnostic in its Compiler Output pane and
// kinestim-script prints it.
#pragma once
#include "script/instruction_set.h"
#include <cstdint>
#include <string>

// Why a source or sample file gave no image: the message, the token or field it names ("" when
// none) and that token's byte offset in the text (-1 when it names none).
struct ScriptDiagnostic {
  std::string message;
  std::string detail;
  long offset = -1;
};
// The diagnostic as one line: the message, or the message, one space and the detail.
std::string diagnosticText(const ScriptDiagnostic& diagnostic);

// What a build gives: built with an image (address 0; the caller sets the start address,
// and the image belongs to the caller), or not built, no image, and the diagnostic.
struct ScriptBuild {
  bool built = false;
  ScriptImage image{nullptr, 0, 0};
  ScriptDiagnostic diagnostic;
};

// Compiles NUL-terminated source text.
ScriptBuild compileScript(const char* text);

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

// Reads a script source or sample file whole: a malloc'ed NUL-terminated text owned by the
// caller, or nullptr when it cannot be read. *partial tells that fewer bytes arrived than the
// file holds (the program goes on with them and says READ_PARTLY_TEXT).
char* readScriptFile(const char* path, bool* partial);
constexpr const char* READ_PARTLY_TEXT = "Failed to read whole file! Continuing anyway";
