// The board files of a boards/ folder: NAME.json beside its NAME.reg, not
// the client's NAME.profile.json. Header-only, so the fuzzers and the
// benchmark list boards the same way the tests do.
#pragma once

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

namespace zrvtest {

inline bool isBoardFile(const std::filesystem::path& path) {
    return path.extension() == ".json" && path.stem().extension() != ".profile";
}

// Board files under `dir`, sorted by path.
inline std::vector<std::filesystem::path> boardFilesIn(const std::filesystem::path& dir) {
    std::vector<std::filesystem::path> found;
    for (const auto& entry : std::filesystem::directory_iterator(dir))
        if (entry.is_regular_file() && isBoardFile(entry.path())) found.push_back(entry.path());
    std::sort(found.begin(), found.end());
    return found;
}

}  // namespace zrvtest
