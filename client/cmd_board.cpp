// Commands on the emulated board itself rather than through the driver:
// move virtual time, drive input lines, read line levels, list the resets a
// watchdog caused. On a real machine there is no such board and they say so.
//
//   advance 30s | 500ms | 2m      move virtual time; names resets it caused
//   pinset LINE=0|1 [...]         drive input lines from outside
//   pinget LINE [...]             levels of lines
//   resets                        board resets so far
#include <fmt/format.h>

#include <CLI/CLI.hpp>
#include <memory>

#include "client/commands.h"

namespace zrvctl {

namespace {

// The board, or null after saying that there is none.
Board* boardFor(Context& ctx, const char* command) {
    if (ctx.board != nullptr) return ctx.board;
    fail(ctx, command, "no emulated board here", {{"error", "no emulated board"}});
    return nullptr;
}

Builder defineAdvance(CLI::App& app) {
    auto ms = std::make_shared<uint64_t>(0);
    addDuration(app, "duration", *ms, "500ms, 30s, 2m, 1h; a bare number is seconds");
    app.get_option("duration")->required();
    return [ms] {
        return [ms = *ms](Context& ctx) {
            Board* board = boardFor(ctx, "advance");
            if (board == nullptr) return;
            const size_t before = board->resets().size();
            board->advance(ms);
            const std::vector<uint64_t> all = board->resets();
            const std::vector<uint64_t> fresh(
                all.begin() + static_cast<std::ptrdiff_t>(std::min(before, all.size())), all.end());
            std::string text = fmt::format("time {}", seconds(board->nowMs()));
            for (uint64_t at : fresh) text += fmt::format("\nboard reset by the watchdog at {}", seconds(at));
            answer(ctx, text, {{"time_ms", board->nowMs()}, {"resets_ms", fresh}});
        };
    };
}

Builder definePinset(CLI::App& app) {
    auto args = std::make_shared<std::vector<std::string>>();
    app.add_option("LINE=LEVEL", *args, "a line by the emulated device's name, and 0 or 1")->required();
    return [args] {
        std::vector<std::pair<std::string, bool>> lines;
        for (const std::string& a : *args) {
            const size_t eq = a.find('=');
            if (eq == std::string::npos || eq == 0) throw ClientError{fmt::format("'{}' is not LINE=0|1", a)};
            lines.emplace_back(a.substr(0, eq), parseLevel(a.substr(eq + 1)));
        }
        return [lines](Context& ctx) {
            Board* board = boardFor(ctx, "pinset");
            if (board == nullptr) return;
            nlohmann::json j = nlohmann::json::object();
            std::string out;
            for (const auto& [line, level] : lines) {
                if (!board->setPin(line, level)) {
                    fail(ctx, "pinset", fmt::format("no input line '{}' on this board", line),
                         {{"line", line}});
                    return;
                }
                j[line] = level ? 1 : 0;
                out += fmt::format("{}{}={}", out.empty() ? "" : " ", line, level ? 1 : 0);
            }
            answer(ctx, out, j);
        };
    };
}

Builder definePinget(CLI::App& app) {
    auto args = std::make_shared<std::vector<std::string>>();
    app.add_option("LINE", *args, "lines by the emulated device's names")->required();
    return [args] {
        return [lines = *args](Context& ctx) {
            Board* board = boardFor(ctx, "pinget");
            if (board == nullptr) return;
            nlohmann::json j = nlohmann::json::object();
            std::string out;
            for (const std::string& line : lines) {
                const std::optional<bool> level = board->pin(line);
                if (!level) {
                    fail(ctx, "pinget", fmt::format("no line '{}' on this board", line), {{"line", line}});
                    return;
                }
                j[line] = *level ? 1 : 0;
                out += fmt::format("{}{}={}", out.empty() ? "" : " ", line, *level ? 1 : 0);
            }
            answer(ctx, out, j);
        };
    };
}

Builder defineResets(CLI::App&) {
    return [] {
        return [](Context& ctx) {
            Board* board = boardFor(ctx, "resets");
            if (board == nullptr) return;
            const std::vector<uint64_t> all = board->resets();
            std::string list;
            for (uint64_t at : all) list += (list.empty() ? "" : ", ") + seconds(at);
            answer(ctx, all.empty() ? "no board resets" : "board resets at " + list, {{"resets_ms", all}});
        };
    };
}

}  // namespace

void addBoardCommands(CommandTable& table) {
    table.push_back(
        {"advance", "emulated board: move virtual time (500ms, 30s, 2m; bare: s)", defineAdvance});
    table.push_back({"pinset", "emulated board: drive input lines from outside", definePinset});
    table.push_back({"pinget", "emulated board: levels of lines", definePinget});
    table.push_back({"resets", "emulated board: board resets a watchdog caused", defineResets});
}

}  // namespace zrvctl
