// Link test helpers: elapsed time and one packet or notice from the receive side.
#include "link_fixture.h"

long elapsedMs(std::chrono::steady_clock::time_point since) {
  using namespace std::chrono;
  return static_cast<long>(duration_cast<milliseconds>(steady_clock::now() - since).count());
}

std::string receiveOne(int tries) {
  clearRecordings();
  for (int i = 0; i < tries && recordedNotices().empty(); ++i) {
    Packet packet{};
    if (!receivePacket(packet)) {
      EXPECT_EQ(packet.bytes, nullptr);
      continue;
    }
    std::string got = hex(Bytes(packet.bytes, packet.bytes + packet.size()));
    releasePacket(packet);
    return got;
  }
  return recordedNotices();
}
