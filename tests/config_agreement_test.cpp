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
#include <nlohmann/json.hpp>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "support/board_files.h"
#include "support/random_board.h"
#include "zorvik/reasons.h"

namespace {

namespace fs = std::filesystem;

// The reasons the load gives for what only the hardware can say: config
// cannot know them.
const std::set<unsigned> kHardwareReasons = {
    ZRV_REASON_NOT_FOUND,          ZRV_REASON_DEVICE_INACTIVE,   ZRV_REASON_REFUSED_BASE,
    ZRV_REASON_MONITOR_NOT_SET_UP, ZRV_REASON_GROUP_NOT_ENABLED, ZRV_REASON_GROUP_NO_DATA,
};

TEST(ConfigAgreement, ConfigAndTheLoadAgreeOnRandomRegistries) {
    const std::vector<fs::path> boards = zrvtest::boardFilesIn(fs::path(ZRV_SOURCE_DIR) / "boards");
    const fs::path dir = fs::temp_directory_path() / ("config-agreement-" + std::to_string(::getpid()));
    fs::create_directories(dir);
    const char* functions[] = {"hardware monitor", "watchdog", "digital I/O"};
    // Each registry is a run of zrvctl, about a tenth of a second under
    // AddressSanitizer: those builds try a quarter of them.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    constexpr int kRegistries = 100;
#else
    constexpr int kRegistries = 400;
#endif
    int compared = 0, disagreed = 0;
    for (const zrvtest::RandomBoard& random : zrvtest::randomBoards(boards, 2026, kRegistries)) {
        if (disagreed >= 5) break;
        const std::string& reg = random.registry;
        zrvtest::writeRandomBoard(random, dir, "r");
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
        const std::string context =
            random.example.filename().string() + " with\n" + reg + "\n" + out + err.str();
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
