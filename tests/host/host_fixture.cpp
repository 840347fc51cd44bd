// Shared set-up for the host behaviour tests: console seam on string streams, subsystems reset.
#include "host_fixture.h"
#include "app/host_state.h"
#include "app/main_dialog.h"
#include "logging/data_log.h"
#include "logging/traffic.h"
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>

void HostTest::SetUp() {
  consoleWindowReset(&input_, &output_);
  HostTest::TearDown();
  setDataLogTimeStamps(false);
  resetHostState();
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
