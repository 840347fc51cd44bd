// Command senders: build each command's payload, send it, echo it into the Sent pane.
#pragma once
#include <cstdint>

void sendSimpleCommand(uint8_t code);
// True when the frame went out; otherwise the stored code is left as it was.
bool sendSetElectrode(int electrode, uint8_t code);
// Set Electrode as entered: an electrode outside 1 to 4 goes to the device but moves no slider.
void sendElectrodeCommand(int electrode, uint8_t current);
void sendAllElectrodes(uint8_t code, const uint8_t currents[4]);
// Commands that carry a 16-bit address, an address and an 8-bit count, or a 16-bit count and
// a step; the 16-bit values go low byte first.
void sendAddressCommand(uint8_t code, int32_t address);
void sendAddressCountCommand(uint8_t code, int32_t address, int32_t count);
void sendCountStepCommand(uint8_t code, int32_t count, uint8_t step);
// Sends the command that leaves the mode; false, sending nothing, for a mode no command leaves.
bool sendIdleForMode(uint8_t mode);
// Low and high byte of a 32-bit value as the link carries it (-1 -> ff 00, 70000 -> 70 11).
uint8_t lowByte(int32_t v);
uint8_t highByte(int32_t v);
