// Shared set-up for the host behaviour tests: the console window seam bound to string
// streams and every subsystem put back in its start-up state.
#pragma once
#include <gtest/gtest.h>
#include <sstream>
#include <string>

// Resets the console seam onto the given streams and every subsystem of the host to its
// start-up state (logs closed, calibration store empty, electrode codes 0, ...).
void resetHostState(std::istringstream* input, std::ostringstream* output);

// A test with the main dialog initialised as at start-up, its posted commands already run.
class HostTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;
  // Replaces what the operator will type at the next prompts (one answer per line).
  void typeLines(const std::string& lines);
  // What the console front-end has printed so far.
  std::string printed() const { return output_.str(); }

  std::istringstream input_;
  std::ostringstream output_;
};

// A file path in a fresh temporary folder that is removed when the test ends.
class TempFolder {
 public:
  TempFolder();
  ~TempFolder();
  std::string path(const std::string& name) const;
  static std::string read(const std::string& path);

 private:
  std::string root_;
};

// The first line of a pane's text (up to the first CR LF).
std::string firstLine(const std::string& text);
