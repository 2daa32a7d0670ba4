// The board's state for Prometheus, in the text exposition format, named
// after node_exporter's hwmon series with our prefix so that its dashboards
// and rules carry over:
//
//   metrics                                   print it
//   metrics --textfile DIR [--watch S]        DIR/zorvik.prom, replaced whole each round
//   metrics --listen ADDRESS:PORT             answer GET /metrics, reading the board each time
//
// Channels are the profile's, with its labels, units and limits; without a
// profile the voltages and temperatures are raw bytes under names that say
// so (zorvik_in_raw, zorvik_temp_raw). A reading past its limit is a sample
// (zorvik_sensor_alarm 1), not a failure of the command. A driver that does
// not answer is zorvik_up 0 with the reason as a label.
#include <fmt/format.h>

#include <CLI/CLI.hpp>
#include <cstring>
#include <ctime>
#include <memory>

#include "client/commands.h"
#include "client/http_listen.h"
#include "client/prom.h"

namespace zrvctl {

namespace {

// The series of each sensor kind: reading, limits, what they are.
struct SensorSeries {
    const char* value;
    const char* min;
    const char* max;
    const char* help;
};
// By the library's sensor kind.
const SensorSeries kSensorSeries[] = {
    {"zorvik_fan_rpm", "zorvik_fan_min_rpm", "zorvik_fan_max_rpm", "Fan speed in revolutions per minute."},
    {"zorvik_in_volts", "zorvik_in_min_volts", "zorvik_in_max_volts",
     "Voltage in volts, scaled by the board profile."},
    {"zorvik_temp_celsius", "zorvik_temp_min_celsius", "zorvik_temp_max_celsius",
     "Temperature in degrees Celsius, scaled by the board profile."},
};
// Raw channels (no profile), by the prefix of their key.
struct RawSeries {
    const char* prefix;
    const char* name;
    const char* help;
};
const RawSeries kRawSeries[] = {
    {"in", "zorvik_in_raw", "Raw voltage reading of the chip (no board profile: not volts)."},
    {"temp", "zorvik_temp_raw", "Raw temperature reading of the chip (no board profile: not degrees)."},
};

// What an operator acts on, from the reason the device would not open.
struct DownReason {
    const char* start;  // of the client's message
    const char* reason;
};
const DownReason kDownReasons[] = {
    {"zorvik is not installed", "not installed"},
    {"run as administrator", "access denied"},
};
std::string downReason(const std::string& message) {
    for (const DownReason& r : kDownReasons)
        if (message.rfind(r.start, 0) == 0) return r.reason;
    return "no answer";
}

// A function's request failed for another reason than the board lacking it.
bool readOk(Context& ctx, int err, const char* what) {
    if (err == ZRV_OK) return true;
    if (err != ZRV_ENOTSUP) {
        warn(ctx, "metrics", fmt::format("{}: {}", what, zrv_strerror(err)));
        ctx.worst(kExitRefused);
    }
    return false;
}

void addSensors(Context& ctx, Exposition& e) {
    const Profile& p = ctx.profile;
    std::vector<zrv_sensor> sensors(18);  // every channel of the record
    size_t count = 0;
    if (!readOk(ctx, zrv_sensors_profile(ctx.lib(), p.handle.get(), sensors.data(), sensors.size(), &count),
                "hardware monitor"))
        return;
    sensors.resize(count);
    for (const zrv_sensor& s : sensors) {
        const PromLabels labels = {{"chip", p.chip}, {"sensor", s.key}, {"label", s.label}};
        if (s.kind == ZRV_SENSOR_RAW) {
            for (const RawSeries& r : kRawSeries)
                if (std::strncmp(s.key, r.prefix, std::strlen(r.prefix)) == 0)
                    e.sample(r.name, "gauge", r.help, labels, s.value);
            continue;
        }
        const SensorSeries& series = kSensorSeries[s.kind];
        e.sample(series.value, "gauge", series.help, labels, s.value);
        if (s.has_min)
            e.sample(series.min, "gauge", "Lower limit of the reading, from the board profile.", labels,
                     s.min);
        if (s.has_max)
            e.sample(series.max, "gauge", "Upper limit of the reading, from the board profile.", labels,
                     s.max);
        if (s.has_min || s.has_max)
            e.sample("zorvik_sensor_alarm", "gauge", "1 when the reading is outside its limits.", labels,
                     s.alarm ? 1 : 0);
    }
}

void addLines(Context& ctx, Exposition& e) {
    unsigned inputs = 0, outputs = 0;
    if (!readOk(ctx, zrv_dio_lines(ctx.lib(), &inputs, &outputs), "digital I/O")) return;
    struct Side {
        unsigned count;
        int (*read)(zrv_device*, uint16_t*);
        const std::vector<std::string>& names;
        const char* series;
        const char* help;
    };
    const Side sides[] = {
        {inputs, zrv_dio_read, ctx.profile.inputs, "zorvik_gpio_input", "Level of a digital input line."},
        {outputs, zrv_dio_read_outputs, ctx.profile.outputs, "zorvik_gpio_output",
         "Level of a digital output line, as read back."},
    };
    for (const Side& side : sides) {
        uint16_t word = 0;
        if (side.count == 0 || !readOk(ctx, side.read(ctx.lib(), &word), side.series)) continue;
        // Lines where the profile's pins are under the mask in effect; else
        // the first `count` bits, named by the profile's line names (none
        // where the profile names pins but the mask is not known).
        std::vector<std::pair<uint32_t, std::string>> lines;
        const bool outputSide = side.read == zrv_dio_read_outputs;
        if (const std::optional<uint8_t> mask = directionInEffect(ctx); !ctx.profile.pins.empty() && mask)
            lines = pinLines(ctx.profile, *mask, outputSide);
        else
            for (unsigned line = 0; line < side.count && line < 16; ++line)
                lines.emplace_back(line, line < side.names.size() ? side.names[line] : "");
        for (const auto& [line, name] : lines)
            e.sample(side.series, "gauge", side.help, {{"line", std::to_string(line)}, {"name", name}},
                     (word >> line) & 1);
    }
}

void addWatchdog(Context& ctx, Exposition& e, const KeepaliveState* k) {
    unsigned longest = 0;
    if (readOk(ctx, zrv_wdt_range(ctx.lib(), &longest), "watchdog"))
        e.sample("zorvik_watchdog_max_timeout_seconds", "gauge",
                 "Longest timeout the board's watchdog takes.", {}, longest);
    // Without a loop of its own, what this device's keepalive (or last
    // one-off wdctl) recorded. Its loop's series stand only while that loop
    // runs (the alert on the last keepalive's age is for a loop that
    // hangs); a loop that ended or died is said by
    // zorvik_watchdog_keepalive_up 0 with its last time, and the watchdog
    // it left counting runs only until its timeout has run out since the
    // last keepalive. A device no keepalive ever ran on has none of these.
    std::string refused;
    const std::optional<KeepaliveState> recorded =
        k ? std::nullopt : readDeviceKeepaliveState(ctx.run.device, refused);
    if (!refused.empty() && !ctx.run.stateWarned) {
        warn(ctx, "metrics", "keepalive state not published: " + refused);
        ctx.run.stateWarned = true;
    }
    if (recorded) k = &*recorded;
    if (k == nullptr) return;
    const KeepaliveLife life = recorded        ? keepaliveLife(*recorded)
                               : k->ended != 0 ? KeepaliveLife::Ended
                                               : KeepaliveLife::Running;
    const bool up = life == KeepaliveLife::Running;
    e.sample("zorvik_watchdog_keepalive_up", "gauge",
             "1 while the keepalive loop runs; 0 when it ended or died.", {}, up ? 1 : 0);
    e.sample("zorvik_watchdog_timeout_seconds", "gauge", "Timeout the keepalive set, in seconds.", {},
             static_cast<double>(k->timeoutSeconds));
    e.sample("zorvik_watchdog_running", "gauge",
             "1 while the watchdog counts as the keepalive left it: for a keepalive that ended or died, "
             "until its timeout has run out since the last keepalive.",
             {}, watchdogMayRun(*k, life, static_cast<int64_t>(std::time(nullptr))) ? 1 : 0);
    if (const int64_t deadline = watchdogDeadline(*k); k->running && deadline != 0)
        e.sample("zorvik_watchdog_runs_out_timestamp_seconds", "gauge",
                 "When the watchdog resets the board unless restarted: the last keepalive plus the "
                 "timeout, in seconds since the epoch.",
                 {}, static_cast<double>(deadline));
    if (!up) {
        // When it ended, or for a loop that died, when it was last heard of.
        e.sample("zorvik_watchdog_keepalive_end_timestamp_seconds", "gauge",
                 "When the keepalive loop ended, or last wrote its state before it died.", {},
                 static_cast<double>(k->ended != 0 ? k->ended : k->written));
        return;
    }
    e.sample("zorvik_watchdog_keepalive_interval_seconds", "gauge", "Period of the keepalive, in seconds.",
             {}, static_cast<double>(k->periodSeconds));
    if (knownTime(k->lastKeepalive))
        e.sample("zorvik_watchdog_last_keepalive_timestamp_seconds", "gauge",
                 "Time of the last watchdog restart, in seconds since the epoch.", {},
                 static_cast<double>(k->lastKeepalive));
}

// What the driver's load made of each function, as status says it: where
// the configuration names a back-end that did not bind, the load's reason.
void addFunctions(Context& ctx, Exposition& e) {
    for (const FunctionStatus& f : functionStatuses(ctx)) {
        PromLabels labels = {{"function", f.name}};
        if (f.configured) {
            if (f.reasonCode) labels.push_back({"reason_code", std::to_string(*f.reasonCode)});
            labels.push_back({"reason", f.reason()});
        }
        e.sample("zorvik_function_bound", "gauge",
                 "1 when the driver's load bound the function; 0 when not, with the load's reason where the "
                 "configuration names a back-end for it.",
                 labels, f.bound ? 1 : 0);
    }
}

}  // namespace

std::string boardMetrics(Context& ctx, const KeepaliveState* keepalive) {
    Exposition e;
    const char* upHelp = "1 when the driver answered, 0 (with the reason) when it did not.";
    try {
        addSensors(ctx, e);
        addLines(ctx, e);
        addWatchdog(ctx, e, keepalive);
        addFunctions(ctx, e);
    } catch (const ClientError& error) {
        // The device could not be opened: nothing else is known.
        warn(ctx, "metrics", error.message);
        ctx.worst(error.code == kExitNoDriver ? kExitNoDriver : kExitRefused);
        Exposition down;
        down.sample("zorvik_up", "gauge", upHelp, {{"reason", downReason(error.message)}}, 0);
        return down.text();
    }
    Exposition up;
    up.sample("zorvik_up", "gauge", upHelp, {}, 1);
    return up.text() + e.text();
}

MetricsPublisher::MetricsPublisher(Context& ctx, std::string textfileDir, const std::string& listen)
    : ctx_(ctx), dir_(std::move(textfileDir)) {
    if (listen.empty()) return;
    listener_ = std::make_unique<MetricsListener>();
    std::string error;
    if (!listener_->open(listen, error)) {
        fail(ctx, "metrics", "cannot listen at " + error);
        failed_ = true;
        return;
    }
    // Said on standard error, so that a person sees it started and where
    // (the port the system chose for port 0); standard output stays the
    // commands' own.
    const std::string at = fmt::format("{}:{}", listen.substr(0, listen.rfind(':')), listener_->port());
    if (ctx.json)
        std::cerr << jsonText(
                         nlohmann::json{{"command", "metrics"}, {"listening", "http://" + at + "/metrics"}})
                  << "\n";
    else
        std::cerr << "metrics: listening at http://" << at << "/metrics\n";
    std::cerr.flush();
}

MetricsPublisher::~MetricsPublisher() = default;

bool MetricsPublisher::publish(const KeepaliveState* keepalive) {
    state_ = keepalive ? std::optional<KeepaliveState>(*keepalive) : std::nullopt;
    if (dir_.empty()) return true;
    std::string error;
    if (replaceFile(dir_, "zorvik.prom", boardMetrics(ctx_, keepalive), error)) {
        if (!lastError_.empty()) warn(ctx_, "metrics", fmt::format("{}/zorvik.prom written again", dir_));
        lastError_.clear();
        return true;
    }
    // The previous file stays whole; the next round tries again. A loop
    // says the error once, and again only when it changes.
    if (error != lastError_) warn(ctx_, "metrics", error);
    lastError_ = error;
    ctx_.worst(kExitRefused);
    return false;
}

bool MetricsPublisher::wait(uint64_t ms) {
    if (!listener_) return ctx_.clock.sleep(ms);
    // Each scrape reads the board as it is now: an emulated board's time
    // first catches up with the wall clock (with --instant it moves only
    // between the waits, by their length).
    listener_->serveFor(ms, [this] {
        ctx_.clock.caughtUp(0);
        return boardMetrics(ctx_, state_ ? &*state_ : nullptr);
    });
    return ctx_.clock.caughtUp(ms);
}

namespace {

Builder defineMetrics(CLI::App& app) {
    struct Args {
        std::string textfile, listen;
        Repeat repeat;
    };
    auto a = std::make_shared<Args>();
    app.add_option("--textfile", a->textfile,
                   "write DIR/zorvik.prom for a node or windows exporter's textfile collector")
        ->type_name("DIR")
        ->check(CLI::ExistingDirectory);
    addListen(app, a->listen,
              "answer GET /metrics at ADDRESS:PORT (the management network's address; no authentication)");
    addRepeat(app, a->repeat);
    return [a] {
        if (!a->textfile.empty() && !a->listen.empty())
            throw ClientError{"metrics: --textfile or --listen, not both"};
        if (a->repeat.everyMs != 0 && a->textfile.empty())
            throw ClientError{"metrics: --watch belongs to --textfile"};
        return Action([a = *a](Context& ctx) {
            if (!a.listen.empty()) {
                MetricsPublisher pub(ctx, "", a.listen);
                while (!pub.failed() && pub.wait(60000)) {
                }
                return;
            }
            if (a.textfile.empty()) {
                fmt::print("{}", boardMetrics(ctx, nullptr));
                return;
            }
            MetricsPublisher pub(ctx, a.textfile, "");
            // A round whose write failed is said on stderr; the loop goes on.
            pub.publish(nullptr);
            for (uint32_t n = 1; a.repeat.everyMs != 0 && (a.repeat.count == 0 || n < a.repeat.count); ++n) {
                if (!ctx.clock.sleep(a.repeat.everyMs) || interrupted()) break;
                pub.publish(nullptr);
            }
        });
    };
}

}  // namespace

void addMetricsCommands(CommandTable& table) {
    table.push_back(
        {"metrics", "Prometheus: the board's readings, lines and watchdog as metrics; a textfile or /metrics",
         defineMetrics});
}

}  // namespace zrvctl
