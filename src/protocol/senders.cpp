// Command senders: each builds its command's payload and sends it through the send path and,
// for the electrode commands, moves the host's copy of the electrode codes along.
#include "protocol/senders.h"
#include "protocol/send_path.h"
#include "logging/traffic.h"
#include "link/catalogue.h"
#include "ui/electrodes.h"
#include <cstdio>

uint8_t lowByte(int32_t v) { return static_cast<uint8_t>(static_cast<uint32_t>(v) & 0xffu); }

// The high byte comes from v / 256 truncated toward zero, so -1 goes out as ff 00.
uint8_t highByte(int32_t v) {
  return static_cast<uint8_t>(static_cast<uint32_t>(v / 256) & 0xffu);
}

void sendSimpleCommand(uint8_t code) {
  if (code >= COMMAND_COUNT) {
    showSentText("Error: Out of Range");
    return;
  }
  sendAndEcho(&code, 1);
}

// The stored code changes only when the frame went out, so the data log never reports a
// current the device did not receive.
bool sendSetElectrode(int electrode, uint8_t code) {
  const uint8_t payload[3] = {cdgSetElectrode, static_cast<uint8_t>(electrode), code};
  char failure[64];
  std::snprintf(failure, sizeof failure, "Write Failed: electrode %d was not set", electrode);
  if (!sendAndEcho(payload, 3, failure)) return false;
  setElectrodeCode(electrode, code);
  noteElectrodeSet(electrode);
  return true;
}

// An electrode number outside 1 to 4 goes to the device as entered but moves no slider.
void sendElectrodeCommand(int electrode, uint8_t current) {
  if (sendSetElectrode(electrode, current) && electrode >= 1 && electrode <= 4)
    showElectrodeCode(electrode - 1, current);
}

void sendAllElectrodes(uint8_t code, const uint8_t currents[4]) {
  const uint8_t payload[5] = {code, currents[0], currents[1], currents[2], currents[3]};
  if (sendAndEcho(payload, 5, "Write Failed: electrodes 1 to 4 were not set")) showAllElectrodeCodes(currents);
}

void sendAddressCommand(uint8_t code, int32_t address) {
  const uint8_t payload[3] = {code, lowByte(address), highByte(address)};
  sendAndEcho(payload, 3);
}

void sendAddressCountCommand(uint8_t code, int32_t address, int32_t count) {
  const uint8_t payload[4] = {code, lowByte(address), highByte(address), lowByte(count)};
  sendAndEcho(payload, 4);
}

void sendCountStepCommand(uint8_t code, int32_t count, uint8_t step) {
  const uint8_t payload[4] = {code, lowByte(count), highByte(count), step};
  sendAndEcho(payload, 4);
}

// The catalogue's deselect table says which modes have a command that leaves them.
bool sendIdleForMode(uint8_t mode) {
  if (mode >= MODE_COUNT || modeDeselectCommand[mode] == 0) return false;
  sendSimpleCommand(modeDeselectCommand[mode]);
  return true;
}
