// The driver's answers as the chip tests read them, the records they send,
// and the emulators' lists of rule breaches checked against expected texts.
#pragma once

#include <gtest/gtest.h>

#include <cstring>
#include <initializer_list>
#include <string>
#include <vector>

#include "sim/machine.h"
#include "tests/support/harness.h"

namespace zrvtest {

// An IOCTL_HWM_GET_DATA answer; a short one fails the test and reads as zeros.
inline HwmData hwmData(const sim::IoResult& r) {
    HwmData d{};
    EXPECT_EQ(r.bytes, sizeof(HwmData));
    if (r.data.size() == sizeof(HwmData)) std::memcpy(&d, r.data.data(), sizeof d);
    return d;
}
inline HwmData hwmData(SimBoard& board) { return hwmData(board.ioctl(IOCTL_HWM_GET_DATA, {}, 36)); }

// The whole record: fans 1 to 5 in rpm, the ten voltages and temperatures 1
// to 3 as read, and the reserved bytes 0.
inline void expectReadings(const HwmData& d, const std::vector<uint32_t>& fans,
                           const std::vector<uint8_t>& volts, const std::vector<uint8_t>& temps) {
    EXPECT_EQ((std::vector<uint32_t>{d.Fan1, d.Fan2, d.Fan3, d.Fan4, d.Fan5}), fans);
    EXPECT_EQ(std::vector<uint8_t>(d.Volt, d.Volt + 10), volts);
    EXPECT_EQ((std::vector<uint8_t>{d.Temp1, d.Temp2, d.Temp3}), temps);
    EXPECT_EQ((std::vector<uint8_t>{d.Reserved, d.Reserved + 3}), std::vector<uint8_t>(3, 0));
}

// An IOCTL_HWM_FAN_CONTROL record; byte 5 is unused by the driver.
inline std::vector<uint8_t> fanControl(uint8_t fan, uint8_t mode, uint8_t data, uint8_t limit1 = 0,
                                       uint8_t limit2 = 0, uint8_t startDuty = 0, uint8_t slope = 0,
                                       uint8_t unused = 0) {
    return {fan, mode, data, limit1, limit2, unused, startDuty, slope};
}

// A line word of the digital I/O; a failed or short answer fails the test.
inline uint16_t lineWord(const sim::IoResult& r) {
    EXPECT_EQ(r.status, ZRV_STATUS_SUCCESS);
    EXPECT_EQ(r.bytes, 2u);
    return r.data.size() == 2 ? static_cast<uint16_t>(r.data[0] | r.data[1] << 8) : 0xDEAD;
}
inline uint16_t lineWord(SimBoard& board, uint32_t code) { return lineWord(board.ioctl(code, {}, 2)); }

// `lines` with `more` after them.
inline std::vector<std::string> with(std::vector<std::string> lines, const std::vector<std::string>& more) {
    lines.insert(lines.end(), more.begin(), more.end());
    return lines;
}

// Each breach of `seen` holds the text at its place in `expected`.
inline void expectBreaches(const std::vector<std::string>& seen, const std::vector<std::string>& expected) {
    ASSERT_EQ(seen.size(), expected.size());
    for (size_t i = 0; i < seen.size(); ++i)
        EXPECT_NE(seen[i].find(expected[i]), std::string::npos) << seen[i];
}

// A chip's breaches while its configuration mode is open: `breaches`, then
// the open mode itself, which closing the mode (0xAA at 0x2E) takes away.
template <typename Chip>
void expectBreachesThenClose(Chip& chip, const std::vector<std::string>& breaches) {
    expectBreaches(chip.violations(), with(breaches, {"configuration mode left open"}));
    EXPECT_EQ(chip.violations().back(), "configuration mode left open");
    chip.write(0x2E, 0xAA);
    expectBreaches(chip.violations(), breaches);
}

// Sets the watchdog's timeout and starts it.
inline ZrvStatus startWatchdog(SimBoard& board, uint16_t count, uint16_t unit) {
    const ZrvStatus s = board.ioctl(IOCTL_WDT_SET_TIMEOUT, timeoutRecord(count, unit)).status;
    return s != ZRV_STATUS_SUCCESS ? s : board.ioctl(IOCTL_WDT_START).status;
}
// Restarts the watchdog `times` times, `everyMs` of virtual time apart.
inline void keepAlive(SimBoard& board, int times, uint64_t everyMs) {
    for (int i = 0; i < times; ++i) {
        board.machine().advance(everyMs);
        ASSERT_EQ(board.ioctl(IOCTL_WDT_RESET).status, ZRV_STATUS_SUCCESS) << "restart " << i;
    }
}

}  // namespace zrvtest
