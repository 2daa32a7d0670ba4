#include "tests/support/random_board.h"

#include <cstdio>
#include <fstream>
#include <nlohmann/json.hpp>
#include <regex>
#include <set>

#include "zorvik/registry.h"

namespace zrvtest {

namespace fs = std::filesystem;

RegistryPool examplePool(const std::vector<fs::path>& boards) {
    RegistryPool pool;
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

namespace {

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

}  // namespace

std::string randomRegistry(const RegistryPool& pool, std::mt19937& rng) {
    const auto chance = [&](unsigned percent) { return rng() % 100 < percent; };
    const unsigned codes[] = {0, 1, 2, 3, 4, 5, 6, 16};
    std::string reg = "Windows Registry Editor Version 5.00\n";
    for (const char* key : {"HWMON", "WDT", "DIO"}) {
        if (chance(5)) continue;
        reg += std::string("\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Varnel\\Zorvik\\") + key + "]\n";
        std::map<std::string, std::string> chosen;
        for (const RegistryValue& v : pool.at(key))
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

std::vector<RandomBoard> randomBoards(const std::vector<fs::path>& boards, unsigned seed, int count) {
    std::vector<fs::path> withHardware;
    for (const fs::path& b : boards)
        if (!nlohmann::json::parse(std::ifstream(b))["hardware"].empty()) withHardware.push_back(b);
    const RegistryPool pool = examplePool(boards);
    std::mt19937 rng(seed);
    std::vector<RandomBoard> made;
    for (int i = 0; i < count && !withHardware.empty(); ++i)
        made.push_back({withHardware[i % withHardware.size()], randomRegistry(pool, rng)});
    return made;
}

fs::path writeRandomBoard(const RandomBoard& board, const fs::path& dir, const std::string& name) {
    nlohmann::json json = nlohmann::json::parse(std::ifstream(board.example));
    json["registry"] = name + ".reg";
    std::ofstream(dir / (name + ".reg")) << board.registry;
    const fs::path file = dir / (name + ".json");
    std::ofstream(file) << json.dump(2) << "\n";
    return file;
}

}  // namespace zrvtest
