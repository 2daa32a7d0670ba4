// The exposition format and the textfile collectors' atomic file.
#include "client/prom.h"

#include <fmt/format.h>

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>

#ifdef _WIN32
#include <io.h>
#include <process.h>
#include <windows.h>
#else
#include <fcntl.h>
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
int processId() { return _getpid(); }
bool flushToDisk(std::FILE* f) {
    return FlushFileBuffers(reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(f)))) != 0;
}
bool renameOver(const std::string& from, const std::string& to) {
    return MoveFileExA(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
}
std::string lastError() { return fmt::format("Windows error {}", GetLastError()); }
#else
int processId() { return static_cast<int>(getpid()); }
bool flushToDisk(std::FILE* f) { return fsync(fileno(f)) == 0; }
bool renameOver(const std::string& from, const std::string& to) {
    return std::rename(from.c_str(), to.c_str()) == 0;
}
std::string lastError() { return std::strerror(errno); }
#endif

}  // namespace

bool replaceFile(const std::string& dir, const std::string& name, const std::string& text,
                 std::string& error) {
#ifdef _WIN32
    const char* slash = "\\";
#else
    const char* slash = "/";
#endif
    const std::string target = dir + slash + name;
    // The collectors read *.prom only, so the temporary file is never
    // taken for a half-written one.
    const std::string temp = fmt::format("{}{}.{}.{}.tmp", dir, slash, name, processId());
    std::FILE* f = std::fopen(temp.c_str(), "wb");
    if (!f) {
        error = fmt::format("{}: {}", temp, lastError());
        return false;
    }
    bool ok = std::fwrite(text.data(), 1, text.size(), f) == text.size() && std::fflush(f) == 0;
    ok = ok && flushToDisk(f);
    if (!ok) error = fmt::format("{}: {}", temp, lastError());
    if (std::fclose(f) != 0 && ok) {
        ok = false;
        error = fmt::format("{}: {}", temp, lastError());
    }
    if (ok && !renameOver(temp, target)) {
        ok = false;
        error = fmt::format("{}: {}", target, lastError());
    }
    if (!ok) std::remove(temp.c_str());
    return ok;
}

}  // namespace zrvctl
