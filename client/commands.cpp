#include "client/commands.h"

#include <fmt/format.h>
#include <fmt/ranges.h>

#include <CLI/CLI.hpp>
#include <algorithm>
#include <atomic>
#include <cctype>
#include <chrono>
#include <csignal>
#include <cstring>
#include <iostream>
#include <map>
#include <memory>

#include "client/http_listen.h"
#include "common/nearest.h"

namespace zrvctl {

const CommandTable& commands() {
    static const CommandTable table = [] {
        CommandTable t;
        addRequestCommands(t);
        addWatchdogCommands(t);
        addDigitalIoCommands(t);
        addHwmCommands(t);
        addConfigCommands(t);
        addMetricsCommands(t);
        addBoardCommands(t);
        addPlatformCommands(t);
        return t;
    }();
    return table;
}

const Command* findCommand(const std::string& name) {
    for (auto& c : commands())
        if (name == c.name) return &c;
    return nullptr;
}

Action parseCommand(const std::vector<std::string>& words, bool& helped) {
    const Command* c = findCommand(words.at(0));
    if (c == nullptr) {
        std::vector<std::string> names;
        for (const Command& known : commands()) names.push_back(known.name);
        const std::string nearest = zorvik::nearestName(words[0], names);
        throw ClientError{fmt::format("unknown command '{}'{} (zrvctl --help lists them)", words[0],
                                      nearest.empty() ? "" : fmt::format(", did you mean '{}'?", nearest))};
    }
    CLI::App sub{c->help, c->name};
    sub.set_help_flag("-h,--help", "this command's arguments");
    Builder build = c->define(sub);
    std::vector<std::string> args(words.rbegin(), words.rend() - 1);
    try {
        sub.parse(args);
        // What only the run can check (a line name against the profile) is
        // still the caller's mistake.
        return [action = build(), name = c->name](Context& ctx) {
            try {
                action(ctx);
            } catch (const ClientError& e) {
                fail(ctx, name, e.message, {}, e.code);
            }
        };
    } catch (const CLI::CallForHelp&) {
        std::cout << sub.help();
        helped = true;
        return {};
    } catch (const CLI::ParseError& e) {
        throw ClientError{fmt::format("{}: {} (zrvctl {} --help)", c->name, e.what(), c->name)};
    } catch (const ClientError& e) {
        throw ClientError{fmt::format("{}: {} (zrvctl {} --help)", c->name, e.message, c->name)};
    }
}

// ---- Interruption ----------------------------------------------------------

namespace {
std::atomic<bool> gInterrupted{false};
extern "C" void onSignal(int) { gInterrupted = true; }
}  // namespace

bool interrupted() { return gInterrupted; }
void interrupt() { gInterrupted = true; }
void catchInterrupts() {
    std::signal(SIGINT, onSignal);
    std::signal(SIGTERM, onSignal);
#ifdef SIGHUP
    // The terminal or the session gone: as clean an end as the others.
    std::signal(SIGHUP, onSignal);
#endif
}

// ---- Arguments ---------------------------------------------------------------

uint32_t parseNumber(const std::string& text, const std::string& what, uint32_t max) {
    const bool isHex = text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
    const std::string digits = isHex ? text.substr(2) : text;
    const bool ok = !digits.empty() && digits.size() <= 10 &&
                    std::all_of(digits.begin(), digits.end(),
                                [&](unsigned char c) { return isHex ? std::isxdigit(c) : std::isdigit(c); });
    if (!ok) throw ClientError{fmt::format("{}: '{}' is not a number", what, text)};
    const unsigned long long v = std::stoull(digits, nullptr, isHex ? 16 : 10);
    if (v > max) throw ClientError{fmt::format("{}: {} is out of range (at most {})", what, text, max)};
    return static_cast<uint32_t>(v);
}

bool parseLevel(const std::string& text) {
    static const struct {
        const char* word;
        bool level;
    } kWords[] = {{"inactive", false}, {"active", true}, {"off", false},
                  {"on", true},        {"false", false}, {"true", true}};
    std::string lower = text;
    std::transform(lower.begin(), lower.end(), lower.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    for (const auto& w : kWords)
        if (lower == w.word) return w.level;
    if (text == "0" || text == "1") return text == "1";
    throw ClientError{fmt::format("level: '{}' is not 0, 1, active, inactive, on, off, true or false", text)};
}

namespace {
// The units a duration may carry, in ms. (CLI11's numbers with units take
// octal for a leading 0 and saturate past 2^64, so durations are read here.)
struct DurationUnit {
    const char* name;
    uint64_t ms;
};
const DurationUnit kDurationUnits[] = {{"ms", 1}, {"s", 1000}, {"m", 60000}, {"min", 60000}, {"h", 3600000}};
}  // namespace

uint64_t parseDuration(const std::string& text, const std::string& what) {
    const bool isHex = text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
    const unsigned base = isHex ? 16 : 10;
    const size_t first = isHex ? 2 : 0;
    size_t end = first;
    const auto digitAt = [&](size_t i) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        return isHex ? std::isxdigit(c) != 0 : std::isdigit(c) != 0;
    };
    while (end < text.size() && digitAt(end)) ++end;
    // A bare number is seconds, as for sleep(1).
    const std::string unit = text.substr(end);
    uint64_t factor = unit.empty() ? 1000 : 0;
    for (const DurationUnit& u : kDurationUnits)
        if (unit == u.name) factor = u.ms;
    if (end == first || factor == 0)
        throw ClientError{fmt::format("{}: '{}' is not a number with a unit (ms, s, m, h)", what, text)};
    constexpr uint64_t kMost = ~uint64_t{0};
    const ClientError beyond{fmt::format("{}: '{}' is out of range (at most {} ms)", what, text, kMost)};
    uint64_t n = 0;
    for (size_t i = first; i < end; ++i) {
        const char c = static_cast<char>(std::tolower(static_cast<unsigned char>(text[i])));
        const unsigned digit =
            c <= '9' ? static_cast<unsigned>(c - '0') : static_cast<unsigned>(c - 'a' + 10);
        if (n > (kMost - digit) / base) throw beyond;
        n = n * base + digit;
    }
    if (n > kMost / factor) throw beyond;
    return n * factor;
}

namespace {
// CLI11 reports a validation error with the option's name; ours carry it.
template <typename F>
void checked(F&& f) {
    try {
        f();
    } catch (const ClientError& e) {
        throw CLI::ValidationError(e.message);
    }
}
}  // namespace

void addNumber(CLI::App& app, const std::string& name, uint32_t& target, uint32_t max,
               const std::string& help) {
    const std::string what = name.substr(name.find_first_not_of('-'));
    app.add_option_function<std::string>(
           name,
           [&target, max, what](const std::string& s) {
               checked([&] { target = parseNumber(s, what, max); });
           },
           help)
        ->type_name(max <= 1 ? "0|1" : "N");
}

void addDuration(CLI::App& app, const std::string& name, uint64_t& target, const std::string& help,
                 bool allowZero) {
    const std::string what = name.substr(name.find_first_not_of('-'));
    app.add_option_function<std::string>(
           name,
           [&target, what, allowZero](const std::string& s) {
               checked([&] {
                   target = parseDuration(s, what);
                   if (target == 0 && !allowZero) throw ClientError{fmt::format("{}: must not be 0", what)};
               });
           },
           help)
        ->type_name("DURATION");
}

void addListen(CLI::App& app, std::string& target, const std::string& help) {
    app.add_option("--listen", target, help)
        ->type_name("ADDRESS:PORT")
        ->check(CLI::Validator(
            [](std::string& where) {
                std::string host, error;
                uint16_t port = 0;
                return splitListenAddress(where, host, port, error) ? std::string() : error;
            },
            "ADDRESS:PORT"));
}

void addRepeat(CLI::App& app, Repeat& r) {
    addDuration(app, "--watch", r.everyMs,
                "repeat every SECONDS (or 500ms, 2m) until interrupted, each round with a time stamp", false);
    addNumber(app, "--count", r.count, 0xFFFFFFFFu, "with --watch: stop after N rounds");
}

void repeat(Context& ctx, const Repeat& r, const std::function<void()>& round) {
    if (r.everyMs == 0) {
        round();
        return;
    }
    for (uint32_t n = 0; r.count == 0 || n < r.count; ++n) {
        if (n > 0 && !ctx.clock.sleep(r.everyMs)) break;
        if (interrupted()) break;
        const std::string stamp = ctx.clock.stamp();
        // JSON rounds carry the time inside their own line (see answer()).
        if (!ctx.json) fmt::print("{}--- {}\n", n > 0 ? "\n" : "", stamp);
        ctx.run.stamp = ctx.clock.seconds();
        round();
        std::fflush(stdout);
    }
    ctx.run.stamp.reset();
}

Builder repeating(CLI::App& app, const std::function<void(Context&)>& round) {
    auto r = std::make_shared<Repeat>();
    addRepeat(app, *r);
    return [r, round] { return [r = *r, round](Context& ctx) { repeat(ctx, r, [&] { round(ctx); }); }; };
}

Builder withByte(CLI::App& app, const std::string& name, const std::string& help,
                 const std::function<void(Context&, uint8_t)>& run) {
    auto value = std::make_shared<uint32_t>(0);
    addNumber(app, name, *value, 0xFF, help);
    app.get_option(name)->required();
    return [value, run] { return [v = static_cast<uint8_t>(*value), run](Context& ctx) { run(ctx, v); }; };
}

std::vector<uint8_t> parseHex(const std::string& text) {
    if (text.size() % 2 != 0) throw ClientError{fmt::format("bad hex '{}': odd number of digits", text)};
    std::vector<uint8_t> out;
    for (size_t i = 0; i < text.size(); i += 2) {
        if (!std::isxdigit(static_cast<unsigned char>(text[i])) ||
            !std::isxdigit(static_cast<unsigned char>(text[i + 1])))
            throw ClientError{fmt::format("bad hex '{}'", text)};
        out.push_back(static_cast<uint8_t>(std::stoul(text.substr(i, 2), nullptr, 16)));
    }
    return out;
}

std::string hex(const std::vector<uint8_t>& bytes) {
    std::string out;
    for (uint8_t b : bytes) out += fmt::format("{:02x}", b);
    return out;
}

std::string statusName(int32_t status) {
    switch (static_cast<uint32_t>(status)) {
        case 0x00000000u: return "success";
        case 0xC0000001u: return "unsuccessful";
        case 0xC0000002u: return "not implemented";
        case 0xC000000Du: return "invalid parameter";
        case 0xC0000022u: return "access denied";
        case 0xC000009Au: return "insufficient resources";
        case 0xC00000BBu: return "not supported";
        case 0xC0000184u: return "invalid device state";
        default: return fmt::format("status 0x{:08x}", static_cast<uint32_t>(status));
    }
}

std::string seconds(uint64_t ms) { return fmt::format("{}.{:03} s", ms / 1000, ms % 1000); }

namespace {
uint64_t steadyUs() {
    using namespace std::chrono;
    return static_cast<uint64_t>(duration_cast<microseconds>(steady_clock::now().time_since_epoch()).count());
}
}  // namespace

bool WallClock::sleep(uint64_t ms) {
    for (uint64_t left = ms; left > 0 && !interrupted();) {
        const uint64_t step = std::min<uint64_t>(kWallStepMs, left);
        pause(step);
        left -= step;
    }
    return !interrupted();
}

bool WallClock::caughtUp(uint64_t) { return !interrupted(); }

BoardClock::BoardClock(Board& board, Clock* wall) : board_(board), wall_(wall), syncedUs_(steadyUs()) {}

bool BoardClock::caughtUp(uint64_t instantMs) {
    if (interrupted()) return false;
    if (wall_ == nullptr) {
        board_.advance(instantMs);
    } else {
        // Whole milliseconds move the board; the rest waits for the next.
        const uint64_t ms = (steadyUs() - syncedUs_) / 1000;
        syncedUs_ += ms * 1000;
        if (ms != 0) board_.advance(ms);
    }
    return !interrupted();
}

bool BoardClock::sleep(uint64_t ms) {
    if (wall_ == nullptr) return caughtUp(ms);
    // A wait too long to count in microseconds waits until interrupted.
    const uint64_t start = steadyUs();
    constexpr uint64_t kNever = ~uint64_t{0};
    const uint64_t until = ms > (kNever - start) / 1000 ? kNever : start + ms * 1000;
    for (uint64_t now = steadyUs(); now < until; now = steadyUs()) {
        if (!wall_->sleep(std::min<uint64_t>(kWallStepMs, (until - now + 999) / 1000)) || !caughtUp(0))
            return false;
    }
    return caughtUp(0);
}

std::string BoardClock::stamp() { return "time " + zrvctl::seconds(board_.nowMs()); }
double BoardClock::seconds() { return static_cast<double>(board_.nowMs()) / 1000.0; }

// ---- Answers and errors ------------------------------------------------------

void answer(Context& ctx, const std::string& text, const nlohmann::json& j) {
    if (!ctx.json) {
        fmt::print("{}\n", text);
        return;
    }
    if (ctx.run.stamp && j.is_object()) {
        nlohmann::json stamped = j;
        stamped["time"] = *ctx.run.stamp;
        fmt::print("{}\n", jsonText(stamped));
        return;
    }
    fmt::print("{}\n", jsonText(j));
}

void answerOrdered(Context& ctx, const std::string& text, const nlohmann::ordered_json& j) {
    if (!ctx.json) {
        fmt::print("{}\n", text);
        return;
    }
    if (ctx.run.stamp) {
        nlohmann::ordered_json stamped = {{"time", *ctx.run.stamp}};
        for (const auto& [k, v] : j.items()) stamped[k] = v;
        fmt::print("{}\n", jsonText(stamped));
        return;
    }
    fmt::print("{}\n", jsonText(j));
}

void fail(Context& ctx, const char* command, const std::string& text, nlohmann::json j, int code) {
    ctx.worst(code);
    std::fflush(stdout);
    if (ctx.json) {
        if (!j.is_object()) j = nlohmann::json::object();
        j["command"] = command;
        if (!j.contains("error")) j["error"] = text;
        std::cerr << jsonText(j) << "\n";
    } else {
        std::cerr << command << ": " << text << "\n";
    }
    std::cerr.flush();
}

void warn(Context& ctx, const char* command, const std::string& text) {
    std::fflush(stdout);
    if (ctx.json)
        std::cerr << jsonText(nlohmann::json{{"command", command}, {"warning", text}}) << "\n";
    else
        std::cerr << command << ": warning: " << text << "\n";
    std::cerr.flush();
}

// ---- The library's device -------------------------------------------------

namespace {
// Why the device cannot be opened, in the words an operator acts on.
struct OpenFailure {
    int err;
    const char* text;  // {} is the device's name
};
const OpenFailure kOpenFailures[] = {
    {ZRV_ENODEV, "zorvik is not installed or not running (no {}): run install.cmd, or sc start zorvik"},
    {ZRV_EACCES, "run as administrator: only Administrators and the local system may open {}"},
};
std::string openFailure(int err) {
    for (const OpenFailure& f : kOpenFailures)
        if (f.err == err) return fmt::format(fmt::runtime(f.text), ZRV_USER_DEVICE_NAME);
    return fmt::format("cannot open {}: {}", ZRV_USER_DEVICE_NAME, zrv_strerror(err));
}
}  // namespace

TargetDevice::~TargetDevice() {
    zrv_close(read_);
    zrv_close(readWrite_);
}

zrv_device* TargetDevice::open(HandleAccess access) {
    zrv_device*& dev = access == HandleAccess::Read ? read_ : readWrite_;
    if (dev == nullptr) {
        const int err = zrv_open_ex(target_.empty() ? nullptr : target_.c_str(),
                                    access == HandleAccess::Read ? ZRV_OPEN_READ_ONLY : 0, &dev);
        if (err != ZRV_OK) throw ClientError{openFailure(err), kExitNoDriver};
    }
    return dev;
}

void TargetDevice::close(HandleAccess access) {
    zrv_device*& dev = access == HandleAccess::Read ? read_ : readWrite_;
    zrv_close(dev);
    dev = nullptr;
}

namespace {
// The rules the board saw broken since those told before, in its words;
// none where the board cannot tell them (a real machine).
std::vector<std::string> rulesBrokenSinceTold(Context& ctx) {
    std::vector<std::string> rules;
    for (unsigned kind : {ZRV_BREACH_PLATFORM, ZRV_BREACH_HARDWARE}) {
        unsigned count = 0;
        if (zrv_board_breach_count(ctx.lib(), kind, &count) != ZRV_OK) continue;
        for (unsigned& told = ctx.run.rulesTold[kind]; told < count; ++told) {
            char line[512] = "";
            zrv_board_breach(ctx.lib(), kind, told, line, sizeof line);  // cut if longer
            rules.emplace_back(line);
        }
    }
    return rules;
}
}  // namespace

bool answered(Context& ctx, const char* command, int err, const std::string& why) {
    if (err == ZRV_OK) return true;
    const int32_t status = zrv_last_status(ctx.lib());
    const std::string statusText =
        fmt::format("{} (0x{:08x})", statusName(status), static_cast<uint32_t>(status));
    if (err == ZRV_EPROTO) {
        // A rule the board saw this request break, or an answer shorter than
        // its record.
        const size_t bytes = zrv_last_returned(ctx.lib());
        std::vector<std::string> rules = rulesBrokenSinceTold(ctx);
        nlohmann::json j = {{"error", zrv_strerror(err)}, {"bytes", bytes}};
        if (rules.empty())
            rules.push_back(fmt::format("a short answer ({} bytes)", bytes));
        else
            j["rules"] = rules;
        if (status != ZRV_STATUS_SUCCESS)
            j["status"] = fmt::format("0x{:08x}", static_cast<uint32_t>(status));
        fail(ctx, command,
             fmt::format("{}: {}{}", zrv_strerror(err), fmt::join(rules, "; "),
                         status == ZRV_STATUS_SUCCESS ? "" : ", " + statusText),
             j, kExitBrokenRule);
    } else if (status != ZRV_STATUS_SUCCESS) {
        nlohmann::json j = {{"error", statusName(status)},
                            {"status", fmt::format("0x{:08x}", static_cast<uint32_t>(status))}};
        if (!why.empty()) j["reason"] = why;
        fail(ctx, command, statusText + (why.empty() ? "" : ": " + why), j);
    } else {
        fail(ctx, command, zrv_strerror(err), {{"error", zrv_strerror(err)}});
    }
    return false;
}

std::optional<WdtTimeout> watchdogRange(Context& ctx, const char* command) {
    if (ctx.run.range) return ctx.run.range;
    unsigned count = 0, units = 0;
    const int err = zrv_wdt_limits(ctx.lib(), &count, &units);
    if (!answered(ctx, command, err, err != ZRV_OK ? notSupportedReason(ctx, "watchdog") : ""))
        return std::nullopt;
    ctx.run.range = WdtTimeout{static_cast<uint16_t>(count), static_cast<uint16_t>(units)};
    return ctx.run.range;
}

}  // namespace zrvctl
