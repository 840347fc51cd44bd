// The one send path: guard, frame, echo of what went out.
#include "protocol/send_path.h"
#include "link/framing.h"
#include "logging/traffic.h"
#include "ui/message_boxes.h"
#include "ui/status_display.h"
#include <cstdio>

namespace {

bool linkNeverLost() { return false; }

LinkOwner owner{linkNeverLost, showWarning};

// The status line for a command that cannot go out while the link is lost.
void refuseWhileLinkLost() {
  char text[96];
  std::snprintf(text, sizeof text, "Not sent: the link to %s is lost - re-opening it", serialPortName());
  setStatusBarText(text);
}

}  // namespace

void registerLinkOwner(LinkOwner linkOwner) {
  owner.isLinkLost = linkOwner.isLinkLost != nullptr ? linkOwner.isLinkLost : linkNeverLost;
  owner.writeFailed = linkOwner.writeFailed != nullptr ? linkOwner.writeFailed : showWarning;
}

bool sendAndEcho(const uint8_t* payload, int length, const char* failureText) {
  if (payload == nullptr || length < 1 || length > MAX_PAYLOAD_LENGTH) {
    char text[80];
    std::snprintf(text, sizeof text, "Packet not sent: payload of %d bytes is outside 1 to %d", length, MAX_PAYLOAD_LENGTH);
    showWarning(text);
    return false;
  }
  // While the port is lost nothing can go out: one status line instead of a box per command.
  if (owner.isLinkLost()) {
    refuseWhileLinkLost();
    return false;
  }
  if (sendPacket(payload, length) != LinkStatus::Data) {
    owner.writeFailed(failureText);
    return false;
  }
  // Only a frame that was written is echoed: the Sent pane and the traffic log record the line.
  showSentCommand(payload, length);
  return true;
}
