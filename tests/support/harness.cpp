#include "tests/support/harness.h"

#include <fmt/format.h>

namespace zrvtest {

SimBoard::SimBoard() {
    machine_.setWaitMode(sim::WaitMode::Virtual);
    // Room for what a test looks at between two clearTrace() calls, hammer
    // tests of many thousand requests included; the rings take memory only
    // as a test fills them.
    machine_.bus().setTraceCapacity(kTestTraceEntries);
    machine_.setDebugCapacity(kTestDebugLines);
}

SimBoard::~SimBoard() {
    if (machine_.loaded()) machine_.unload();
}

void SimBoard::reg(const std::string& text) {
    const bool hasHeader = text.find("Windows Registry Editor Version 5.00") != std::string::npos ||
                           text.find("REGEDIT4") != std::string::npos;
    machine_.registry().loadText(hasHeader ? text : "Windows Registry Editor Version 5.00\n" + text,
                                 "test.reg");
}

ZrvStatus SimBoard::load() { return machine_.load(); }
void SimBoard::unload() { machine_.unload(); }

sim::IoResult SimBoard::ioctl(uint32_t code, const std::vector<uint8_t>& input, uint32_t outputLength,
                              sim::Access access) {
    int handle = 0;
    ZrvStatus status = machine_.open(ZRV_USER_DEVICE_NAME, access, &handle);
    if (status != ZRV_STATUS_SUCCESS) return sim::IoResult{status, 0, {}};
    sim::IoResult r = machine_.ioctl(handle, code, input, outputLength);
    machine_.close(handle);
    return r;
}

std::vector<std::string> SimBoard::trace() const {
    const sim::TraceRead r = machine_.bus().traceFrom(machine_.bus().traceMark());
    std::vector<std::string> out;
    if (r.dropped != 0)  // never equal to a real trace: the comparison fails and says why
        out.push_back(fmt::format("({} earlier accesses dropped: the trace ring holds {})", r.dropped,
                                  machine_.bus().traceCapacity()));
    for (auto& e : r.entries) out.push_back(e.text());
    return out;
}

std::vector<std::string> SimBoard::debugLinesFrom(uint64_t& cursor) const {
    sim::DebugRead r = machine_.debugLinesFrom(cursor);
    cursor = r.next;
    if (r.dropped != 0)
        r.lines.insert(r.lines.begin(), fmt::format("({} earlier debugger lines dropped)", r.dropped));
    return std::move(r.lines);
}

std::vector<std::string> SimBoard::violations() const {
    auto v = machine_.ioViolations();
    for (auto& d : machine_.deviceViolations()) v.push_back(d);
    return v;
}

uint32_t allocationsOfLoad(const std::string& registryText) {
    SimBoard probe;
    probe.reg(registryText);
    const uint32_t before = probe.machine().allocationCount();
    if (probe.load() != ZRV_STATUS_SUCCESS) return 0;
    return probe.machine().allocationCount() - before;
}

std::vector<uint8_t> le16(uint16_t v) { return {static_cast<uint8_t>(v), static_cast<uint8_t>(v >> 8)}; }

std::vector<uint8_t> le32(uint32_t v) {
    return {static_cast<uint8_t>(v), static_cast<uint8_t>(v >> 8), static_cast<uint8_t>(v >> 16),
            static_cast<uint8_t>(v >> 24)};
}

std::vector<uint8_t> timeoutRecord(uint16_t count, uint16_t unit) {
    auto r = le16(count);
    auto u = le16(unit);
    r.insert(r.end(), u.begin(), u.end());
    return r;
}

}  // namespace zrvtest
