#include "client/keepalive_state.h"

#include <fmt/format.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <sstream>
#include <vector>

#include "zorvik/ioctl.h"
#ifdef _WIN32
#include <windows.h>
// windows.h first: these need its types.
#include <aclapi.h>
#include <shlobj.h>
#else
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace zrvctl {

namespace {

// A state file is a few lines; anything longer is not one.
constexpr size_t kMaxStateBytes = 4096;

std::string environment(const char* name) {
    const char* v = std::getenv(name);
    return v != nullptr ? v : "";
}

std::string folderOf(const std::string& path) {
    const size_t slash = path.find_last_of("/\\");
    if (slash == std::string::npos) return ".";
    return slash == 0 ? path.substr(0, 1) : path.substr(0, slash);
}

std::string stateText(const KeepaliveState& s) {
    // A device name is one line whatever its path holds.
    std::string device = s.device;
    for (char& c : device)
        if (static_cast<unsigned char>(c) < 0x20) c = '?';
    return fmt::format(
        "device {}\ntimeout_seconds {}\nrunning {}\nlast_keepalive {}\nperiod_seconds {}\npid {}\nended "
        "{}\nwritten {}\n",
        device, s.timeoutSeconds, s.running ? 1 : 0, s.lastKeepalive, s.periodSeconds, s.pid, s.ended,
        s.written);
}

// FNV-1a, 64 bits: a short file name for a device.
[[maybe_unused]] uint64_t nameHash(const std::string& text) {
    uint64_t h = 14695981039346656037ull;
    for (unsigned char c : text) h = (h ^ c) * 1099511628211ull;
    return h;
}

std::optional<KeepaliveState> parseState(const std::string& text) {
    KeepaliveState s;
    bool sawWritten = false;
    std::istringstream lines(text);
    for (std::string line; std::getline(lines, line);) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.rfind("device ", 0) == 0) {
            s.device = line.substr(7);
            continue;
        }
        std::istringstream fields(line);
        std::string key;
        long long value = 0;
        if (!(fields >> key >> value) || value < 0) continue;
        if (key == "timeout_seconds" && value <= 0xFFFFFFFFLL)
            s.timeoutSeconds = static_cast<uint32_t>(value);
        else if (key == "running")
            s.running = value != 0;
        else if (key == "last_keepalive")
            s.lastKeepalive = knownTime(value) ? value : 0;
        else if (key == "period_seconds" && value <= 0xFFFFFFFFLL)
            s.periodSeconds = static_cast<uint32_t>(value);
        else if (key == "written")
            s.written = value, sawWritten = true;
        else if (key == "pid")
            s.pid = value;
        else if (key == "ended")
            s.ended = knownTime(value) ? value : 0;
    }
    if (!sawWritten) return std::nullopt;
    return s;
}

#ifdef _WIN32

std::string lastError() { return fmt::format("Windows error {}", GetLastError()); }

// Whether `owner` is an account whose file may be believed: this one, the
// Administrators (the default owner of what an administrator creates) or
// the system (the service's account). Anyone else could have planted it.
bool trustedOwner(PSID owner) {
    if (IsWellKnownSid(owner, WinBuiltinAdministratorsSid) || IsWellKnownSid(owner, WinLocalSystemSid))
        return true;
    HANDLE token = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return false;
    DWORD size = 0;
    GetTokenInformation(token, TokenUser, nullptr, 0, &size);
    std::vector<ULONGLONG> buffer(size / sizeof(ULONGLONG) + 1);  // aligned for the record
    bool same = false;
    if (size != 0 && GetTokenInformation(token, TokenUser, buffer.data(),
                                         static_cast<DWORD>(buffer.size() * sizeof(ULONGLONG)), &size))
        same = EqualSid(owner, reinterpret_cast<TOKEN_USER*>(buffer.data())->User.Sid) != 0;
    CloseHandle(token);
    return same;
}

#else

std::string lastError() { return std::strerror(errno); }

// Why the folder of the state may not hold it, or "" when it may: it must
// be a folder, not a link, of this user's or root's, that no other user may
// write in, or anyone could put a state of theirs there or take ours away.
// `missing` is set (and "" returned) when it does not exist.
std::string folderProblem(const std::string& folder, bool& missing) {
    struct stat st {};
    missing = false;
    if (::lstat(folder.c_str(), &st) != 0) {
        missing = errno == ENOENT;
        return missing ? "" : fmt::format("{}: {}", folder, lastError());
    }
    if (!S_ISDIR(st.st_mode))
        return fmt::format("{}: not a folder (a link or a file): the keepalive state is not kept there",
                           folder);
    if (st.st_uid != ::geteuid() && st.st_uid != 0)
        return fmt::format(
            "{}: belongs to user {}, not to this one ({}): the keepalive state is not kept there", folder,
            st.st_uid, ::geteuid());
    if ((st.st_mode & 022) != 0)
        return fmt::format(
            "{}: other users may write in it (mode {:04o}): the keepalive state is not kept there", folder,
            st.st_mode & 07777);
    return "";
}

#endif

}  // namespace

std::string keepaliveDevice(const std::string& boardFile) {
    if (boardFile.empty()) return ZRV_USER_DEVICE_NAME;
    std::error_code error;
    const std::filesystem::path full = std::filesystem::weakly_canonical(boardFile, error);
    return "sim:" + (error ? boardFile : full.string());
}

KeepaliveLife keepaliveLife(const KeepaliveState& s) {
    if (s.ended != 0) return KeepaliveLife::Ended;
    if (s.pid <= 0 || s.pid > 0x7FFFFFFF) return KeepaliveLife::Died;
#ifdef _WIN32
    // The service's process is the system's: a caller may not open it, but
    // "access denied" still says it is there.
    const HANDLE h = OpenProcess(SYNCHRONIZE, FALSE, static_cast<DWORD>(s.pid));
    if (h == nullptr)
        return GetLastError() == ERROR_ACCESS_DENIED ? KeepaliveLife::Running : KeepaliveLife::Died;
    const bool running = WaitForSingleObject(h, 0) == WAIT_TIMEOUT;
    CloseHandle(h);
    return running ? KeepaliveLife::Running : KeepaliveLife::Died;
#else
    return ::kill(static_cast<pid_t>(s.pid), 0) == 0 || errno == EPERM ? KeepaliveLife::Running
                                                                       : KeepaliveLife::Died;
#endif
}

std::string keepaliveStatePath([[maybe_unused]] const std::string& device) {
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
    const std::string name = fmt::format("keepalive-{:016x}.state", nameHash(device));
    if (std::string run = environment("XDG_RUNTIME_DIR"); !run.empty()) return run + "/zorvik-" + name;
    // /tmp itself is everyone's: the file goes in a folder of the user's own.
    return "/tmp/zorvik-" + std::to_string(::geteuid()) + "/" + name;
#endif
}

bool writeKeepaliveState(KeepaliveState s, std::string& why, const std::string& path) {
    s.written = static_cast<int64_t>(std::time(nullptr));
#ifdef _WIN32
    s.pid = static_cast<int64_t>(GetCurrentProcessId());
#else
    s.pid = static_cast<int64_t>(::getpid());
#endif
    const std::string text = stateText(s);
    const std::string folder = folderOf(path);
#ifdef _WIN32
    CreateDirectoryA(folder.c_str(), nullptr);  // one level: the parent is the system's
    // A name no other writer has: GetTempFileName makes the file.
    char temporary[MAX_PATH] = {};
    if (GetTempFileNameA(folder.c_str(), "zka", 0, temporary) == 0) {
        why = fmt::format("{}: {}", folder, lastError());
        return false;
    }
    bool ok = false;
    if (std::FILE* f = std::fopen(temporary, "wb")) {
        ok = std::fwrite(text.data(), 1, text.size(), f) == text.size();
        ok = std::fclose(f) == 0 && ok;
    }
    if (!ok) {
        why = fmt::format("{}: cannot write", temporary);
    } else if (!MoveFileExA(temporary, path.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        why = fmt::format("{}: {}", path, lastError());
        ok = false;
    }
    if (!ok) DeleteFileA(temporary);
    return ok;
#else
    bool missing = false;
    std::string problem = folderProblem(folder, missing);
    if (problem.empty() && missing) {
        // One level: the parent is the system's, or the caller's where the
        // variable moved the file.
        if (::mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) {
            why = fmt::format("{}: {}", folder, lastError());
            return false;
        }
        problem = folderProblem(folder, missing);  // made by someone else meanwhile?
    }
    if (!problem.empty() || missing) {
        why = problem.empty() ? fmt::format("{}: no such folder", folder) : problem;
        return false;
    }
    // Each writer its own temporary file (mkstemp: a new name, 0600).
    std::string temporary = path + ".XXXXXX";
    const int fd = ::mkstemp(temporary.data());
    if (fd < 0) {
        why = fmt::format("{}: {}", folder, lastError());
        return false;
    }
    bool ok = true;
    for (size_t done = 0; ok && done < text.size();) {
        const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        ok = n > 0 || (n < 0 && errno == EINTR);
        if (n > 0) done += static_cast<size_t>(n);
    }
    if (!ok) why = fmt::format("{}: {}", temporary, lastError());
    if (::close(fd) != 0 && ok) {
        ok = false;
        why = fmt::format("{}: {}", temporary, lastError());
    }
    if (ok && std::rename(temporary.c_str(), path.c_str()) != 0) {
        ok = false;
        why = fmt::format("{}: {}", path, lastError());
    }
    if (!ok) ::unlink(temporary.c_str());
    return ok;
#endif
}

std::optional<KeepaliveState> readKeepaliveState(std::string& why, const std::string& path) {
    why.clear();
    std::string text(kMaxStateBytes + 1, '\0');
    size_t got = 0;
#ifdef _WIN32
    // The reparse point itself, not what it names; a handle that lets the
    // keepalive go on replacing the file meanwhile.
    const HANDLE h =
        CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                    nullptr, OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        const DWORD error = GetLastError();
        if (error != ERROR_FILE_NOT_FOUND && error != ERROR_PATH_NOT_FOUND)
            why = fmt::format("{}: Windows error {}", path, error);
        return std::nullopt;
    }
    BY_HANDLE_FILE_INFORMATION info{};
    PSID owner = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (GetFileType(h) != FILE_TYPE_DISK || !GetFileInformationByHandle(h, &info) ||
        (info.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) != 0) {
        why = fmt::format("{}: not a plain file: refused", path);
    } else if (GetSecurityInfo(h, SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION, &owner, nullptr, nullptr,
                               nullptr, &descriptor) == ERROR_SUCCESS &&
               owner != nullptr && !trustedOwner(owner)) {
        // (A file system without owners, FAT, protects nothing anyway: its
        // files are taken as they are.)
        why = fmt::format(
            "{}: belongs to another account, not this one, the Administrators or the system: "
            "refused",
            path);
    } else {
        DWORD n = 0;
        while (got < text.size() &&
               ReadFile(h, text.data() + got, static_cast<DWORD>(text.size() - got), &n, nullptr) && n > 0)
            got += n;
    }
    if (descriptor != nullptr) LocalFree(descriptor);
    CloseHandle(h);
    if (!why.empty()) return std::nullopt;
#else
    bool missing = false;
    why = folderProblem(folderOf(path), missing);
    if (!why.empty() || missing) return std::nullopt;
    // Never follows a link, never waits for a FIFO's writer.
    const int fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) {
        if (errno == ELOOP)
            why = fmt::format("{}: a symbolic link, not a keepalive state: refused", path);
        else if (errno != ENOENT)
            why = fmt::format("{}: {}", path, lastError());
        return std::nullopt;
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0)
        why = fmt::format("{}: {}", path, lastError());
    else if (!S_ISREG(st.st_mode))
        why = fmt::format("{}: not a regular file: refused", path);
    else if (st.st_uid != ::geteuid())
        why = fmt::format("{}: belongs to user {}, not to this one ({}): refused", path, st.st_uid,
                          ::geteuid());
    while (why.empty() && got < text.size()) {
        const ssize_t n = ::read(fd, text.data() + got, text.size() - got);
        if (n == 0) break;
        if (n > 0)
            got += static_cast<size_t>(n);
        else if (errno != EINTR)
            why = fmt::format("{}: {}", path, lastError());
    }
    ::close(fd);
    if (!why.empty()) return std::nullopt;
#endif
    if (got > kMaxStateBytes) {
        why = fmt::format("{}: larger than {} bytes, not a keepalive state", path, kMaxStateBytes);
        return std::nullopt;
    }
    text.resize(got);
    std::optional<KeepaliveState> s = parseState(text);
    if (!s) why = fmt::format("{}: not a keepalive state", path);
    return s;
}

std::optional<KeepaliveState> readDeviceKeepaliveState(const std::string& device, std::string& why) {
    std::optional<KeepaliveState> s = readKeepaliveState(why, keepaliveStatePath(device));
    if (s && s->device != device) return std::nullopt;
    return s;
}

}  // namespace zrvctl
