// Shared pieces of the Super I/O chip tests: the registry text that names a
// chip for each function, a builder for the port traces of configuration
// brackets and index/data sequences, and a test fixture with one emulated
// chip on a virtual board.
#pragma once

#include <fmt/format.h>
#include <gtest/gtest.h>

#include <array>
#include <initializer_list>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "tests/support/harness.h"
#include "zorvik/registry.h"

namespace siotest {

// Registry sections. A function given chip code 0x10000 has no back-end, so
// a test can bind exactly the functions it is about.
inline std::string regKey(const char* key) {
    return fmt::format("[HKEY_LOCAL_MACHINE\\{}{}]\n", ZRV_REG_ROOT_USER, key);
}
inline std::string regDword(const char* name, uint32_t value) {
    return fmt::format("\"{}\"=dword:{:08x}\n", name, value);
}
inline std::string hwmKey(uint32_t chip) {
    return regKey(ZRV_REG_KEY_HWMON) + regDword(ZRV_REG_SUPERIO, chip);
}
inline std::string wdtKey(uint32_t chip) {
    return regKey(ZRV_REG_KEY_WDT) + regDword(ZRV_REG_DEVICE_TYPE, ZRV_WDT_TYPE_CHIP) +
           regDword(ZRV_REG_SUPERIO, chip);
}
inline std::string dioGroupKey(uint32_t chip, uint32_t inGroup, uint32_t outGroup) {
    return regKey(ZRV_REG_KEY_DIO) + regDword(ZRV_REG_DEVICE_TYPE, ZRV_DIO_TYPE_GROUPS) +
           regDword(ZRV_REG_SUPERIO, chip) + regDword(ZRV_REG_GPIO_GROUP, inGroup) +
           regDword(ZRV_REG_GPIO_OUT_GROUP, outGroup);
}
struct Line {
    uint32_t group;
    uint32_t mask;
};
inline std::string dioLinesKey(uint32_t chip, const std::vector<Line>& in, const std::vector<Line>& out) {
    std::string s = regKey(ZRV_REG_KEY_DIO) + regDword(ZRV_REG_DEVICE_TYPE, ZRV_DIO_TYPE_LINES) +
                    regDword(ZRV_REG_SUPERIO, chip) +
                    regDword(ZRV_REG_IN_BITS, static_cast<uint32_t>(in.size())) +
                    regDword(ZRV_REG_OUT_BITS, static_cast<uint32_t>(out.size()));
    const auto lines = [&s](const char* addr, const char* mask, const std::vector<Line>& side) {
        for (size_t i = 0; i < side.size(); ++i)
            s += regDword(fmt::format("{}{}", addr, i).c_str(), side[i].group) +
                 regDword(fmt::format("{}{}", mask, i).c_str(), side[i].mask);
    };
    lines(ZRV_REG_IN_ADDR, ZRV_REG_IN_MASK, in);
    lines(ZRV_REG_OUT_ADDR, ZRV_REG_OUT_MASK, out);
    return s;
}
constexpr uint32_t kNoChip = 0x10000;
inline std::string noDio() { return dioGroupKey(kNoChip, 0, 0); }

using Lines = std::vector<std::string>;

// The port accesses of brackets and index/data sequences, as the trace shows
// them. Configuration mode opens with `enterKeys` written to the index port
// (0x87, 0x87 unless told otherwise) and closes with 0xAA written to it, or
// with a register write for chips that leave through a register.
class Trace {
public:
    explicit Trace(uint16_t indexPort, uint16_t monitorBase = 0) : index_(indexPort), base_(monitorBase) {}
    Trace& keys(std::initializer_list<uint8_t> enterKeys, uint8_t exitKey = 0xAA) {
        enterCount_ = 0;
        for (uint8_t key : enterKeys)
            if (enterCount_ < enterKeys_.size()) enterKeys_[enterCount_++] = key;
        exitKey_ = exitKey;
        exitByReg_ = false;
        return *this;
    }
    Trace& exitByRegister(uint8_t reg, uint8_t value) {
        exitByReg_ = true;
        exitReg_ = reg;
        exitValue_ = value;
        return *this;
    }
    Trace& enter() {
        for (size_t i = 0; i < enterCount_; ++i) out(index_, enterKeys_[i]);
        return *this;
    }
    Trace& exit() { return exitByReg_ ? wr(exitReg_, exitValue_) : out(index_, exitKey_); }
    Trace& select(uint8_t device) { return wr(0x07, device); }
    Trace& wr(uint8_t reg, uint8_t value) { return out(index_, reg).out(index_ + 1, value); }
    Trace& rd(uint8_t reg, uint8_t value) { return out(index_, reg).in(index_ + 1, value); }
    // Index/data pair of a monitor block at base + 5 / base + 6.
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
    std::array<uint8_t, 4> enterKeys_{0x87, 0x87, 0, 0};
    size_t enterCount_ = 2;
    uint8_t exitKey_ = 0xAA;
    bool exitByReg_ = false;
    uint8_t exitReg_ = 0;
    uint8_t exitValue_ = 0;
    std::vector<std::string> lines_;
};

// A virtual board with one emulated chip of type Chip. Every test ends with
// the driver unloaded and no platform or hardware rule broken.
template <typename Chip>
class ChipTest : public ::testing::Test {
protected:
    template <typename... Args>
    Chip& addChip(Args&&... args) {
        chip = &board.attach(std::make_unique<Chip>(std::forward<Args>(args)...));
        return *chip;
    }
    void TearDown() override {
        board.unload();
        const auto v = board.violations();
        EXPECT_TRUE(v.empty()) << v.front();
    }
    // Debugger lines since the last call.
    std::vector<std::string> newDebugLines() { return board.debugLinesFrom(seenDebug_); }
    void clearSeen() {
        board.clearTrace();
        newDebugLines();
    }

    zrvtest::SimBoard board;
    Chip* chip = nullptr;

private:
    uint64_t seenDebug_ = 0;
};

}  // namespace siotest
