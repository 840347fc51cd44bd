// Shared set-up for the host behaviour tests: console seam on string streams, subsystems reset.
#include "host_fixture.h"
#include "app/host_state.h"
#include "app/main_dialog.h"
#include "logging/data_log.h"
#include "logging/traffic.h"

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
