// zrvctl as users run it: arguments, scripts, board files and their errors.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <functional>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <thread>
#include <tuple>

namespace {

namespace fs = std::filesystem;

struct Outcome {
    int rc;
    std::string out;
    std::string err;
};

class Zrvctl : public ::testing::Test {
protected:
    void SetUp() override {
        dir = fs::temp_directory_path() / ("zrvctl-test-" + std::to_string(::getpid()) + "-" +
                                           ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::create_directories(dir);
        ::setenv("ZRV_KEEPALIVE_STATE", (dir / "keepalive.state").c_str(), 1);
    }
    void TearDown() override { fs::remove_all(dir); }

    std::string write(const std::string& name, const std::string& text) {
        std::ofstream(dir / name) << text;
        return (dir / name).string();
    }
    static std::string slurp(const fs::path& p) {
        std::ifstream in(p);
        std::stringstream s;
        s << in.rdbuf();
        return s.str();
    }
    // `limit`: the seconds the run may take before it is ended (exit 124, or
    // 137 when it does not end on SIGTERM).
    // Loops move the board's time at once, unless `wall` (the wall clock).
    Outcome run(const std::string& args, int limit = 0, bool wall = false) {
        const std::string cmd = (limit > 0 ? "timeout -k 5 " + std::to_string(limit) + " " : "") +
                                std::string(ZRV_ZRVCTL) + (wall ? " " : " --instant ") + args + " >" +
                                (dir / "out").string() + " 2>" + (dir / "err").string();
        int status = std::system(cmd.c_str());
        return Outcome{WEXITSTATUS(status), slurp(dir / "out"), slurp(dir / "err")};
    }
    std::string board() {
        write(
            "b.reg",
            "Windows Registry Editor Version 5.00\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Varnel\\Zorvik\\HWMON]\n");
        return write(
            "b.json",
            R"({"name": "t", "registry": "b.reg", "hardware": [{"type": "latch", "ports": {"0x310": 165}}]})");
    }
    // A keepalive state of the default board, of a loop that still runs
    // (this process) unless `pid` names another.
    static std::string state(const std::string& lines, long pid = ::getpid()) {
        return "device sim:" + fs::canonical(std::string(ZRV_SOURCE_DIR) + "/boards/default.json").string() +
               "\npid " + std::to_string(pid) + "\n" + lines;
    }
    fs::path dir;
};

TEST_F(Zrvctl, CommandsRunInOrderAndTracesAreWritten) {
    const std::string b = board();
    Outcome r = run("--sim " + b + " --trace " + (dir / "t").string() + " --dbg " + (dir / "d").string() +
                    " ioctl 0x88202010 in=3412 out=2 ';' ioctl 0x88202014 in=beef out=1");
    EXPECT_EQ(r.rc, 0) << r.err;
    EXPECT_EQ(r.out, "status=0x00000000 bytes=2 data=3412\nstatus=0x00000000 bytes=1 data=be\n");
    EXPECT_TRUE(fs::exists(dir / "t"));
    EXPECT_TRUE(fs::exists(dir / "d"));
}

TEST_F(Zrvctl, ScriptsFromFilesAndStandardInput) {
    const std::string b = board();
    const std::string s = write("s.zrv", "# a comment\n\nioctl 0x88202010 in=0102 out=2   # trailing\n");
    Outcome r = run("--sim " + b + " --script " + s);
    EXPECT_EQ(r.rc, 0) << r.err;
    EXPECT_EQ(r.out, "status=0x00000000 bytes=2 data=0102\n");
    r = run("--sim " + b + " --script - < " + s);
    EXPECT_EQ(r.out, "status=0x00000000 bytes=2 data=0102\n");
}

TEST_F(Zrvctl, ABadLineStopsTheScriptBeforeAnyRequest) {
    const std::string b = board();
    const std::string t = (dir / "t").string();
    const std::string s = write("s.zrv", "ioctl 0x88202010 in=0102 out=2\n\nfrobnicate\n");
    Outcome r = run("--sim " + b + " --trace " + t + " --script " + s);
    EXPECT_EQ(r.rc, 2);
    EXPECT_EQ(r.out, "") << "nothing half-run";
    EXPECT_NE(r.err.find("s.zrv:3: unknown command 'frobnicate'"), std::string::npos) << r.err;
    EXPECT_FALSE(fs::exists(t));

    write("s2.zrv", "ioctl 0x88202010 in=0g out=2\n");
    r = run("--sim " + b + " --script " + (dir / "s2.zrv").string());
    EXPECT_EQ(r.rc, 2);
    EXPECT_NE(r.err.find("s2.zrv:1: ioctl: bad hex '0g'"), std::string::npos) << r.err;
}

TEST_F(Zrvctl, BoardFileErrorsNameTheFileAndLine) {
    Outcome r = run("--sim " + (dir / "missing.json").string() + " status");
    EXPECT_EQ(r.rc, 2);
    EXPECT_NE(r.err.find("missing.json: cannot open board file"), std::string::npos) << r.err;

    const std::string bad = write("bad.json", "{\n  \"name\": \"x\",\n  \"hardware\": [ {\"type\": }\n]}\n");
    r = run("--sim " + bad + " status");
    EXPECT_EQ(r.rc, 2);
    EXPECT_NE(r.err.find("bad.json:3: malformed JSON"), std::string::npos) << r.err;

    const std::string noreg = write("noreg.json", R"({"registry": "nowhere.reg"})");
    r = run("--sim " + noreg + " status");
    EXPECT_EQ(r.rc, 2);
    EXPECT_NE(r.err.find("nowhere.reg: cannot open registry file"), std::string::npos) << r.err;

    write("broken.reg",
          "Windows Registry Editor Version 5.00\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\X]\n\"A\"=dword:zz\n");
    const std::string broken = write("broken.json", R"({"registry": "broken.reg"})");
    r = run("--sim " + broken + " status");
    EXPECT_EQ(r.rc, 2);
    EXPECT_NE(r.err.find("broken.reg:3: bad dword value"), std::string::npos) << r.err;

    const std::string unknown = write("unknown.json", R"({"hardware": [{"type": "toaster"}]})");
    r = run("--sim " + unknown + " status");
    EXPECT_EQ(r.rc, 2);
    EXPECT_NE(r.err.find("hardware[0]: unknown hardware type 'toaster'"), std::string::npos) << r.err;

    const std::string range =
        write("range.json", R"({"hardware": [{"type": "latch", "ports": {"0x10000": 1}}]})");
    r = run("--sim " + range + " status");
    EXPECT_EQ(r.rc, 2);
    EXPECT_NE(r.err.find("out of range"), std::string::npos) << r.err;
}

TEST_F(Zrvctl, IoctlArgumentsAreChecked) {
    const std::string b = board();
    for (const char* bad :
         {"ioctl", "ioctl zz", "ioctl 0x88202013", "ioctl 0x88202010 in=123", "ioctl 0x88202010 access=w",
          "ioctl 0x88202010 out=-1", "ioctl 0x88202010 colour=blue"}) {
        Outcome r = run("--sim " + b + " " + bad);
        EXPECT_EQ(r.rc, 2) << bad;
        EXPECT_EQ(r.out, "") << bad;
        EXPECT_NE(r.err.find("(zrvctl ioctl --help)"), std::string::npos) << bad << ": " << r.err;
    }
}

// Whatever a board file holds, the client ends with exit code 2 and a message
// naming the file at fault and the problem, never an abort or an endless read.
TEST_F(Zrvctl, MalformedBoardFilesEndInAUsageError) {
    struct Row {
        const char* json;
        const char* file;
        const char* problem;
    };
    const Row rows[] = {
        {R"({"name": 5})", "m.json", "\"name\" is a text"},
        {R"({"hardware": [{"type": "latch", "ports": {"0x310": 1e400}}]})", "m.json", "1e400"},
        {R"({"registry": "/dev/zero"})", "/dev/zero", "not a regular file"},
        {R"({"hardware": [{"type": "latch", "ports": {"0x310": -1}}]})", "m.json", "negative"},
        {R"({"hardware": [{"type": "latch", "ports": {"0x310": 1.5}}]})", "m.json", "expected a number"},
        {R"({"hardware": [{"type": "f81865", "fan_rmp": {"1": 2000}}]})", "m.json",
         "hardware[0]: \"fan_rmp\" is not a key of a f81865 entry"},
        {R"({"hardware": [{"type": "it87", "configport": "0x4e"}]})", "m.json",
         "did you mean \"config_port\"?"},
    };
    for (const Row& row : rows) {
        Outcome r = run("--sim " + write("m.json", row.json) + " status");
        EXPECT_EQ(r.rc, 2) << row.json << ": " << r.err;
        EXPECT_NE(r.err.find(row.file), std::string::npos) << row.json << ": " << r.err;
        EXPECT_NE(r.err.find(row.problem), std::string::npos) << row.json << ": " << r.err;
    }
}

}  // namespace

namespace {

const std::string kDefault = std::string(ZRV_SOURCE_DIR) + "/boards/default.json";
const std::string kPortPlain = std::string(ZRV_SOURCE_DIR) + "/boards/port-plain.json";

size_t count(const std::string& text, const std::string& what) {
    size_t n = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
    return n;
}

TEST_F(Zrvctl, ExitCodesAndStreams) {
    board();
    // A port board whose output port is an input port of the hardware: the
    // driver's write there is a protocol violation.
    write("v.reg",
          "Windows Registry Editor Version 5.00\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Varnel\\Zorvik\\HWMON]\n"
          "\"SuperIO\"=dword:00000010\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Varnel\\Zorvik\\DIO]\n"
          "\"IOBaseOut\"=dword:00000300\n\"OutMask\"=dword:000000ff\n\"OutBits\"=dword:00000008\n");
    const std::string violating = write(
        "v.json", R"({"registry": "v.reg", "hardware": [{"type": "dio-ports", "inputs": {"0x300": 0}}]})");
    const std::string b = (dir / "b.json").string();
    // A port watchdog whose "Start" is misspelt, and a chip code 0x63.
    const std::string head =
        "Windows Registry Editor Version 5.00\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Varnel\\Zorvik\\";
    write("s.reg",
          head +
              "HWMON]\n\"SuperIO\"=dword:00000010\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Varnel\\Zorvik\\"
              "WDT]\n\"DeviceType\"=dword:00000000\n\"Strat\"=dword:00008443\n\"Stop\"=dword:00000843\n");
    const std::string strat = write(
        "s.json", R"({"registry": "s.reg", "hardware": [{"type": "port-watchdog", "start": {"access": "write",
                     "port": "0x443"}, "stop": {"access": "read", "port": "0x843"}}]})");
    write("x.reg", head + "HWMON]\n\"SuperIO\"=dword:00000063\n");
    const std::string chip99 = write("x.json", R"({"registry": "x.reg", "hardware": []})");
    const struct {
        std::string args;
        int rc;
        const char* out;  // in standard output
        const char* err;  // in standard error
    } cases[] = {
        {"--sim " + b + " ioctl 0x88202010 in=3412 out=2", 0, "status=0x00000000", ""},
        {"--sim " + b + " ioctl 0x88202000 out=36", 1, "status=0xc00000bb", ""},
        {"--sim " + b + " sensors", 1, "",
         "sensors: not supported (0xc00000bb): not bound, although the configuration names a back-end for "
         "it: "
         "not found: no IT87xx answered"},
        {"cdinfo", 1, "", "cdinfo: not supported (0xc00000bb): the board's digital I/O has no CD port"},
        {"--sim " + kPortPlain + " sensors", 1, "",
         "sensors: not supported (0xc00000bb): the configuration names no back-end for the hardware monitor"},
        {"--sim " + strat + " status", 1,
         "watchdog:         bound (timeout up to 255 seconds), but it cannot start: WDT \"Start\" is absent "
         "or "
         "names no port",
         ""},
        {"--sim " + strat + " wdctl -s 10 start", 1, "timeout set to 10 seconds",
         "wdctl: not supported (0xc00000bb): the port watchdog cannot start: WDT \"Start\" is absent"},
        {"--sim " + strat + " wdctl keepalive --every 1s --count 2", 1, "",
         "wdctl keepalive: not supported (0xc00000bb): the port watchdog cannot start"},
        {"--sim " + chip99 + " config", 1,
         "problem: HWMON \"SuperIO\" 99 (dword:00000063) names no chip (did you mean 6, the F81865?)", ""},
        {"--sim " + b + " --json sensors", 1, "", R"({"command":"sensors","error":"not supported")"},
        {"wdctl -s 301", 1, "", "outside the watchdog's range (1-255 seconds or minutes): not sent"},
        {"wdctl -s 300", 0, "timeout set to 5 minutes", ""},  // as keepalive --timeout 300s takes it
        {"wdctl -s 256m", 1, "", "outside the watchdog's range (1-255 seconds or minutes): not sent"},
        {"wdctl -s 30 ';' wdctl start", 0, "watchdog started", ""},
        {"wdctl start", 1, "",
         "wdctl: invalid device state (0xc0000184): the watchdog is not counting: its count is 0"},
        {"fan 4 on", 1, "",
         "fan: unsuccessful (0xc0000001): the F81865 controls fans 1 to 3 (2 on ID 0x0704)"},
        {"fan 1 auto 40 60", 1, "", "the F81865 has no automatic mode (it takes on, off and duty)"},
        {"--sim " + kPortPlain + " fan 1 on", 1, "", "fan: not supported (0xc00000bb)\n"},
        {"frobnicate", 2, "", "unknown command 'frobnicate'"},
        {"--json frobnicate", 2, "", R"({"error":"command line, command 1: unknown command 'frobnicate')"},
        {"sensor", 2, "", "unknown command 'sensor', did you mean 'sensors'?"},
        {"--jsn status", 2, "", "unknown option '--jsn', did you mean '--json'?"},
        {"metrics --listen 127.0.0.1:80x", 2, "", "'127.0.0.1:80x': give ADDRESS:PORT"},
        {"wdctl -s 4h --json", 0, R"({"timeout_count":240,"timeout_seconds":14400,"unit":"minutes"})", ""},
        {"wdctl -s 5h", 1, "", "300 minutes is outside the watchdog's range"},
        {"wdctl keepalive --every 1s --count 1", 0, "keepalive: 1 restart; watchdog stopped", ""},
        {"wdctl -s 0", 2, "", "0 would never reset the board"},
        {"fan 1 duty 128", 2, "", "duty: 128 is out of range (at most 127)"},
        {"status --frobnicate", 2, "", "status: The following argument was not expected: --frobnicate"},
        {"--frobnicate status", 2, "", "unknown option '--frobnicate'"},
        {"--profile " + (dir / "none.json").string() + " status", 2, "", "none.json: cannot open profile"},
        {"--sim " + std::string(ZRV_SOURCE_DIR) + "/boards/default.profile.json status", 2, "",
         "default.profile.json: \"adapter\" is a board profile's key: this is a board profile"},
        {"ioctl 0x88202013", 2, "", "the device takes buffered requests only"},
        // A broken rule is said as one, in the board's words.
        {"--sim " + violating + " gpioset 1", 3, "",
         "gpioset: the driver or the hardware broke a rule: dio-ports: write of 0x01 to input port 0x0300\n"
         "zrvctl: hardware protocol violation: dio-ports: write of 0x01 to input port 0x0300\n"},
        {"--sim " + violating + " --json gpioset 1", 3, "",
         R"({"bytes":0,"command":"gpioset","error":"the driver or the hardware broke a rule",)"
         R"("rules":["dio-ports: write of 0x01 to input port 0x0300"]})"},
        // Options of the whole run stand before or after the commands.
        {"status --json", 0, R"("timeout_max":255,"timeout_min":1,"units":["seconds","minutes"]})", ""},
        {"status", 0, "temperatures CPU +45.0°C, System +38.0°C, VRM +52.0°C", ""},
        {"sensors -A -u", 0, "f81865-isa-0a00\nCPU fan:\n  fan1_input: 2400.000\n  fan1_min: 1000.000\n", ""},
        {"sensors 'f81865-*' -j", 0, R"({"f81865-isa-0a00":{"Adapter":"ISA adapter","CPU fan")", ""},
        {"sensors w83627-isa-0a00", 1, "",
         "no chip 'w83627-isa-0a00' on this board (it has 'f81865-isa-0a00')"},
        {"wdctl -s 2m --json", 0, R"({"timeout_count":2,"timeout_seconds":120,"unit":"minutes"})", ""},
        {"status ';' sensors --sim " + b, 1, "hardware monitor: not bound, although",
         "sensors: not supported"},
    };
    for (const auto& c : cases) {
        const Outcome r = run(c.args);
        EXPECT_EQ(r.rc, c.rc) << c.args << "\n" << r.err;
        EXPECT_NE(r.out.find(c.out), std::string::npos) << c.args << ": " << r.out;
        EXPECT_NE(r.err.find(c.err), std::string::npos) << c.args << ": " << r.err;
        if (c.rc == 2) {
            EXPECT_EQ(r.out, "") << c.args << ": a usage error runs nothing";
        }
    }
}

TEST_F(Zrvctl, HelpForTheRunAndForEachCommand) {
    for (const char* help : {"--help", "-h", "/?"}) {
        const Outcome r = run(help);
        EXPECT_EQ(r.rc, 0) << help;
        EXPECT_NE(r.out.find("Exit codes: 0 every request succeeded"), std::string::npos) << help << r.out;
    }
    const Outcome r = run("wdctl --help");
    EXPECT_EQ(r.rc, 0);
    EXPECT_NE(r.out.find("--leave-running"), std::string::npos) << r.out;
}

TEST_F(Zrvctl, ProfileScalesHidesAndRaisesAlarms) {
    // The default board reads in0 0x8c, in1 0xd0, temp1 45, temp2 38,
    // fans 2400 and 1875 rpm.
    const std::string p = write("p.json", R"({"chip": "test-chip", "adapter": "bench",
        "channels": {
          "fan1": {"label": "CPU fan", "min": 2500},
          "fan2": {"label": "Case fan", "min": 1000, "max": 2000},
          "in0": {"label": "Vcore", "scale": 0.01, "offset": -0.2, "max": 1.5},
          "in1": {"label": "+12V", "scale": 0.0625, "min": 11.4, "max": 13.2},
          "temp1": {"label": "CPU", "scale": 1, "offset": -64, "signed": true, "min": -10},
          "temp2": {"label": "Board", "max": 30}}})");
    Outcome r = run("--profile " + p + " sensors");
    EXPECT_EQ(r.rc, 5) << "alarms are raised: " << r.err;
    // An alarm does not hide a refused request, nor a usage error.
    EXPECT_EQ(run("--profile " + p + " sensors ';' fan 5 on").rc, 1);
    EXPECT_EQ(run("--profile " + p + " sensors ';' gpioget nosuchline").rc, 2);
    EXPECT_EQ(r.out,
              "test-chip\n"
              "Adapter: bench\n"
              "CPU fan:      2400 RPM  (min = 2500 RPM)  ALARM\n"
              "Case fan:     1875 RPM  (min = 1000 RPM, max = 2000 RPM)\n"
              "Vcore:       +1.20 V  (max = +1.50 V)\n"
              "+12V:       +13.00 V  (min = +11.40 V, max = +13.20 V)\n"
              "CPU:         -19.0°C  (min = -10.0°C)  ALARM\n"
              "Board:       +38.0°C  (max = +30.0°C)  ALARM\n");

    // sensors -j's layout: chip, then each channel by label.
    r = run("--json --profile " + p + " sensors");
    const nlohmann::json j = nlohmann::json::parse(r.out);
    EXPECT_EQ(j["test-chip"]["Adapter"], "bench");
    EXPECT_DOUBLE_EQ(j["test-chip"]["Vcore"]["in0_input"].get<double>(), 1.2);
    EXPECT_DOUBLE_EQ(j["test-chip"]["Vcore"]["in0_max"].get<double>(), 1.5);
    EXPECT_EQ(j["test-chip"]["Vcore"]["in0_alarm"], 0);
    EXPECT_EQ(j["test-chip"]["CPU fan"]["fan1_alarm"], 1);
    EXPECT_DOUBLE_EQ(j["test-chip"]["CPU"]["temp1_input"].get<double>(), -19);
    EXPECT_EQ(j["test-chip"].size(), 7u) << "the adapter and the six channels listed, nothing else";

    // Within the limits: exit 0.
    write("ok.json", R"({"channels": {"in0": {"scale": 0.008, "min": 1.0, "max": 1.2}}})");
    r = run("--profile " + (dir / "ok.json").string() + " sensors");
    EXPECT_EQ(r.rc, 0);
    EXPECT_NE(r.out.find("in0:    +1.12 V  (min = +1.00 V, max = +1.20 V)\n"), std::string::npos) << r.out;
}

TEST_F(Zrvctl, WithoutAProfileTheReadingsStayRawAndSaySo) {
    write("r.reg", "Windows Registry Editor Version 5.00\n");
    const std::string b = write("r.json", R"({"registry": "r.reg",
        "hardware": [{"type": "f81865", "config_port": "0x4e", "id": "0x1010",
                      "config": {"4": {"0x60": "0x0a", "0x61": "0x00"}}, "hwm": {"0x20": "0x8c"}}]})");
    write("r.reg",
          "Windows Registry Editor Version 5.00\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Varnel\\Zorvik\\HWMON]\n"
          "\"SuperIO\"=dword:00000006\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Varnel\\Zorvik\\DIO]\n");
    const Outcome r = run("--sim " + b + " sensors");
    EXPECT_EQ(r.rc, 0) << r.err;
    EXPECT_NE(r.out.find("Adapter: no board profile, raw readings\n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("in0:        140 (raw)\n"), std::string::npos) << r.out;
    EXPECT_EQ(count(r.out, "\n"), 2u + 5 + 10 + 3) << "every channel of the record: " << r.out;
}

TEST_F(Zrvctl, MalformedProfilesAreUsageErrors) {
    const struct {
        const char* text;
        const char* error;
    } cases[] = {
        {R"({"channels": {"in10": {}}})", "no channel 'in10'"},
        {R"({"channels": {"fan1": {"scale": 2}}})", "channels.fan1.scale: unknown setting for a fan channel"},
        {R"({"channels": {"in0": {"scale": "x"}}})", "channels.in0.scale: not a number"},
        {R"({"channels": {"in0": {"min": 2, "max": 1}}})", "min is above max"},
        {R"({"lines": {"inputs": ["door", "door"]}})", "'door' named twice"},
        {R"({"lines": {"inputs": ["3"]}})", "lines.inputs[0]: not a line name"},
        {R"({"colour": "blue"})", "colour: unknown entry"},
        {R"({"channels": )", "malformed JSON"},
        {R"({"channels": {"in0": {"scale": 1e400}}})", "malformed JSON"},
        {R"({"channels": {"in0": {"scale": 1e308}}})", "channels.in0.scale: 1e+308 is out of range"},
        {R"({"lines": {"pins": ["a"]}})", "pins and direction go together"},
        {R"({"lines": {"pins": ["a"], "direction": "0x100"}})", "not a direction mask"},
    };
    for (const auto& c : cases) {
        const std::string p = write("bad.json", c.text);
        const Outcome r = run("--profile " + p + " status");
        EXPECT_EQ(r.rc, 2) << c.text;
        EXPECT_EQ(r.out, "") << c.text;
        EXPECT_NE(r.err.find(c.error), std::string::npos) << c.text << ": " << r.err;
    }
}

TEST_F(Zrvctl, ConfigReadsValuesAsTheDriverDoes) {
    // DIO "DeviceType" is a REG_DWORD of 8 bytes: 0 to the driver, which
    // binds the port digital I/O; config says the same.
    const Outcome r =
        run("--sim " + std::string(ZRV_SOURCE_DIR) + "/boards/port-regtypes.json config ';' status");
    EXPECT_EQ(r.rc, 1);
    for (const char* line : {"DIO \"DeviceType\" is a REG_DWORD of 8 bytes, not 4: the driver reads it as 0",
                             "digital I/O:      port digital I/O, plain layout: 4 input lines",
                             "digital I/O:      bound (4 inputs, 4 outputs)"})
        EXPECT_NE(r.out.find(line), std::string::npos) << line << ": " << r.out;
    EXPECT_EQ(r.out.find("InAddr0"), std::string::npos) << r.out;
    // A monitor the configuration names but the driver did not bind.
    const Outcome m = run("--sim " + std::string(ZRV_SOURCE_DIR) + "/boards/it8783f-4e.json status");
    EXPECT_EQ(m.rc, 1);
    EXPECT_NE(m.out.find("hardware monitor: not bound, although the configuration names a back-end"),
              std::string::npos)
        << m.out;
    EXPECT_EQ(r.out.find("not REG_DWORD: the driver reads it as 0\nproblem: DIO \"DeviceType\" is REG_DWORD"),
              std::string::npos);
}

// A function the configuration names but the driver did not bind: status
// gives the reason the driver's load recorded. The W83627 board's
// chip under other configurations, and with its monitor's base low or 0.
TEST_F(Zrvctl, StatusSaysWhyAConfiguredFunctionIsUnbound) {
    const struct {
        const char* hwmon;  // HWMON "SuperIO", or null: absent
        const char* dio;    // DIO values
        const char* base;   // the monitor's base as the firmware left it, or null
        const char* line;   // in status's output
    } rows[] = {
        {"00000001",
         "\"DeviceType\"=dword:00000001\n\"SuperIO\"=dword:00000001\n\"GPIOGroup\"=dword:00000003\n", nullptr,
         "digital I/O:      not bound, although the configuration names a back-end for it: the GPIO group "
         "is not enabled on the chip (its set-up test failed)\n"},
        {"00000001",
         "\"DeviceType\"=dword:00000001\n\"SuperIO\"=dword:00000001\n\"GPIOGroup\"=dword:00000007\n", nullptr,
         "digital I/O:      not bound, although the configuration names a back-end for it: the GPIO group "
         "the registry names is no group the back-end serves on this chip\n"},
        {"00000001", "", "0x80",
         "hardware monitor: not bound, although the configuration names a back-end for it: "
         "refused base: the register block the chip reports is below 0x100, on the PCI configuration ports "
         "or too high\n"},
        {"00000006", "", nullptr,
         "hardware monitor: not bound, although the configuration names a back-end for it: "
         "not found: no F81865 answered its probe at 0x2E/0x2F or 0x4E/0x4F"},
        {"00000001", "", "0x00",
         "hardware monitor: not bound, although the configuration names a back-end for it: the monitor is "
         "not set up: its base is 0 or logical device 0x0B does not decode"},
        {nullptr, "\"DeviceType\"=dword:00000001\n\"SuperIO\"=dword:00000001\n\"GPIOGroup\"=dword:00000001\n",
         nullptr,
         "digital I/O:      not bound, although the configuration names a back-end for it: the "
         "configuration load failed on a missing or unreadable value, so nothing is bound"},
    };
    for (const auto& row : rows) {
        auto board = nlohmann::json::parse(slurp(std::string(ZRV_SOURCE_DIR) + "/boards/w83627-88.json"));
        if (row.base) board["hardware"][0]["config"]["0x0b"].update({{"0x60", "0x00"}, {"0x61", row.base}});
        const std::string key = "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Varnel\\Zorvik\\";
        board["registry"] =
            write("r.reg", "Windows Registry Editor Version 5.00\n" + key + "HWMON]\n" +
                               (row.hwmon ? "\"SuperIO\"=dword:" + std::string(row.hwmon) : "") + "\n" + key +
                               "WDT]\n\"DeviceType\"=dword:00000001\n\"SuperIO\"=dword:00000001\n" + key +
                               "DIO]\n" + row.dio);
        const std::string sim = "--sim " + write("r.json", board.dump());
        const Outcome r = run(sim + " status");
        EXPECT_EQ(r.rc, 1) << r.out << r.err;
        EXPECT_NE(r.out.find(row.line), std::string::npos) << row.line << "\n" << r.out;
        // metrics gives the same reason, and its code, on the function's sample.
        const std::string line = row.line, said = "for it: ";
        const size_t from = line.find(said) + said.size();
        const std::string function = line.substr(0, line.find(':'));
        const std::string reason = line.substr(from, line.find('\n', from) - from);
        const Outcome m = run(sim + " metrics");
        EXPECT_EQ(m.rc, 0) << m.err;
        const std::string head = "zorvik_function_bound{function=\"" + function + "\",reason_code=\"";
        const size_t at = m.out.find(head);
        const std::string sample = at == std::string::npos ? "" : m.out.substr(at, m.out.find('\n', at) - at);
        EXPECT_TRUE(sample.ends_with("\",reason=\"" + reason + "\"} 0")) << reason << "\n" << m.out;
    }
    // The monitor of an IT8783F at 0x4E is probed at 0x2E only.
    const Outcome r = run("--sim " + std::string(ZRV_SOURCE_DIR) + "/boards/it8783f-4e.json --json status");
    EXPECT_EQ(nlohmann::json::parse(r.out)["hardware monitor"]["reason"],
              "not found: no IT87xx answered its probe at 0x2E/0x2F, the only pair its monitor is probed at");
}

TEST_F(Zrvctl, MalformedFilesAndLinesEndWithAMessageNotACrash) {
    const std::string big = (dir / "big.zrv").string();
    std::ofstream(big) << std::string((1 << 20) + 1, '#');
    const struct {
        std::string args;
        int rc;
        const char* error;
    } cases[] = {
        {"--profile " + dir.string() + " status", 2, "is a directory, not a profile"},
        {"--script " + big, 2, "big.zrv: larger than 1048576 bytes"},
        {"--script " + dir.string(), 2, "cannot read script"},
        {"gpioget 40", 1, "input line 40 is beyond the board's 8 input lines"},
        {"gpioset 16=1", 1, "output line 16 is beyond"},
        {"--trace /dev/full status", 1, "/dev/full: cannot write (No space left on device)"},
        {"--dbg /dev/full status", 1, "/dev/full: cannot write (No space left on device)"},
    };
    for (const auto& c : cases) {
        const Outcome r = run(c.args);
        EXPECT_EQ(r.rc, c.rc) << c.args << ": " << r.err;
        EXPECT_NE(r.err.find(c.error), std::string::npos) << c.args << ": " << r.err;
    }
}

TEST_F(Zrvctl, KeepaliveHoldsTheWatchdogOffInVirtualTime) {
    // The port watchdog writes the count to 0x443 on every start and restart.
    const std::string t = (dir / "t").string();
    Outcome r =
        run("--sim " + kPortPlain + " --trace " + t +
            " wdctl keepalive --every 20s --timeout 30s --count 9 ';' resets ';' advance 60s ';' resets");
    EXPECT_EQ(r.rc, 0) << r.err;
    EXPECT_EQ(r.out,
              "keepalive: watchdog started, timeout 30 seconds, restarted every 20.000 s\n"
              "keepalive: 9 restarts; watchdog stopped\nno board resets\ntime 240.000 s\nno board resets\n");
    EXPECT_EQ(count(slurp(t), "out 0x0443 0x1e\n"), 10u) << "one start, nine restarts";

    r = run("--sim " + kPortPlain +
            " wdctl keepalive --every 20s --timeout 30s --count 2 --leave-running ';' advance 29s ';' "
            "advance 2s");
    EXPECT_EQ(r.rc, 0) << r.err;
    EXPECT_NE(r.out.find("keepalive: 2 restarts; watchdog left running\n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("time 69.000 s\ntime 71.000 s\nboard reset by the watchdog at 70.000 s\n"),
              std::string::npos)
        << "30 s after the last restart: " << r.out;

    // The same loop with minutes: the port watchdog takes seconds only.
    r = run("--sim " + kPortPlain + " wdctl keepalive --every 1m --timeout 5m --count 1");
    EXPECT_EQ(r.rc, 1);
    EXPECT_NE(r.err.find("a timeout of 300.000 s is outside the watchdog's range (1-255 seconds)"),
              std::string::npos)
        << r.err;
    EXPECT_EQ(r.out, "");
    // On the F81865 the same request is five minutes.
    r = run("wdctl keepalive --every 1m --timeout 5m --count 1 --json");
    EXPECT_EQ(r.rc, 0) << r.err;
    EXPECT_NE(r.out.find(R"("timeout_seconds":300)"), std::string::npos) << r.out;
}

TEST_F(Zrvctl, KeepaliveRecordsItsStateForWdctl) {
    // Before any loop nothing knows the timeout or whether it runs.
    Outcome r = run("wdctl");
    EXPECT_NE(r.out.find("Timeout:       unknown\nRunning:       unknown\n"), std::string::npos) << r.out;
    // 300 s on a 255-count watchdog of seconds or minutes: five minutes, said.
    r = run("wdctl keepalive --every 1m --timeout 300 --count 1 --leave-running");
    EXPECT_EQ(r.rc, 0) << r.err;
    EXPECT_NE(r.out.find("timeout 5 minutes (asked 300.000 s), restarted every 60.000 s"), std::string::npos)
        << r.out;
    r = run("wdctl --json");
    const auto j = nlohmann::json::parse(r.out);
    EXPECT_EQ(j["timeout_seconds"], 300);
    EXPECT_EQ(j["running"], true);
    EXPECT_EQ(j["every_seconds"], 60);
    EXPECT_EQ(j["keepalive"], "ended");
    EXPECT_LE(std::abs(j["last_keepalive_timestamp_seconds"].get<long long>() -
                       static_cast<long long>(std::time(nullptr))),
              60);
    EXPECT_GE(j["timeleft_seconds"].get<int>(), 240) << "counting down from the last keepalive";
    // Without --timeout the loop sets the service's default and says so;
    // stopped at the end, the state says so.
    r = run("wdctl keepalive --every 10s --count 1 ';' wdctl");
    EXPECT_NE(r.out.find("timeout 60 seconds (the default)"), std::string::npos) << r.out;
    EXPECT_NE(
        r.out.find(
            "Timeout:       60 seconds (set in this run)\nRunning:       no (the keepalive stopped it at"),
        std::string::npos)
        << r.out;
    // The state is the default board's: another board knows nothing of it
    // and publishes none of the keepalive's series.
    r = run("--sim " + kPortPlain + " wdctl ';' metrics");
    EXPECT_NE(r.out.find("Running:       unknown"), std::string::npos) << r.out;
    EXPECT_EQ(r.out.find("zorvik_watchdog_keepalive"), std::string::npos) << r.out;
    // Both keep their record in the one file the variable names.
    EXPECT_EQ(run("--sim " + kPortPlain + " wdctl keepalive --every 1s --count 1 --leave-running").rc, 0);
    EXPECT_NE(run("wdctl").out.find("Running:       no (the keepalive stopped it at"), std::string::npos);
    EXPECT_NE(run("--sim " + kPortPlain + " wdctl").out.find("and left it running"), std::string::npos);
    // A loop that died and left the watchdog counting: said, with its last
    // keepalive; only zorvik_watchdog_keepalive_up 0 and its end stay.
    const pid_t dead = ::fork();
    if (dead == 0) ::_exit(0);
    ::waitpid(dead, nullptr, 0);
    write("keepalive.state",
          state("running 1\ntimeout_seconds 30\nlast_keepalive 1765170000\nwritten 1765170001\n", dead));
    r = run("wdctl ';' metrics");
    EXPECT_NE(r.out.find("Timeleft:      0 s (ran out at 2025-12-08T05:00:30Z)\nRunning:       no: its "
                         "timeout ran out at 2025-12-08T05:00:30Z, so it has reset the board or was stopped "
                         "(the keepalive, pid " +
                         std::to_string(dead) + ", died; last keepalive 2025-12-08T05:00:00Z)"),
              std::string::npos)
        << r.out;
    EXPECT_NE(r.out.find("zorvik_watchdog_running 0\n"), std::string::npos)
        << "the timeout ran out: " << r.out;
    EXPECT_NE(r.out.find("zorvik_watchdog_keepalive_up 0\n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("zorvik_watchdog_keepalive_end_timestamp_seconds 1765170001\n"), std::string::npos);
    EXPECT_EQ(r.out.find("zorvik_watchdog_last_keepalive_timestamp_seconds"), std::string::npos) << r.out;
    // A live pid is the loop's only while its process started when the
    // loop's did; another process given the pid is a loop that died.
    const std::string self = slurp("/proc/self/stat");
    std::istringstream fields(self.substr(self.rfind(')') + 1));
    std::string start;
    for (int i = 3; i <= 22 && fields >> start; ++i) {
    }
    const std::pair<std::string, int> owners[] = {{"", 1}, {start, 1}, {"1", 0}};  // pid_start, keepalive_up
    for (const auto& [pidStart, up] : owners) {
        write("keepalive.state",
              state("running 1\nperiod_seconds 10\nwritten 1\npid_start " + pidStart + "\n"));
        EXPECT_NE(run("metrics").out.find("zorvik_watchdog_keepalive_up " + std::to_string(up) + "\n"),
                  std::string::npos)
            << "pid_start " << pidStart;
    }
    // Without the variable each board's state has a file of its own.
    ::unsetenv("ZRV_KEEPALIVE_STATE");
    ::setenv("XDG_RUNTIME_DIR", dir.c_str(), 1);
    for (const std::string& board : {kPortPlain, std::string(ZRV_SOURCE_DIR) + "/boards/default.json"})
        EXPECT_EQ(run("--sim " + board + " wdctl keepalive --every 1s --count 1").rc, 0);
    size_t files = 0;
    for (const auto& f : fs::directory_iterator(dir))
        files +=
            f.path().filename().string().starts_with("zorvik-keepalive-") && f.path().extension() == ".state";
    EXPECT_EQ(files, 2u);
}

// A keepalive loop on the wall clock, its output in a file as a service
// manager keeps it: each line is there while it runs, a hangup ends it as
// cleanly as a termination signal, and a SIGKILL leaves a state that says
// the watchdog counts only until its timeout, until wdctl stop or forget
// tell otherwise.
TEST_F(Zrvctl, KeepaliveLoopsEndedBySignalsAndWhatTheyLeave) {
    const auto loop = [this](int signal) {
        fs::remove(dir / "loop");
        const pid_t pid = ::fork();
        if (pid == 0) {
            const std::string cmd = "exec " + std::string(ZRV_ZRVCTL) +
                                    " wdctl keepalive --every 1s --timeout 120s >" + (dir / "loop").string();
            ::execl("/bin/sh", "sh", "-c", cmd.c_str(), static_cast<char*>(nullptr));
            ::_exit(127);
        }
        // A hang guard only: the line is to be there while the loop runs.
        bool logged = false;
        for (int i = 0; i < 600 && !logged; ++i, std::this_thread::sleep_for(std::chrono::milliseconds(50)))
            logged = slurp(dir / "loop").find("keepalive: watchdog started") != std::string::npos;
        EXPECT_TRUE(logged) << "nothing in the log while the loop runs";
        ::kill(pid, signal);
        int status = 0;
        ::waitpid(pid, &status, 0);
        return std::make_pair(status, slurp(dir / "loop"));
    };
    auto [status, log] = loop(SIGHUP);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    EXPECT_NE(log.find("restarts; watchdog stopped\n"), std::string::npos) << log;
    EXPECT_NE(run("wdctl").out.find("Running:       no (the keepalive stopped it at"), std::string::npos);

    std::tie(status, log) = loop(SIGKILL);
    Outcome r = run("wdctl ';' metrics");
    EXPECT_NE(r.out.find(" unless restarted (the keepalive, pid "), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("zorvik_watchdog_running 1\n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("zorvik_watchdog_runs_out_timestamp_seconds "), std::string::npos) << r.out;
    // What the one-off commands leave, as wdctl and metrics then tell it.
    const struct {
        const char* args;
        const char* running;
        const char* series;
    } rows[] = {
        {"wdctl stop", "Running:       no (wdctl stop at ", "zorvik_watchdog_running 0\n"},
        {"wdctl -s 30 ';' wdctl start", "Running:       yes, until ", "zorvik_watchdog_timeout_seconds 30\n"},
        // (each run loads the board anew: its count is 0 until one is set)
        {"wdctl -s 30 ';' wdctl keepalive", "unless restarted (wdctl keepalive at ",
         "zorvik_watchdog_running 1\n"},
        {"wdctl forget", "Running:       unknown", "zorvik_up 1\n"},
    };
    for (const auto& row : rows) {
        r = run(std::string(row.args) + " ';' wdctl ';' metrics");
        EXPECT_EQ(r.rc, 0) << row.args << ": " << r.err;
        EXPECT_NE(r.out.find(row.running), std::string::npos) << row.args << ": " << r.out;
        EXPECT_NE(r.out.find(row.series), std::string::npos) << row.args << ": " << r.out;
    }
    EXPECT_EQ(r.out.find("zorvik_watchdog_keepalive_up"), std::string::npos) << "forgotten: " << r.out;
    EXPECT_FALSE(fs::exists(dir / "keepalive.state")) << "the last record gone, and its file";
    // A board file whose path holds a tab has its state like any other.
    const fs::path tab = dir / "a\tb";
    fs::create_directory(tab);
    for (const char* f : {"default.json", "default.reg"})
        fs::copy_file(std::string(ZRV_SOURCE_DIR) + "/boards/" + f, tab / f);
    r = run("--sim '" + (tab / "default.json").string() +
            "' wdctl keepalive --every 1s --count 1 --leave-running ';' wdctl");
    EXPECT_NE(r.out.find("(the keepalive ended at "), std::string::npos) << r.out << r.err;
}

// Root's textfile in a folder another account could write to: the
// temporary file is a new one of its own, never one planted there (a link
// under the name the writer used to take, its process id's), and a folder
// others may write in is refused.
TEST_F(Zrvctl, TextfilesAreNeverWrittenThroughALink) {
    const std::string secret = write("secret", "root's own\n");
    for (const std::string command :
         {"metrics --textfile ", "wdctl keepalive --every 1s --count 1 --metrics "}) {
        const fs::path folder = dir / "tf";
        fs::create_directory(folder);
        const std::string cmd = "ln -s " + secret + " " + (folder / ".zorvik.prom.$$.tmp").string() +
                                " && exec " + ZRV_ZRVCTL + " --instant " + command + folder.string() +
                                " >/dev/null 2>&1";
        EXPECT_EQ(WEXITSTATUS(std::system(cmd.c_str())), 0) << command;
        EXPECT_EQ(slurp(secret), "root's own\n") << command;
        EXPECT_NE(slurp(folder / "zorvik.prom").find("zorvik_up 1\n"), std::string::npos) << command;
        fs::permissions(folder, fs::perms::all);
        const Outcome r = run(command + folder.string());
        EXPECT_EQ(r.rc, 1) << command;
        EXPECT_NE(r.err.find("other users may write in it (mode 0777)"), std::string::npos)
            << command << r.err;
        fs::remove_all(folder);
    }
}

// Bytes that are not UTF-8 (Latin-1 names, a stray byte typed) in an answer
// or an error: with --json every line is still JSON, the bytes replaced.
TEST_F(Zrvctl, JsonLinesStayJsonWhateverBytesTheyCarry) {
    write("l.reg",
          "Windows Registry Editor Version 5.00\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Varnel\\Zorvik\\WDT]\n"
          "\"Str\xe4t\"=dword:00000001\n");
    const struct {
        std::string args;
        int rc;
    } rows[] = {{"gpioget '\xff'", 2},
                {"--sim '" + (dir / "\xe9.json").string() + "' status", 2},
                {"--profile '\xe9' status", 2},
                {"wdctl -s '\xff'", 2},
                {"ioctl 0x88202010 '\xff'", 2},
                {"--sim " + write("l.json", R"({"registry": "l.reg", "hardware": []})") + " config", 1},
                {"metrics --textfile '" + (dir / "\xe9").string() + "'", 2}};
    for (const auto& row : rows) {
        const Outcome r = run("--json " + row.args);
        EXPECT_EQ(r.rc, row.rc) << row.args << ": " << r.err;
        EXPECT_NE((r.out + r.err).find("\xEF\xBF\xBD"), std::string::npos)
            << row.args << ": U+FFFD in its place";
        std::istringstream lines(r.out + r.err);
        for (std::string line; std::getline(lines, line);)
            EXPECT_TRUE(nlohmann::json::accept(line)) << row.args << ": " << line;
    }
}

// A keepalive time no clock can have read (before 1970, after 9999) is
// unknown to wdctl and never published as a time stamp.
TEST_F(Zrvctl, KeepaliveTimesOutsideTheYears1970To9999ReadAsUnknown) {
    const std::pair<std::string, std::string> rows[] = {// the time, and as wdctl shows it
                                                        {"9223372036854775807", "unknown"},
                                                        {"6919084838400", "unknown"},
                                                        {"253402300800", "unknown"},
                                                        {"253402300799", "9999-12-31T23:59:59Z"},
                                                        {"1", "1970-01-01T00:00:01Z"}};
    for (const auto& [at, shown] : rows) {
        write("keepalive.state", state("running 1\nlast_keepalive " + at + "\nwritten 1\n"));
        const Outcome r = run("wdctl ';' metrics");
        EXPECT_NE(r.out.find("last keepalive " + shown), std::string::npos) << at << ": " << r.out;
        EXPECT_EQ(r.out.find("_last_keepalive_timestamp_seconds " + at + "\n") != std::string::npos,
                  shown != "unknown")
            << at << ": " << r.out;
        EXPECT_NE(r.out.find("zorvik_watchdog_running 1\n"), std::string::npos) << r.out << r.err;
    }
    // A last keepalive later than now (a clock set back): no time left to count.
    write("keepalive.state",
          state("running 1\ntimeout_seconds 30\nlast_keepalive 253402300799\nwritten 1\n"));
    EXPECT_NE(run("wdctl").out.find("Timeleft:      unknown (the last keepalive, 9999-12-31T23:59:59Z, is "
                                    "later than this clock's "),
              std::string::npos);
    // A broken escape in a quoted device is another device, never a crash.
    write("keepalive.state", "device \"sim:/\\x\\xz\\\"\nwritten 1\n");
    EXPECT_NE(run("wdctl").out.find("Running:       unknown"), std::string::npos);
}

// A keepalive state that someone else could have put there (a FIFO, a
// link, another user's file, a folder others may write in) is refused with
// the reason, at once: never waited on, never shown, never published. The
// first row, the caller's own, is believed.
TEST_F(Zrvctl, OnlyTheCallersOwnKeepaliveStateIsBelieved) {
    using F = const fs::path&;
    const auto nobodys = [](F p) { return ::chown(p.c_str(), 65534, 65534) == 0; };  // root only
    const auto moved = [](F p, F to) { return fs::rename(p, to), to; };
    const std::pair<const char*, std::function<bool(F)>> rows[] = {
        {nullptr, [](F) { return true; }},
        {"k: not a regular file: refused",
         [](F f) { return fs::remove(f / "k") && !::mkfifo((f / "k").c_str(), 0600); }},
        {"k: a symbolic link",
         [&](F f) { return fs::create_symlink(moved(f / "k", f / "r"), f / "k"), true; }},
        {"k: belongs to user 65534", [&](F f) { return nobodys(f / "k"); }},
        {": belongs to user 65534", [&](F f) { return nobodys(f); }},
        {": other users may write in it (mode 0777)",
         [](F f) { return fs::permissions(f, fs::perms::all), true; }},
        {": not a folder (a link or a file)",
         [&](F f) { return fs::create_directory_symlink(moved(f, fs::path(f) += "r"), f), true; }}};
    int n = 0;
    for (const auto& [why, plant] : rows) {
        const fs::path folder = (dir / "f") += std::to_string(n++);
        fs::create_directory(folder);
        fs::permissions(folder, fs::perms::owner_all);
        std::ofstream(folder / "k") << state("running 1\nlast_keepalive 1765170000\nwritten 1765170000\n");
        if (!plant(folder)) continue;  // another user's file needs root
        ::setenv("ZRV_KEEPALIVE_STATE", (folder / "k").c_str(), 1);
        const Outcome r = run("wdctl ';' metrics", 20);  // a FIFO waited on: exit 137
        EXPECT_EQ(r.out.find("zorvik_watchdog_running 1\n") != std::string::npos, why == nullptr) << r.out;
        if (why == nullptr) continue;
        EXPECT_NE(r.err.find(why), std::string::npos) << why << ": " << r.err;
        EXPECT_NE(r.out.find("Running:       unknown"), std::string::npos) << why << r.rc << ": " << r.out;
        if (why[0] != ':') continue;  // nor is a state written into such a folder, said once a loop:
        const std::string err = run("wdctl keepalive --every 1s --count 1").err;
        EXPECT_NE(err.find("written: " + folder.string() + why), std::string::npos) << why;
        EXPECT_EQ(count(err, "could not be written"), 1u) << err;
    }
}

TEST_F(Zrvctl, LinesByNameNumberAndPolarity) {
    // port-plain's profile names the lines DI0..DI7 and DO0..DO7.
    Outcome r = run(
        "--sim " + kPortPlain +
        " pinset DI5=1 ';' gpioget DI5 0 ';' gpioget -l DI5 ';' gpioset DO2=1 7=1 ';' pinget DO2 DO7"
        " ';' gpioset -l DO2=1 ';' pinget DO2 ';' gpioset DO3=active DO4=On 7=inactive ';' pinget DO3 DO4 DO7"
        " ';' gpioinfo");
    EXPECT_EQ(r.rc, 0) << r.err;
    EXPECT_EQ(r.out.substr(0, r.out.find("inputs: 8 lines")),
              "DI5=1\nDI5=1 0=0\nDI5=0\nDO2=1 7=1 (read back)\nDO2=1 DO7=1\nDO2=1 (read back)\nDO2=0\n"
              "DO3=1 DO4=1 7=0 (read back)\nDO3=1 DO4=1 DO7=0\n");
    EXPECT_NE(r.out.find("\tline  5: \"DI5\"            input\n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("\tline  7: \"DO7\"            output\n"), std::string::npos) << r.out;

    const struct {
        const char* command;
        int rc;
        const char* err;
    } refused[] = {
        {"gpioget 8", 1, "input line 8 is beyond the board's 8 input lines"},
        {"gpioset DO8=1", 2, "no output line 'DO8'"},
        {"gpioset 15=1", 1, "output line 15 is beyond the board's 8 output lines"},
        {"gpioget DO1", 2, "'DO1' is an output line, not an input line"},
        {"gpioset DI0=1", 2, "'DI0' is an input line, not an output line"},
        {"gpioset 16=1", 1, "output line 16 is beyond the board's 8 output lines"},
        {"gpioset 100=1", 2, "no output line '100'"},
        {"gpioset 1=2", 2, "level: '2' is not 0, 1, active, inactive, on, off, true or false"},
    };
    for (const auto& c : refused) {
        const std::string t = (dir / "t").string();
        r = run("--sim " + kPortPlain + " --trace " + t + " " + c.command);
        EXPECT_EQ(r.rc, c.rc) << c.command;
        EXPECT_NE(r.err.find(c.err), std::string::npos) << c.command << ": " << r.err;
        EXPECT_EQ(slurp(t).find("out "), std::string::npos) << c.command << ": no line was written";
    }
}

TEST_F(Zrvctl, ConfigShowsTheSelectionAndEveryProblem) {
    Outcome r = run("config");
    EXPECT_EQ(r.rc, 0) << r.err;
    EXPECT_NE(r.out.find("digital I/O:      F81865 (chip code 6), group layout: inputs group 1, outputs "
                         "group 8 (group 8 on chip ID 0x1010 only)\n"
                         "no problems found\n"),
              std::string::npos)
        << r.out;

    write("c.reg",
          "Windows Registry Editor Version 5.00\n"
          "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Varnel\\Zorvik\\HWMON]\n\"SuperIO\"=dword:00000010\n"
          "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Varnel\\Zorvik\\WDT]\n\"DeviceType\"=\"1\"\n\"Strat\"=dword:"
          "00008443\n"
          "\"Stop\"=dword:00008000\n"
          "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Varnel\\Zorvik\\DIO]\n\"DeviceType\"=dword:00000000\n"
          "\"InBits\"=dword:00000011\n\"IOBaseOut\"=dword:00000301\n\"OutMsk\"=dword:000000ff\n"
          "\"OutBits\"=dword:00000004\n\"CDOutMask\"=dword:00000003\n");
    const std::string c = write("c.json", R"({"registry": "c.reg", "hardware": []})");
    r = run("--sim " + c + " config");
    EXPECT_EQ(r.rc, 1);
    for (const char* problem : {
             "problem: WDT \"DeviceType\" is REG_SZ, not REG_DWORD: the driver reads it as 0\n",
             "problem: WDT \"Strat\" is not a value the driver reads (did you mean \"Start\"?)\n",
             "problem: WDT \"Stop\" 0x8000 writes to port 0\n",
             "problem: WDT \"Start\" is absent or names no port: the watchdog cannot be started (start is "
             "refused, and so is a keepalive without a \"Reset\" action of its own)\n",
             "problem: DIO \"OutMsk\" is not a value the driver reads (did you mean \"OutMask\"?)\n",
             "problem: DIO \"InBits\" 17 is above 16: a line word has 16 lines\n",
             "problem: DIO \"IOBaseIn\" is port 0 but \"InBits\" is 17\n",
             "problem: DIO \"CDPort\" is port 0 but \"CDOutMask\" names lines\n",
         })
        EXPECT_NE(r.out.find(problem), std::string::npos) << problem << r.out;
    EXPECT_EQ(count(r.out, "problem: "), 8u) << r.out;
    EXPECT_NE(r.out.find("watchdog:         port watchdog: start nothing, stop write 0x0"), std::string::npos)
        << r.out;

    write("g.reg",
          "Windows Registry Editor Version 5.00\n"
          "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Varnel\\Zorvik\\HWMON]\n\"SuperIO\"=dword:00000006\n"
          "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Varnel\\Zorvik\\WDT]\n\"DeviceType\"=dword:00000001\n"
          "\"SuperIO\"=dword:00000006\n"
          "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Varnel\\Zorvik\\DIO]\n\"DeviceType\"=dword:00000003\n"
          "\"SuperIO\"=dword:00000006\n\"InBits\"=dword:00000002\n\"InAddr0\"=dword:00000009\n"
          "\"InMask0\"=dword:00000001\n\"InAddr1\"=dword:00000001\n\"OutBits\"=dword:00000000\n");
    r = run("--sim " + write("g.json", R"({"registry": "g.reg", "hardware": []})") + " --json config");
    EXPECT_EQ(r.rc, 1);
    const nlohmann::json j = nlohmann::json::parse(r.out);
    EXPECT_EQ(j["problems"],
              nlohmann::json({"DIO \"InAddr0\" is group 9: the F81865 has groups 0 to 8",
                              "DIO \"InAddr1\" or \"InMask1\" is absent: the map stops there"}))
        << r.out;
}

// Without --instant a loop waits on the wall clock and the board's time
// follows it; a textfile that cannot be written is said once, a folder
// that is not there refused before anything runs.
TEST_F(Zrvctl, LoopsRunInRealTime) {
    const auto started = std::chrono::steady_clock::now();
    Outcome r = run("sensors --watch 1 --count 3", 30, true);
    EXPECT_GE(std::chrono::steady_clock::now() - started, std::chrono::seconds(2));
    EXPECT_NE(r.out.find("\n\n--- time 2.0"), std::string::npos) << r.out;
    // A wait too long to count in microseconds still waits: one round, until
    // the interruption.
    for (const char* every : {"9223372036854775808ms", "18446744073709551615ms"}) {
        r = run(std::string("sensors --watch ") + every + " --count 2", 2, true);
        EXPECT_EQ(count(r.out, "--- time"), 1u) << every << "\n" << r.out;
    }
    fs::create_directories(dir / "tf" / "zorvik.prom");  // a folder where the file goes
    r = run("metrics --textfile " + (dir / "tf").string() + " --watch 1s --count 5");
    EXPECT_EQ(r.rc, 1);
    EXPECT_EQ(count(r.err, "zorvik.prom"), 1u) << r.err;
    r = run("metrics --textfile " + (dir / "none").string() + " --watch 1s ';' gpioset 0=1");
    EXPECT_EQ(r.rc, 2);
    EXPECT_NE(r.err.find("Directory does not exist"), std::string::npos) << r.err;
    EXPECT_EQ(r.out, "");
}

TEST_F(Zrvctl, WatchRepeatsWithATimeStamp) {
    Outcome r = run("sensors --watch 5 --count 3");
    EXPECT_EQ(r.rc, 0) << r.err;
    EXPECT_EQ(count(r.out, "f81865-isa-0a00\n"), 3u);
    EXPECT_EQ(r.out.find("--- time 0.000 s\nf81865"), 0u) << r.out;
    EXPECT_NE(r.out.find("\n\n--- time 10.000 s\nf81865"), std::string::npos) << r.out;
    r = run("advance 10s ';' gpioget --watch 500ms --count 2 --json");
    EXPECT_NE(r.out.find("{\"inputs\":237,\"time\":10.0}\n{\"inputs\":237,\"time\":10.5}\n"),
              std::string::npos)
        << r.out;
    // sensors rounds: the time beside the chips, the channels in the profile's order.
    r = run("sensors --watch 5 --count 2 --json");
    EXPECT_EQ(
        r.out.find("{\"time\":0.0,\"chips\":{\"f81865-isa-0a00\":{\"Adapter\":\"ISA adapter\",\"CPU fan\":"),
        0u)
        << r.out;
    EXPECT_LT(r.out.find("\"Vcore\""), r.out.find("\"+3.3V\"")) << r.out;
}

}  // namespace
