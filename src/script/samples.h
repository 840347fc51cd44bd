// Sample-file script generator: rows of four current samples to SetAllElectrodes and Delay
// instructions ending with Stop.
#pragma once
#include "script/compiler.h"
#include "script/instruction_set.h"
#include <cstdint>
#include <string>

// Longest sample field accepted.
constexpr int SAMPLE_FIELD_MAX = 19;

// Current code of a field that is wholly one decimal number (optional sign, digits with an
// optional point, optional exponent): code c when v is within 1e-9 of c x 0.02 - 2.56 for a
// c from 0 to 255, else (v + 2.56) / 0.02 in 80-bit extended precision, truncated toward zero
// (saturated to the int range). False when the field is not such a number.
bool sampleCode(const char* field, int* code);

// Delay count T / 25 - 1 of a timestep in milliseconds (0 or below means no Delay). False
// (the caller says INVALID_TIMESTEP_TEXT) when T is negative or the count would pass 65535.
bool sampleDelayCount(int32_t timestepMs, int* delay);
constexpr const char* INVALID_TIMESTEP_TEXT = "Invalid timestep";

// For a timestep that is not a whole number of steps (0 included): what each row will last,
// "Timestep 40 ms: each row lasts 25 ms (steps of 25 ms)"; "" otherwise.
std::string timestepNotice(int32_t timestepMs);

// Builds the image for NUL-terminated sample text (address 0; the caller sets it), or the
// diagnostic naming the field (offsets are not kept for sample files).
ScriptBuild generateSampleImage(const char* text, int delay);
