// Watchdog commands, after wdctl and the watchdog daemon: show the device
// and its range, set the timeout, start, stop, restart, and keep it alive.
// Written against the request interface only, so they serve every watchdog
// back-end alike.
//
//   wdctl                          device, timeout range, units
//   wdctl -s 30 | -s 2m            set the timeout (checked against the range)
//   wdctl start | stop | keepalive start, stop or restart once
//   wdctl forget                   remove this device's keepalive state
//   wdctl keepalive --every 10s [--timeout 30s] [--leave-running] [--count N]
//                  [--metrics DIR] [--listen ADDRESS:PORT]
//                                  restart it every period until interrupted
#include <fmt/format.h>
#include <fmt/ranges.h>

#include <CLI/CLI.hpp>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <iostream>
#include <memory>
#include <nlohmann/json.hpp>

#include "client/commands.h"
#include "client/keepalive_state.h"

namespace zrvctl {

namespace {

// Unit codes of the watchdog record and their names.
struct UnitName {
    uint16_t code;
    const char* singular;
    const char* plural;
    uint64_t ms;
    const char* suffixes[3];
};
const UnitName kUnits[] = {
    {ZRV_WDT_UNIT_SECONDS, "second", "seconds", 1000, {"", "s", "sec"}},
    {ZRV_WDT_UNIT_MINUTES, "minute", "minutes", 60000, {"m", "min", nullptr}},
};

const UnitName* unitByCode(uint16_t code) {
    for (const UnitName& u : kUnits)
        if (u.code == code) return &u;
    return nullptr;
}

}  // namespace

std::vector<std::string> watchdogUnits(unsigned units) {
    std::vector<std::string> names;
    for (const UnitName& u : kUnits)
        if ((units & u.code) != 0) names.push_back(u.plural);
    return names;
}

namespace {

std::string timeoutText(const WdtTimeout& t) {
    const UnitName* u = unitByCode(t.Unit);
    if (u == nullptr) return fmt::format("{} (unit {})", t.Count, t.Unit);
    return fmt::format("{} {}", t.Count, t.Count == 1 ? u->singular : u->plural);
}

// An epoch time as ISO 8601 in UTC; "unknown" outside 1970..9999, where
// no four-digit year names it (a broken clock or a broken state file).
std::string isoTime(int64_t epoch) {
    if (!knownTime(epoch)) return "unknown";
    using namespace std::chrono;
    const year_month_day date{sys_days{days{epoch / 86400}}};
    const int64_t s = epoch % 86400;
    return fmt::format("{:04}-{:02}-{:02}T{:02}:{:02}:{:02}Z", static_cast<int>(date.year()),
                       static_cast<unsigned>(date.month()), static_cast<unsigned>(date.day()), s / 3600,
                       s / 60 % 60, s % 60);
}

// What a record says of whether the watchdog runs, for the Running: line.
// A loop that still runs keeps it as it said; one that ended or died, and
// a one-off wdctl, left it counting only until the timeout ran out since
// the last keepalive: after that it has reset the board, or something that
// did not say so stopped it.
std::string runningText(const KeepaliveState& s, KeepaliveLife life, int64_t now) {
    const std::string last = isoTime(s.lastKeepalive);
    if (life == KeepaliveLife::Running)
        return fmt::format("{} (keepalive, pid {}: last keepalive {}, every {} s)", s.running ? "yes" : "no",
                           s.pid, last, s.periodSeconds);
    std::string who;
    if (s.writer != kLoopWriter)
        who = fmt::format("{} at {}{}", s.writer, isoTime(s.ended),
                          s.running ? "; no keepalive restarts it" : "");
    else if (life == KeepaliveLife::Ended)
        who = s.running ? fmt::format("the keepalive ended at {} and left it running; last keepalive {}",
                                      isoTime(s.ended), last)
                        : fmt::format("the keepalive stopped it at {}", isoTime(s.ended));
    else
        who =
            fmt::format("the keepalive, pid {}, died{}", s.pid, s.running ? "; last keepalive " + last : "");
    const int64_t deadline = watchdogDeadline(s);
    if (!s.running) return fmt::format("no ({})", who);
    if (deadline == 0) return fmt::format("yes, unless it has reset the board ({})", who);
    if (watchdogMayRun(s, life, now))
        return fmt::format("yes, until {} unless restarted ({})", isoTime(deadline), who);
    return fmt::format("no: its timeout ran out at {}, so it has reset the board or was stopped ({})",
                       isoTime(deadline), who);
}

// The device, its range, and what is known of its timeout and whether it
// runs: the chips cannot be asked either, so it is the timeout set in this
// run, else what this device's keepalive (or last wdctl start, stop or
// keepalive) recorded, else unknown. The time left only while the watchdog
// counts, from the last keepalive.
void showWatchdog(Context& ctx) {
    const std::optional<WdtTimeout> range = watchdogRange(ctx, "wdctl");
    if (!range) return;
    const std::vector<std::string> units = watchdogUnits(range->Unit);
    std::string refused;
    const std::optional<KeepaliveState> state = readDeviceKeepaliveState(ctx.run.device, refused);
    if (!refused.empty()) warn(ctx, "wdctl", "keepalive state not read: " + refused);
    nlohmann::json j = {{"device", ZRV_USER_DEVICE_NAME},
                        {"timeout_min", 1},
                        {"timeout_max", range->Count},
                        {"units", units},
                        {"timeout_seconds", nullptr},
                        {"running", nullptr},
                        {"keepalive", nullptr}};
    std::string timeout = "unknown", running = "unknown", timeleft;
    uint64_t timeoutSeconds = 0;
    if (ctx.run.timeoutSet) {
        timeout = timeoutText(*ctx.run.timeoutSet) + " (set in this run)";
        timeoutSeconds = ctx.run.timeoutSet->Count * unitByCode(ctx.run.timeoutSet->Unit)->ms / 1000;
    } else if (state && state->timeoutSeconds != 0) {
        timeout = fmt::format("{} s (keepalive state)", state->timeoutSeconds);
        timeoutSeconds = state->timeoutSeconds;
    }
    if (timeoutSeconds != 0) j["timeout_seconds"] = timeoutSeconds;
    if (state) {
        const int64_t now = static_cast<int64_t>(std::time(nullptr));
        const KeepaliveLife life = keepaliveLife(*state);
        static constexpr const char* kLifeNames[] = {"running", "ended", "died"};
        j["keepalive"] = kLifeNames[static_cast<int>(life)];
        j["keepalive_pid"] = state->pid;
        j["writer"] = state->writer;
        running = runningText(*state, life, now);
        if (knownTime(state->lastKeepalive)) {
            j["last_keepalive"] = isoTime(state->lastKeepalive);
            j["last_keepalive_timestamp_seconds"] = state->lastKeepalive;
        }
        j["every_seconds"] = state->periodSeconds;
        if (life == KeepaliveLife::Ended) j["ended"] = isoTime(state->ended);
        j["running"] = watchdogMayRun(*state, life, now);
        // Counting down from the last keepalive, as far as the state knows;
        // a last keepalive later than now is a clock set back (or a broken
        // file): nothing to count from.
        const int64_t deadline = watchdogDeadline(*state);
        if (state->running && deadline != 0 && !ctx.run.timeoutSet) {
            j["runs_out"] = isoTime(deadline);
            if (state->lastKeepalive > now) {
                timeleft = fmt::format("unknown (the last keepalive, {}, is later than this clock's {})",
                                       isoTime(state->lastKeepalive), isoTime(now));
                j["timeleft_seconds"] = nullptr;
            } else {
                const int64_t left = std::max<int64_t>(0, deadline - now);
                timeleft = left > 0 ? fmt::format("{} s (keepalive state)", left)
                                    : fmt::format("0 s (ran out at {})", isoTime(deadline));
                j["timeleft_seconds"] = left;
            }
        }
    }
    std::string text = fmt::format("Device:        {}\nTimeout:       {}\n", ZRV_USER_DEVICE_NAME, timeout);
    if (!timeleft.empty()) text += fmt::format("Timeleft:      {}\n", timeleft);
    text += fmt::format("Running:       {}\nTimeout range: 1-{}\nUnits:         {}", running, range->Count,
                        units.empty() ? "(none)" : fmt::format("{}", fmt::join(units, ", ")));
    answer(ctx, text, j);
}

// "30", "30s", "2m", "2min": the count and its unit code.
WdtTimeout parseTimeout(const std::string& text) {
    size_t digits = 0;
    while (digits < text.size() && std::isdigit(static_cast<unsigned char>(text[digits]))) ++digits;
    const std::string suffix = text.substr(digits);
    for (const UnitName& u : kUnits) {
        for (const char* s : u.suffixes) {
            if (s != nullptr && suffix == s) {
                WdtTimeout t{};
                t.Count = static_cast<uint16_t>(parseNumber(text.substr(0, digits), "timeout", 0xFFFF));
                t.Unit = u.code;
                if (t.Count == 0) throw ClientError{"timeout: 0 would never reset the board; use wdctl stop"};
                return t;
            }
        }
    }
    // Hours, as the other durations take them, are counted in minutes.
    if (digits > 0 && suffix == "h") {
        const uint32_t hours = parseNumber(text.substr(0, digits), "timeout", 0xFFFF / 60);
        if (hours == 0) throw ClientError{"timeout: 0 would never reset the board; use wdctl stop"};
        return WdtTimeout{static_cast<uint16_t>(hours * 60), ZRV_WDT_UNIT_MINUTES};
    }
    throw ClientError{fmt::format("timeout: '{}' is not a count with an optional unit (s, m, h)", text)};
}

// A timeout in ms as the watchdog takes it, by the library's choice of unit
// (seconds while the range holds them, else minutes), and only when that
// is the timeout exactly. Empty after saying why it cannot be set.
std::optional<WdtTimeout> timeoutFor(Context& ctx, const char* command, uint64_t ms,
                                     const WdtTimeout& range) {
    WdtTimeout t{};
    if (ms % 1000 == 0 && ms / 1000 <= 0xFFFFFFFFu &&
        zrv_wdt_choose(range.Count, range.Unit, static_cast<unsigned>(ms / 1000), &t) == ZRV_OK &&
        t.Count * unitByCode(t.Unit)->ms == ms)
        return t;
    fail(ctx, command,
         fmt::format("a timeout of {} is outside the watchdog's range (1-{} {})", seconds(ms), range.Count,
                     fmt::join(watchdogUnits(range.Unit), " or ")));
    return std::nullopt;
}

// Sets the timeout; what was set, or empty after saying why not. Seconds
// beyond what the watchdog counts in seconds are whole minutes where they
// make some, as keepalive --timeout takes them.
std::optional<WdtTimeout> setTimeout(Context& ctx, const char* command, WdtTimeout t) {
    const std::optional<WdtTimeout> range = watchdogRange(ctx, command);
    if (!range) return std::nullopt;
    if (t.Unit == ZRV_WDT_UNIT_SECONDS && (t.Count > range->Count || (range->Unit & t.Unit) == 0)) {
        WdtTimeout m{};
        if (zrv_wdt_choose(range->Count, range->Unit, t.Count, &m) == ZRV_OK &&
            uint64_t{m.Count} * unitByCode(m.Unit)->ms == uint64_t{t.Count} * 1000)
            t = m;
    }
    if (t.Count > range->Count || (range->Unit & t.Unit) == 0) {
        fail(ctx, command,
             fmt::format("{} is outside the watchdog's range (1-{} {}): not sent", timeoutText(t),
                         range->Count, fmt::join(watchdogUnits(range->Unit), " or ")),
             {{"error", "outside the range"}, {"timeout_max", range->Count}});
        return std::nullopt;
    }
    if (!answered(ctx, command, zrv_wdt_set(ctx.lib(), t.Count, t.Unit))) return std::nullopt;
    ctx.run.timeoutSet = t;
    return t;
}

using WdtCall = int(ZRV_API*)(zrv_device*);

// Why a start or restart the driver refused left the watchdog still: a
// count of 0 (never set since the driver loaded, or set to 0 by another
// program), a watchdog without a start action, or no watchdog at all.
std::string notCountingReason(Context& ctx) {
    if (zrv_last_status(ctx.lib()) == ZRV_STATUS_INVALID_DEVICE_STATE)
        return "the watchdog is not counting: its count is 0 (no timeout set since the driver loaded, or one "
               "of 0); "
               "set one first (wdctl -s)";
    if (const std::string why = watchdogCannotStart(ctx); !why.empty())
        return "the port watchdog cannot start: " + why;
    return notSupportedReason(ctx, "watchdog");
}

bool send(Context& ctx, const char* command, WdtCall call) {
    const int err = call(ctx.lib());
    if (answered(ctx, command, err, err != ZRV_OK && call != zrv_wdt_stop ? notCountingReason(ctx) : ""))
        return true;
    // A refused stop leaves the watchdog counting down to a board reset.
    if (call == zrv_wdt_stop) warn(ctx, command, "the watchdog was not stopped and still runs");
    return false;
}

// Writes a record to this device's keepalive state; a failure is said
// once, and again when it changes (`last` holds the one said).
void recordState(Context& ctx, const char* command, const KeepaliveState& s, std::string& last) {
    std::string why;
    if (writeKeepaliveState(s, why)) {
        if (!last.empty()) warn(ctx, command, "the keepalive state is written again");
        last.clear();
        return;
    }
    if (why != last) warn(ctx, command, "the keepalive state could not be written: " + why);
    last = why;
}

// What a one-off action makes of the device's record.
enum class StateEffect {
    Started,    // runs, counting from now
    Stopped,    // no longer runs
    Restarted,  // counts from now, where the record says it runs and no loop keeps it
    Forgotten,  // the record removed
};

struct WdtAction {
    const char* word;
    WdtCall call;  // none for forget
    const char* done;
    StateEffect effect;
};
const WdtAction kActions[] = {
    {"start", zrv_wdt_start, "watchdog started", StateEffect::Started},
    {"stop", zrv_wdt_stop, "watchdog stopped", StateEffect::Stopped},
    {"keepalive", zrv_wdt_kick, "watchdog restarted", StateEffect::Restarted},
    {"forget", nullptr, "keepalive state forgotten", StateEffect::Forgotten},
};

uint32_t secondsOf(const WdtTimeout& t) {
    return static_cast<uint32_t>(t.Count * unitByCode(t.Unit)->ms / 1000);
}

// After a one-off action: the record says what the watchdog now does, so
// that wdctl and metrics do not go on telling an earlier loop's story.
// False after saying why when it could not.
bool updateState(Context& ctx, const WdtAction& a) {
    std::string why;
    const std::optional<KeepaliveState> old = readDeviceKeepaliveState(ctx.run.device, why);
    const KeepaliveLife life = old ? keepaliveLife(*old) : KeepaliveLife::Ended;
    const int64_t now = static_cast<int64_t>(std::time(nullptr));
    if (a.effect == StateEffect::Forgotten) {
        if (old && life == KeepaliveLife::Running) {
            fail(ctx, "wdctl",
                 fmt::format(
                     "the keepalive loop, pid {}, still runs and writes its state again: not forgotten",
                     old->pid));
            return false;
        }
        if (!forgetKeepaliveState(ctx.run.device, why, keepaliveStatePath(ctx.run.device))) {
            fail(ctx, "wdctl", "the keepalive state was not forgotten: " + why);
            return false;
        }
        return true;
    }
    // A running loop rewrites its record on every restart anyway.
    if (a.effect == StateEffect::Restarted &&
        (!old || life == KeepaliveLife::Running || !watchdogMayRun(*old, life, now)))
        return true;
    KeepaliveState s;
    s.device = ctx.run.device;
    s.writer = fmt::format("wdctl {}", a.word);
    // The chip counts from the timeout last set: this run's, else the one
    // last recorded.
    s.timeoutSeconds = ctx.run.timeoutSet ? secondsOf(*ctx.run.timeoutSet) : old ? old->timeoutSeconds : 0;
    s.running = a.effect != StateEffect::Stopped;
    s.lastKeepalive = s.running ? now : old ? old->lastKeepalive : 0;
    s.ended = now;
    std::string last;
    recordState(ctx, "wdctl", s, last);
    return true;
}

void runAction(Context& ctx, const WdtAction& a) {
    if (a.call == zrv_wdt_start && !ctx.run.timeoutSet)
        warn(ctx, "wdctl",
             "no timeout was set in this run: the watchdog starts with whatever count it holds");
    if (a.call != nullptr && !send(ctx, "wdctl", a.call)) return;
    if (!updateState(ctx, a)) return;
    answer(ctx, a.done, {{"watchdog", a.word}, {"status", "success"}});
}

// Each line of the loop reaches its log at once, whatever standard output
// is (a file, a pipe): not at the end, and not lost when it is killed.
void flushLine() {
    std::fflush(stdout);
    std::cout.flush();
}

// The watchdog daemon's loop: set the timeout, start, restart on every
// period; on a clean exit (interrupt, or --count restarts) stop the
// watchdog unless it is to keep guarding the board.
}  // namespace

void keepalive(Context& ctx, const Keepalive& k) {
    const char* command = "wdctl keepalive";
    const uint64_t timeoutMs = k.timeoutMs != 0 ? k.timeoutMs : ctx.run.timeoutSet ? 0 : kDefaultTimeoutMs;
    std::string asked;
    if (timeoutMs != 0) {
        const std::optional<WdtTimeout> range = watchdogRange(ctx, command);
        if (!range) return;
        const std::optional<WdtTimeout> t = timeoutFor(ctx, command, timeoutMs, *range);
        if (!t || !setTimeout(ctx, command, *t)) return;
        // The chip counts in its own unit: say when that is not the one asked.
        if (t->Unit != ZRV_WDT_UNIT_SECONDS) asked = fmt::format(" (asked {})", seconds(timeoutMs));
        if (k.timeoutMs == 0) asked += " (the default)";
    }
    MetricsPublisher metrics(ctx, k.metricsDir, k.listen);
    if (metrics.failed()) return;
    if (!send(ctx, command, zrv_wdt_start)) return;
    KeepaliveState state;
    state.device = ctx.run.device;
    if (ctx.run.timeoutSet) state.timeoutSeconds = secondsOf(*ctx.run.timeoutSet);
    state.periodSeconds = static_cast<uint32_t>((k.everyMs + 999) / 1000);
    state.running = true;
    // Every change of the state goes to the state file and to the metrics.
    std::string stateError;
    const auto record = [&ctx, &state, &metrics, &stateError, command](bool kicked) {
        if (kicked) state.lastKeepalive = static_cast<int64_t>(std::time(nullptr));
        recordState(ctx, command, state, stateError);
        metrics.publish(&state);
    };
    record(true);
    const std::string timeout = timeoutText(*ctx.run.timeoutSet) + asked;
    answer(ctx,
           fmt::format("keepalive: watchdog started, timeout {}, restarted every {}", timeout,
                       seconds(k.everyMs)),
           {{"keepalive", "started"},
            {"every_seconds", static_cast<double>(k.everyMs) / 1000.0},
            {"timeout_seconds", state.timeoutSeconds}});
    flushLine();
    uint32_t restarts = 0;
    while ((k.count == 0 || restarts < k.count) && metrics.wait(k.everyMs)) {
        if (!send(ctx, command, zrv_wdt_kick)) {
            // Still running, on the count of the last restart.
            state.ended = static_cast<int64_t>(std::time(nullptr));
            record(false);
            return;
        }
        ++restarts;
        record(true);
    }
    const bool stopped = !k.leaveRunning && send(ctx, command, zrv_wdt_stop);
    state.running = !stopped;
    state.ended = static_cast<int64_t>(std::time(nullptr));
    record(false);
    if (!k.leaveRunning && !stopped) return;
    answer(ctx,
           fmt::format("keepalive: {} restart{}; watchdog {}", restarts, restarts == 1 ? "" : "s",
                       k.leaveRunning ? "left running" : "stopped"),
           {{"keepalive", "ended"},
            {"restarts", restarts},
            {"watchdog", k.leaveRunning ? "running" : "stopped"}});
    flushLine();
}

namespace {

Builder defineWdctl(CLI::App& app) {
    struct Args {
        std::string timeout;
        std::string action;
        Keepalive keepalive;
    };
    auto a = std::make_shared<Args>();
    app.add_option("-s,--settimeout", a->timeout, "set the timeout: N seconds, Ns, Nm minutes or Nh hours")
        ->type_name("TIMEOUT");
    app.add_option("ACTION", a->action,
                   "start, stop, keepalive (one restart, or a loop with --every), or forget (remove this "
                   "device's keepalive state)")
        ->check(CLI::IsMember({"start", "stop", "keepalive", "forget"}));
    addDuration(app, "--every", a->keepalive.everyMs, "keepalive: restart the watchdog every DURATION",
                false);
    addDuration(app, "--timeout", a->keepalive.timeoutMs,
                fmt::format("keepalive: set this timeout first (default {} s)", kDefaultTimeoutMs / 1000),
                false);
    app.add_flag("--leave-running", a->keepalive.leaveRunning, "keepalive: do not stop the watchdog on exit");
    addNumber(app, "--count", a->keepalive.count, 0xFFFFFFFFu, "keepalive: end after N restarts");
    app.add_option("--metrics", a->keepalive.metricsDir,
                   "keepalive: write DIR/zorvik.prom (Prometheus textfile) after every restart")
        ->type_name("DIR")
        ->check(CLI::ExistingDirectory);
    addListen(app, a->keepalive.listen, "keepalive: answer GET /metrics at ADDRESS:PORT meanwhile");
    return [a] {
        const Keepalive& k = a->keepalive;
        const bool loop = k.everyMs != 0;
        if ((k.timeoutMs != 0 || k.leaveRunning || k.count != 0 || !k.metricsDir.empty() ||
             !k.listen.empty()) &&
            !loop)
            throw ClientError{
                "--timeout, --leave-running, --count, --metrics and --listen belong to keepalive --every"};
        if (loop && a->action != "keepalive") throw ClientError{"--every belongs to keepalive"};
        if (loop && a->timeout.empty() && k.everyMs >= (k.timeoutMs != 0 ? k.timeoutMs : kDefaultTimeoutMs))
            throw ClientError{fmt::format(
                "keepalive: --every must be shorter than --timeout (default {} s), or the board resets",
                kDefaultTimeoutMs / 1000)};
        std::optional<WdtTimeout> t;
        if (!a->timeout.empty()) t = parseTimeout(a->timeout);
        const WdtAction* action = nullptr;
        for (const WdtAction& w : kActions)
            if (a->action == w.word) action = &w;
        return Action([t, action, loop, k](Context& ctx) {
            if (t) {
                const std::optional<WdtTimeout> set = setTimeout(ctx, "wdctl", *t);
                if (!set) return;
                answer(ctx, "timeout set to " + timeoutText(*set),
                       {{"timeout_seconds", set->Count * unitByCode(set->Unit)->ms / 1000},
                        {"timeout_count", set->Count},
                        {"unit", unitByCode(set->Unit)->plural}});
            }
            if (loop)
                keepalive(ctx, k);
            else if (action != nullptr)
                runAction(ctx, *action);
            else if (!t)
                showWatchdog(ctx);
        });
    };
}

}  // namespace

void addWatchdogCommands(CommandTable& table) {
    table.push_back(
        {"wdctl", "watchdog: show it, set its timeout, start, stop, restart or keep it alive", defineWdctl});
}

}  // namespace zrvctl
