// Parameter dialogs: the OK handling with its range checks, and the program's "%i"-style readers of the numbers the operator types.
#include "ui/parameters.h"
#include "ui/message_boxes.h"
#include "resource.h"
#include <cstdint>
#include <cstdio>

namespace {

constexpr int EDIT_TEXT_SIZE = 40;   // at most 39 characters of each edit are read

bool isSpace(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

// Value of c as a digit of the given base, or -1 when it is not one.
int digitValue(char c, int base) {
  int v = -1;
  if (c >= '0' && c <= '9') v = c - '0';
  else if (c >= 'a' && c <= 'f') v = c - 'a' + 10;
  else if (c >= 'A' && c <= 'F') v = c - 'A' + 10;
  return v < base ? v : -1;
}

// Scans one number at text with the "%i" rules: white space, optional sign, then 0x/0X
// hexadecimal, leading 0 octal or decimal, up to the first character that cannot continue
// it. Returns where the number ends, or nullptr when there is none ("0x" with no hexadecimal
// digit is none). Values beyond 32 bits saturate at the nearest limit instead of wrapping.
const char* scanNumber(const char* text, int32_t* value) {
  const char* p = text;
  while (isSpace(*p)) ++p;
  bool negative = false;
  if (*p == '+' || *p == '-') {
    negative = *p == '-';
    ++p;
  }
  int base = 10;
  if (p[0] == '0' && (p[1] == 'x' || p[1] == 'X')) {
    base = 16;
    p += 2;
  } else if (p[0] == '0') {
    base = 8;
  }
  if (digitValue(*p, base) < 0) return nullptr;
  const uint64_t limit = negative ? 2147483648ull : 2147483647ull;
  uint64_t magnitude = 0;
  for (int d = digitValue(*p, base); d >= 0; d = digitValue(*++p, base)) {
    magnitude = magnitude * static_cast<uint64_t>(base) + static_cast<uint64_t>(d);
    if (magnitude > limit) magnitude = limit + 1;   // stays above the limit, never overflows
  }
  if (magnitude > limit) magnitude = limit;
  int64_t v = negative ? -static_cast<int64_t>(magnitude) : static_cast<int64_t>(magnitude);
  *value = static_cast<int32_t>(v);
  return p;
}

// Reads one edit of the open dialog with parseNumber.
int32_t readEdit(int editId) {
  char text[EDIT_TEXT_SIZE];
  getControlText(Dialog::Parameters, editId, text, EDIT_TEXT_SIZE);
  return parseNumber(text);
}

}  // namespace

int32_t parseNumber(const char* text) {
  int32_t value = -1;
  if (text == nullptr || scanNumber(text, &value) == nullptr) return -1;
  return value;
}

bool readWholeNumber(const char* text, int32_t* value) {
  if (text == nullptr) return false;
  const char* end = scanNumber(text, value);
  if (end == nullptr) return false;
  while (isSpace(*end)) ++end;
  return *end == '\0';
}

bool hasLeadingZero(const char* text) {
  const char* p = text;
  while (isSpace(*p)) ++p;
  if (*p == '+' || *p == '-') ++p;
  return p[0] == '0' && p[1] >= '0' && p[1] <= '9';
}

bool readTypedNumber(const char* text, int32_t* value) {
  return text != nullptr && !hasLeadingZero(text) && readWholeNumber(text, value);
}

void refuseTypedNumber(const char* name, int32_t low, int32_t high, const char* typed) {
  char warning[160];
  if (typed != nullptr && hasLeadingZero(typed))
    std::snprintf(warning, sizeof warning, "%s must be written in decimal or with 0x, not \"%s\"", name, typed);
  else
    std::snprintf(warning, sizeof warning, "%s must be a number from %d to %d, not \"%s\"", name,
                  static_cast<int>(low), static_cast<int>(high), typed != nullptr ? typed : "");
  showWarning(warning);
}

// Text longer than a field holds is refused whole rather than read as its first characters.
bool readNumberField(Dialog d, int id, const char* name, int32_t low, int32_t high,
                     int32_t* value) {
  char text[EDIT_TEXT_SIZE + 1];
  int length = getControlText(d, id, text, sizeof text);
  if (length < EDIT_TEXT_SIZE && readTypedNumber(text, value) && *value >= low && *value <= high)
    return true;
  if (length >= EDIT_TEXT_SIZE) std::snprintf(text + EDIT_TEXT_SIZE - 4, 4, "...");
  refuseTypedNumber(name, low, high, text);
  focusControl(d, id);
  return false;
}

const ParameterTemplateInfo& parameterTemplateInfo(ParameterTemplate t) {
  // Per field: label control and text, edit control and initial text, the name a refusal
  // uses and the highest value its command can carry. Indexed by ParameterTemplate.
  static const ParameterTemplateInfo templates[] = {
      {"DIALOG_PARAMSADDRESS", 1,
       {{IDC_ADDRESS_LABEL, "Address (16-bit)", IDC_ADDRESS_EDIT, "0", "Address", 65535}}},
      {"DIALOG_PARAMSADDRESSCOUNT", 2,
       {{IDC_ADDRESS_LABEL, "Address (16-bit)", IDC_ADDRESS_EDIT, "0", "Address", 65535},
        {IDC_COUNT_LABEL, "Count", IDC_COUNT_EDIT, "16", "Count", 255}}},
      {"DIALOG_PARAMSCOUNTANDSTEP", 2,
       {{IDC_COUNT_LABEL, "Count (16-bit)", IDC_COUNT_EDIT, "10", "Count", 65535},
        {IDC_STEP_LABEL, "Step", IDC_STEP_EDIT, "1", "Step", 255}}},
      {"DIALOG_PARAMSCURRENT", 2,
       {{IDC_ELECTRODE_LABEL, "Electrode", IDC_ELECTRODE_EDIT, "", "Electrode", 4},
        {IDC_CURRENT_LABEL, "Current", IDC_CURRENT_EDIT, "", "Current", 255}}},
      {"DIALOG_PARAMSCURRENTS", 4,
       {{IDC_CURRENT1_LABEL, "1", IDC_CURRENT1_EDIT, "", "Current 1", 255},
        {IDC_CURRENT2_LABEL, "2", IDC_CURRENT2_EDIT, "", "Current 2", 255},
        {IDC_CURRENT3_LABEL, "3", IDC_CURRENT3_EDIT, "", "Current 3", 255},
        {IDC_CURRENT4_LABEL, "4", IDC_CURRENT4_EDIT, "", "Current 4", 255}}},
  };
  int index = static_cast<int>(t);
  return templates[index >= 0 && index < 5 ? index : 4];
}

// A field of the open template that is not one whole number in the range its command can
// carry is refused with a Warning naming it, and the dialog stays open with nothing returned.
// Accepted entries fill all the values from the nine edits; edits the template lacks
// read as empty text and store -1 (255 in the 8-bit fields).
bool parameterDialogOk(ParameterTemplate t, ParameterValues& values) {
  const ParameterTemplateInfo& info = parameterTemplateInfo(t);
  for (int i = 0; i < info.fieldCount; ++i) {
    const ParameterField& rule = info.fields[i];
    int32_t value = 0;
    // The device has electrodes 1 to 4; another number would only be rejected by it, unseen.
    const int32_t low = rule.editId == IDC_ELECTRODE_EDIT ? 1 : 0;
    if (!readNumberField(Dialog::Parameters, rule.editId, rule.refusalName, low, rule.high, &value))
      return false;
  }
  ParameterValues b;
  b.electrode = static_cast<uint8_t>(readEdit(IDC_ELECTRODE_EDIT));
  b.current = static_cast<uint8_t>(readEdit(IDC_CURRENT_EDIT));
  b.currents[0] = static_cast<uint8_t>(readEdit(IDC_CURRENT1_EDIT));
  b.currents[1] = static_cast<uint8_t>(readEdit(IDC_CURRENT2_EDIT));
  b.currents[2] = static_cast<uint8_t>(readEdit(IDC_CURRENT3_EDIT));
  b.currents[3] = static_cast<uint8_t>(readEdit(IDC_CURRENT4_EDIT));
  b.address = readEdit(IDC_ADDRESS_EDIT);
  b.count = readEdit(IDC_COUNT_EDIT);
  b.step = static_cast<uint8_t>(readEdit(IDC_STEP_EDIT));
  values = b;
  return true;
}
