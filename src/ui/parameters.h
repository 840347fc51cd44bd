// Parameter dialogs: the OK handling with its range checks and the "%i" number reader.
#pragma once
#include "platform/window.h"
#include <cstdint>

// Text to a signed 32-bit integer with the scanf "%i" rules; -1 for no text, empty text or
// no number. Reading stops at the first character that cannot continue the number.
int32_t parseNumber(const char* text);
// True when the whole text, white space around it aside, is one number by the same rules.
bool readWholeNumber(const char* text, int32_t* value);
// True for "010", " -007": a zero followed by more digits, which people mean as decimal.
bool hasLeadingZero(const char* text);
// A number an operator typed: one whole number as readWholeNumber reads it, except that a
// leading zero followed by more digits ("010") is refused rather than read as octal.
bool readTypedNumber(const char* text, int32_t* value);
// The Warning that refuses typed text: '<name> must be a number from <low> to <high>, not
// "<typed>"', or for a leading zero '<name> must be written in decimal or with 0x, not "010"'.
void refuseTypedNumber(const char* name, int32_t low, int32_t high, const char* typed);
// Reads control id of dialog d as one whole typed number from low to high. Anything else
// (empty, "1.44", "12mA", "0x", "5 6", "010", out of range, more than 39 characters) is refused with a
// Warning naming the field, the range and the typed text, and focus goes back to the field.
bool readNumberField(Dialog d, int id, const char* name, int32_t low, int32_t high,
                     int32_t* value);

// One field of a template, for front-ends that draw or prompt for it; refusals name it by
// refusalName and accept 0 to high (the Electrode field 1 to high).
struct ParameterField {
  int labelId;
  const char* label;
  int editId;
  const char* initialText;
  const char* refusalName;
  int32_t high;
};
struct ParameterTemplateInfo { const char* resourceName; int fieldCount; ParameterField fields[4]; };
const ParameterTemplateInfo& parameterTemplateInfo(ParameterTemplate t);

// OK pressed in an open parameter dialog: reads the nine edits, refuses (with a Warning
// naming the field and its range) a field of this template that is empty, not a number or
// out of range for its command; otherwise fills values. True when the dialog may end.
bool parameterDialogOk(ParameterTemplate t, ParameterValues& values);
