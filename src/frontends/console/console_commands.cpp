// Console delivery of window commands to the main dialog's router: sent ones at once,
// posted ones when the terminal loop drains the queue.
#include "frontends/console/console_window.h"
#include "app/main_dialog.h"

// A runaway chain of commands that keep posting more must not hold the loop forever; what is
// left stays queued for the next pass.
static constexpr int MAX_COMMANDS_PER_PASS = 1000;

void sendCommand(int id) { routeCommand(id, 0); }

int consoleRunPostedCommands() {
  int ran = 0;
  int id = 0;
  while (ran < MAX_COMMANDS_PER_PASS && consoleTakePostedCommand(id)) {
    routeCommand(id, 0);
    ++ran;
  }
  return ran;
}
