// Command senders: build each command's payload, send it, echo it into the Sent pane.
#pragma once
#include <cstdint>

void sendSimpleCommand(uint8_t code);
// True when the frame went out; otherwise the stored code is left as it was.
bool sendSetElectrode(int electrode, uint8_t code);
void sendElectrodeFromDialog();
void sendAllElectrodes(uint8_t code);
void sendAddressCommand(uint8_t code);
void sendAddressCountCommand(uint8_t code);
void sendCountStepCommand(uint8_t code);
void sendIdleForMode(uint8_t mode);
// Low and high byte of a 32-bit value as the link carries it (-1 -> ff 00, 70000 -> 70 11).
uint8_t lowByte(int32_t v);
uint8_t highByte(int32_t v);
