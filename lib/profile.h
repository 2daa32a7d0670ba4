// A board profile: what the board makes of the driver's raw answers, as
// sensors.conf does for a chip. A JSON file beside the board's .reg file
// (NAME.profile.json beside NAME.reg):
//
//   {"chip": "f81865-isa-0a00", "adapter": "ISA adapter",
//    "channels": {
//      "fan1":  {"label": "CPU fan", "min": 1000},
//      "in0":   {"label": "Vcore", "scale": 0.008, "min": 0.9, "max": 1.4},
//      "temp1": {"label": "CPU", "max": 80}},
//    "lines": {"inputs": ["door", "key"], "outputs": ["lamp"]}}
//
// Only the channels listed are shown: a channel the board does not wire
// is left out. A voltage is raw × scale + offset volts, a temperature
// raw × scale + offset °C (raw read as -128..127 with "signed": true).
// min and max are in the channel's unit; a reading outside them is an
// alarm. Lines are named in line-word order, inputs and outputs apart, or,
// where the direction mask decides which pin is which line, by pin:
//
//    "lines": {"pins": ["GPIO0", "GPIO1", null, "GPIO3"], "direction": "0x0f"}
//
// names the pins by their bit in the data port or register (null: no pin
// wired there) and gives the direction mask the board comes up with (set
// bits are inputs). A pin is then an input or an output line by the mask
// in effect, and its line is its bit less the lowest bit of its side, as
// the driver packs the line word.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "zorvik/zorvik.h"

namespace zorvik {

enum class ChannelKind { Fan, Voltage, Temperature };

// Pins are the bits of the byte-wide direction mask.
constexpr size_t kPinBits = 8;

struct Channel {
    ChannelKind kind = ChannelKind::Fan;
    uint32_t index = 0;  // fan1 is 0, in0 is 0, temp1 is 0
    std::string key;     // "fan1", "in0", "temp1"
    std::string label;
    double scale = 1;
    double offset = 0;
    bool isSigned = false;
    std::optional<double> min, max;
};

// A profile that cannot be used: the file and the entry at fault.
struct ProfileError {
    std::string message;
};

struct Profile {
    std::string file;  // empty: no profile, raw readings
    std::string chip = "zorvik";
    std::string adapter = "no board profile, raw readings";
    std::vector<Channel> channels;  // in display order: fans, voltages, temperatures
    std::vector<std::string> inputs, outputs;
    std::vector<std::string> pins;     // by bit; "" where no pin is named
    std::optional<uint8_t> direction;  // the mask the board comes up with

    // The raw layout: every channel of the record, unscaled.
    static const Profile& raw();
    // Throws ProfileError.
    static Profile load(const std::string& file);
};

// The channels of one record as the profile shows them.
std::vector<zrv_sensor> sensorsOf(const Profile& p, const HwmData& d);

}  // namespace zorvik

struct zrv_profile {
    zorvik::Profile p;
};
