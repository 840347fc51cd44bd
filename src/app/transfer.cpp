// Script memory upload: chunks sent one at a time, each waited for through the receive pump.
#include "app/transfer.h"
#include "protocol/send_path.h"
#include "ui/message_boxes.h"
#include "platform/clock.h"
#include "link/catalogue.h"
#include "app/dispatcher.h"
#include "app/link_watch.h"
#include <cstring>

bool uploadScriptImage(int address, const uint8_t* bytes, int length) {
  const unsigned lossesBefore = linkLossCount();
  int remaining = length;
  while (remaining > 0) {
    int offset = length - remaining;
    int chunkAddress = address + offset;
    int n = remaining < UPLOAD_CHUNK_SIZE ? remaining : UPLOAD_CHUNK_SIZE;
    uint8_t payload[3 + UPLOAD_CHUNK_SIZE];
    payload[0] = cdgSrcUldMem;
    payload[1] = static_cast<uint8_t>(chunkAddress & 0xFF);
    payload[2] = static_cast<uint8_t>((chunkAddress >> 8) & 0xFF);
    memcpy(payload + 3, bytes + offset, static_cast<size_t>(n));
    // A chunk that did not go out ends the upload: the link's own Warning (or status line,
    // when it was lost already) has said why, and no acknowledgement can come.
    if (!sendAndEcho(payload, n + 3)) return false;

    // Stop and wait: every message that arrives meanwhile is dispatched by the pump.
    uint32_t t0 = tickCountMs();
    for (;;) {
      int code = pumpOneMessage();
      if (code == mdgScrMemUlded) break;
      if (code == mdgCmdRejectedInvalidMode || code == mdgCmdRejectedUldMemAddrRange) return false;
      // The link was lost while waiting: its Warning has been shown and no answer can come.
      if (linkLossCount() != lossesBefore) return false;
      if (tickCountMs() - t0 > UPLOAD_ACK_TIMEOUT_MS) {
        showWarning("Upload Failed - check connection and turn on Kinestim");
        return false;
      }
    }
    remaining -= UPLOAD_CHUNK_SIZE;
  }
  return true;
}
