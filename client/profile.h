// A board profile: what the board makes of the driver's raw answers, as
// sensors.conf does for a chip. A JSON file beside the board's .reg file
// (NAME.profile.json beside NAME.reg):
//
//   {"chip": "f81865-isa-0a00", "adapter": "ISA adapter",
//    "channels": {
//      "fan1":  {"label": "CPU fan", "min": 1000},
//      "in0":   {"label": "Vcore", "scale": 0.008, "min": 0.9, "max": 1.4},
//      "in1":   {"label": "+12V", "scale": 0.008, "offset": 0, "min": 11.4},
//      "temp1": {"label": "CPU", "max": 80}},
//    "lines": {"inputs": ["door", "key"], "outputs": ["lamp"]}}
//
// Only the channels listed are shown: a channel the board does not wire
// is left out. A voltage is raw × scale + offset volts, a temperature
// raw × scale + offset °C (raw read as -128..127 with "signed": true).
// min and max are in the channel's unit; a reading outside them is an
// alarm. Lines are named in line-word order, inputs and outputs apart.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace zrvctl {

enum class ChannelKind { Fan, Voltage, Temperature };

struct Channel {
    ChannelKind kind = ChannelKind::Fan;
    uint32_t index = 0;  // fan1 is 0, in0 is 0, temp1 is 0
    std::string key;     // "fan1", "in0", "temp1"
    std::string label;
    double scale = 1;
    double offset = 0;
    bool isSigned = false;
    std::optional<double> min, max;

    double value(uint32_t raw) const;
    bool alarm(double v) const { return (min && v < *min) || (max && v > *max); }
};

struct Profile {
    std::string file;  // empty: no profile, raw readings
    std::string chip = "zorvik";
    std::string adapter = "no board profile, raw readings";
    std::vector<Channel> channels;  // in display order: fans, voltages, temperatures
    std::vector<std::string> inputs, outputs;

    bool loaded() const { return !file.empty(); }
    // The raw layout: every channel of the record, unscaled.
    static Profile raw();
    // Throws ClientError naming the file and the entry at fault.
    static Profile load(const std::string& file);
    // The number of a line by name or number; empty when it is neither.
    static std::optional<uint32_t> line(const std::vector<std::string>& names, const std::string& text);
};

// NAME.profile.json beside NAME.reg (or beside any file NAME.EXT).
std::string profileBeside(const std::string& file);
// The profile of a run: `named` when given, else `beside` when that file
// exists, else the raw layout. Throws ClientError.
Profile chooseProfile(const std::string& named, const std::string& beside);

}  // namespace zrvctl
