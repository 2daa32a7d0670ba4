// Commands on the emulated board itself rather than through the driver:
// move virtual time, drive input lines, read line levels, list the resets a
// watchdog caused. On a real machine there is no such board and they say so.
//
//   advance 30s | 500ms | 2m      move virtual time; names resets it caused
//   pinset LINE=0|1 [...]         drive input lines from outside
//   pinget LINE [...]             levels of lines
//   resets                        board resets so far
#include <fmt/format.h>

#include <nlohmann/json.hpp>

#include "client/commands.h"

namespace zrvctl {

namespace {

struct DurationUnit {
    const char* suffix;
    uint64_t ms;
};
// A bare number is seconds, as for sleep(1).
const DurationUnit kDurationUnits[] = {{"", 1000},   {"s", 1000},    {"ms", 1},
                                       {"m", 60000}, {"min", 60000}, {"h", 3600000}};

uint64_t parseDuration(const std::string& text) {
    size_t digits = 0;
    while (digits < text.size() && std::isdigit(static_cast<unsigned char>(text[digits]))) ++digits;
    const std::string suffix = text.substr(digits);
    for (const DurationUnit& u : kDurationUnits)
        if (suffix == u.suffix) return parseNumber(text.substr(0, digits), "duration", 0xFFFFFFFFu) * u.ms;
    throw ClientError{fmt::format("duration: '{}' is not a number with a unit (ms, s, m, h)", text)};
}

std::string seconds(uint64_t ms) { return fmt::format("{}.{:03} s", ms / 1000, ms % 1000); }

// The board, or null after saying that there is none.
Board* boardFor(Context& ctx, const char* command) {
    if (ctx.board != nullptr) return ctx.board;
    if (ctx.json)
        fmt::print("{}\n", nlohmann::json{{"command", command}, {"error", "no emulated board"}}.dump());
    else
        fmt::print("{}: no emulated board here\n", command);
    return nullptr;
}

Action parseAdvance(const std::vector<std::string>& args) {
    if (args.size() != 1) throw ClientError{"advance: takes one duration"};
    const uint64_t ms = parseDuration(args[0]);
    return [ms](Context& ctx) {
        Board* board = boardFor(ctx, "advance");
        if (board == nullptr) return;
        const size_t before = board->resets().size();
        board->advance(ms);
        const std::vector<uint64_t> all = board->resets();
        const std::vector<uint64_t> fresh(
            all.begin() + static_cast<std::ptrdiff_t>(std::min(before, all.size())), all.end());
        if (ctx.json) {
            fmt::print("{}\n", nlohmann::json{{"time_ms", board->nowMs()}, {"resets_ms", fresh}}.dump());
            return;
        }
        fmt::print("time {}\n", seconds(board->nowMs()));
        for (uint64_t at : fresh) fmt::print("board reset by the watchdog at {}\n", seconds(at));
    };
}

Action parsePinset(const std::vector<std::string>& args) {
    if (args.empty()) throw ClientError{"pinset: missing LINE=0|1"};
    std::vector<std::pair<std::string, bool>> lines;
    for (const std::string& a : args) {
        const size_t eq = a.find('=');
        if (eq == std::string::npos || eq == 0)
            throw ClientError{fmt::format("pinset: '{}' is not LINE=0|1", a)};
        lines.emplace_back(a.substr(0, eq), parseNumber(a.substr(eq + 1), "level", 1) != 0);
    }
    return [lines](Context& ctx) {
        Board* board = boardFor(ctx, "pinset");
        if (board == nullptr) return;
        nlohmann::json j = nlohmann::json::object();
        std::string out;
        for (const auto& [line, level] : lines) {
            if (!board->setPin(line, level)) {
                fmt::print("pinset: no input line '{}' on this board\n", line);
                return;
            }
            j[line] = level ? 1 : 0;
            out += fmt::format("{}{}={}", out.empty() ? "" : " ", line, level ? 1 : 0);
        }
        fmt::print("{}\n", ctx.json ? j.dump() : out);
    };
}

Action parsePinget(const std::vector<std::string>& args) {
    if (args.empty()) throw ClientError{"pinget: missing LINE"};
    return [args](Context& ctx) {
        Board* board = boardFor(ctx, "pinget");
        if (board == nullptr) return;
        nlohmann::json j = nlohmann::json::object();
        std::string out;
        for (const std::string& line : args) {
            const std::optional<bool> level = board->pin(line);
            if (!level) {
                fmt::print("pinget: no line '{}' on this board\n", line);
                return;
            }
            j[line] = *level ? 1 : 0;
            out += fmt::format("{}{}={}", out.empty() ? "" : " ", line, *level ? 1 : 0);
        }
        fmt::print("{}\n", ctx.json ? j.dump() : out);
    };
}

Action parseResets(const std::vector<std::string>& args) {
    if (!args.empty()) throw ClientError{"resets: takes no arguments"};
    return [](Context& ctx) {
        Board* board = boardFor(ctx, "resets");
        if (board == nullptr) return;
        const std::vector<uint64_t> all = board->resets();
        if (ctx.json) {
            fmt::print("{}\n", nlohmann::json{{"resets_ms", all}}.dump());
            return;
        }
        if (all.empty()) {
            fmt::print("no board resets\n");
            return;
        }
        std::string list;
        for (uint64_t at : all) list += (list.empty() ? "" : ", ") + seconds(at);
        fmt::print("board resets at {}\n", list);
    };
}

}  // namespace

void addBoardCommands(CommandTable& table) {
    table.push_back({"advance", "advance DURATION",
                     "emulated board: move virtual time (500ms, 30s, 2m; bare: s)", parseAdvance});
    table.push_back({"pinset", "pinset LINE=0|1 [LINE=0|1...]",
                     "emulated board: drive input lines from outside", parsePinset});
    table.push_back({"pinget", "pinget LINE [LINE...]", "emulated board: levels of lines", parsePinget});
    table.push_back({"resets", "resets", "emulated board: board resets a watchdog caused", parseResets});
}

}  // namespace zrvctl
