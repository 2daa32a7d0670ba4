// Digital-I/O and CD-port commands, after libgpiod's gpioinfo, gpioget and
// gpioset. Written against the request interface only, so they serve every
// digital-I/O back-end alike; a back-end without the CD port or the
// direction register answers those requests "not supported". Lines are
// named by the board profile; a name or a number is accepted wherever a
// line is, and a line beyond the board's count is refused before any
// request touches it.
//
//   gpioinfo                          one row per line: number, name, direction
//   gpioget [-o] [-l] [LINE...]       input word or lines (-o: outputs read back)
//   gpioset [-l] WORD | LINE=0|1...   set the output word or lines; prints the read-back
//   gpiodir MASK                      direction mask (set bits are inputs)
//   cdget [INPUT...]                  CD inputs
//   cdinfo                            number of CD outputs
//   cdset OUTPUT=0|1                  set one CD output
//   cdpulse OUTPUT                    pulse one CD output for one second
#include <fmt/format.h>

#include <CLI/CLI.hpp>
#include <algorithm>
#include <cctype>
#include <memory>
#include <nlohmann/json.hpp>

#include "client/commands.h"
#include "driver/core/chips.h"

namespace zrvctl {

std::vector<std::pair<uint32_t, std::string>> pinLines(const Profile& profile, uint8_t mask, bool outputs) {
    std::vector<std::pair<uint32_t, std::string>> lines;
    for (uint32_t pin = 0; pin < profile.pins.size(); ++pin) {
        int out = 0;
        unsigned line = 0;
        if (profile.pins[pin].empty() || zrv_dio_pin_line(mask, pin, &out, &line) != ZRV_OK ||
            (out != 0) != outputs)
            continue;
        lines.emplace_back(line, profile.pins[pin]);
    }
    return lines;
}

namespace {
std::optional<uint8_t> knownDirection(Context& ctx) {
    if (ctx.run.direction) return ctx.run.direction;
    // A back-end that reads the directions once at load and never writes
    // them (the W83627 GPIO) keeps its lines as the board came up.
    const std::optional<uint32_t> chip = configuredChip(ctx, "digital I/O");
    if (const ChipRow* row = chip ? ChipRowOf(*chip) : nullptr; row != nullptr && row->FixedDirections)
        return ctx.profile.direction;
    return std::nullopt;
}
}  // namespace

std::optional<uint8_t> directionInEffect(Context& ctx) {
    const std::optional<uint8_t> mask = knownDirection(ctx);
    // The library numbers the lines by the same mask.
    if (mask) zrv_dio_assume_direction(ctx.lib(), *mask);
    return mask;
}

namespace {

constexpr uint32_t kCdOutputs = 15;  // highest output a CD set request can carry (one nibble)

// Why a request of the digital I/O failed, where status would say it.
std::string dioWhy(Context& ctx, int err) {
    return err != ZRV_OK ? notSupportedReason(ctx, "digital I/O") : std::string();
}

std::optional<uint16_t> readWord(Context& ctx, const char* command, bool outputs) {
    uint16_t w = 0;
    const int err = outputs ? zrv_dio_read_outputs(ctx.lib(), &w) : zrv_dio_read(ctx.lib(), &w);
    if (!answered(ctx, command, err, dioWhy(ctx, err))) return std::nullopt;
    return w;
}

std::optional<DioConfig> lineCounts(Context& ctx, const char* command) {
    unsigned in = 0, out = 0;
    const int err = zrv_dio_lines(ctx.lib(), &in, &out);
    if (!answered(ctx, command, err, dioWhy(ctx, err))) return std::nullopt;
    return DioConfig{static_cast<uint8_t>(in), static_cast<uint8_t>(out)};
}

// The line word has 16 bits: no line beyond them, whatever the board says.
constexpr uint32_t kWordLines = 16;

// A line as the caller named it, and its number.
struct LineRef {
    std::string word;
    uint32_t number;
};

// Names and numbers to lines. Where the profile names pins, a name is
// resolved to the line its pin is under the direction mask in effect, and
// a number must be one of those lines; where that mask is not known (it
// may have been changed outside this run, and the driver cannot report it)
// a name is refused rather than guessed.
std::vector<LineRef> resolveLines(Context& ctx, bool outputs, const std::vector<std::string>& words) {
    const Profile& profile = ctx.profile;
    const char* direction = outputs ? "output" : "input";
    std::vector<LineRef> lines;
    const std::optional<uint8_t> mask = directionInEffect(ctx);
    for (const std::string& w : words) {
        const std::optional<uint32_t> n = profile.line(outputs, w);
        const auto pin = std::find(profile.pins.begin(), profile.pins.end(), w);
        if (!n && pin == profile.pins.end()) {
            // A name of the other direction's lines (numbers count each
            // direction's lines apart): say what the line is.
            const bool number = !w.empty() && std::isdigit(static_cast<unsigned char>(w[0]));
            if (!number && profile.line(!outputs, w))
                throw ClientError{fmt::format("'{}' is an {} line, not an {} line", w,
                                              outputs ? "input" : "output", direction)};
            throw ClientError{
                fmt::format("no {} line '{}' (a number, or a name from the profile)", direction, w)};
        }
        if (profile.pins.empty()) {
            lines.push_back({w, *n});
            continue;
        }
        if (!mask) {
            if (pin == profile.pins.end()) {
                lines.push_back({w, *n});  // by number, as the board counts its lines
                continue;
            }
            throw ClientError{fmt::format(
                "'{}' is a pin whose line depends on the direction mask, which may have been changed "
                "since the driver loaded and cannot be read back: give gpiodir MASK earlier in this run, "
                "or the line's number",
                w)};
        }
        const auto on = pinLines(profile, *mask, outputs);
        if (pin != profile.pins.end()) {
            const auto it = std::find_if(on.begin(), on.end(), [&](const auto& l) { return l.second == w; });
            if (it == on.end())
                throw ClientError{fmt::format("pin '{}' is not an {} under the direction mask 0x{:02x}", w,
                                              direction, *mask)};
            lines.push_back({w, it->first});
            continue;
        }
        const auto it = std::find_if(on.begin(), on.end(), [&](const auto& l) { return l.first == *n; });
        if (it == on.end())
            throw ClientError{fmt::format("{} line {} is no pin the profile names (direction mask 0x{:02x})",
                                          direction, w, *mask)};
        lines.push_back({w, *n});
    }
    return lines;
}

// True when every line is on the board, as the library numbers the lines
// (with their gaps where the direction mask is known); otherwise says
// which is not.
bool linesExist(Context& ctx, const char* command, const std::vector<LineRef>& lines, bool outputs) {
    const char* direction = outputs ? "output" : "input";
    const std::optional<DioConfig> c = lineCounts(ctx, command);
    uint16_t bits = 0;
    if (!c || !answered(ctx, command, zrv_dio_line_bits(ctx.lib(), outputs ? 1 : 0, &bits))) return false;
    const uint32_t count = outputs ? c->OutBits : c->InBits;
    for (const LineRef& l : lines) {
        if (l.number < kWordLines && (bits >> l.number & 1u) != 0) continue;
        fail(ctx, command,
             l.number >= kWordLines && count > kWordLines
                 ? fmt::format("{} line {} is beyond the line word's {} lines (the board reports {})",
                               direction, l.word, kWordLines, count)
                 : fmt::format("{} line {} is beyond the board's {} {} lines", direction, l.word, count,
                               direction),
             {{"error", "no such line"}, {"line", l.word}, {"lines", count}});
        return false;
    }
    return true;
}

Builder defineGpioinfo(CLI::App&) {
    return [] {
        return [](Context& ctx) {
            const std::optional<DioConfig> c = lineCounts(ctx, "gpioinfo");
            if (!c) return;
            const std::optional<uint8_t> mask = directionInEffect(ctx);
            nlohmann::json j = {{"inputs", nlohmann::json::array()}, {"outputs", nlohmann::json::array()}};
            std::string text;
            const auto rows = [&](const char* key, const char* direction, uint32_t count,
                                  const std::vector<std::string>& names, bool outputs) {
                text += fmt::format("{}{}: {} lines", text.empty() ? "" : "\n", key, count);
                if (!ctx.profile.pins.empty() && mask) {
                    // The lines where the pins are, with their bits.
                    for (const auto& [line, name] : pinLines(ctx.profile, *mask, outputs)) {
                        const uint32_t pin = static_cast<uint32_t>(
                            std::find(ctx.profile.pins.begin(), ctx.profile.pins.end(), name) -
                            ctx.profile.pins.begin());
                        text += fmt::format("\n\tline {:>2}: {:<16} {:<6} bit {}", line, "\"" + name + "\"",
                                            direction, pin);
                        j[key].push_back(
                            {{"line", line}, {"name", name}, {"direction", direction}, {"bit", pin}});
                    }
                    return;
                }
                if (!ctx.profile.pins.empty())
                    text += "\n\t(the direction mask is not known: lines by number only)";
                for (uint32_t i = 0; i < count && i < kWordLines; ++i) {
                    const std::string name = i < names.size() ? "\"" + names[i] + "\"" : "unnamed";
                    text += fmt::format("\n\tline {:>2}: {:<16} {}", i, name, direction);
                    j[key].push_back(
                        {{"line", i},
                         {"name", i < names.size() ? nlohmann::json(names[i]) : nlohmann::json()},
                         {"direction", direction}});
                }
            };
            rows("inputs", "input", c->InBits, ctx.profile.inputs, false);
            rows("outputs", "output", c->OutBits, ctx.profile.outputs, true);
            answer(ctx, text, j);
        };
    };
}

struct GetArgs {
    bool outputs = false;
    bool activeLow = false;
    std::vector<std::string> lines;
    Repeat repeat;
};

// The bits of the line word that are lines of one side.
std::optional<uint16_t> lineMask(Context& ctx, const char* command, bool outputs) {
    directionInEffect(ctx);
    uint16_t bits = 0;
    if (!answered(ctx, command, zrv_dio_line_bits(ctx.lib(), outputs ? 1 : 0, &bits))) return std::nullopt;
    return bits;
}

void gpioget(Context& ctx, const GetArgs& a) {
    const std::vector<LineRef> lines = resolveLines(ctx, a.outputs, a.lines);
    if (!lines.empty() && !linesExist(ctx, "gpioget", lines, a.outputs)) return;
    const std::optional<uint16_t> raw = readWord(ctx, "gpioget", a.outputs);
    if (!raw) return;
    uint16_t w = *raw;
    if (a.activeLow) {
        // Inverted, the bits beyond the lines would read 1: they stay 0.
        const std::optional<uint16_t> mask = lineMask(ctx, "gpioget", a.outputs);
        if (!mask) return;
        w = static_cast<uint16_t>(~*raw & *mask);
    }
    const char* key = a.outputs ? "outputs" : "inputs";
    if (lines.empty()) {
        answer(ctx, fmt::format("{}: 0x{:04x}", key, w), {{key, w}});
        return;
    }
    nlohmann::json j = {{key, w}, {"lines", nlohmann::json::object()}};
    std::string text;
    for (const LineRef& l : lines) {
        const uint32_t v = (w >> l.number) & 1u;
        j["lines"][l.word] = v;
        text += fmt::format("{}{}={}", text.empty() ? "" : " ", l.word, v);
    }
    answer(ctx, text, j);
}

Builder defineGpioget(CLI::App& app) {
    auto a = std::make_shared<GetArgs>();
    app.add_flag("-o,--outputs", a->outputs, "read back the outputs instead of the inputs");
    app.add_flag("-l,--active-low", a->activeLow, "lines are active low: report the inverted levels");
    app.add_option("LINE", a->lines, "lines by number or by the profile's name (default: the whole word)");
    addRepeat(app, a->repeat);
    return [a] { return [a = *a](Context& ctx) { repeat(ctx, a.repeat, [&] { gpioget(ctx, a); }); }; };
}

struct SetArgs {
    bool activeLow = false;
    std::vector<std::string> words;
};

void gpioset(Context& ctx, const SetArgs& a) {
    uint16_t value = 0;
    std::vector<std::pair<LineRef, bool>> lines;
    if (a.words.size() == 1 && a.words[0].find('=') == std::string::npos) {
        value = static_cast<uint16_t>(parseNumber(a.words[0], "word", 0xFFFF));
        if (a.activeLow) value = static_cast<uint16_t>(~value);
    } else {
        for (const std::string& w : a.words) {
            const size_t eq = w.find('=');
            if (eq == std::string::npos) throw ClientError{fmt::format("'{}' is not LINE=0|1", w)};
            const bool level = parseLevel(w.substr(eq + 1));
            lines.emplace_back(resolveLines(ctx, true, {w.substr(0, eq)})[0], level != a.activeLow);
        }
        for (const auto& [l, _] : lines)
            if (!linesExist(ctx, "gpioset", {l}, true)) return;
        // The other outputs keep the levels read back from the hardware.
        const std::optional<uint16_t> now = readWord(ctx, "gpioset", true);
        if (!now) return;
        value = *now;
        for (const auto& [l, level] : lines)
            value = static_cast<uint16_t>(level ? value | 1u << l.number : value & ~(1u << l.number));
    }
    // A write the driver took but whose lines read back otherwise is
    // ZRV_EIO with a successful last status: the read-back says which.
    uint16_t readBack = 0;
    const int written = zrv_dio_write_back(ctx.lib(), value, &readBack);
    const bool tookIt = written == ZRV_EIO && zrv_last_status(ctx.lib()) == ZRV_STATUS_SUCCESS;
    if (!tookIt && !answered(ctx, "gpioset", written, dioWhy(ctx, written))) return;
    const std::optional<uint16_t> back = readBack;
    // What did not stick: bits beyond the output lines, or lines that are
    // inputs now. For LINE=0|1 only the lines named count.
    uint16_t asked = 0xFFFF;
    if (a.activeLow && lines.empty()) {
        // Inverted, the bits beyond the lines were written 1 by us.
        const std::optional<uint16_t> mask = lineMask(ctx, "gpioset", true);
        if (!mask) return;
        asked = *mask;
    }
    if (!lines.empty()) {
        asked = 0;
        for (const auto& [l, _] : lines) asked = static_cast<uint16_t>(asked | 1u << l.number);
    }
    const uint16_t differs = static_cast<uint16_t>((value ^ *back) & asked);
    const uint16_t shown = a.activeLow ? static_cast<uint16_t>(~value) : value;
    const uint16_t read = a.activeLow ? static_cast<uint16_t>(~*back) : *back;
    if (differs != 0)
        fail(ctx, "gpioset",
             fmt::format("read back 0x{:04x} differs from 0x{:04x} written in bits 0x{:04x}: no output "
                         "lines there",
                         read, shown, differs),
             {{"error", "read back differs"}, {"written", shown}, {"read_back", read}, {"bits", differs}});
    nlohmann::json j = {{"outputs", shown}, {"read_back", read}};
    std::string text = fmt::format("outputs set to 0x{:04x}, read back 0x{:04x}", shown, read);
    if (!lines.empty()) {
        text.clear();
        for (const auto& [l, _] : lines) {
            const uint32_t v = (read >> l.number) & 1u;
            j["lines"][l.word] = v;
            text += fmt::format("{}{}={}", text.empty() ? "" : " ", l.word, v);
        }
        text += " (read back)";
    }
    answer(ctx, text, j);
}

Builder defineGpioset(CLI::App& app) {
    auto a = std::make_shared<SetArgs>();
    app.add_flag("-l,--active-low", a->activeLow, "lines are active low: 1 drives them low");
    app.add_option(
           "VALUES", a->words,
           "the output WORD, or LINE=LEVEL (0, 1, active, inactive, on, off) by number or the profile's name")
        ->required();
    return [a] {
        // Checked now so that a bad word stops the script before it runs;
        // names are resolved against the profile when it runs.
        for (const std::string& w : a->words) {
            const size_t eq = w.find('=');
            if (eq == std::string::npos && a->words.size() > 1)
                throw ClientError{fmt::format("'{}' is not LINE=0|1", w)};
            if (eq == std::string::npos)
                parseNumber(w, "word", 0xFFFF);
            else
                parseLevel(w.substr(eq + 1));
        }
        return [a = *a](Context& ctx) { gpioset(ctx, a); };
    };
}

Builder defineGpiodir(CLI::App& app) {
    return withByte(app, "MASK", "direction mask; set bits are inputs", [](Context& ctx, uint8_t mask) {
        if (!answered(ctx, "gpiodir", zrv_dio_set_direction(ctx.lib(), mask))) {
            ctx.run.direction.reset();  // a refused write may have reached the register or not
            return;
        }
        ctx.run.direction = mask;
        answer(ctx, fmt::format("direction mask set to 0x{:02x} (set bits are inputs)", mask),
               {{"direction_mask", mask}});
    });
}

Builder defineCdget(CLI::App& app) {
    auto inputs = std::make_shared<std::vector<std::string>>();
    app.add_option("INPUT", *inputs, "CD inputs, numbered from 1 (default: the whole byte)");
    return [inputs] {
        std::vector<uint32_t> bits;
        for (const std::string& s : *inputs) {
            const uint32_t n = parseNumber(s, "input", 8);
            if (n == 0) throw ClientError{"inputs are numbered from 1 to 8"};
            bits.push_back(n);
        }
        return [bits](Context& ctx) {
            uint8_t v = 0;
            const int err = zrv_cd_inputs(ctx.lib(), &v);
            if (!answered(ctx, "cdget", err, err != ZRV_OK ? notSupportedReason(ctx, "CD port") : "")) return;
            if (bits.empty()) {
                answer(ctx, fmt::format("cd inputs: 0x{:02x}", v), {{"cd_inputs", v}});
                return;
            }
            nlohmann::json j = {{"cd_inputs", v}, {"lines", nlohmann::json::object()}};
            std::string text;
            for (uint32_t n : bits) {
                j["lines"][std::to_string(n)] = (v >> (n - 1)) & 1u;
                text += fmt::format("{}{}={}", text.empty() ? "" : " ", n, (v >> (n - 1)) & 1u);
            }
            answer(ctx, text, j);
        };
    };
}

Builder defineCdinfo(CLI::App&) {
    return [] {
        return [](Context& ctx) {
            unsigned n = 0;
            const int err = zrv_cd_outputs(ctx.lib(), &n);
            if (!answered(ctx, "cdinfo", err, err != ZRV_OK ? notSupportedReason(ctx, "CD port") : ""))
                return;
            answer(ctx, fmt::format("{} cd outputs", n), {{"cd_outputs", n}});
        };
    };
}

// The driver accepts any output number and leaves the port alone for one
// it does not have; say so rather than report a change that did not happen.
bool cdOutputExists(Context& ctx, const char* command, uint32_t output) {
    unsigned n = 0;
    if (zrv_cd_outputs(ctx.lib(), &n) != ZRV_OK) return true;
    if (output >= 1 && output <= n) return true;
    fail(ctx, command, fmt::format("no cd output {} (the port has {})", output, n),
         {{"cd_output", output}, {"error", "no such output"}, {"cd_outputs", n}});
    return false;
}

// Outputs count from 1: the library refuses output 0 before sending, and
// the answer is the port's, as for any output the port lacks.
bool cdSent(Context& ctx, const char* command, uint32_t output, const std::function<int()>& request) {
    if (output != 0) return answered(ctx, command, request());
    unsigned n = 0;
    return answered(ctx, command, zrv_cd_outputs(ctx.lib(), &n)) && cdOutputExists(ctx, command, output);
}

Builder defineCdset(CLI::App& app) {
    auto arg = std::make_shared<std::string>();
    app.add_option("OUTPUT=LEVEL", *arg, "one CD output (from 1) and 0 or 1")->required();
    return [arg] {
        const size_t eq = arg->find('=');
        if (eq == std::string::npos) throw ClientError{fmt::format("'{}' is not OUTPUT=0|1", *arg)};
        const uint32_t output = parseNumber(arg->substr(0, eq), "output", kCdOutputs);
        const bool level = parseLevel(arg->substr(eq + 1));
        return [output, level](Context& ctx) {
            if (!cdSent(ctx, "cdset", output, [&] { return zrv_cd_set(ctx.lib(), output, level); }) ||
                !cdOutputExists(ctx, "cdset", output))
                return;
            answer(ctx, fmt::format("cd output {} set to {}", output, level ? 1 : 0),
                   {{"cd_output", output}, {"state", level ? 1 : 0}});
        };
    };
}

Builder defineCdpulse(CLI::App& app) {
    return withByte(app, "OUTPUT", "one CD output, from 1", [](Context& ctx, uint8_t output) {
        if (!cdSent(ctx, "cdpulse", output, [&] { return zrv_cd_pulse(ctx.lib(), output); }) ||
            !cdOutputExists(ctx, "cdpulse", output))
            return;
        answer(ctx, fmt::format("cd output {} pulsed for 1 s", output),
               {{"cd_output", output}, {"pulsed_ms", 1000}});
    });
}

}  // namespace

void addDigitalIoCommands(CommandTable& table) {
    table.push_back({"gpioinfo", "digital I/O: one row per line: number, name, direction", defineGpioinfo});
    table.push_back({"gpioget",
                     "digital I/O: read the inputs (or read back the outputs), as a word or by line",
                     defineGpioget});
    table.push_back(
        {"gpioset", "digital I/O: set the output word or single lines; prints the read-back", defineGpioset});
    table.push_back({"gpiodir", "digital I/O: set the direction mask (set bits are inputs)", defineGpiodir});
    table.push_back({"cdget", "CD port: read the inputs (numbered from 1)", defineCdget});
    table.push_back({"cdinfo", "CD port: number of outputs", defineCdinfo});
    table.push_back({"cdset", "CD port: set one output (numbered from 1)", defineCdset});
    table.push_back({"cdpulse", "CD port: pulse one output for one second", defineCdpulse});
}

}  // namespace zrvctl
