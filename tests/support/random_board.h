// Random registries over the example boards' hardware: values drawn from
// every example board's registry, chip codes and counts changed, values
// retyped, keys dropped, ports moved onto the PC's own. The same boards for
// the native tests and for the Wine suite (zrv_random_boards writes them).
#pragma once

#include <filesystem>
#include <map>
#include <random>
#include <string>
#include <vector>

namespace zrvtest {

struct RegistryValue {
    std::string name, data;  // data as the .reg file writes it
};
using RegistryPool = std::map<std::string, std::vector<RegistryValue>>;  // by key

// Every value line of the boards' registries, by key.
RegistryPool examplePool(const std::vector<std::filesystem::path>& boards);

// One random registry, a .reg file's text: per key, a random draw of the
// pool's values (one per name), with chip codes, layouts, groups, counts and
// ports sometimes replaced and a value sometimes retyped.
std::string randomRegistry(const RegistryPool& pool, std::mt19937& rng);

struct RandomBoard {
    std::filesystem::path example;  // whose hardware it has
    std::string registry;           // the .reg file's text
};

// The first `count` random boards of `seed` over the example boards of
// `boards` that have hardware, taking those examples in turn.
std::vector<RandomBoard> randomBoards(const std::vector<std::filesystem::path>& boards, unsigned seed,
                                      int count);

// Writes DIR/NAME.json, the example's board with its registry named
// NAME.reg, and DIR/NAME.reg; the path of the board file.
std::filesystem::path writeRandomBoard(const RandomBoard& board, const std::filesystem::path& dir,
                                       const std::string& name);

}  // namespace zrvtest
