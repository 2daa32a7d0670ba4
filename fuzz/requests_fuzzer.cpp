// The request interface. The input picks a board: an example board as it
// is, an example board's hardware under random registry contents (every
// value the driver reads, of random types, lengths and numbers), or an
// example board's registry on its chips with random presets (IDs near the
// accepted ones, configuration pair, block bases anywhere in the port space,
// logical devices active or not). Then a stream of requests with random
// codes, lengths, bytes and handle access, with virtual time moving now and
// then. After every request:
//   - the I/O manager's rules hold (completion, status, byte count);
//   - no more bytes come back than the output length, none from a failure;
//   - a request that only reads returns the same bytes whatever pattern lay
//     in the buffer, so every byte returned was written by the driver;
//   - the PC's own ports (below 0x100, PCI configuration 0xCF8-0xCFF) were
//     left alone, whatever the registry names;
//   - unless the registry is random (it may name ports the hardware does
//     not have there), the emulated hardware saw no breach of its rules and
//     the driver touched no port that nothing decodes: an example board,
//     with its chips' presets or random ones, is a board as built.
// After unload no pool block, key, device or link is left. A finding prints
// the board file it was found on.
#include <fmt/format.h>
#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <nlohmann/json.hpp>
#include <string_view>

#include "core/chips.h"
#include "sim/board.h"
#include "tests/support/board_files.h"
#include "zorvik/registry.h"
#include "zorvik/requests.h"

namespace {

const uint32_t kCodes[] = {ZRV_REQUESTS(ZRV_REQUEST_CODE)};

// Requests that read and change nothing: those of no back-end (they echo
// their record) and those that take no record and answer with data. Asked
// twice, they answer alike.
bool readsOnly(uint32_t code) {
    static const ZrvRequestInfo requests[] = {ZRV_REQUESTS(ZRV_REQUEST_INFO)};
    for (const ZrvRequestInfo& q : requests)
        if (q.Code == code) return q.Function == ZRV_REQUEST_NONE || (q.MinInput == 0 && q.MinOutput > 0);
    return false;
}

// Every value the configuration and the port back-ends read.
struct KeyValues {
    const char* key;
    std::vector<std::string> names;
};

std::vector<KeyValues> registryValues() {
    std::vector<KeyValues> keys = {{ZRV_REG_KEY_HWMON, {}}, {ZRV_REG_KEY_WDT, {}}, {ZRV_REG_KEY_DIO, {}}};
    const auto add = [&](const char* key, const char* name) {
        for (KeyValues& k : keys)
            if (std::string(k.key) == key) k.names.push_back(name);
    };
#define ZRV_FUZZ_VALUE(key, name) add(key, name);
    ZRV_REG_VALUES(ZRV_FUZZ_VALUE)
#undef ZRV_FUZZ_VALUE
    // Two indexes past the 16 lines the driver keeps.
    for (int i = 0; i < 18; ++i)
        for (const char* stem : {ZRV_REG_IN_ADDR, ZRV_REG_IN_MASK, ZRV_REG_OUT_ADDR, ZRV_REG_OUT_MASK})
            keys[2].names.push_back(fmt::format("{}{}", stem, i));
    return keys;
}

// Numbers a board is made of: chip codes, layouts, the ports the example
// boards' hardware answers at, write actions on them, masks; and the PC's
// own ports, which the driver must refuse.
const uint32_t kNumbers[] = {0,     1,      2,      3,      4,      5,       6,      16,
                             0x0F,  0xF0,   0xFF,   0x2E,   0x4E,   0x300,   0x301,  0x302,
                             0x303, 0x310,  0x311,  0x2A0,  0x2A1,  0x443,   0x444,  0x445,
                             0x843, 0x8443, 0x8444, 0x8843, 0x82A0, 0x10000, 0xFFFF, 0xFFFFFFFF,
                             0x20,  0x61,   0x70,   0x80,   0x8070, 0xCF8,   0xCFC,  0x1CFC};

uint32_t number(FuzzedDataProvider& in) {
    switch (in.ConsumeIntegralInRange<int>(0, 2)) {
        case 0: return in.ConsumeIntegralInRange<uint32_t>(0, 20);
        case 1: return in.PickValueInArray(kNumbers);
        default: return in.ConsumeIntegral<uint32_t>();
    }
}

void randomRegistry(FuzzedDataProvider& in, sim::Registry& registry) {
    static const std::vector<KeyValues> keys = registryValues();
    registry = sim::Registry{};
    for (const KeyValues& k : keys) {
        if (in.ConsumeIntegralInRange<int>(0, 7) == 0) continue;  // no such key
        const std::string path = fmt::format("{}{}", ZRV_REG_ROOT_KERNEL, k.key);
        registry.createKey(path);
        for (const std::string& name : k.names) {
            const int kind = in.ConsumeIntegralInRange<int>(0, 15);
            if (kind < 6) continue;  // absent
            if (kind < 13) {
                registry.setDword(path, name, number(in));
            } else {
                // Another type, or a REG_DWORD of another length.
                const uint32_t type = in.PickValueInArray({sim::kRegSz, sim::kRegBinary, sim::kRegDword,
                                                           sim::kRegQword, sim::kRegMultiSz, 0u, 0x1234u});
                registry.setValue(path, name, type,
                                  in.ConsumeBytes<uint8_t>(in.ConsumeIntegralInRange(0, 70)));
            }
        }
    }
}

// Per chip type: the logical device whose block base and activation the
// presets move, its register that switches the block on (besides 0x30),
// the width of its ID, and IDs the driver accepts and IDs just beside them.
struct ChipPresets {
    const char* type;
    int blockDevice;  // -1: the chip has no block of its own
    int blockOnReg;   // -1: 0x30 only
    std::vector<uint32_t> ids;
};
const ChipPresets kChipPresets[] = {
    {"w83627",
     0x0B,
     0x40,
     {0x52, 0x59, 0x82, 0x88, 0xA2, 0xA0, 0xB0, 0x60, 0x68, 0x53, 0x87, 0x89, 0x61, 0xA1, 0xFF}},
    {"it87", 4, -1, {0x8712, 0x8718, 0x8783, 0x8711, 0x8713, 0x8717, 0x8719, 0x8782, 0x8784, 0x8728}},
    {"sch3114", 0x0A, -1, {0x7C, 0x7D, 0x7F, 0x7B, 0x7E, 0x80, 0xFF}},
    {"f81865", 4, -1, {0x0704, 0x1010, 0x0703, 0x0705, 0x1011, 0x0710}},
    {"f81216", -1, -1, {0x0208, 0x0216, 0x0207, 0x0209, 0x0215, 0x0217}},
};

// Every chip family of the chip table has its presets here: a family
// added without them would never be fuzzed with random presets.
bool PresetsCoverTheChipTable() {
    for (const ChipRow& row : kChipRows) {
        if (*row.BoardType == '\0') continue;
        bool found = false;
        for (const ChipPresets& p : kChipPresets) found = found || std::string_view(p.type) == row.BoardType;
        if (!found) return false;
    }
    return true;
}

// A block base: anywhere, near the top of the port space, among the PC's
// own ports, off its alignment, or as the board had it.
uint32_t randomBase(FuzzedDataProvider& in, uint32_t original) {
    switch (in.ConsumeIntegralInRange<int>(0, 5)) {
        case 0: return in.ConsumeIntegral<uint16_t>();
        case 1: return 0xFFF0u + in.ConsumeIntegralInRange<uint32_t>(0, 0x0F);
        case 2: return in.ConsumeIntegralInRange<uint32_t>(0, 0xFF);
        case 3: return (original & ~7u) | in.ConsumeIntegralInRange<uint32_t>(1, 7);
        default: return original;
    }
}

std::string hex(uint32_t v) { return fmt::format("0x{:x}", v); }

// The register file of `device` in a chip entry's "config", under the key
// the board wrote for it.
nlohmann::json& deviceRegs(nlohmann::json& chip, int device) {
    nlohmann::json& config = chip["config"];
    for (auto& [key, regs] : config.items())
        if (key != "global" && std::stoul(key, nullptr, 0) == static_cast<unsigned long>(device)) return regs;
    return config[hex(static_cast<uint32_t>(device))];
}

uint32_t regValue(const nlohmann::json& regs, const char* reg) {
    if (!regs.contains(reg)) return 0;
    const auto& v = regs[reg];
    return v.is_string() ? static_cast<uint32_t>(std::stoul(v.get<std::string>(), nullptr, 0))
                         : v.get<uint32_t>();
}

void randomPresets(FuzzedDataProvider& in, nlohmann::json& board) {
    for (auto& chip : board["hardware"]) {
        const ChipPresets* p = nullptr;
        for (const ChipPresets& c : kChipPresets)
            if (chip["type"] == c.type) p = &c;
        if (p == nullptr) continue;
        if (in.ConsumeBool())
            chip["id"] = hex(p->ids[in.ConsumeIntegralInRange<size_t>(0, p->ids.size() - 1)]);
        if (in.ConsumeIntegralInRange<int>(0, 3) == 0)
            chip["config_port"] = in.ConsumeBool() ? "0x2e" : "0x4e";
        if (p->blockDevice < 0) {
            if (in.ConsumeBool()) chip["entry_key"] = hex(in.PickValueInArray({0x77u, 0xA0u, 0x87u, 0x67u}));
            continue;
        }
        nlohmann::json& regs = deviceRegs(chip, p->blockDevice);
        const uint32_t base = randomBase(in, regValue(regs, "0x60") << 8 | regValue(regs, "0x61"));
        regs["0x60"] = hex(base >> 8);
        regs["0x61"] = hex(base & 0xFF);
        if (in.ConsumeIntegralInRange<int>(0, 3) == 0) regs["0x30"] = hex(in.ConsumeBool() ? 1 : 0);
        if (p->blockOnReg >= 0 && in.ConsumeIntegralInRange<int>(0, 3) == 0)
            regs[hex(static_cast<uint32_t>(p->blockOnReg))] = hex(in.ConsumeBool() ? 1 : 0);
    }
}

struct Counts {
    uint64_t requests = 0, boards = 0, randomBoards = 0, presetBoards = 0;
    ~Counts() {
        std::fprintf(
            stderr,
            "zrv_fuzz_requests: %llu requests on %llu boards (%llu with a random registry, %llu with "
            "random chip presets)\n",
            static_cast<unsigned long long>(requests), static_cast<unsigned long long>(boards),
            static_cast<unsigned long long>(randomBoards), static_cast<unsigned long long>(presetBoards));
    }
};
Counts counts;
std::string boardText;  // the board of the current input, as a board file

[[noreturn]] void fail(const std::string& what) {
    std::fprintf(stderr, "finding: %s\non this board:\n%s\n", what.c_str(), boardText.c_str());
    std::abort();
}

// Under a random registry the chips' own rules may break at ports the
// registry names; the PC's own ports stay the driver's to leave alone.
enum class Rules { PcPorts, AllPorts };

void checkRules(const sim::Machine& machine, Rules rules) {
    for (const auto& v : machine.ioViolations()) fail("platform rule broken: " + v);
    for (const auto& v : machine.deviceViolations())
        if (rules == Rules::AllPorts || v.rfind("board: ", 0) == 0) fail("hardware rule broken: " + v);
    if (rules == Rules::PcPorts) return;
    for (const auto& u : machine.unclaimedAccesses())
        fail(fmt::format("port 0x{:04x} {}, but no device decodes it", u.port, u.write ? "written" : "read"));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const bool covered = PresetsCoverTheChipTable();
    if (!covered) {
        std::fprintf(stderr, "a chip family of the chip table has no presets in this fuzzer\n");
        std::abort();
    }
    // The example boards, each with its registry named by its whole path, so
    // that the board file printed with a finding works from anywhere.
    static const std::vector<std::pair<std::string, nlohmann::json>> boards = [] {
        std::vector<std::pair<std::string, nlohmann::json>> found;
        for (const auto& path : zrvtest::boardFilesIn(ZRV_SOURCE_DIR "/boards")) {
            auto board = nlohmann::json::parse(sim::readBoardFile(path.string(), "board file"));
            if (board.contains("registry"))
                board["registry"] = (path.parent_path() / board["registry"].get<std::string>()).string();
            found.emplace_back(path.string(), std::move(board));
        }
        return found;
    }();
    if (boards.empty()) fail("no example boards under " ZRV_SOURCE_DIR "/boards");

    FuzzedDataProvider in(data, size);
    sim::Machine machine;
    machine.setWaitMode(sim::WaitMode::Virtual);
    const auto& [file, example] = boards[in.ConsumeIntegralInRange<size_t>(0, boards.size() - 1)];
    const uint8_t mode = in.ConsumeIntegral<uint8_t>();
    const bool random = (mode & 1) != 0;
    const bool presets = !random && (mode & 2) != 0;
    nlohmann::json board = example;
    if (presets) randomPresets(in, board);
    boardText = board.dump(2);
    try {
        sim::loadBoardText(machine, boardText, file);
    } catch (const sim::BoardError&) {
        return 0;  // presets the board file refuses (two chips on one pair)
    }
    if (random) randomRegistry(in, machine.registry());
    ++counts.boards;
    counts.randomBoards += random ? 1 : 0;
    counts.presetBoards += presets ? 1 : 0;
    const Rules rules = random ? Rules::PcPorts : Rules::AllPorts;

    if (machine.load() != ZRV_STATUS_SUCCESS) fail("the driver did not load");
    checkRules(machine, rules);
    int handles[2] = {0, 0};
    if (machine.open(ZRV_USER_DEVICE_NAME, sim::Access::Read, &handles[0]) != ZRV_STATUS_SUCCESS ||
        machine.open(ZRV_USER_DEVICE_NAME, sim::Access::ReadWrite, &handles[1]) != ZRV_STATUS_SUCCESS)
        fail("the control device does not open");

    while (in.remaining_bytes() > 0) {
        if (in.ConsumeIntegralInRange<int>(0, 15) == 0)
            machine.advance(in.ConsumeIntegralInRange<uint32_t>(0, 400000));
        // Any code of the buffered transfer method: the simulated I/O manager
        // hands the driver no other kind, and the driver defines none.
        const uint32_t code = in.ConsumeIntegralInRange<int>(0, 9) == 0
                                  ? (in.ConsumeIntegral<uint32_t>() & ~3u) | ZRV_METHOD_BUFFERED
                                  : in.PickValueInArray(kCodes);
        const auto length = [&] {
            return in.ConsumeIntegralInRange<int>(0, 15) == 0 ? 4096u
                                                              : in.ConsumeIntegralInRange<uint32_t>(0, 40);
        };
        const uint32_t inputLength = length();
        const uint32_t outputLength = length();
        std::vector<uint8_t> input = in.ConsumeBytes<uint8_t>(inputLength);
        input.resize(inputLength, 0);
        const int handle = handles[in.ConsumeBool() ? 1 : 0];
        const uint8_t poison = in.ConsumeIntegral<uint8_t>();

        machine.setPoison(poison);
        const sim::IoResult r = machine.ioctl(handle, code, input, outputLength);
        ++counts.requests;
        const std::string what =
            fmt::format("request 0x{:08x} in {} out {}", code, inputLength, outputLength);
        if (r.bytes > outputLength || r.data.size() != r.bytes)
            fail(what + ": more bytes than the output length");
        if (!ZRV_SUCCESS(r.status) && r.bytes != 0) fail(what + ": a failed request returned bytes");
        if (readsOnly(code)) {
            machine.setPoison(static_cast<uint8_t>(~poison));
            const sim::IoResult again = machine.ioctl(handle, code, input, outputLength);
            ++counts.requests;
            if (again.status != r.status || again.data != r.data)
                fail(what + ": the answer depends on what lay in the buffer");
        }
        checkRules(machine, rules);
    }

    machine.close(handles[0]);
    machine.close(handles[1]);
    machine.unload();
    checkRules(machine, rules);
    if (machine.outstandingAllocations() != 0) fail("pool blocks left after unload");
    if (sim::openRegistryKeys() != 0) fail("registry keys left open");
    return 0;
}
