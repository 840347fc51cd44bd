// Fuzz target: the script memory view fed with arbitrary mdgScrMemDld answers (and other
// messages) inside and outside read-back batches, with the Script Manager opening and closing
// in between. Each answer is an exactly sized heap block, so reading past the bytes it
// carries is caught.
#include "fake_link.h"
#include "tests/test_bytes.h"

#include "app/dispatcher.h"
#include "frontends/console/console_window.h"
#include "link/catalogue.h"
#include "link/framing.h"
#include "ui/message_boxes.h"
#include "resource.h"
#include "script/instruction_set.h"
#include "script/memory_view.h"
#include "ui/parameters.h"

#include <cstring>
#include <sstream>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::istringstream input("");
  startHost(&input);
  fakeLinkServe(nullptr, 0);
  consoleOpenDialog(Dialog::ScriptManager);
  bool open = true;
  size_t at = 0;
  auto next = [&]() -> uint8_t { return at < size ? data[at++] : 0; };
  while (at < size) {
    const uint8_t op = next();
    if (op % 6 == 0) {   // View or Append with an address as the operator might type it
      const int address = static_cast<int16_t>(next() | (next() << 8));
      if (op & 0x80) setControlText(Dialog::ScriptManager, IDC_SM_MEMORY, "");
      beginReadBack(address);
    } else if (op % 6 <= 3) {
      // One device answer: length byte L and L payload bytes, the code forced to mdgScrMemDld
      // (but for op 3), framed as receivePacket leaves it; op 1 goes to the view directly.
      Bytes payload(next());
      for (uint8_t& b : payload) b = next();
      if (!payload.empty() && op % 6 != 3) payload[0] = mdgScrMemDld;
      const Bytes frame = frameOf(payload);
      Packet packet{static_cast<uint8_t*>(memcpy(malloc(frame.size()), frame.data(), frame.size()))};
      if (op % 6 != 1) handleDeviceMessage(packet);
      else if (!payload.empty()) onScriptMemoryRead(packet);
      releasePacket(packet);
    } else if (op % 6 == 4) {   // the Script Manager closes or opens again
      if (open) consoleCloseDialog(Dialog::ScriptManager);
      else consoleOpenDialog(Dialog::ScriptManager);
      open = !open;
    } else {
      resetMemoryView();
    }
    check(isMessageBoxShowing() == 0);
  }
  if (open) {
    // The Address field, when a batch has set it, holds the next address in decimal.
    const std::string address = consoleControlText(Dialog::ScriptManager, IDC_SM_ADDRESS);
    const int32_t next = parseNumber(address.c_str());
    check(!address.empty() && next >= 0 && next <= SCRIPT_MEMORY_SIZE + 4);
    consoleCloseDialog(Dialog::ScriptManager);
  }
  return 0;
}
