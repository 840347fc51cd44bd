// Shared set-up for the host behaviour tests: the console window seam bound to string
// streams, every subsystem in its start-up state and the main dialog initialised.
#pragma once
#include "frontends/console/console_window.h"
#include "resource.h"
#include "test_bytes.h"
#include <cstdint>
#include <gtest/gtest.h>
#include <sstream>
#include <string>
#include <vector>

class HostTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;
  // Replaces what the operator will type at the next prompts (one answer per line).
  void typeLines(const std::string& lines) {
    input_.clear();
    input_.str(lines);
  }
  std::string printed() const { return output_.str(); }  // what the console has printed
  std::istringstream input_;
  std::ostringstream output_;
};

inline std::string text(int id) { return consoleControlText(Dialog::Main, id); }
// The first line of a pane's text (up to the first CR LF).
inline std::string firstLine(const std::string& t) { return t.substr(0, t.find("\r\n")); }

// A fresh temporary folder, removed when the test ends.
struct TempFolder {
  std::string root;
  TempFolder();
  ~TempFolder();
  std::string path(const std::string& name) const { return root + "/" + name; }
  static std::string read(const std::string& path);
};
