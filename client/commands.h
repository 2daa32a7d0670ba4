// The client's commands. A script is parsed whole before anything runs, so a
// bad line stops it before the first request. Each command declares its
// arguments on a CLI11 app of its own, which gives it `--help`, range
// checks and one number syntax.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

#include "client/keepalive_state.h"
#include "client/profile.h"
#include "client/session.h"
#include "zorvik/registry.h"
#include "zorvik/zorvik.h"

namespace CLI {
class App;
}

namespace zrvctl {

// Exit codes of a run; the worst outcome of all commands wins.
enum ExitCode : int {
    kExitOk = 0,
    kExitRefused = 1,     // a request was refused or failed
    kExitUsage = 2,       // the caller's mistake: arguments, files, profile
    kExitBrokenRule = 3,  // the driver or the hardware broke a platform or protocol rule
    kExitNoDriver = 4,    // the driver is not installed or loaded, or the device may not be opened
    kExitAlarm = 5,       // every request succeeded, but a reading crossed a limit
};

// How time passes between the rounds of a loop (--watch, keepalive,
// --listen). On a real machine it is the wall clock. On an emulated board it
// is the board's time, which follows the wall clock too, or with --instant
// moves at once by each wait (tests and scripts). sleep() returns false when
// the run was interrupted.
class Clock {
public:
    virtual ~Clock() = default;
    virtual bool sleep(uint64_t ms) = 0;
    // The caller has just spent wall time on its own (a listener serving
    // scrapes): an emulated board's time catches up with it, or with
    // --instant moves on by `instantMs`. False when interrupted.
    virtual bool caughtUp(uint64_t instantMs) = 0;
    virtual std::string stamp() = 0;  // the time of a round, for its heading
    // The same time in seconds for JSON: since the epoch on a real machine,
    // since the board was powered on on an emulated one.
    virtual double seconds() = 0;
};

// The wall clock's waits, in steps of at most kWallStepMs so that an
// interrupt ends one at once; `pause` is the platform's own sleep.
constexpr uint64_t kWallStepMs = 100;
class WallClock : public Clock {
public:
    bool sleep(uint64_t ms) override;
    bool caughtUp(uint64_t instantMs) override;

protected:
    virtual void pause(uint64_t ms) = 0;
};

// The time of an emulated board. With `wall` it follows that clock: a sleep
// waits on it and moves the board by the time that really passed, in steps
// of at most a tenth of a second, so that the board's watchdog fires when it
// would on the bench. Without, a sleep moves the board's time at once.
class BoardClock : public Clock {
public:
    BoardClock(Board& board, Clock* wall);
    bool sleep(uint64_t ms) override;
    bool caughtUp(uint64_t instantMs) override;
    std::string stamp() override;
    double seconds() override;

private:
    Board& board_;
    Clock* wall_;
    uint64_t syncedUs_;  // the steady clock when the board last caught up
};

// The board's configuration as the driver reads it: the registry keys under
// the driver's root, by subkey name ("HWMON", "WDT", "DIO").
constexpr const char* kConfigRoot = ZRV_REG_ROOT_KERNEL;
struct RegistryEntry {
    std::string name;
    uint32_t type = 0;  // 4 REG_DWORD
    std::vector<uint8_t> data;
};
class ConfigSource {
public:
    virtual ~ConfigSource() = default;
    virtual std::string where() = 0;  // the .reg file, or the registry's path
    // Empty when the key is absent.
    virtual std::optional<std::vector<RegistryEntry>> values(const std::string& subkey) = 0;
};

// Set when the run is to end: Ctrl+C, a termination signal, a service stop.
bool interrupted();
void interrupt();
void catchInterrupts();

// What earlier commands of the same run established.
struct RunState {
    std::optional<WdtTimeout> timeoutSet;  // wdctl -s in this run
    std::optional<WdtTimeout> range;       // the watchdog's answer to GetTimeout
    std::optional<double> stamp;           // the time of the current --watch round (Clock::seconds)
    // The digital I/O's direction mask in effect, where known: the profile's
    // power-up mask when the driver was loaded for this run, or the mask
    // gpiodir set in it. The driver does not report it.
    std::optional<uint8_t> direction;
    // The device whose keepalive state this run reads and writes
    // (keepaliveDevice): the emulated board's file, or the machine's driver.
    std::string device;
    bool stateWarned = false;  // a refused keepalive state is said once a run
    // The rules the board saw broken that a failed request has told, by
    // ZRV_BREACH_PLATFORM and ZRV_BREACH_HARDWARE.
    unsigned rulesTold[2] = {0, 0};
};

// The control device of a libzorvik target ("sim:BOARD" on Linux, the
// machine's own device for "" on Windows): each access mode's device is
// opened with zrv_open_ex at its first use, and closed with this object.
// The back-end may hand over the read/write device it opened itself
// (zrv_board_open).
class TargetDevice : public Device {
public:
    explicit TargetDevice(std::string target, zrv_device* readWrite = nullptr)
        : target_(std::move(target)), readWrite_(readWrite) {}
    ~TargetDevice() override;
    TargetDevice(const TargetDevice&) = delete;
    TargetDevice& operator=(const TargetDevice&) = delete;
    zrv_device* open(HandleAccess access) override;
    // Closes the device of one access mode now (it is opened again at its
    // next use).
    void close(HandleAccess access);

private:
    std::string target_;
    zrv_device* read_ = nullptr;
    zrv_device* readWrite_;
};

struct Context {
    Device& device;
    Board* board;  // the emulated board, or null on a real machine
    Clock& clock;
    const Profile& profile;  // the board's, or an empty one
    ConfigSource* config;    // null where the configuration cannot be read
    bool json = false;       // --json: machine-readable answers
    int exitCode = kExitOk;  // worst outcome so far
    RunState run;

    // The worst outcome wins; an alarm is the mildest of them, so that a
    // failure is never hidden behind it.
    void worst(int code) {
        const auto rank = [](int c) { return c == kExitAlarm ? 1 : c == kExitOk ? 0 : c + 1; };
        exitCode = rank(code) > rank(exitCode) ? code : exitCode;
    }
    // The library's device the commands send through (read and write
    // access); throws ClientError when the device cannot be opened.
    zrv_device* lib() { return device.open(HandleAccess::ReadWrite); }
};

using Action = std::function<void(Context&)>;
using Builder = std::function<Action()>;

struct Command {
    const char* name;
    const char* help;
    // Declares the command's arguments on `app` and returns what builds the
    // action once they are parsed; the builder throws ClientError for what
    // the declarations cannot check.
    std::function<Builder(CLI::App& app)> define;
};

using CommandTable = std::vector<Command>;

// Every command group adds its commands here.
void addRequestCommands(CommandTable& table);
void addWatchdogCommands(CommandTable& table);
void addDigitalIoCommands(CommandTable& table);
void addHwmCommands(CommandTable& table);
void addBoardCommands(CommandTable& table);
void addConfigCommands(CommandTable& table);
void addMetricsCommands(CommandTable& table);
// The functions the configuration names a back-end for ("hardware monitor",
// "watchdog", "digital I/O"), read as the driver reads it.
std::vector<std::string> configuredFunctions(ConfigSource& source);
// A registry value as the driver's readers take it: its number (a REG_DWORD
// of four bytes, else 0), and whether the configuration reader's buffer
// holds it.
uint32_t valueDword(const RegistryEntry& value);
bool fits(const RegistryEntry& value);
// What the load makes of the configuration, before any hardware answers:
// whether it fails for a missing value, and the chip code each function
// selects (by ZRV_FUNCTION_*).
struct ConfigOutcome {
    bool loadFails;
    std::array<uint32_t, ZRV_FUNCTIONS> chips;
};
ConfigOutcome configOutcome(ConfigSource& source);
// What the driver's load recorded of each function (ZRV_REASON_*, by
// ZRV_FUNCTION_*), through the library: the virtual board's driver, or the
// report zorvik.sys leaves in the registry. Empty where it cannot be read.
std::optional<std::array<uint8_t, ZRV_FUNCTIONS>> loadReasons(Context& ctx);
// Why the driver did not bind `function` ("hardware monitor", ...) although
// the configuration names a back-end for it: from the load's report where
// it can be read, else "unknown".
std::string unboundReason(Context& ctx, const std::string& function);
// Why the driver answered "not supported" to a request of `function`
// ("hardware monitor", "watchdog", "digital I/O" or "CD port"), in the words
// status gives; empty after any other status, or when nothing tells why.
std::string notSupportedReason(Context& ctx, const std::string& function);
// Why the bound watchdog cannot start, as the configuration tells it (a
// port watchdog without a start action); empty when nothing says so.
std::string watchdogCannotStart(Context& ctx);
// What status says of each function, the three the load selects and then
// the CD port: bound (with what it answers), or not, and then whether the
// configuration names a back-end for it and why the load left it unbound.
struct FunctionStatus {
    const char* name = "";
    bool bound = false;
    bool configured = false;             // not bound, though the configuration names a back-end
    bool cannotStart = false;            // the watchdog: bound, but it cannot start
    std::optional<unsigned> reasonCode;  // not bound, where the load's report can be read
    std::string text;                    // the status line after the function's name
    nlohmann::json json;                 // its entry in status --json
    std::string reason() const { return json.value("reason", ""); }
};
std::vector<FunctionStatus> functionStatuses(Context& ctx);
// The chip code the configuration selects for `function`, as the driver's
// load reads it (16: the port back-ends); empty where it cannot be read.
std::optional<uint32_t> configuredChip(Context& ctx, const std::string& function);
// Commands of one client only (the Windows service); each back-end has it.
void addPlatformCommands(CommandTable& table);

const CommandTable& commands();
const Command* findCommand(const std::string& name);
// One command and its arguments, parsed; throws ClientError. `--help`
// prints the command's help, sets `helped` and returns no action.
Action parseCommand(const std::vector<std::string>& words, bool& helped);

// ---- Arguments -----------------------------------------------------------
// The one number syntax: decimal, or hex with 0x; at most `max`.
uint32_t parseNumber(const std::string& text, const std::string& what, uint32_t max);
// A line's level as libgpiod's tools take it: 0 or 1, inactive or active,
// off or on, false or true (any case). Throws ClientError for anything else.
bool parseLevel(const std::string& text);
// "30", "500ms", "2m", "1h": milliseconds; a bare number is seconds. The
// number is decimal, or hex with 0x; a duration beyond 2^64-1 ms is refused.
uint64_t parseDuration(const std::string& text, const std::string& what);
// A numeric option or positional through parseNumber, checked at parse time.
void addNumber(CLI::App& app, const std::string& name, uint32_t& target, uint32_t max,
               const std::string& help);
void addDuration(CLI::App& app, const std::string& name, uint64_t& target, const std::string& help,
                 bool allowZero = true);
// --listen ADDRESS:PORT of the commands that serve metrics, its form
// checked at parse time (a usage error), the address looked up at the run.
void addListen(CLI::App& app, std::string& target, const std::string& help);
// --watch SECONDS and --count N of the commands that can repeat.
struct Repeat {
    uint64_t everyMs = 0;  // 0: once
    uint32_t count = 0;    // 0: until interrupted
};
void addRepeat(CLI::App& app, Repeat& r);
// Runs `round` once, or every r.everyMs with a time stamp before each round.
void repeat(Context& ctx, const Repeat& r, const std::function<void()>& round);
// The builder of a command that runs `round` once or, with --watch, every
// period.
Builder repeating(CLI::App& app, const std::function<void(Context&)>& round);
// The builder of a command of one required number 0..255.
Builder withByte(CLI::App& app, const std::string& name, const std::string& help,
                 const std::function<void(Context&, uint8_t)>& run);

std::vector<uint8_t> parseHex(const std::string& text);
std::string hex(const std::vector<uint8_t>& bytes);
std::string statusName(int32_t status);
std::string seconds(uint64_t ms);

// ---- Answers and errors --------------------------------------------------
// A JSON value as one line of text. Text that is not UTF-8 (a file, line or
// value name in Latin-1, a byte typed as an argument) comes out as U+FFFD
// instead of aborting the run: every JSON line the client prints is made
// here.
template <typename Json>
std::string jsonText(const Json& j) {
    return j.dump(-1, ' ', false, Json::error_handler_t::replace);
}
// An answer on standard output: the text, or with --json the object.
// A --watch round's JSON carries its time: {"time": SECONDS, ...}.
void answer(Context& ctx, const std::string& text, const nlohmann::json& j);
// The same with members kept in the order given (sensors: the profile's).
void answerOrdered(Context& ctx, const std::string& text, const nlohmann::ordered_json& j);
// A failed or refused command on standard error (as JSON with --json); the
// run's exit code becomes at least `code`.
void fail(Context& ctx, const char* command, const std::string& text, nlohmann::json j = {},
          int code = kExitRefused);
void warn(Context& ctx, const char* command, const std::string& text);
// True when a library call succeeded; otherwise says why, with the
// driver's status ("COMMAND: not supported (0xc00000bb)"), or for
// ZRV_EPROTO the rule the driver or the hardware broke (the board's words
// for it, else the short answer), and returns false.
// `why`, when not empty, is what the caller knows of the refusal, added to
// the driver's status ("fan: unsuccessful (0xc0000001): WHY").
bool answered(Context& ctx, const char* command, int err, const std::string& why = {});

// The watchdog daemon's loop (wdctl keepalive --every, the Windows
// service): set the timeout, start, restart every period until interrupted
// or `count` restarts; then stop the watchdog unless `leaveRunning`.
// The timeout the loop sets when none is given (wdctl keepalive, the
// service alike), and the service's period.
constexpr uint64_t kDefaultTimeoutMs = 60000;
constexpr uint64_t kDefaultEveryMs = 10000;
struct Keepalive {
    uint64_t everyMs = 0;
    uint64_t timeoutMs = 0;  // 0: the timeout set earlier in this run, else kDefaultTimeoutMs
    bool leaveRunning = false;
    uint32_t count = 0;      // restarts before a clean exit; 0 until interrupted
    std::string metricsDir;  // write DIR/zorvik.prom after every restart
    std::string listen;      // answer GET /metrics at ADDRESS:PORT between restarts
};
void keepalive(Context& ctx, const Keepalive& k);

// The direction mask in effect where it is known: the one of this run
// (RunState::direction), or the board's power-up mask where the back-end
// cannot change it.
std::optional<uint8_t> directionInEffect(Context& ctx);
// The line-word bit and name of each pin the profile names on one side
// (outputs or inputs) under direction mask `mask` (set bits are inputs).
std::vector<std::pair<uint32_t, std::string>> pinLines(const Profile& profile, uint8_t mask, bool outputs);

// ---- Metrics -------------------------------------------------------------
// The board's state in the Prometheus text exposition format (0.0.4).
// `keepalive`: the state of this run's keepalive loop; null: the state file
// of the last keepalive on this machine, if any.
std::string boardMetrics(Context& ctx, const KeepaliveState* keepalive);
class MetricsListener;
// The metrics of a loop (metrics --textfile --watch, the keepalive): the
// textfile written after each round, and the listener served while the
// loop waits.
class MetricsPublisher {
public:
    // Says why, and is failed(), when `listen` cannot be listened at.
    MetricsPublisher(Context& ctx, std::string textfileDir, const std::string& listen);
    bool failed() const { return failed_; }
    ~MetricsPublisher();
    MetricsPublisher(const MetricsPublisher&) = delete;
    MetricsPublisher& operator=(const MetricsPublisher&) = delete;
    // Writes the textfile (if any); false after saying why it could not.
    bool publish(const KeepaliveState* keepalive);
    // Waits `ms` as the clock does, answering scrapes meanwhile; false when
    // the run was interrupted.
    bool wait(uint64_t ms);

private:
    Context& ctx_;
    std::string dir_;
    std::unique_ptr<MetricsListener> listener_;
    std::optional<KeepaliveState> state_;
    std::string lastError_;  // of the last textfile write, said once
    bool failed_ = false;
};

// The names of the watchdog units in a unit set (1 seconds, 2 minutes), as
// JSON names them in "units".
std::vector<std::string> watchdogUnits(unsigned units);
// The watchdog's range (GetTimeout), asked once per run.
std::optional<WdtTimeout> watchdogRange(Context& ctx, const char* command);

}  // namespace zrvctl
