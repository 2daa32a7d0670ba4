// zrvctl config against the driver's load, on random registries over the
// example boards' hardware: values drawn from every example board's
// registry, chip codes and counts changed, values retyped, keys dropped.
// What config calls unbindable never binds, what it calls bound binds or
// fails for a reason only the hardware gives, and no run sees a protocol
// violation that a real chip would not see.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <nlohmann/json.hpp>
#include <random>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "support/board_files.h"
#include "zorvik/reasons.h"
#include "zorvik/registry.h"

namespace {

namespace fs = std::filesystem;

struct Value {
    std::string name, data;  // data as the .reg file writes it
};
using Pool = std::map<std::string, std::vector<Value>>;  // by key

// Every value line of every example board's registry, by key.
Pool examplePool(const std::vector<fs::path>& boards) {
    Pool pool;
    const std::regex keyLine(R"re(^\[.*\\Zorvik\\(\w+)\]$)re");
    const std::regex valueLine(R"re(^"(\w+)"=(.+)$)re");
    for (const fs::path& b : boards) {
        fs::path reg = b;
        reg.replace_extension(".reg");
        std::ifstream in(reg);
        std::string line, key;
        std::smatch m;
        while (std::getline(in, line)) {
            if (!line.empty() && line.back() == '\r') line.pop_back();
            if (std::regex_match(line, m, keyLine)) key = m[1];
            if (!key.empty() && std::regex_match(line, m, valueLine)) pool[key].push_back({m[1], m[2]});
        }
    }
    return pool;
}

// The values that name a port of a port back-end.
const std::set<std::string> kPortValues = {ZRV_REG_START,
                                           ZRV_REG_STOP,
                                           ZRV_REG_RESET,
                                           ZRV_REG_TIMEOUT,
                                           ZRV_REG_IO_BASE_IN,
                                           ZRV_REG_IO_BASE_OUT,
                                           ZRV_REG_IO_BASE_IN2,
                                           ZRV_REG_IO_BASE_OUT2,
                                           ZRV_REG_CD_PORT,
                                           ZRV_REG_CD_OUT_PORT,
                                           ZRV_REG_SPECIFIC_MASK_IO,
                                           ZRV_REG_SPECIFIC_DATA_IO};

// One random registry: per key, a random draw of the pool's values (one
// per name), with chip codes, layouts, groups, counts and ports sometimes
// replaced and a value sometimes retyped.
std::string randomRegistry(const Pool& pool, std::mt19937& rng) {
    const auto chance = [&](unsigned percent) { return rng() % 100 < percent; };
    const unsigned codes[] = {0, 1, 2, 3, 4, 5, 6, 16};
    std::string reg = "Windows Registry Editor Version 5.00\n";
    for (const char* key : {"HWMON", "WDT", "DIO"}) {
        if (chance(5)) continue;
        reg += std::string("\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Varnel\\Zorvik\\") + key + "]\n";
        std::map<std::string, std::string> chosen;
        for (const Value& v : pool.at(key))
            if (chance(45)) chosen[v.name] = v.data;
        for (const char* name : {"SuperIO", "DeviceType"})
            if (chance(80) && !(key == std::string("HWMON") && name == std::string("DeviceType")))
                chosen[name] = "dword:0";
        for (auto& [name, data] : chosen) {
            char dword[32];
            if (name == "SuperIO") {
                std::snprintf(dword, sizeof dword, "dword:%08x", codes[rng() % std::size(codes)]);
                data = dword;
            } else if (name == "DeviceType") {
                std::snprintf(dword, sizeof dword, "dword:%08x", static_cast<unsigned>(rng() % 6));
                data = dword;
            } else if (chance(20) &&
                       (name.find("Group") != std::string::npos || name.find("Bits") != std::string::npos ||
                        name.find("Addr") != std::string::npos)) {
                std::snprintf(dword, sizeof dword, "dword:%08x", static_cast<unsigned>(rng() % 20));
                data = dword;
            } else if (chance(10) && kPortValues.count(name) != 0) {
                // One of the PC's own ports, which the port back-ends refuse.
                const unsigned pc[] = {0x20, 0x61, 0x8070, 0x10080, 0xCF8, 0x8CFC};
                std::snprintf(dword, sizeof dword, "dword:%08x", pc[rng() % std::size(pc)]);
                data = dword;
            }
            if (chance(3)) data = "\"7\"";  // REG_SZ: read as 0
            reg += "\"" + name + "\"=" + data + "\n";
        }
    }
    return reg;
}

// The reasons the load gives for what only the hardware can say: config
// cannot know them.
const std::set<unsigned> kHardwareReasons = {
    ZRV_REASON_NOT_FOUND,          ZRV_REASON_DEVICE_INACTIVE,   ZRV_REASON_REFUSED_BASE,
    ZRV_REASON_MONITOR_NOT_SET_UP, ZRV_REASON_GROUP_NOT_ENABLED, ZRV_REASON_GROUP_NO_DATA,
};

TEST(ConfigAgreement, ConfigAndTheLoadAgreeOnRandomRegistries) {
    const std::vector<fs::path> boards = zrvtest::boardFilesIn(fs::path(ZRV_SOURCE_DIR) / "boards");
    const Pool pool = examplePool(boards);
    const fs::path dir = fs::temp_directory_path() / ("config-agreement-" + std::to_string(::getpid()));
    fs::create_directories(dir);
    std::mt19937 rng(2026);
    const char* functions[] = {"hardware monitor", "watchdog", "digital I/O"};
    // Each registry is a run of zrvctl: under a sanitizer one takes about
    // two seconds, so those builds try fewer (the plain build tries them all).
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    constexpr int kRegistries = 15;
#else
    constexpr int kRegistries = 400;
#endif
    int compared = 0, disagreed = 0;
    for (int i = 0; i < kRegistries && disagreed < 5; ++i) {
        const fs::path& example = boards[i % boards.size()];
        nlohmann::json board = nlohmann::json::parse(std::ifstream(example));
        if (board["hardware"].empty()) continue;
        const std::string reg = randomRegistry(pool, rng);
        std::ofstream(dir / "r.reg") << reg;
        board["registry"] = "r.reg";
        std::ofstream(dir / "r.json") << board.dump();

        const std::string cmd = std::string(ZRV_ZRVCTL) + " --json --sim " + (dir / "r.json").string() +
                                " config ';' status 2>" + (dir / "err").string();
        FILE* p = ::popen(cmd.c_str(), "r");
        ASSERT_NE(p, nullptr);
        std::string out;
        char buf[4096];
        while (std::fgets(buf, sizeof buf, p) != nullptr) out += buf;
        const int rc = WEXITSTATUS(::pclose(p));
        std::stringstream err;
        err << std::ifstream(dir / "err").rdbuf();
        const std::string context = example.filename().string() + " with\n" + reg + "\n" + out + err.str();
        SCOPED_TRACE(context);
        EXPECT_NE(rc, 3) << "a protocol violation";
        std::istringstream lines(out);
        std::string configLine, statusLine;
        std::getline(lines, configLine);
        std::getline(lines, statusLine);
        const nlohmann::json config = nlohmann::json::parse(configLine, nullptr, false);
        const nlohmann::json status = nlohmann::json::parse(statusLine, nullptr, false);
        if (!config.contains("binds") || !status.contains("watchdog")) {
            ADD_FAILURE() << "no config or status answer";
            ++disagreed;
            continue;
        }
        ++compared;
        for (const char* f : functions) {
            const bool predicted = config["binds"][f]["bound"].get<bool>();
            const nlohmann::json& s = status[f];
            const bool bound = s["bound"].get<bool>();
            const unsigned reason = s.value("reason_code", 0u);
            bool ok = true;
            if (bound) {
                ok = predicted;
            } else if (predicted) {
                // Bound as far as the registry says: the hardware refused it,
                // or the chip is not the one ID the configuration needs.
                ok = kHardwareReasons.count(reason) != 0 ||
                     (config["binds"][f].contains("only_id") && reason == ZRV_REASON_GROUP_OUT_OF_RANGE);
            } else {
                // Unbindable by the registry: the load says why, from the
                // registry or from the probe that came first.
                ok = reason != ZRV_REASON_BOUND;
            }
            if (s.value("configured", false))
                ok = ok && s.contains("reason") && s["reason"].get<std::string>().rfind("unknown", 0) != 0;
            if (!ok) ++disagreed;
            EXPECT_TRUE(ok) << f << ": config says " << (predicted ? "bound" : "not bound") << ", the load "
                            << (bound ? "bound it" : "did not, reason " + std::to_string(reason));
        }
    }
    EXPECT_GT(compared, kRegistries / 2);
    fs::remove_all(dir);
}

}  // namespace
