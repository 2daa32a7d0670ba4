// The request kinds that the census test and the benchmark run on every
// example board, and the example boards themselves.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace zrvtest {

// One request code with a well-formed record. The list runs in this order
// on one loaded board: the watchdog is given its timeout before it starts.
struct RequestKind {
    const char* name;  // the code's name, "IOCTL_HWM_GET_DATA"
    uint32_t code;
    std::vector<uint8_t> input;
    uint32_t outputLength;
};
const std::vector<RequestKind>& requestKinds();

// The example boards (boards/*.json under `sourceDir`), sorted by name.
struct ExampleBoard {
    std::string name;  // file name without ".json"
    std::string path;
};
std::vector<ExampleBoard> exampleBoards(const std::string& sourceDir);

}  // namespace zrvtest
