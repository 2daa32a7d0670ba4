#include "tests/support/replay.h"

namespace sim {

ReplayResult replayTrace(Machine& machine, const std::vector<TraceEntry>& trace, TraceSpan skip) {
    ReplayResult result;
    PortBus& bus = machine.bus();
    for (size_t i = 0; i < trace.size(); ++i) {
        if (i - skip.first < skip.count) continue;
        const TraceEntry& e = trace[i];
        switch (e.kind) {
            case TraceEntry::Out: bus.write(e.port, e.value); break;
            case TraceEntry::Wait:
                bus.noteWait(e.waitMs);
                machine.advance(e.waitMs);
                break;
            case TraceEntry::In:
                ++result.reads;
                if (bus.read(e.port) != e.value) result.changedReads.push_back(i);
                break;
        }
    }
    return result;
}

std::optional<TraceSpan> findRegisterWrite(const std::vector<TraceEntry>& trace, uint16_t indexPort,
                                           uint16_t dataPort, uint8_t reg, int occurrence) {
    auto isOut = [&](size_t i, uint16_t port) {
        return trace[i].kind == TraceEntry::Out && trace[i].port == port;
    };
    int seen = 0;
    for (size_t i = 0; i < trace.size(); ++i) {
        const bool direct = indexPort == 0 && isOut(i, static_cast<uint16_t>(dataPort + reg));
        const bool paired = indexPort != 0 && i > 0 && isOut(i, dataPort) && isOut(i - 1, indexPort) &&
                            trace[i - 1].value == reg;
        if ((direct || paired) && ++seen == occurrence) return paired ? TraceSpan{i - 1, 2} : TraceSpan{i, 1};
    }
    return std::nullopt;
}

}  // namespace sim
