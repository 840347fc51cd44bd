// Shared set-up for the host behaviour tests: console seam on string streams, subsystems reset.
#include "host_fixture.h"
#include "link/serial_port.h"
#include "logging/data_log.h"
#include "logging/traffic.h"
#include "platform/console/console_window.h"
#include "script/memory_view.h"
#include "tilt/tilt.h"
#include "ui/electrodes.h"
#include "ui/main_dialog.h"
#include "ui/parameters.h"
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>

void resetHostState(std::istringstream* input, std::ostringstream* output) {
  consoleWindowReset(input, output);
  stopDataLog();
  stopTrafficLog();
  setDataLogTimeStamps(false);
  resetCalibrationStore();
  resetCalibrationRun();
  clearElectrodeCodes();
  resetParameterBlock();
  resetMemoryView();
  setMessageBoxShowing(0);
}

void HostTest::SetUp() {
  resetHostState(&input_, &output_);
  initMainDialog();
  consoleRunPostedCommands();
}

void HostTest::TearDown() {
  stopDataLog();
  stopTrafficLog();
}

void HostTest::typeLines(const std::string& lines) {
  input_.clear();
  input_.str(lines);
}

TempFolder::TempFolder() {
  std::random_device seed;
  std::filesystem::path base = std::filesystem::temp_directory_path();
  for (;;) {
    std::filesystem::path candidate = base / ("kinestim-host-" + std::to_string(seed()));
    if (std::filesystem::create_directory(candidate)) {
      root_ = candidate.string();
      break;
    }
  }
}

TempFolder::~TempFolder() {
  std::error_code ignored;
  std::filesystem::remove_all(root_, ignored);
}

std::string TempFolder::path(const std::string& name) const {
  return (std::filesystem::path(root_) / name).string();
}

std::string TempFolder::read(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

std::string firstLine(const std::string& text) {
  size_t end = text.find("\r\n");
  return end == std::string::npos ? text : text.substr(0, end);
}
