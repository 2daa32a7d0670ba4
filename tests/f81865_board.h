// Shared pieces of the F81865 tests: a board with the emulated chip, the
// registry text that names it for each function, and a builder for the
// port traces the chip's brackets and monitor accesses leave.
#pragma once

#include <fmt/format.h>
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "sim/devices/f81865.h"
#include "tests/support/harness.h"

namespace f81865test {

// Registry sections. A function given chip code 0x10000 has no back-end, so
// a test can bind exactly the functions it is about.
inline std::string hwmKey(uint32_t chip) {
    return fmt::format("[HKEY_LOCAL_MACHINE\\SOFTWARE\\Varnel\\Zorvik\\HWMON]\n\"SuperIO\"=dword:{:08x}\n",
                       chip);
}
inline std::string wdtKey(uint32_t chip) {
    return fmt::format(
        "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Varnel\\Zorvik\\WDT]\n\"DeviceType\"=dword:00000001\n"
        "\"SuperIO\"=dword:{:08x}\n",
        chip);
}
inline std::string dioGroupKey(uint32_t chip, uint32_t inGroup, uint32_t outGroup) {
    return fmt::format(
        "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Varnel\\Zorvik\\DIO]\n\"DeviceType\"=dword:00000001\n"
        "\"SuperIO\"=dword:{:08x}\n\"GPIOGroup\"=dword:{:08x}\n\"GPIOOutGroup\"=dword:{:08x}\n",
        chip, inGroup, outGroup);
}
struct Line {
    uint32_t group;
    uint32_t mask;
};
inline std::string dioLinesKey(uint32_t chip, const std::vector<Line>& in, const std::vector<Line>& out) {
    std::string s = fmt::format(
        "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Varnel\\Zorvik\\DIO]\n\"DeviceType\"=dword:00000003\n"
        "\"SuperIO\"=dword:{:08x}\n\"InBits\"=dword:{:08x}\n\"OutBits\"=dword:{:08x}\n",
        chip, in.size(), out.size());
    for (size_t i = 0; i < in.size(); ++i)
        s += fmt::format("\"InAddr{0}\"=dword:{1:08x}\n\"InMask{0}\"=dword:{2:08x}\n", i, in[i].group,
                         in[i].mask);
    for (size_t i = 0; i < out.size(); ++i)
        s += fmt::format("\"OutAddr{0}\"=dword:{1:08x}\n\"OutMask{0}\"=dword:{2:08x}\n", i, out[i].group,
                         out[i].mask);
    return s;
}
constexpr uint32_t kF81865 = 6;
constexpr uint32_t kNoChip = 0x10000;
inline std::string noDio() { return dioGroupKey(kNoChip, 0, 0); }

// The port accesses of brackets and monitor sequences, as the trace shows them.
class Trace {
public:
    explicit Trace(uint16_t indexPort, uint16_t monitorBase = 0) : index_(indexPort), base_(monitorBase) {}
    Trace& enter() { return out(index_, 0x87).out(index_, 0x87); }
    Trace& exit() { return out(index_, 0xAA); }
    Trace& select(uint8_t device) { return wr(0x07, device); }
    Trace& wr(uint8_t reg, uint8_t value) { return out(index_, reg).out(index_ + 1, value); }
    Trace& rd(uint8_t reg, uint8_t value) { return out(index_, reg).in(index_ + 1, value); }
    Trace& hwr(uint8_t reg, uint8_t value) { return out(base_ + 5, reg).out(base_ + 6, value); }
    Trace& hrd(uint8_t reg, uint8_t value) { return out(base_ + 5, reg).in(base_ + 6, value); }
    Trace& at(uint16_t indexPort) {
        index_ = indexPort;
        return *this;
    }
    Trace& out(uint32_t port, uint8_t value) {
        lines_.push_back(fmt::format("out 0x{:04x} 0x{:02x}", port, value));
        return *this;
    }
    Trace& in(uint32_t port, uint8_t value) {
        lines_.push_back(fmt::format("in 0x{:04x} 0x{:02x}", port, value));
        return *this;
    }
    const std::vector<std::string>& lines() const { return lines_; }
    operator const std::vector<std::string>&() const { return lines_; }

private:
    uint16_t index_;
    uint16_t base_;
    std::vector<std::string> lines_;
};

// A virtual board with one emulated F81865.
class ChipBoard : public ::testing::Test {
protected:
    void addChip(uint16_t configPort, uint16_t id) {
        chip = &board.attach(std::make_unique<sim::F81865>(configPort, id));
    }
    void TearDown() override {
        board.unload();
        const auto v = board.violations();
        EXPECT_TRUE(v.empty()) << v.front();
    }
    // Debugger lines since the last call.
    std::vector<std::string> newDebugLines() {
        auto all = board.debugLines();
        std::vector<std::string> fresh(all.begin() + static_cast<long>(seenDebug_), all.end());
        seenDebug_ = all.size();
        return fresh;
    }
    void clearSeen() {
        board.clearTrace();
        newDebugLines();
    }

    zrvtest::SimBoard board;
    sim::F81865* chip = nullptr;

private:
    size_t seenDebug_ = 0;
};

using Lines = std::vector<std::string>;

}  // namespace f81865test
