// The platform layer on the virtual board: every operation goes to the
// current simulated machine.
#include <atomic>
#include <cstdarg>
#include <cstring>
#include <mutex>
#include <new>

#include "driver/platform/platform.h"
#include "sim/dbgformat.h"
#include "sim/machine.h"
#include "sim/wide.h"

using sim::Machine;

namespace {

Machine& M() { return *Machine::current(); }

struct OpenKey {
    std::string path;
};

std::atomic<int> openKeys{0};

void putLe32(uint8_t* p, uint32_t v) {
    for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}

}  // namespace

namespace sim {
int openRegistryKeys() { return openKeys.load(); }
}  // namespace sim

uint8_t PlatReadPort(uint16_t port) { return M().bus().read(port); }
void PlatWritePort(uint16_t port, uint8_t value) { M().bus().write(port, value); }

void* PlatAllocPaged(uint32_t bytes) { return M().poolAlloc(bytes); }
void PlatFree(void* block) { M().poolFree(block); }

ZrvStatus PlatRegOpenKey(const ZrvWChar* path, uint32_t, PlatKey* key) {
    std::string p = sim::narrow(path);
    if (!M().registry().keyExists(p)) return ZRV_STATUS_OBJECT_NAME_NOT_FOUND;
    *key = new OpenKey{p};
    ++openKeys;
    return ZRV_STATUS_SUCCESS;
}

ZrvStatus PlatRegQueryValueFull(PlatKey key, const ZrvWChar* name, void* buffer, uint32_t length,
                                uint32_t* resultLength) {
    const auto* k = static_cast<OpenKey*>(key);
    const sim::RegValue* v = M().registry().find(k->path, sim::narrow(name));
    if (v == nullptr) return ZRV_STATUS_OBJECT_NAME_NOT_FOUND;
    // Full information: title index, type, data offset, data length, name
    // length, the name, then the data at a 4-byte aligned offset.
    const std::u16string wname = sim::widen(v->name);
    const uint32_t nameBytes = static_cast<uint32_t>(wname.size() * 2);
    const uint32_t dataOffset = (ZRV_KEY_VALUE_FULL_HEADER + nameBytes + 3u) & ~3u;
    const uint32_t total = dataOffset + static_cast<uint32_t>(v->data.size());
    if (resultLength != nullptr) *resultLength = total;
    auto* out = static_cast<uint8_t*>(buffer);
    if (length < ZRV_KEY_VALUE_FULL_HEADER) return ZRV_STATUS_BUFFER_TOO_SMALL;
    putLe32(out + 0, 0);
    putLe32(out + 4, v->type);
    putLe32(out + 8, dataOffset);
    putLe32(out + 12, static_cast<uint32_t>(v->data.size()));
    putLe32(out + 16, nameBytes);
    if (length < total) return ZRV_STATUS_BUFFER_OVERFLOW;
    std::memcpy(out + ZRV_KEY_VALUE_FULL_HEADER, wname.data(), nameBytes);
    if (!v->data.empty()) std::memcpy(out + dataOffset, v->data.data(), v->data.size());
    return ZRV_STATUS_SUCCESS;
}

void PlatRegCloseKey(PlatKey key) {
    delete static_cast<OpenKey*>(key);
    --openKeys;
}

// As in the kernel: one pool block holds the query table and the values as
// read, so that failing it can be tested; the targets are written only when
// the whole query succeeded.
ZrvStatus PlatRegQueryDwords(const ZrvWChar* path, const PlatRegDwordEntry* entries, uint32_t count,
                             bool keyOptional) {
    constexpr uint32_t kQueryTableEntryBytes = 28;  // RTL_QUERY_REGISTRY_TABLE on x86
    auto* values = static_cast<uint32_t*>(PlatAllocPaged((count + 1) * kQueryTableEntryBytes +
                                                         count * static_cast<uint32_t>(sizeof(uint32_t))));
    if (values == nullptr) return ZRV_STATUS_INSUFFICIENT_RESOURCES;
    const std::string p = sim::narrow(path);
    const sim::Registry& reg = M().registry();
    ZrvStatus status = ZRV_STATUS_SUCCESS;
    if (!reg.keyExists(p) && !keyOptional) status = ZRV_STATUS_OBJECT_NAME_NOT_FOUND;
    for (uint32_t i = 0; i < count && ZRV_SUCCESS(status); ++i) {
        const sim::RegValue* v = reg.find(p, sim::narrow(entries[i].Name));
        values[i] = 0;
        if (v != nullptr && v->type == sim::kRegDword && v->data.size() == 4)
            values[i] =
                v->data[0] | v->data[1] << 8 | v->data[2] << 16 | static_cast<uint32_t>(v->data[3]) << 24;
    }
    if (ZRV_SUCCESS(status))
        for (uint32_t i = 0; i < count; ++i) *entries[i].Target = values[i];
    PlatFree(values);
    return status;
}

void PlatWaitOneSecond() { M().waitOneSecond(); }

extern "C" unsigned long DbgPrint(const char* format, ...) {
    if (!M().debugPrints()) return 0;
    va_list args;
    va_start(args, format);
    std::string text = sim::formatTarget(format, args);
    va_end(args);
    M().dbgPrint(text);
    return 0;
}

void PlatLogEvent(PlatDriver*, uint32_t code, const ZrvWChar* const* strings, uint32_t count) {
    std::vector<std::string> texts;
    for (uint32_t i = 0; i < count && i < ZRV_EVENT_STRINGS; ++i) {
        std::u16string text(strings[i]);
        if (text.size() >= ZRV_EVENT_STRING_UNITS) M().violation("an event's insertion string is too long");
        texts.push_back(sim::narrow(text.substr(0, ZRV_EVENT_STRING_UNITS - 1).c_str()));
    }
    if (count > ZRV_EVENT_STRINGS) M().violation("an event has more insertion strings than an entry holds");
    M().logEvent(code, std::move(texts));
}

void PlatPublishLoadReport(const uint8_t* bytes, uint32_t count) { M().publishLoadReport(bytes, count); }

void PlatSetDriverRoutines(PlatDriver* driver, ZrvDispatchRoutine dispatch, ZrvUnloadRoutine unload) {
    driver->dispatch = dispatch;
    driver->unload = unload;
}

ZrvStatus PlatCreateDevice(PlatDriver*, const ZrvWChar* name, uint32_t deviceType, uint32_t extensionSize,
                           uint32_t characteristics, bool exclusive, PlatDevice** device) {
    return M().createDevice(sim::narrow(name), deviceType, extensionSize, characteristics, exclusive, device);
}

void* PlatDeviceExtension(PlatDevice* device) { return device->extension.data(); }
void PlatDeleteDevice(PlatDevice* device) { M().deleteDevice(device); }
ZrvStatus PlatCreateLink(const ZrvWChar* link, const ZrvWChar* target) {
    return M().createLink(sim::narrow(link), sim::narrow(target));
}
ZrvStatus PlatDeleteLink(const ZrvWChar* link) { return M().deleteLink(sim::narrow(link)); }
void PlatCompleteRequest(ZrvRequest* request) { M().completeRequest(request); }

static_assert(sizeof(std::mutex) <= sizeof(PlatLock::Opaque), "a lock fits its storage");

void PlatLockInit(PlatLock* lock) { new (lock->Opaque) std::mutex(); }
// Counted on the current machine, when there is one.
void PlatLockAcquire(PlatLock* lock) {
    std::launder(reinterpret_cast<std::mutex*>(lock->Opaque))->lock();
    if (Machine* m = Machine::current()) m->noteLock(true);
}
void PlatLockRelease(PlatLock* lock) {
    if (Machine* m = Machine::current()) m->noteLock(false);
    std::launder(reinterpret_cast<std::mutex*>(lock->Opaque))->unlock();
}
