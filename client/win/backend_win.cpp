// The Windows back-end: the requests go to "\\.\ZRVDev", the control device
// of the zorvik.sys running on this machine. On a real machine there is no
// board to command, and loops follow the wall clock. Only the Wine testbed's
// build of the client (zrvctl-testbed.exe, ZRV_TESTBED) links the board
// link: --board-port points the board commands at the emulated board.
#include <fmt/format.h>
#include <windows.h>

#include <CLI/CLI.hpp>
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <string_view>

#include "client/backend.h"
#include "client/win/console_text.h"
#ifdef ZRV_TESTBED
#include "client/win/board_remote.h"
#endif

namespace zrvctl {

namespace {

// Wall-clock time, in steps short enough to notice an interrupt soon.
class RealClock : public WallClock {
public:
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
    void pause(uint64_t ms) override { Sleep(static_cast<DWORD>(ms)); }
};

// HKLM\Software\Varnel\Zorvik, as the driver reads it: the native
// registry's, also from a 32-bit zrvctl.exe on 64-bit Windows, which would
// otherwise see the 32-bit view of Software (KEY_WOW64_64KEY; 32-bit Windows
// ignores it).
class WinConfig : public ConfigSource {
public:
    std::string where() override { return std::string("HKEY_LOCAL_MACHINE\\") + kKeyPath; }
    std::optional<std::vector<RegistryEntry>> values(const std::string& subkey) override {
        HKEY key;
        const std::string path = std::string(kKeyPath) + subkey;
        if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_READ | KEY_WOW64_64KEY, &key) !=
            ERROR_SUCCESS)
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

// The board's profile: zorvik.profile.json beside this zrvctl.exe, else the
// one install.cmd put in the system folder, so that every copy of the
// client on the machine reads the board alike.
std::string defaultProfile() {
    const std::string beside = besideExecutable("zorvik.profile.json");
    if (GetFileAttributesA(beside.c_str()) != INVALID_FILE_ATTRIBUTES) return beside;
    char dir[MAX_PATH];
    const UINT n = GetSystemDirectoryA(dir, sizeof dir);
    return n > 0 && n < sizeof dir ? std::string(dir, n) + "\\zorvik.profile.json" : beside;
}

// The file the service "zorvik" loads: its ImagePath, as the service
// manager stores it ("\SystemRoot\...", "System32\..." relative to the
// Windows folder, or "\??\C:\..."); empty when there is no such service.
std::string driverFile() {
    HKEY key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, "System\\CurrentControlSet\\Services\\zorvik", 0, KEY_READ, &key) !=
        ERROR_SUCCESS)
        return {};
    char value[MAX_PATH];
    DWORD type = 0, length = sizeof value - 1;
    const LONG read =
        RegQueryValueExA(key, "ImagePath", nullptr, &type, reinterpret_cast<BYTE*>(value), &length);
    RegCloseKey(key);
    if (read != ERROR_SUCCESS || (type != REG_SZ && type != REG_EXPAND_SZ)) return {};
    value[length] = '\0';
    char expanded[MAX_PATH];
    const DWORD n = ExpandEnvironmentStringsA(value, expanded, sizeof expanded);
    std::string path = n > 0 && n <= sizeof expanded ? std::string(expanded) : std::string(value);
    char windows[MAX_PATH];
    const UINT w = GetWindowsDirectoryA(windows, sizeof windows);
    const std::string root = w > 0 && w < sizeof windows ? std::string(windows, w) : std::string();
    auto startsWith = [&path](const char* prefix) {
        return _strnicmp(path.c_str(), prefix, strlen(prefix)) == 0;
    };
    if (startsWith("\\??\\")) return path.substr(4);
    if (startsWith("\\SystemRoot\\")) return root + path.substr(11);
    if (path.size() > 1 && path[1] != ':' && path[0] != '\\') return root + "\\" + path;
    return path;
}

// The file version in a file's version resource, "1.2.3" (the fourth part
// when it is not 0); empty when the file has none.
std::string fileVersion(const std::string& file) {
    DWORD ignored = 0;
    const DWORD size = GetFileVersionInfoSizeA(file.c_str(), &ignored);
    if (size == 0) return {};
    std::vector<char> data(size);
    VS_FIXEDFILEINFO* info = nullptr;
    UINT infoLength = 0;
    if (!GetFileVersionInfoA(file.c_str(), 0, size, data.data()) ||
        !VerQueryValueA(data.data(), "\\", reinterpret_cast<void**>(&info), &infoLength) || info == nullptr ||
        infoLength < sizeof *info || info->dwSignature != VS_FFI_SIGNATURE)
        return {};
    std::string v = fmt::format("{}.{}.{}", HIWORD(info->dwFileVersionMS), LOWORD(info->dwFileVersionMS),
                                HIWORD(info->dwFileVersionLS));
    if (LOWORD(info->dwFileVersionLS) != 0) v += fmt::format(".{}", LOWORD(info->dwFileVersionLS));
    return v;
}

// The file version of the driver's file. A 32-bit zrvctl.exe on 64-bit
// Windows sees SysWOW64 under the name system32, where the x64 driver is
// not: it reads the file with that redirection off (kernel32 has the two
// routines from XP x64 on; 32-bit XP, which needs none, lacks them).
std::string driverFileVersion(const std::string& file) {
    using Disable = BOOL(WINAPI*)(PVOID*);
    using Revert = BOOL(WINAPI*)(PVOID);
    const HMODULE kernel = GetModuleHandleA("kernel32.dll");
    const auto disable = reinterpret_cast<Disable>(
        reinterpret_cast<void*>(GetProcAddress(kernel, "Wow64DisableWow64FsRedirection")));
    const auto revert = reinterpret_cast<Revert>(
        reinterpret_cast<void*>(GetProcAddress(kernel, "Wow64RevertWow64FsRedirection")));
    PVOID old = nullptr;
    const bool off = disable != nullptr && revert != nullptr && disable(&old);
    const std::string version = fileVersion(file);
    if (off) revert(old);
    return version;
}

class WinBackend : public Backend {
public:
    void addOptions([[maybe_unused]] CLI::App& app, RunOptions&) override {
#ifdef ZRV_TESTBED
        app.add_option("--board-port", boardPort_,
                       "the emulated board's server on 127.0.0.1:PORT, for the board commands")
            ->check(CLI::Range(1, 65535))
            ->group("");  // the testbed's: not in the help a user reads
        app.add_flag("--instant", instant_, "the emulated board's time moves at once in loops")->group("");
#endif
    }

    std::string profileHint() const override {
        return "zorvik.profile.json beside zrvctl.exe, else in the system folder";
    }

    std::string driverVersion() const override {
        const std::string file = driverFile();
        if (file.empty()) return "driver: not installed (no service zorvik)";
        const std::string version = driverFileVersion(file);
        if (version.empty()) return fmt::format("driver: {}: no version found", file);
        return fmt::format("driver: zorvik.sys {} ({})", version, file);
    }

    int run(const std::vector<Action>& actions, const RunOptions& options) override {
        if (options.json) ConsoleText::keepUtf8();
        const Profile profile = chooseProfile(options.profile, defaultProfile());
        // The machine's control device through zorvik.dll.
        TargetDevice device("");
        WinConfig config;
        // config needs only the registry; every other command the device.
        try {
            device.open(HandleAccess::Read);
        } catch (const ClientError& e) {
            std::cerr << "zrvctl: " << e.message << "\n";
            if (options.needsDevice) return kExitNoDriver;
        }
#ifdef ZRV_TESTBED
        std::unique_ptr<RemoteBoard> board;
        if (boardPort_ != 0) board = std::make_unique<RemoteBoard>(static_cast<uint16_t>(boardPort_));
        RealClock real;
        std::unique_ptr<BoardClock> virtualTime;
        if (board) virtualTime = std::make_unique<BoardClock>(*board, instant_ ? nullptr : &real);
        Clock& clock = board ? static_cast<Clock&>(*virtualTime) : real;
#else
        std::unique_ptr<Board> board;  // none on a real machine
        RealClock clock;
#endif
        Context ctx{device, board.get(), clock, profile, &config, options.json, kExitOk, {}};
        ctx.run.device = keepaliveDevice("");  // the machine's driver
        for (auto& a : actions) {
            if (interrupted()) break;
            a(ctx);
        }
        std::fflush(stdout);
        std::cout.flush();
        return ctx.exitCode;
    }

#ifdef ZRV_TESTBED
private:
    unsigned boardPort_ = 0;
    bool instant_ = false;
#endif
};

}  // namespace

void addServiceCommand(CommandTable& table);  // service.cpp

std::unique_ptr<Backend> makeBackend() {
    // Windows lines in the console's code page, from the first word on.
    static ConsoleText out(1), err(2);
    return std::make_unique<WinBackend>();
}

void addPlatformCommands(CommandTable& table) {
#ifndef ZRV_TESTBED
    // A real machine has no emulated board: its commands are the testbed's.
    static constexpr std::string_view kBoardCommands[] = {"advance", "pinset", "pinget", "resets"};
    std::erase_if(table, [](const Command& c) {
        return std::find(std::begin(kBoardCommands), std::end(kBoardCommands), c.name) !=
               std::end(kBoardCommands);
    });
#endif
    addServiceCommand(table);
}

}  // namespace zrvctl
