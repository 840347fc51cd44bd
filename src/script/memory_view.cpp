// Script memory view: read-back requests and batches of 20 instructions listed in the memory
// pane.
#include "script/memory_view.h"
#include "script/instruction_set.h"
#include "ui/message_boxes.h"
#include "protocol/send_path.h"
#include "platform/window.h"
#include "link/catalogue.h"
#include "resource.h"
#include <cstdio>
#include <string>
#include <vector>

struct MemoryViewState {
  int batch;            // lines collected in the running batch, -1 when none runs
  int expectedAddress;  // the address of the request in flight
  char lines[READ_BACK_BATCH][LISTING_LINE_SIZE];
};

static MemoryViewState memoryView = {-1, -1, {}};

// Scrolling far down then back by one batch brings the batch's lines into view.
static constexpr int SCROLL_TO_END_LINES = 2050;
// The pane text is read in growing blocks up to this size.
static constexpr size_t PANE_READ_LIMIT = static_cast<size_t>(64) * 1024 * 1024;

void resetMemoryView() {
  memoryView.batch = -1;
  memoryView.expectedAddress = -1;
}

bool requestScriptMemory(int address) {
  if (address < 0 || address >= SCRIPT_MEMORY_SIZE) {
    showWarning(INVALID_ADDRESS_TEXT);
    return false;
  }
  uint8_t payload[4] = {cdgScrDldMem, static_cast<uint8_t>(address & 0xFF),
                        static_cast<uint8_t>(address >> 8), READ_BACK_COUNT};
  return sendAndEcho(payload, 4);
}

void beginReadBack(int address) {
  memoryView.batch = 0;
  memoryView.expectedAddress = address;
  // Nothing was asked (a bad address, a lost link, a failed write): no batch runs.
  if (!requestScriptMemory(address)) resetMemoryView();
}

static std::string readPaneText(int id) {
  std::vector<char> buffer(4096);
  for (;;) {
    int size = static_cast<int>(buffer.size());
    int n = getControlText(Dialog::ScriptManager, id, buffer.data(), size);
    if (n < size - 1 || buffer.size() >= PANE_READ_LIMIT) return std::string(buffer.data(), static_cast<size_t>(n));
    buffer.resize(buffer.size() * 2);
  }
}

static void showBatch(int next) {
  std::string text = readPaneText(IDC_SM_MEMORY);
  for (int k = 0; k < READ_BACK_BATCH; ++k) text += memoryView.lines[k];
  setControlText(Dialog::ScriptManager, IDC_SM_MEMORY, text.c_str());
  scrollEditLines(Dialog::ScriptManager, IDC_SM_MEMORY, SCROLL_TO_END_LINES);
  postScrollEditLines(Dialog::ScriptManager, IDC_SM_MEMORY, -READ_BACK_BATCH);
  char field[16];
  snprintf(field, sizeof field, "%d", next);
  setControlText(Dialog::ScriptManager, IDC_SM_ADDRESS, field);
}

void onScriptMemoryRead(const Packet& packet) {
  // Only the answer to the request in flight of a running batch has a line to go to.
  if (memoryView.batch < 0 || memoryView.batch >= READ_BACK_BATCH) return;
  if (packet.code() != mdgScrMemDld || packet.paramCount() < 2) return;
  if (!dialogExists(Dialog::ScriptManager)) {
    resetMemoryView();
    return;
  }
  int address = packet.param(0) | (packet.param(1) << 8);
  if (address != memoryView.expectedAddress) return;

  int length = formatInstructionLine(packet, memoryView.lines[memoryView.batch]);
  int next = address + length;
  ++memoryView.batch;
  if (memoryView.batch < READ_BACK_BATCH) {
    // A request that was refused or did not go out ends the batch unshown.
    if (requestScriptMemory(next)) memoryView.expectedAddress = next;
    else resetMemoryView();
    return;
  }
  showBatch(next);
  resetMemoryView();
}
