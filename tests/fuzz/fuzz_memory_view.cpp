// Fuzz target: the script memory view fed with arbitrary mdgScrMemDld answers (and other
// messages) inside and outside read-back batches, with the Script Manager opening and closing
// in between. Each answer is an exactly sized heap block, so reading past the bytes it
// carries is caught.
#include "fake_link.h"

#include "link/framing.h"
#include "link/serial_port.h"
#include "frontends/console/console_window.h"
#include "link/catalogue.h"
#include "app/dispatcher.h"
#include "resource.h"
#include "script/instruction_set.h"
#include "script/memory_view.h"
#include "ui/parameters.h"

#include <cstdlib>
#include <cstring>
#include <sstream>

namespace {

void check(bool condition) {
  if (!condition) abort();
}

struct Reader {
  const uint8_t* data;
  size_t size;
  size_t at;
  bool more() const { return at < size; }
  uint8_t next() { return at < size ? data[at++] : 0; }
};

// One device answer: length byte L and L payload bytes (the code forced to mdgScrMemDld
// unless the operation asks for an arbitrary code), framed as receivePacket leaves it.
void deliver(Reader& in, bool anyCode, bool throughDispatcher) {
  const int length = in.next();
  uint8_t* frame = static_cast<uint8_t*>(calloc(static_cast<size_t>(length) + 4, 1));
  frame[0] = SOT;
  frame[1] = static_cast<uint8_t>(length);
  for (int k = 0; k < length; ++k) frame[2 + k] = in.next();
  if (length > 0 && !anyCode) frame[2] = mdgScrMemDld;
  frame[2 + length] = computeChecksum(frame + 2, length);
  frame[3 + length] = EOT;
  Packet packet{frame};
  if (throughDispatcher) handleDeviceMessage(packet);
  else if (length > 0) onScriptMemoryRead(packet);
  releasePacket(packet);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::istringstream input("");
  startHost(&input);
  fakeLinkServe(nullptr, 0);
  consoleOpenDialog(Dialog::ScriptManager);
  bool open = true;

  Reader in{data, size, 0};
  while (in.more()) {
    const uint8_t op = in.next();
    switch (op % 6) {
      case 0: {   // View or Append with an address as the operator might type it
        const int address = static_cast<int16_t>(in.next() | (in.next() << 8));
        if (op & 0x80) setControlText(Dialog::ScriptManager, IDC_SM_MEMORY, "");
        beginReadBack(address);
        break;
      }
      case 1: deliver(in, false, false); break;
      case 2: deliver(in, false, true); break;
      case 3: deliver(in, true, true); break;
      case 4:     // the Script Manager closes or opens again
        if (open) consoleCloseDialog(Dialog::ScriptManager);
        else consoleOpenDialog(Dialog::ScriptManager);
        open = !open;
        break;
      case 5: resetMemoryView(); break;
    }
    check(isMessageBoxShowing() == 0);
  }
  if (open) {
    // The Address field, when a batch has set it, holds the next address in decimal.
    const std::string address = consoleControlText(Dialog::ScriptManager, IDC_SM_ADDRESS);
    check(!address.empty() && parseNumber(address.c_str()) >= 0 &&
          parseNumber(address.c_str()) <= SCRIPT_MEMORY_SIZE + 4);
    consoleCloseDialog(Dialog::ScriptManager);
  }
  return 0;
}
