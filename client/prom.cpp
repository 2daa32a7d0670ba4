// The exposition format and the textfile collectors' atomic file.
#include "client/prom.h"

#include <fmt/format.h>

#include <atomic>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>

#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace zrvctl {

std::string promEscape(const std::string& text) {
    std::string out;
    out.reserve(text.size());
    for (char c : text) {
        if (c == '\\')
            out += "\\\\";
        else if (c == '"')
            out += "\\\"";
        else if (c == '\n')
            out += "\\n";
        else
            out += c;
    }
    return out;
}

std::string promValue(double v) {
    if (std::isnan(v)) return "NaN";
    if (std::isinf(v)) return v > 0 ? "+Inf" : "-Inf";
    if (v == std::floor(v) && std::fabs(v) < 1e15) return fmt::format("{}", static_cast<long long>(v));
    return fmt::format("{}", v);
}

void Exposition::sample(const std::string& name, const char* type, const char* help, const PromLabels& labels,
                        double value) {
    Family* f = nullptr;
    for (Family& each : families_)
        if (each.name == name) f = &each;
    if (!f) {
        families_.push_back({name, type, help, {}});
        f = &families_.back();
    }
    std::string line = name;
    if (!labels.empty()) {
        line += '{';
        for (size_t i = 0; i < labels.size(); ++i)
            line += fmt::format("{}{}=\"{}\"", i ? "," : "", labels[i].first, promEscape(labels[i].second));
        line += '}';
    }
    f->samples.push_back(line + " " + promValue(value));
}

std::string Exposition::text() const {
    std::string out;
    for (const Family& f : families_) {
        // HELP text escapes backslash and line feed only.
        std::string help;
        for (char c : f.help) help += c == '\\' ? "\\\\" : c == '\n' ? "\\n" : std::string(1, c);
        out += fmt::format("# HELP {} {}\n# TYPE {} {}\n", f.name, help, f.name, f.type);
        for (const std::string& s : f.samples) out += s + "\n";
    }
    return out;
}

namespace {

#ifdef _WIN32

std::string lastError() { return fmt::format("Windows error {}", GetLastError()); }

// A new file of a name nobody has yet, made here and now: CREATE_NEW never
// opens what is there, and with FILE_FLAG_OPEN_REPARSE_POINT a link planted
// under the name would be the link itself, never what it names. Its name:
// this process, a count of this process's files and the tick count, tried
// again under another while the name is taken.
HANDLE createNew(const std::string& prefix, std::string& name) {
    static std::atomic<unsigned> made{0};
    for (int attempt = 0; attempt < 100; ++attempt) {
        name = fmt::format("{}.{}-{}-{:x}.tmp", prefix, GetCurrentProcessId(), made++, GetTickCount());
        const HANDLE h = CreateFileA(name.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                     FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
        if (h != INVALID_HANDLE_VALUE || GetLastError() != ERROR_FILE_EXISTS) return h;
    }
    return INVALID_HANDLE_VALUE;
}

bool writeAll(HANDLE h, const std::string& text) {
    DWORD n = 0;
    for (size_t done = 0; done < text.size(); done += n)
        if (!WriteFile(h, text.data() + done, static_cast<DWORD>(text.size() - done), &n, nullptr) || n == 0)
            return false;
    return FlushFileBuffers(h) != 0;
}

#else

std::string lastError() { return std::strerror(errno); }

bool writeAll(int fd, const std::string& text) {
    for (size_t done = 0; done < text.size();) {
        const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        if (n > 0)
            done += static_cast<size_t>(n);
        else if (n == 0 || errno != EINTR)
            return false;
    }
    return ::fsync(fd) == 0;
}

#endif

}  // namespace

#ifndef _WIN32
std::string unsafeFolder(const std::string& folder, bool& missing) {
    struct stat st {};
    missing = false;
    if (::lstat(folder.c_str(), &st) != 0) {
        missing = errno == ENOENT;
        return missing ? "" : fmt::format("{}: {}", folder, lastError());
    }
    if (!S_ISDIR(st.st_mode))
        return fmt::format("{}: not a folder (a link or a file): nothing is written or read there", folder);
    if (st.st_uid != ::geteuid() && st.st_uid != 0)
        return fmt::format("{}: belongs to user {}, not to this one ({}): nothing is written or read there",
                           folder, st.st_uid, ::geteuid());
    if ((st.st_mode & 022) != 0)
        return fmt::format("{}: other users may write in it (mode {:04o}): nothing is written or read there",
                           folder, st.st_mode & 07777);
    return "";
}
#endif

bool replaceFile(const std::string& dir, const std::string& name, const std::string& text, std::string& error,
                 unsigned mode) {
#ifdef _WIN32
    (void)mode;  // the folder's inherited rights
    const std::string target = dir + "\\" + name;
    // The collectors read *.prom only, so the temporary file is never
    // taken for a half-written one.
    std::string temp;
    const HANDLE h = createNew(dir + "\\." + name, temp);
    if (h == INVALID_HANDLE_VALUE) {
        error = fmt::format("{}: {}", temp, lastError());
        return false;
    }
    bool ok = writeAll(h, text);
    if (!ok) error = fmt::format("{}: {}", temp, lastError());
    CloseHandle(h);
    if (ok &&
        !MoveFileExA(temp.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        ok = false;
        error = fmt::format("{}: {}", target, lastError());
    }
    if (!ok) DeleteFileA(temp.c_str());
    return ok;
#else
    bool missing = false;
    error = unsafeFolder(dir, missing);
    if (missing) error = fmt::format("{}: no such folder", dir);
    if (!error.empty()) return false;
    const std::string target = dir + "/" + name;
    // A new name nobody has (mkostemp: O_CREAT|O_EXCL, so nothing that is
    // there, a planted link least of all, is ever opened or followed). The
    // collectors read *.prom only: the temporary file is never taken for a
    // half-written one.
    std::string temp = dir + "/." + name + ".XXXXXX";
    const int fd = ::mkostemp(temp.data(), O_CLOEXEC | O_NOFOLLOW);
    if (fd < 0) {
        error = fmt::format("{}: {}", temp, lastError());
        return false;
    }
    bool ok = ::fchmod(fd, mode) == 0 && writeAll(fd, text);
    if (!ok) error = fmt::format("{}: {}", temp, lastError());
    if (::close(fd) != 0 && ok) {
        ok = false;
        error = fmt::format("{}: {}", temp, lastError());
    }
    // rename replaces the name itself: a link planted as the target is
    // replaced, never followed.
    if (ok && std::rename(temp.c_str(), target.c_str()) != 0) {
        ok = false;
        error = fmt::format("{}: {}", target, lastError());
    }
    if (!ok) ::unlink(temp.c_str());
    return ok;
#endif
}

}  // namespace zrvctl
