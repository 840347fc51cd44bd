// The console's printed lines on their way out: plain, plain with a time stamp, or one JSON
// object per line for programs; and the record of printed lines that ":wait" looks through.
#pragma once
#include <cstdint>
#include <iosfwd>
#include <string>

enum class ConsoleOutputForm { Plain, Timestamped, Json };

// The stream that every console line goes through on its way to target, in the given form.
// Made once; later calls return the same stream.
std::ostream& consoleLineStream(std::ostream& target, ConsoleOutputForm form);

// Describes the next line completed on the line stream for its JSON form: a kind and the JSON
// members that follow it (",\"n\":1"). A line without a description is of kind "text".
void consoleDescribeNextLine(const std::string& kind, const std::string& members);
// The line in progress (a prompt and its answer) was ended by the terminal's own echo of the
// answer, not by the program: it counts as printed without anything more being written.
void consoleLineEndedByTerminal(const std::string& answer);

// JSON pieces: a quoted, escaped string (bytes that are not UTF-8 become U+FFFD), and one
// member ",\"name\":value" whose value is already JSON text.
std::string jsonString(const std::string& text);
std::string jsonMember(const char* name, const std::string& value);
// A number as JSON when the whole text is one (a leading + dropped), else the text as a string.
std::string jsonNumberOrString(const std::string& text);

// Every completed line is numbered from 0 in print order. The plain text of a line, while it
// is still kept (lines before the oldest one asked to be kept are forgotten).
uint64_t consoleLinesPrinted();
bool consolePrintedLine(uint64_t index, std::string& text);
void consoleKeepLinesFrom(uint64_t index);
