// The Windows back-end: the requests go to "\\.\ZRVDev", the control device
// of the zorvik.sys running on this machine. Board commands need the
// emulated board of the Wine test bench (--board-port); on a real machine
// there is none, and loops follow the wall clock.
#include <fcntl.h>
#include <fmt/format.h>
#include <io.h>
#include <windows.h>

#include <CLI/CLI.hpp>
#include <algorithm>
#include <cstdio>
#include <iostream>

#include "client/backend.h"
#include "client/win/board_remote.h"
#include "client/win/device_win.h"

namespace zrvctl {

namespace {

// Wall-clock time, in steps short enough to notice an interrupt soon.
class RealClock : public Clock {
public:
    bool sleep(uint64_t ms) override {
        for (uint64_t slept = 0; slept < ms && !interrupted(); slept += kStepMs)
            Sleep(static_cast<DWORD>(std::min<uint64_t>(kStepMs, ms - slept)));
        return !interrupted();
    }
    double seconds() override {
        FILETIME f;
        GetSystemTimeAsFileTime(&f);
        const uint64_t ticks = (static_cast<uint64_t>(f.dwHighDateTime) << 32) | f.dwLowDateTime;
        return static_cast<double>(ticks - 116444736000000000ull) / 1e7;  // 100 ns since 1601
    }
    std::string stamp() override {
        SYSTEMTIME t;
        GetLocalTime(&t);
        return fmt::format("{:04}-{:02}-{:02} {:02}:{:02}:{:02}", t.wYear, t.wMonth, t.wDay, t.wHour,
                           t.wMinute, t.wSecond);
    }

private:
    static constexpr uint64_t kStepMs = 100;
};

// HKLM\Software\Varnel\Zorvik, as the driver reads it.
class WinConfig : public ConfigSource {
public:
    std::string where() override { return std::string("HKEY_LOCAL_MACHINE\\") + kKeyPath; }
    std::optional<std::vector<RegistryEntry>> values(const std::string& subkey) override {
        HKEY key;
        const std::string path = std::string(kKeyPath) + subkey;
        if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS)
            return std::nullopt;
        std::vector<RegistryEntry> out;
        for (DWORD i = 0;; ++i) {
            char name[256];
            DWORD nameLength = sizeof name, type = 0, dataLength = 0;
            if (RegEnumValueA(key, i, name, &nameLength, nullptr, &type, nullptr, &dataLength) !=
                ERROR_SUCCESS)
                break;
            std::vector<uint8_t> data(dataLength);
            nameLength = sizeof name;
            RegEnumValueA(key, i, name, &nameLength, nullptr, &type, data.empty() ? nullptr : data.data(),
                          &dataLength);
            data.resize(dataLength);
            out.push_back({name, type, data});
        }
        RegCloseKey(key);
        return out;
    }

private:
    static constexpr const char* kKeyPath = ZRV_REG_ROOT_USER;
};

std::string besideExecutable(const char* name) {
    char path[MAX_PATH];
    const DWORD n = GetModuleFileNameA(nullptr, path, sizeof path);
    std::string p(path, n);
    const size_t slash = p.find_last_of("\\/");
    return (slash == std::string::npos ? std::string() : p.substr(0, slash + 1)) + name;
}

class WinBackend : public Backend {
public:
    void addOptions(CLI::App& app, RunOptions&) override {
        app.add_option(
               "--board-port", boardPort_,
               "test bench only: the emulated board's server on 127.0.0.1:PORT, for the board commands")
            ->check(CLI::Range(1, 65535))
            ->group("");  // the test bench's: not in the help a user reads
    }

    std::string profileHint() const override { return "zorvik.profile.json beside zrvctl.exe"; }

    int run(const std::vector<Action>& actions, const RunOptions& options) override {
        const Profile profile = chooseProfile(options.profile, besideExecutable("zorvik.profile.json"));
        WinDevice device;
        WinConfig config;
        // config needs only the registry; every other command the device.
        try {
            device.probe();
        } catch (const ClientError& e) {
            std::cerr << "zrvctl: " << e.message << "\n";
            if (options.needsDevice) return kExitNoDriver;
        }
        std::unique_ptr<RemoteBoard> board;
        if (boardPort_ != 0) board = std::make_unique<RemoteBoard>(static_cast<uint16_t>(boardPort_));
        RealClock real;
        std::unique_ptr<BoardClock> virtualTime;
        if (board) virtualTime = std::make_unique<BoardClock>(*board);
        Clock& clock = board ? static_cast<Clock&>(*virtualTime) : real;
        Context ctx{device, board.get(), clock, profile, &config, options.json, kExitOk, {}};
        for (auto& a : actions) {
            if (interrupted()) break;
            a(ctx);
        }
        std::fflush(stdout);
        std::cout.flush();
        return ctx.exitCode;
    }

private:
    unsigned boardPort_ = 0;
};

}  // namespace

std::unique_ptr<Backend> makeBackend() {
    // Answers are lines ending in "\n" on every system, as on Linux.
    _setmode(_fileno(stdout), _O_BINARY);
    _setmode(_fileno(stderr), _O_BINARY);
    return std::make_unique<WinBackend>();
}

}  // namespace zrvctl
