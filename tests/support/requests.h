// The request kinds that the census test and the benchmark run on every
// example board, and the example boards themselves.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace zrvtest {

// A record every back-end takes for this request code; none for the codes
// that take no input.
std::vector<uint8_t> wellFormedRecord(uint32_t code);

// One request code with a well-formed record, for each code of the request
// list in its order (the watchdog is given its timeout before it starts).
// The output buffer is as long as the record or the smallest answer, so
// requests that echo their record get it back.
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
