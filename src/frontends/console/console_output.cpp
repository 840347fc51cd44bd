// The console's line stream: every printed line passes through one stream buffer, which keeps
// the line's plain text for ":wait" and writes it plain, time-stamped, or as a JSON object.
#include "frontends/console/console_output.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <ostream>
#include <streambuf>

namespace {

struct LineRecord {
  std::string pendingKind;      // the description of the next completed line
  std::string pendingMembers;
  bool described = false;
  std::deque<std::string> kept;  // plain text of lines firstKept onwards
  uint64_t firstKept = 0;
  uint64_t printed = 0;
};

LineRecord record;

double monotonicMs() {
  using namespace std::chrono;
  return duration<double, std::milli>(steady_clock::now().time_since_epoch()).count();
}

void remember(const std::string& line) {
  record.kept.push_back(line);
  ++record.printed;
}

// Takes the description of the next line, "text" with the line itself when there is none.
void takeDescription(const std::string& line, std::string& kind, std::string& members) {
  if (record.described) {
    kind = record.pendingKind;
    members = record.pendingMembers;
  } else {
    kind = "text";
    members = jsonMember("text", jsonString(line));
  }
  record.described = false;
}

// Splits characters into lines. Plain forms pass every character on at once (a prompt shows
// before its line ends); the JSON form writes an object per line, and a prompt's object when
// the prompt is flushed, so that a program sees it before it answers.
class LineBuffer : public std::streambuf {
 public:
  LineBuffer(std::streambuf* target, ConsoleOutputForm form) : target_(target), form_(form) {}

  // The current line was ended outside the program (the terminal echoed the answer).
  void endedByTerminal(const std::string& answer) {
    if (form_ == ConsoleOutputForm::Json && !answer.empty())
      writeObject("answer", jsonMember("text", jsonString(answer)));
    remember(line_ + answer);
    line_.clear();
    emitted_ = 0;
  }

 protected:
  int overflow(int c) override {
    if (c == traits_type::eof()) return traits_type::not_eof(c);
    if (form_ != ConsoleOutputForm::Json) passOn(static_cast<char>(c));
    if (c == '\n') {
      finishLine();
    } else {
      line_ += static_cast<char>(c);
    }
    return c;
  }

  int sync() override {
    if (form_ == ConsoleOutputForm::Json && line_.size() > emitted_) {
      std::string kind, members;
      takeDescription(line_.substr(emitted_), kind, members);
      writeObject(kind, members);
      emitted_ = line_.size();
    }
    return target_->pubsync();
  }

 private:
  void passOn(char c) {
    if (atLineStart_ && form_ == ConsoleOutputForm::Timestamped) {
      char stamp[40];
      int n = std::snprintf(stamp, sizeof stamp, "[%10.3f] ", monotonicMs());
      target_->sputn(stamp, n);
    }
    atLineStart_ = c == '\n';
    target_->sputc(c);
  }

  void finishLine() {
    if (form_ == ConsoleOutputForm::Json) {
      if (emitted_ == 0) {
        std::string kind, members;
        takeDescription(line_, kind, members);
        writeObject(kind, members);
      } else if (line_.size() > emitted_) {
        // What follows a prompt on its line is the answer written back.
        writeObject("answer", jsonMember("text", jsonString(line_.substr(emitted_))));
      }
    }
    remember(line_);
    line_.clear();
    emitted_ = 0;
  }

  void writeObject(const std::string& kind, const std::string& members) {
    char stamp[48];
    int n = std::snprintf(stamp, sizeof stamp, "{\"t\":%lld,\"kind\":", static_cast<long long>(monotonicMs()));
    std::string object(stamp, static_cast<size_t>(n));
    object += jsonString(kind) + members + "}\n";
    target_->sputn(object.data(), static_cast<std::streamsize>(object.size()));
    target_->pubsync();
  }

  std::streambuf* target_;
  ConsoleOutputForm form_;
  std::string line_;
  size_t emitted_ = 0;   // how much of line_ a JSON prompt object already carried
  bool atLineStart_ = true;
};

LineBuffer* lineBuffer = nullptr;

// The length of the UTF-8 sequence starting at text[i], or 0 when it is not a valid one.
size_t utf8Length(const std::string& text, size_t i) {
  unsigned char c = static_cast<unsigned char>(text[i]);
  size_t length = c < 0x80 ? 1 : (c & 0xe0) == 0xc0 ? 2 : (c & 0xf0) == 0xe0 ? 3 : (c & 0xf8) == 0xf0 ? 4 : 0;
  if (length == 0 || i + length > text.size()) return 0;
  unsigned long code = length == 1 ? c : length == 2 ? (c & 0x1f) : length == 3 ? (c & 0x0f) : (c & 0x07);
  for (size_t k = 1; k < length; ++k) {
    unsigned char next = static_cast<unsigned char>(text[i + k]);
    if ((next & 0xc0) != 0x80) return 0;
    code = (code << 6) | (next & 0x3f);
  }
  static const unsigned long SMALLEST[5] = {0, 0, 0x80, 0x800, 0x10000};
  if (code < SMALLEST[length] || code > 0x10ffff || (code >= 0xd800 && code <= 0xdfff)) return 0;
  return length;
}

}  // namespace

std::ostream& consoleLineStream(std::ostream& target, ConsoleOutputForm form) {
  static LineBuffer buffer(target.rdbuf(), form);
  static std::ostream stream(&buffer);
  lineBuffer = &buffer;
  return stream;
}

void consoleDescribeNextLine(const std::string& kind, const std::string& members) {
  record.pendingKind = kind;
  record.pendingMembers = members;
  record.described = true;
}

void consoleLineEndedByTerminal(const std::string& answer) {
  if (lineBuffer != nullptr) lineBuffer->endedByTerminal(answer);
}

std::string jsonString(const std::string& text) {
  std::string out = "\"";
  for (size_t i = 0; i < text.size();) {
    unsigned char c = static_cast<unsigned char>(text[i]);
    size_t length = utf8Length(text, i);
    if (length == 0) {
      out += "\\ufffd";
      ++i;
      continue;
    }
    if (c == '"' || c == '\\') {
      out += '\\';
      out += static_cast<char>(c);
    } else if (c == '\n') {
      out += "\\n";
    } else if (c == '\r') {
      out += "\\r";
    } else if (c == '\t') {
      out += "\\t";
    } else if (c < 0x20) {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
      out += escaped;
    } else {
      out.append(text, i, length);
    }
    i += length;
  }
  return out + "\"";
}

std::string jsonMember(const char* name, const std::string& value) {
  return std::string(",\"") + name + "\":" + value;
}

std::string jsonNumberOrString(const std::string& text) {
  // JSON numbers: optional minus, digits without a leading zero, optional fraction.
  std::string number = !text.empty() && text[0] == '+' ? text.substr(1) : text;
  size_t i = !number.empty() && number[0] == '-' ? 1 : 0;
  size_t digits = i;
  while (digits < number.size() && number[digits] >= '0' && number[digits] <= '9') ++digits;
  bool ok = digits > i && !(number[i] == '0' && digits > i + 1);
  if (ok && digits < number.size() && number[digits] == '.') {
    size_t fraction = digits + 1;
    while (fraction < number.size() && number[fraction] >= '0' && number[fraction] <= '9') ++fraction;
    ok = fraction > digits + 1;
    digits = fraction;
  }
  return ok && digits == number.size() ? number : jsonString(text);
}

uint64_t consoleLinesPrinted() { return record.printed; }

bool consolePrintedLine(uint64_t index, std::string& text) {
  if (index < record.firstKept || index >= record.printed) return false;
  text = record.kept[static_cast<size_t>(index - record.firstKept)];
  return true;
}

void consoleKeepLinesFrom(uint64_t index) {
  // The last line stays, for a time-out to say what was seen last.
  while (record.firstKept < index && record.kept.size() > 1) {
    record.kept.pop_front();
    ++record.firstKept;
  }
}
