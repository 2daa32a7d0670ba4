// Digital-I/O and CD-port commands, after gpioinfo, gpioget and gpioset.
// Written against the request interface only, so they serve every
// digital-I/O back-end alike; a back-end without the CD port or the
// direction register answers those requests "not supported".
//
//   gpioinfo                      number of input and output lines
//   gpioget [-o] [LINE...]        input word (-o: outputs read back)
//   gpioset WORD | LINE=0|1...    set the output word, or single lines
//   gpiodir MASK                  direction mask (set bits are inputs)
//   cdget [INPUT...]              CD inputs
//   cdinfo                        number of CD outputs
//   cdset OUTPUT=0|1              set one CD output
//   cdpulse OUTPUT                pulse one CD output for one second
#include <fmt/format.h>

#include <nlohmann/json.hpp>

#include "client/commands.h"

namespace zrvctl {

namespace {

constexpr uint32_t kLines = 16;      // lines of a line word
constexpr uint32_t kCdOutputs = 15;  // highest output a CD set request can carry (one nibble)

uint16_t word(const Reply& r) { return static_cast<uint16_t>(r.data[0] | r.data[1] << 8); }

std::vector<uint8_t> wordBytes(uint16_t w) { return {static_cast<uint8_t>(w), static_cast<uint8_t>(w >> 8)}; }

// "LINE=LEVEL" with LINE up to `maxLine` and LEVEL 0 or 1.
std::pair<uint32_t, bool> parseAssignment(const std::string& text, const char* what, uint32_t maxLine) {
    const size_t eq = text.find('=');
    if (eq == std::string::npos) throw ClientError{fmt::format("'{}' is not {}=0|1", text, what)};
    const uint32_t line = parseNumber(text.substr(0, eq), what, maxLine);
    const uint32_t level = parseNumber(text.substr(eq + 1), "level", 1);
    return {line, level != 0};
}

// Reply checked for success and for the bytes the answer needs.
bool answeredWith(Context& ctx, const char* command, const Reply& r, uint32_t bytes) {
    if (!requestAnswered(ctx, command, r)) return false;
    if (r.bytes >= bytes) return true;
    fmt::print("{}: short answer ({} bytes)\n", command, r.bytes);
    return false;
}

// Prints a word, or the named bits of it as "N=0|1".
void printBits(Context& ctx, const char* key, const char* label, uint32_t value, uint32_t digits,
               const std::vector<uint32_t>& bits, uint32_t firstNumber) {
    if (ctx.json) {
        nlohmann::json j = {{key, value}};
        if (!bits.empty()) {
            nlohmann::json lines = nlohmann::json::object();
            for (uint32_t b : bits) lines[std::to_string(b + firstNumber)] = (value >> b) & 1u;
            j["lines"] = lines;
        }
        fmt::print("{}\n", j.dump());
        return;
    }
    if (bits.empty()) {
        fmt::print("{} 0x{:0{}x}\n", label, value, digits);
        return;
    }
    std::string out;
    for (uint32_t b : bits)
        out += fmt::format("{}{}={}", out.empty() ? "" : " ", b + firstNumber, (value >> b) & 1u);
    fmt::print("{}\n", out);
}

Action parseGpioinfo(const std::vector<std::string>& args) {
    if (!args.empty()) throw ClientError{"gpioinfo: takes no arguments"};
    return [](Context& ctx) {
        Reply r = ctx.device.ioctl(IOCTL_DIO_GET_CONFIG, {}, sizeof(DioConfig), HandleAccess::ReadWrite);
        if (!answeredWith(ctx, "gpioinfo", r, sizeof(DioConfig))) return;
        if (ctx.json)
            fmt::print("{}\n", nlohmann::json{{"inputs", r.data[0]}, {"outputs", r.data[1]}}.dump());
        else
            fmt::print("{} input lines, {} output lines\n", r.data[0], r.data[1]);
    };
}

Action parseGpioget(const std::vector<std::string>& args) {
    bool outputs = false;
    std::vector<uint32_t> lines;
    for (const std::string& a : args) {
        if (a == "-o" || a == "--outputs")
            outputs = true;
        else
            lines.push_back(parseNumber(a, "gpioget: line", kLines - 1));
    }
    return [=](Context& ctx) {
        const uint32_t code = outputs ? IOCTL_DIO_GET_OUTPUT : IOCTL_DIO_GET_INPUT;
        Reply r = ctx.device.ioctl(code, {}, 2, HandleAccess::ReadWrite);
        if (!answeredWith(ctx, "gpioget", r, 2)) return;
        printBits(ctx, outputs ? "outputs" : "inputs", outputs ? "outputs:" : "inputs:", word(r), 4, lines,
                  0);
    };
}

Action parseGpioset(const std::vector<std::string>& args) {
    if (args.empty()) throw ClientError{"gpioset: missing output word or LINE=0|1"};
    if (args.size() == 1 && args[0].find('=') == std::string::npos) {
        const uint16_t value = static_cast<uint16_t>(parseNumber(args[0], "gpioset: word", 0xFFFF));
        return [value](Context& ctx) {
            Reply r = ctx.device.ioctl(IOCTL_DIO_SET_OUTPUT, wordBytes(value), 0, HandleAccess::ReadWrite);
            if (!requestAnswered(ctx, "gpioset", r)) return;
            printBits(ctx, "outputs", "outputs set to", value, 4, {}, 0);
        };
    }
    // Single lines: the other outputs keep the levels read back from the
    // hardware.
    uint16_t set = 0, clear = 0;
    for (const std::string& a : args) {
        const auto [line, level] = parseAssignment(a, "line", kLines - 1);
        const uint16_t bit = static_cast<uint16_t>(1u << line);
        set = static_cast<uint16_t>(level ? set | bit : set & ~bit);
        clear = static_cast<uint16_t>(level ? clear & ~bit : clear | bit);
    }
    return [set, clear](Context& ctx) {
        Reply now = ctx.device.ioctl(IOCTL_DIO_GET_OUTPUT, {}, 2, HandleAccess::ReadWrite);
        if (!answeredWith(ctx, "gpioset", now, 2)) return;
        const uint16_t value = static_cast<uint16_t>((word(now) | set) & ~clear);
        Reply r = ctx.device.ioctl(IOCTL_DIO_SET_OUTPUT, wordBytes(value), 0, HandleAccess::ReadWrite);
        if (!requestAnswered(ctx, "gpioset", r)) return;
        printBits(ctx, "outputs", "outputs set to", value, 4, {}, 0);
    };
}

Action parseGpiodir(const std::vector<std::string>& args) {
    if (args.size() != 1) throw ClientError{"gpiodir: takes one direction mask"};
    const uint8_t mask = static_cast<uint8_t>(parseNumber(args[0], "gpiodir: mask", 0xFF));
    return [mask](Context& ctx) {
        Reply r = ctx.device.ioctl(IOCTL_DIO_SET_SPECIFIC_MASK, {mask}, 0, HandleAccess::ReadWrite);
        if (!requestAnswered(ctx, "gpiodir", r)) return;
        if (ctx.json)
            fmt::print("{}\n", nlohmann::json{{"direction_mask", mask}}.dump());
        else
            fmt::print("direction mask set to 0x{:02x} (set bits are inputs)\n", mask);
    };
}

Action parseCdget(const std::vector<std::string>& args) {
    std::vector<uint32_t> bits;
    for (const std::string& a : args) bits.push_back(parseNumber(a, "cdget: input", 8) - 1);
    for (uint32_t b : bits)
        if (b > 7) throw ClientError{"cdget: inputs are numbered from 1 to 8"};
    return [bits](Context& ctx) {
        Reply r = ctx.device.ioctl(IOCTL_DIO_CD_GET_INPUTS, {}, 1, HandleAccess::ReadWrite);
        if (!answeredWith(ctx, "cdget", r, 1)) return;
        printBits(ctx, "cd_inputs", "cd inputs:", r.data[0], 2, bits, 1);
    };
}

Action parseCdinfo(const std::vector<std::string>& args) {
    if (!args.empty()) throw ClientError{"cdinfo: takes no arguments"};
    return [](Context& ctx) {
        Reply r = ctx.device.ioctl(IOCTL_DIO_CD_GET_OUTPUT_COUNT, {}, 1, HandleAccess::ReadWrite);
        if (!answeredWith(ctx, "cdinfo", r, 1)) return;
        if (ctx.json)
            fmt::print("{}\n", nlohmann::json{{"cd_outputs", r.data[0]}}.dump());
        else
            fmt::print("{} cd outputs\n", r.data[0]);
    };
}

// The driver accepts any output number and leaves the port alone for one
// it does not have; say so rather than report a change that did not happen.
bool cdOutputExists(Context& ctx, const char* command, uint32_t output) {
    Reply r = ctx.device.ioctl(IOCTL_DIO_CD_GET_OUTPUT_COUNT, {}, 1, HandleAccess::ReadWrite);
    if (r.status != ZRV_STATUS_SUCCESS || r.bytes < 1) return true;
    if (output >= 1 && output <= r.data[0]) return true;
    if (ctx.json)
        fmt::print("{}\n", nlohmann::json{{"command", command},
                                          {"cd_output", output},
                                          {"error", "no such output"},
                                          {"cd_outputs", r.data[0]}}
                               .dump());
    else
        fmt::print("{}: no cd output {} (the port has {})\n", command, output, r.data[0]);
    return false;
}

Action parseCdset(const std::vector<std::string>& args) {
    if (args.size() != 1) throw ClientError{"cdset: takes one OUTPUT=0|1"};
    const auto [output, level] = parseAssignment(args[0], "output", kCdOutputs);
    // The request packs the output number into the high nibble and the
    // state into bit 0.
    const uint8_t byte = static_cast<uint8_t>(output << 4 | (level ? 1u : 0u));
    return [output, level, byte](Context& ctx) {
        Reply r = ctx.device.ioctl(IOCTL_DIO_CD_SET_OUTPUT, {byte}, 0, HandleAccess::ReadWrite);
        if (!requestAnswered(ctx, "cdset", r) || !cdOutputExists(ctx, "cdset", output)) return;
        if (ctx.json)
            fmt::print("{}\n", nlohmann::json{{"cd_output", output}, {"state", level ? 1 : 0}}.dump());
        else
            fmt::print("cd output {} set to {}\n", output, level ? 1 : 0);
    };
}

Action parseCdpulse(const std::vector<std::string>& args) {
    if (args.size() != 1) throw ClientError{"cdpulse: takes one output number"};
    const uint8_t output = static_cast<uint8_t>(parseNumber(args[0], "cdpulse: output", 0xFF));
    return [output](Context& ctx) {
        Reply r = ctx.device.ioctl(IOCTL_DIO_CD_PULSE_OUTPUT, {output}, 0, HandleAccess::ReadWrite);
        if (!requestAnswered(ctx, "cdpulse", r) || !cdOutputExists(ctx, "cdpulse", output)) return;
        if (ctx.json)
            fmt::print("{}\n", nlohmann::json{{"cd_output", output}, {"pulsed_ms", 1000}}.dump());
        else
            fmt::print("cd output {} pulsed for 1 s\n", output);
    };
}

}  // namespace

void addDigitalIoCommands(CommandTable& table) {
    table.push_back({"gpioinfo", "gpioinfo", "digital I/O: number of input and output lines", parseGpioinfo});
    table.push_back({"gpioget", "gpioget [-o|--outputs] [LINE...]",
                     "digital I/O: read the inputs (or read back the outputs), as a word or by line",
                     parseGpioget});
    table.push_back({"gpioset", "gpioset WORD | LINE=0|1 [LINE=0|1...]",
                     "digital I/O: set the output word, or single lines (others read back)", parseGpioset});
    table.push_back({"gpiodir", "gpiodir MASK", "digital I/O: set the direction mask (set bits are inputs)",
                     parseGpiodir});
    table.push_back({"cdget", "cdget [INPUT...]", "CD port: read the inputs (numbered from 1)", parseCdget});
    table.push_back({"cdinfo", "cdinfo", "CD port: number of outputs", parseCdinfo});
    table.push_back({"cdset", "cdset OUTPUT=0|1", "CD port: set one output (numbered from 1)", parseCdset});
    table.push_back({"cdpulse", "cdpulse OUTPUT", "CD port: pulse one output for one second", parseCdpulse});
}

}  // namespace zrvctl
