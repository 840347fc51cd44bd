// Shared set-up for the host behaviour tests: console seam on string streams, subsystems reset.
#include "host_fixture.h"
#include "link/serial_port.h"
#include "logging/data_log.h"
#include "logging/traffic.h"
#include "script/memory_view.h"
#include "tilt/tilt.h"
#include "ui/electrodes.h"
#include "ui/main_dialog.h"
#include "ui/parameters.h"
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>

Bytes frame(const Bytes& payload) {
  Bytes f = {0xAA, static_cast<uint8_t>(payload.size())};
  unsigned sum = 0;
  for (uint8_t b : payload) f.push_back(b), sum += b;
  f.push_back(static_cast<uint8_t>(sum & 0xff));
  f.push_back(0x55);
  return f;
}

std::string hex(const Bytes& bytes) {
  std::string text;
  char item[4];
  for (uint8_t b : bytes) {
    std::snprintf(item, sizeof item, " %.2x", b);
    text += item;
  }
  return text.empty() ? text : text.substr(1);
}

void HostTest::SetUp() {
  consoleWindowReset(&input_, &output_);
  HostTest::TearDown();
  setDataLogTimeStamps(false);
  resetCalibrationStore();
  resetCalibrationRun();
  clearElectrodeCodes();
  resetParameterBlock();
  resetMemoryView();
  setMessageBoxShowing(0);
  initMainDialog();
  consoleRunPostedCommands();
}

void HostTest::TearDown() {
  stopDataLog();
  stopTrafficLog();
}

TempFolder::TempFolder() {
  std::random_device seed;
  namespace fs = std::filesystem;
  do root = (fs::temp_directory_path() / ("kinestim-host-" + std::to_string(seed()))).string();
  while (!fs::create_directory(root));
}

TempFolder::~TempFolder() {
  std::error_code ignored;
  std::filesystem::remove_all(root, ignored);
}

std::string TempFolder::read(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}
