// Listing tests: the memory view's instruction lines, byte for byte, from read-back answers,
// including answers that carry fewer bytes than their instruction needs (the script tool's
// tests list every instruction whole).
#include "script/memory_view.h"
#include "link/catalogue.h"
#include "test_bytes.h"
#include <cstring>
#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace {

struct LineCase { const char* name; int address; Bytes memory; const char* line; int length; bool noAddress = false; };

class ListsAs : public ::testing::TestWithParam<LineCase> {};

TEST_P(ListsAs, Line) {
  const LineCase& c = GetParam();
  // A whole mdgScrMemDld frame: the address bytes, then the memory bytes.
  Bytes payload = {mdgScrMemDld, static_cast<uint8_t>(c.address & 0xFF), static_cast<uint8_t>(c.address >> 8)};
  if (c.noAddress) payload.pop_back();  // not even the whole address
  Bytes frame = frameOf(payload + c.memory);
  char line[LISTING_LINE_SIZE];
  memset(line, 'Z', sizeof line);
  EXPECT_EQ(formatInstructionLine(Packet{frame.data()}, line), c.length);
  EXPECT_STREQ(line, c.line);
}

INSTANTIATE_TEST_SUITE_P(Listing, ListsAs,
    ::testing::Values(LineCase{"TiltLoop", 100, {8, 0xe8, 3, 5, 0}, " 100\tTiltLoop\t\t1000 5\r\n", 4},
        LineCase{"Call", 2047, {6, 0xff, 0xff, 0, 0}, "2047\tCall\t\t65535\r\n", 3},
        LineCase{"InvalidOpcode9", 3, {9, 0, 0, 0, 0}, "   3\tInvalid Opcode: 9\r\n", 1},
        LineCase{"WideAddress", 65535, {3, 255, 255, 255, 255}, "65535\tSetAllElectrodes\t255 255 255 255\r\n", 5},
        // Answers cut short: what is there is listed, every missing value shows as "?", and the
        // instruction keeps its length so the listing goes on behind it (the script tool's
        // listing test has a SetAllElectrodes cut short and opcode 255).
        LineCase{"ShortDelayOneByte", 5, {4, 40}, "   5\tDelay\t\t?\r\n", 3},
        LineCase{"ShortTiltLoopNoStep", 6, {8, 0xe8, 3}, "   6\tTiltLoop\t\t1000 ?\r\n", 4},
        LineCase{"ShortSetElectrodeNoOperands", 9, {2}, "   9\tSetElectrode\t? ?\r\n", 3},
        LineCase{"NoMemoryBytes", 77, {}, "  77\t?\r\n", 1}, LineCase{"NoWholeAddress", 5, {}, "   ?\t?\r\n", 1, true}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
