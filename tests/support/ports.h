// Shared pieces of the port back-end tests: the registry text that selects
// them, and a fixture with one emulated port device on a virtual board.
#pragma once

#include <fmt/format.h>
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <utility>

#include "tests/support/harness.h"

namespace zrvtest {

// "DeviceType" 0 (the port back-end) under `subkey` ("WDT" or "DIO"), with
// `values` ("Name"=dword:... lines) after it.
inline std::string portKey(const char* subkey, const std::string& values) {
    return fmt::format(
        "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Varnel\\Zorvik\\{}]\n\"DeviceType\"=dword:00000000\n{}", subkey,
        values);
}
// "HWMON" naming no chip, then portKey(subkey, values).
inline std::string portRegistry(const char* subkey, const std::string& values) {
    return "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Varnel\\Zorvik\\HWMON]\n\"SuperIO\"=dword:00000010\n" +
           portKey(subkey, values);
}

// A virtual board with one emulated port device. Every test ends with the
// driver unloaded and no platform or hardware rule broken.
template <typename Device>
class PortTest : public ::testing::Test {
protected:
    // Loads the driver with these values under `subkey`, on this device.
    Device& boot(const char* subkey, const std::string& values, typename Device::Config hw) {
        Device& device = board.attach(std::make_unique<Device>(std::move(hw)));
        EXPECT_EQ(board.load(portRegistry(subkey, values)), ZRV_STATUS_SUCCESS);
        return device;
    }
    void TearDown() override {
        board.unload();
        const auto v = board.violations();
        EXPECT_TRUE(v.empty()) << v.front();
    }
    SimBoard board;
};

}  // namespace zrvtest
