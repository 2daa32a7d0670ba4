// The request interface. The input picks a board: an example board as it
// is, or an example board's hardware under random registry contents (every
// value the driver reads, of random types, lengths and numbers). Then a
// stream of requests with random codes, lengths, bytes and handle access,
// with virtual time moving now and then. After every request:
//   - the I/O manager's rules hold (completion, status, byte count);
//   - no more bytes come back than the output length, none from a failure;
//   - a request that only reads returns the same bytes whatever pattern lay
//     in the buffer, so every byte returned was written by the driver;
//   - on an example board the emulated hardware saw no breach of its rules
//     (a random registry may name ports the hardware does not have there).
// After unload no pool block, key, device or link is left.
#include <fmt/format.h>
#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>

#include "sim/board.h"
#include "tests/support/board_files.h"

namespace {

const uint32_t kCodes[] = {
    IOCTL_HWM_GET_DATA,
    IOCTL_HWM_FAN_CONTROL,
    IOCTL_SPARE_1,
    IOCTL_SPARE_2,
    IOCTL_DIO_GET_CONFIG,
    IOCTL_DIO_GET_INPUT,
    IOCTL_DIO_SET_OUTPUT,
    IOCTL_DIO_GET_OUTPUT,
    IOCTL_WDT_SET_TIMEOUT,
    IOCTL_WDT_START,
    IOCTL_WDT_STOP,
    IOCTL_WDT_RESET,
    IOCTL_WDT_GET_TIMEOUT,
    IOCTL_DIO_CD_GET_INPUTS,
    IOCTL_DIO_CD_PULSE_OUTPUT,
    IOCTL_DIO_CD_GET_OUTPUT_COUNT,
    IOCTL_DIO_SET_SPECIFIC_MASK,
    IOCTL_DIO_CD_SET_OUTPUT,
};

// Requests that read and change nothing: asked twice, they answer alike.
const uint32_t kReadOnly[] = {
    IOCTL_HWM_GET_DATA,    IOCTL_SPARE_1,           IOCTL_SPARE_2,
    IOCTL_DIO_GET_CONFIG,  IOCTL_DIO_GET_INPUT,     IOCTL_DIO_GET_OUTPUT,
    IOCTL_WDT_GET_TIMEOUT, IOCTL_DIO_CD_GET_INPUTS, IOCTL_DIO_CD_GET_OUTPUT_COUNT,
};

// Every value the configuration and the port back-ends read.
struct KeyValues {
    const char* key;
    std::vector<std::string> names;
};

std::vector<KeyValues> registryValues() {
    std::vector<KeyValues> keys = {
        {"HWMON", {"SuperIO"}},
        {"WDT", {"DeviceType", "SuperIO", "Start", "Stop", "Timeout", "Reset", "StopBeforeReset"}},
        {"DIO", {"DeviceType",     "SuperIO",       "GPIOGroup",
                 "GPIOOutGroup",   "InBits",        "OutBits",
                 "IOBaseIn",       "IOBaseOut",     "InMask",
                 "OutMask",        "IOBaseIn2",     "IOBaseOut2",
                 "InMask2",        "OutMask2",      "CDPort",
                 "CDOutPort",      "CDInMask",      "CDOutMask",
                 "CDIsOutInvert",  "CDIsInInvert",  "UseSpecificSetting",
                 "SpecificMaskIo", "SpecificDataIo"}},
    };
    for (int i = 0; i < 18; ++i)
        for (const char* stem : {"InAddr", "InMask", "OutAddr", "OutMask"})
            keys[2].names.push_back(fmt::format("{}{}", stem, i));
    return keys;
}

// Numbers a board is made of: chip codes, layouts, the ports the example
// boards' hardware answers at, write actions on them, masks.
const uint32_t kNumbers[] = {0,     1,      2,      3,      4,      5,       6,      16,
                             0x0F,  0xF0,   0xFF,   0x2E,   0x4E,   0x300,   0x301,  0x302,
                             0x303, 0x310,  0x311,  0x2A0,  0x2A1,  0x443,   0x444,  0x445,
                             0x843, 0x8443, 0x8444, 0x8843, 0x82A0, 0x10000, 0xFFFF, 0xFFFFFFFF};

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
        const std::string path = fmt::format("\\Registry\\Machine\\Software\\Varnel\\Zorvik\\{}", k.key);
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

struct Counts {
    uint64_t requests = 0, boards = 0, randomBoards = 0;
    ~Counts() {
        std::fprintf(stderr,
                     "zrv_fuzz_requests: %llu requests on %llu boards (%llu with a random registry)\n",
                     static_cast<unsigned long long>(requests), static_cast<unsigned long long>(boards),
                     static_cast<unsigned long long>(randomBoards));
    }
};
Counts counts;

[[noreturn]] void fail(const std::string& what) {
    std::fprintf(stderr, "finding: %s\n", what.c_str());
    std::abort();
}

void checkRules(const sim::Machine& machine, bool deviceRules) {
    for (const auto& v : machine.ioViolations()) fail("platform rule broken: " + v);
    if (deviceRules)
        for (const auto& v : machine.deviceViolations()) fail("hardware rule broken: " + v);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const std::vector<std::string> boards = [] {
        std::vector<std::string> found;
        for (const auto& path : zrvtest::boardFilesIn(ZRV_SOURCE_DIR "/boards"))
            found.push_back(path.string());
        return found;
    }();
    if (boards.empty()) fail("no example boards under " ZRV_SOURCE_DIR "/boards");

    FuzzedDataProvider in(data, size);
    sim::Machine machine;
    machine.setWaitMode(sim::WaitMode::Virtual);
    sim::loadBoard(machine, boards[in.ConsumeIntegralInRange<size_t>(0, boards.size() - 1)]);
    const bool random = in.ConsumeBool();
    if (random) randomRegistry(in, machine.registry());
    ++counts.boards;
    counts.randomBoards += random ? 1 : 0;

    if (machine.load() != ZRV_STATUS_SUCCESS) fail("the driver did not load");
    checkRules(machine, !random);
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
        if (std::find(std::begin(kReadOnly), std::end(kReadOnly), code) != std::end(kReadOnly)) {
            machine.setPoison(static_cast<uint8_t>(~poison));
            const sim::IoResult again = machine.ioctl(handle, code, input, outputLength);
            ++counts.requests;
            if (again.status != r.status || again.data != r.data)
                fail(what + ": the answer depends on what lay in the buffer");
        }
        checkRules(machine, !random);
    }

    machine.close(handles[0]);
    machine.close(handles[1]);
    machine.unload();
    checkRules(machine, !random);
    if (machine.outstandingAllocations() != 0) fail("pool blocks left after unload");
    if (sim::openRegistryKeys() != 0) fail("registry keys left open");
    return 0;
}
