// The registry export parser on any text: it reads it or refuses it with a
// BoardError, and a refused text leaves the registry as it was.
#include <cstdio>
#include <cstdlib>

#include "sim/registry.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    sim::Registry registry;
    registry.setDword("HKLM\\Software\\Before", "B", 1);
    const auto before = registry.keys();
    try {
        registry.loadText(std::string(reinterpret_cast<const char*>(data), size), "fuzz.reg");
    } catch (const sim::BoardError&) {
        if (registry.keys() != before || registry.find("HKLM\\Software\\Before", "B") == nullptr) {
            std::fprintf(stderr, "a refused export changed the registry\n");
            std::abort();
        }
    }
    return 0;
}
