// A temporary folder for a test's files, and whole files read back, for every suite.
#pragma once
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

namespace harness {

// A temporary folder removed with its files at the end of the test.
// Portable (the host suites run under Wine too); a name already taken is drawn again.
class TempDir {
 public:
  TempDir() {
    for (std::random_device seed; path_.empty() || (!std::filesystem::create_directory(path_, error_) && !error_);)
      path_ = (std::filesystem::temp_directory_path() / ("kinestim-test-" + std::to_string(seed()))).string();
  }
  ~TempDir() { std::filesystem::remove_all(path_, error_); }
  const std::string& path() const { return path_; }
  std::string file(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
  std::error_code error_;
};

inline std::vector<std::string> readLines(const std::string& path) {
  std::vector<std::string> lines;
  std::ifstream in(path, std::ios::binary);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

inline std::string readFile(const std::string& path) {
  std::ostringstream all;
  all << std::ifstream(path, std::ios::binary).rdbuf();
  return all.str();
}

}  // namespace harness
