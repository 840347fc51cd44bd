// The one way a frame reaches the line: the lost-link guard, the write, and the echo into the
// Sent pane and the traffic log of what went out. Senders, the upload and the memory
// read-back all send through it.
#pragma once
#include <cstdint>

// The link's owner (the receive pump's hub) registers how the send path learns that the
// link is lost and whom it tells when a write fails; the send path sits below it and cannot
// call it by name.
struct LinkOwner {
  bool (*isLinkLost)();                      // true while the port waits to be re-opened
  void (*writeFailed)(const char* warning);  // loses the link and warns once
};
// Until an owner is registered the link counts as up and a failed write only warns.
void registerLinkOwner(LinkOwner owner);

// Sends the payload (1 to 255 bytes) and, once it was written, echoes it. While the link is
// lost nothing is written and a status line says so; a failed write is handed to the owner
// with failureText. True when the frame went out.
bool sendAndEcho(const uint8_t* payload, int length, const char* failureText = "Write Failed");
