#include "client/keepalive_state.h"

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <sstream>
#ifdef _WIN32
#include <windows.h>
// windows.h first: shlobj.h needs its types.
#include <shlobj.h>
#else
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace zrvctl {

namespace {

// A state file is a few lines; anything longer is not one.
constexpr std::streamsize kMaxStateBytes = 4096;

std::string environment(const char* name) {
    const char* v = std::getenv(name);
    return v != nullptr ? v : "";
}

// The folder the file goes in, made when missing (one level: the parent of
// the folder is the system's, or the caller's when the variable moved it).
void makeParent(const std::string& path) {
    const size_t slash = path.find_last_of("/\\");
    if (slash == std::string::npos || slash == 0) return;
    const std::string parent = path.substr(0, slash);
#ifdef _WIN32
    CreateDirectoryA(parent.c_str(), nullptr);
#else
    ::mkdir(parent.c_str(), 0755);
#endif
}

// Puts `from` in the place of `to`, replacing it.
bool replaceFile(const std::string& from, const std::string& to) {
#ifdef _WIN32
    return MoveFileExA(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING) != 0;
#else
    return std::rename(from.c_str(), to.c_str()) == 0;
#endif
}

}  // namespace

std::string keepaliveStatePath() {
    if (std::string p = environment(kKeepaliveStateVariable); !p.empty()) return p;
#ifdef _WIN32
    // The machine's common application data folder as the shell names it:
    // "All Users\Application Data" on XP, ProgramData on later systems,
    // where the old name is a junction that refuses new files.
    char folder[MAX_PATH] = {};
    std::string base;
    if (SUCCEEDED(SHGetFolderPathA(nullptr, CSIDL_COMMON_APPDATA, nullptr, 0, folder))) base = folder;
    if (base.empty()) {
        base = environment("ALLUSERSPROFILE");
        if (base.empty()) base = "C:\\Documents and Settings\\All Users";
        base += "\\Application Data";
    }
    return base + "\\Zorvik\\keepalive.state";
#else
    if (std::string run = environment("XDG_RUNTIME_DIR"); !run.empty())
        return run + "/zorvik-keepalive.state";
    return "/tmp/zorvik-keepalive-" + std::to_string(::getuid()) + ".state";
#endif
}

bool writeKeepaliveState(KeepaliveState s, const std::string& path) {
    s.written = static_cast<int64_t>(std::time(nullptr));
    makeParent(path);
    const std::string temporary = path + ".new";
    {
        std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
        out << "timeout_seconds " << s.timeoutSeconds << "\n"
            << "running " << (s.running ? 1 : 0) << "\n"
            << "last_keepalive " << s.lastKeepalive << "\n"
            << "period_seconds " << s.periodSeconds << "\n"
            << "written " << s.written << "\n";
        out.flush();
        if (!out) {
            out.close();
            std::remove(temporary.c_str());
            return false;
        }
    }
    if (replaceFile(temporary, path)) return true;
    std::remove(temporary.c_str());
    return false;
}

std::optional<KeepaliveState> readKeepaliveState(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return std::nullopt;
    std::string text(static_cast<size_t>(kMaxStateBytes) + 1, '\0');
    in.read(text.data(), kMaxStateBytes + 1);
    if (in.gcount() > kMaxStateBytes) return std::nullopt;
    text.resize(static_cast<size_t>(in.gcount()));
    KeepaliveState s;
    bool sawWritten = false;
    std::istringstream lines(text);
    for (std::string line; std::getline(lines, line);) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        std::istringstream fields(line);
        std::string key;
        long long value = 0;
        if (!(fields >> key >> value) || value < 0) continue;
        if (key == "timeout_seconds" && value <= 0xFFFFFFFFLL)
            s.timeoutSeconds = static_cast<uint32_t>(value);
        else if (key == "running")
            s.running = value != 0;
        else if (key == "last_keepalive")
            s.lastKeepalive = value;
        else if (key == "period_seconds" && value <= 0xFFFFFFFFLL)
            s.periodSeconds = static_cast<uint32_t>(value);
        else if (key == "written")
            s.written = value, sawWritten = true;
    }
    if (!sawWritten) return std::nullopt;
    return s;
}

}  // namespace zrvctl
