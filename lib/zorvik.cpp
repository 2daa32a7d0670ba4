// The C interface: requests encoded and answers decoded once, statuses
// mapped to error codes, the read-modify-write sequences under the device's
// lock. Nothing here knows where the driver runs (lib/transport.h).
#include <algorithm>
#include <atomic>
#include <cstring>
#include <map>
#include <new>
#include <string>
#include <vector>

#include "lib/lock.h"
#include "lib/profile.h"
#include "lib/transport.h"

namespace {
// Threads are told apart by a number no other thread of the process gets,
// taken at their first request, so that a thread that ended is never taken
// for one that came after it.
std::atomic<uint64_t> gNextThread{1};
thread_local uint64_t tThread = 0;

uint64_t thisThread() {
    if (tThread == 0) tThread = gNextThread.fetch_add(1, std::memory_order_relaxed);
    return tThread;
}

// What a thread's last request on a device got, status and byte count
// together.
struct LastRequest {
    int32_t status = ZRV_STATUS_SUCCESS;
    size_t returned = 0;
};
}  // namespace

struct zrv_device {
    explicit zrv_device(bool readOnlyHandle = false) : readOnly(readOnlyHandle) {}
    // Opened for reading only: the requests that change the hardware are
    // refused here, before anything is sent.
    const bool readOnly;
    std::unique_ptr<zorvik::Transport> transport;
    // One request at a time per device: a caller's own transport need not
    // be safe for threads (the driver keeps the sequences that reach one
    // piece of hardware apart by itself), and zrv_board_unload waits for
    // the request in flight. `update` holds the output word between the
    // read and the write of a single-line change.
    zorvik::Lock io;
    zorvik::Lock update;
    // The direction mask the caller knows the lines are split by (set
    // bits are inputs), or -1: the driver does not report it.
    std::atomic<int> direction{-1};
    // Each thread's last request on this device, by thread number: one
    // entry per thread that sent on it, gone with the device.
    mutable zorvik::Lock lastLock;
    std::map<uint64_t, LastRequest> last;
};

namespace {

void noteLast(zrv_device* dev, int32_t status, size_t returned) {
    const uint64_t thread = thisThread();
    zorvik::Hold hold(dev->lastLock);
    try {
        dev->last[thread] = LastRequest{status, returned};
    } catch (const std::bad_alloc&) {
        // The thread's first entry found no memory: it reads as none.
    }
}

// A thread that has sent nothing on the device reads as a success with no
// bytes.
LastRequest lastOf(const zrv_device* dev) {
    if (dev == nullptr || tThread == 0) return {};
    zorvik::Hold hold(dev->lastLock);
    const auto l = dev->last.find(tThread);
    return l != dev->last.end() ? l->second : LastRequest{};
}

// The requests that change the hardware, whatever access field their code
// carries (the driver takes the outputs and the fans on any handle): a
// device opened for reading only never sends them.
constexpr uint32_t kWritingRequests[] = {
    IOCTL_HWM_FAN_CONTROL,   IOCTL_DIO_SET_OUTPUT, IOCTL_WDT_SET_TIMEOUT,     IOCTL_WDT_START,
    IOCTL_WDT_STOP,          IOCTL_WDT_RESET,      IOCTL_DIO_CD_PULSE_OUTPUT, IOCTL_DIO_SET_SPECIFIC_MASK,
    IOCTL_DIO_CD_SET_OUTPUT,
};

bool writes(uint32_t code) {
    return std::find(std::begin(kWritingRequests), std::end(kWritingRequests), code) !=
           std::end(kWritingRequests);
}

// A caller's own transport behind the C function pointers.
class CallbackTransport : public zorvik::Transport {
public:
    CallbackTransport(zrv_request_fn send, zrv_release_fn release, void* context)
        : request_(send), release_(release), context_(context) {}
    ~CallbackTransport() override {
        if (release_ != nullptr) release_(context_);
    }
    CallbackTransport(const CallbackTransport&) = delete;
    CallbackTransport& operator=(const CallbackTransport&) = delete;
    int32_t request(uint32_t code, const void* in, size_t inLen, void* out, size_t outLen,
                    size_t* returned) override {
        return request_(context_, code, in, inLen, out, outLen, returned);
    }

private:
    zrv_request_fn request_;
    zrv_release_fn release_;
    void* context_;
};

struct StatusError {
    int32_t status;
    int err;
};
// Driver and I/O-manager statuses; anything else the driver or the
// platform answers is a failed request.
const StatusError kStatusErrors[] = {
    {ZRV_STATUS_INVALID_PARAMETER, ZRV_EINVAL}, {ZRV_STATUS_NOT_SUPPORTED, ZRV_ENOTSUP},
    {ZRV_STATUS_NOT_IMPLEMENTED, ZRV_ENOTSUP},  {ZRV_STATUS_UNSUCCESSFUL, ZRV_EIO},
    {ZRV_STATUS_ACCESS_DENIED, ZRV_EACCES},     {ZRV_STATUS_INSUFFICIENT_RESOURCES, ZRV_ENOMEM},
};

int errorOf(int32_t status) {
    if (status == ZRV_STATUS_SUCCESS) return ZRV_OK;
    for (const StatusError& s : kStatusErrors)
        if (s.status == status) return s.err;
    return ZRV_EIO;
}

// One request; a success with fewer bytes than the record is a broken
// rule, as is any platform or protocol rule the virtual board saw this
// request break. A request that would change the hardware through a
// device opened for reading only is refused as the I/O manager refuses one
// whose code asks for write access.
int send(zrv_device* dev, uint32_t code, const void* in, size_t inLen, void* out, size_t outLen,
         size_t need = 0, size_t* returned = nullptr) {
    if (dev == nullptr) return ZRV_EINVAL;
    if (returned != nullptr) *returned = 0;
    if (dev->readOnly && writes(code)) {
        noteLast(dev, ZRV_STATUS_ACCESS_DENIED, 0);
        return ZRV_EACCES;
    }
    zorvik::Hold hold(dev->io);
    const uint64_t before = dev->transport->brokenRules();
    size_t bytes = 0;
    int32_t status = ZRV_STATUS_UNSUCCESSFUL;
    try {
        status = dev->transport->request(code, in, inLen, out, outLen, &bytes);
    } catch (const std::bad_alloc&) {
        return ZRV_ENOMEM;
    } catch (...) {
        return ZRV_EIO;
    }
    bytes = std::min(bytes, outLen);
    noteLast(dev, status, bytes);
    if (returned != nullptr) *returned = bytes;
    if (dev->transport->brokenRules() != before) return ZRV_EPROTO;
    const int err = errorOf(status);
    if (err == ZRV_OK && bytes < need) return ZRV_EPROTO;
    return err;
}

uint16_t le16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | p[1] << 8); }
uint32_t le32(const uint8_t* p) { return p[0] | p[1] << 8 | p[2] << 16 | static_cast<uint32_t>(p[3]) << 24; }

int readWord(zrv_device* dev, uint32_t code, uint16_t* word) {
    uint8_t b[2] = {0, 0};
    const int err = send(dev, code, nullptr, 0, b, sizeof b, sizeof b);
    if (err == ZRV_OK && word != nullptr) *word = le16(b);
    return err;
}

int writeWord(zrv_device* dev, uint16_t word) {
    const uint8_t b[2] = {static_cast<uint8_t>(word), static_cast<uint8_t>(word >> 8)};
    return send(dev, IOCTL_DIO_SET_OUTPUT, b, sizeof b, nullptr, 0);
}

int oneByte(zrv_device* dev, uint32_t code, uint8_t byte) { return send(dev, code, &byte, 1, nullptr, 0); }

int fanRequest(zrv_device* dev, const FanCtrl& c) {
    uint8_t b[8];
    std::memcpy(b, &c, sizeof b);  // eight single bytes: no byte order
    uint8_t back[8];
    return send(dev, IOCTL_HWM_FAN_CONTROL, b, sizeof b, back, sizeof back);
}

const zorvik::Profile& profileOf(const zrv_profile* p) {
    return p != nullptr ? p->p : zorvik::Profile::raw();
}

}  // namespace

extern "C" {

unsigned ZRV_API zrv_version(void) { return ZRV_VERSION; }

const char* ZRV_API zrv_strerror(int err) {
    static const char* const kTexts[] = {
        "success",
        "no driver or board",
        "permission denied",
        "invalid argument",
        "not supported by the board",
        "the driver or the hardware failed the request",
        "value out of range",
        "out of memory",
        "the driver or the hardware broke a rule",
        "another virtual board is open in this process",
    };
    // Compared before it is negated: -INT_MIN does not exist.
    if (err > 0 || err <= -static_cast<int>(std::size(kTexts))) return "unknown error";
    return kTexts[-err];
}

int ZRV_API zrv_open(const char* target, zrv_device** dev) { return zrv_open_ex(target, 0, dev); }

int ZRV_API zrv_open_ex(const char* target, unsigned flags, zrv_device** dev) {
    if (dev == nullptr) return ZRV_EINVAL;
    *dev = nullptr;
    if ((flags & ~ZRV_OPEN_READ_ONLY) != 0) return ZRV_EINVAL;
    try {
        std::unique_ptr<zorvik::Transport> t;
        const int err = zorvik::openTarget(target, flags, t);
        if (err != ZRV_OK) return err;
        auto d = std::make_unique<zrv_device>((flags & ZRV_OPEN_READ_ONLY) != 0);
        d->transport = std::move(t);
        *dev = d.release();
        return ZRV_OK;
    } catch (const std::bad_alloc&) {
        return ZRV_ENOMEM;
    }
}

int ZRV_API zrv_open_transport(zrv_request_fn request, zrv_release_fn release, void* context,
                               zrv_device** dev) {
    if (dev == nullptr) return ZRV_EINVAL;
    *dev = nullptr;
    if (request == nullptr) return ZRV_EINVAL;
    try {
        auto d = std::make_unique<zrv_device>();
        d->transport = std::make_unique<CallbackTransport>(request, release, context);
        *dev = d.release();
        return ZRV_OK;
    } catch (const std::bad_alloc&) {
        return ZRV_ENOMEM;  // no exception crosses the interface
    }
}

void ZRV_API zrv_close(zrv_device* dev) { delete dev; }

int32_t ZRV_API zrv_last_status(const zrv_device* dev) { return lastOf(dev).status; }

size_t ZRV_API zrv_last_returned(const zrv_device* dev) { return lastOf(dev).returned; }

int ZRV_API zrv_ioctl(zrv_device* dev, uint32_t code, const void* in, size_t in_len, void* out,
                      size_t out_len, size_t* returned) {
    if ((in == nullptr && in_len != 0) || (out == nullptr && out_len != 0)) return ZRV_EINVAL;
    return send(dev, code, in, in_len, out, out_len, 0, returned);
}

// ---- Watchdog ---------------------------------------------------------------

int ZRV_API zrv_wdt_limits(zrv_device* dev, unsigned* max_count, unsigned* unit_bits) {
    uint8_t b[4] = {0, 0, 0, 0};
    const int err = send(dev, IOCTL_WDT_GET_TIMEOUT, nullptr, 0, b, sizeof b, sizeof b);
    if (err != ZRV_OK) return err;
    if (max_count != nullptr) *max_count = le16(b);
    if (unit_bits != nullptr) *unit_bits = le16(b + 2);
    return ZRV_OK;
}

int ZRV_API zrv_wdt_range(zrv_device* dev, unsigned* max_seconds) {
    unsigned count = 0, units = 0;
    const int err = zrv_wdt_limits(dev, &count, &units);
    if (err != ZRV_OK) return err;
    if (max_seconds != nullptr)
        *max_seconds = (units & ZRV_WDT_UNIT_MINUTES) != 0   ? count * 60u
                       : (units & ZRV_WDT_UNIT_SECONDS) != 0 ? count
                                                             : 0u;
    return ZRV_OK;
}

// Seconds while the count holds them, for the finer step; else whole
// minutes, rounded up so that the board is never reset earlier than asked.
// The count is never 0 (a chip loaded with 0 resets the board at once) and
// never beyond the record's 16 bits, whatever limits the caller passes.
int ZRV_API zrv_wdt_choose(unsigned max_count, unsigned unit_bits, unsigned seconds, WdtTimeout* timeout) {
    if (seconds == 0) return ZRV_ERANGE;
    max_count = std::min(max_count, 0xFFFFu);
    const unsigned minutes =
        seconds / 60u + (seconds % 60u != 0 ? 1u : 0u);  // (seconds + 59) / 60 would wrap
    WdtTimeout t{};
    if ((unit_bits & ZRV_WDT_UNIT_SECONDS) != 0 && seconds <= max_count) {
        t.Count = static_cast<uint16_t>(seconds);
        t.Unit = ZRV_WDT_UNIT_SECONDS;
    } else if ((unit_bits & ZRV_WDT_UNIT_MINUTES) != 0 && minutes <= max_count) {
        t.Count = static_cast<uint16_t>(minutes);
        t.Unit = ZRV_WDT_UNIT_MINUTES;
    } else {
        return ZRV_ERANGE;
    }
    if (timeout != nullptr) *timeout = t;
    return ZRV_OK;
}

int ZRV_API zrv_wdt_set(zrv_device* dev, unsigned count, unsigned unit) {
    if (unit != ZRV_WDT_UNIT_SECONDS && unit != ZRV_WDT_UNIT_MINUTES) return ZRV_EINVAL;
    if (count == 0 || count > 0xFFFFu) return ZRV_ERANGE;
    const uint8_t b[4] = {static_cast<uint8_t>(count), static_cast<uint8_t>(count >> 8),
                          static_cast<uint8_t>(unit), 0};
    return send(dev, IOCTL_WDT_SET_TIMEOUT, b, sizeof b, nullptr, 0);
}

int ZRV_API zrv_wdt_set_timeout(zrv_device* dev, unsigned seconds) {
    if (seconds == 0) return ZRV_ERANGE;
    unsigned count = 0, units = 0;
    int err = zrv_wdt_limits(dev, &count, &units);
    if (err != ZRV_OK) return err;
    WdtTimeout t{};
    err = zrv_wdt_choose(count, units, seconds, &t);
    return err != ZRV_OK ? err : zrv_wdt_set(dev, t.Count, t.Unit);
}

int ZRV_API zrv_wdt_start(zrv_device* dev) { return send(dev, IOCTL_WDT_START, nullptr, 0, nullptr, 0); }
int ZRV_API zrv_wdt_kick(zrv_device* dev) { return send(dev, IOCTL_WDT_RESET, nullptr, 0, nullptr, 0); }
int ZRV_API zrv_wdt_stop(zrv_device* dev) { return send(dev, IOCTL_WDT_STOP, nullptr, 0, nullptr, 0); }

// ---- Hardware monitor -----------------------------------------------------

int ZRV_API zrv_hwm_read(zrv_device* dev, HwmData* raw) {
    uint8_t b[sizeof(HwmData)] = {};
    const int err = send(dev, IOCTL_HWM_GET_DATA, nullptr, 0, b, sizeof b, sizeof b);
    if (err != ZRV_OK || raw == nullptr) return err;
    HwmData d{};
    d.Fan1 = le32(b + 0);
    d.Fan2 = le32(b + 4);
    d.Fan3 = le32(b + 8);
    d.Fan4 = le32(b + 12);
    d.Fan5 = le32(b + 16);
    std::memcpy(d.Volt, b + 20, sizeof d.Volt);
    d.Temp1 = b[30];
    d.Temp2 = b[31];
    d.Temp3 = b[32];
    std::memcpy(d.Reserved, b + 33, sizeof d.Reserved);
    *raw = d;
    return ZRV_OK;
}

int ZRV_API zrv_profile_load(const char* file, zrv_profile** profile, char* why, size_t why_len) {
    if (why != nullptr && why_len > 0) why[0] = '\0';
    if (file == nullptr || profile == nullptr) return ZRV_EINVAL;
    *profile = nullptr;
    try {
        *profile = new zrv_profile{zorvik::Profile::load(file)};
        return ZRV_OK;
    } catch (const zorvik::ProfileError& e) {
        if (why != nullptr && why_len > 0) {
            const size_t n = std::min(why_len - 1, e.message.size());
            std::memcpy(why, e.message.data(), n);
            why[n] = '\0';
        }
        return ZRV_EINVAL;
    } catch (const std::bad_alloc&) {
        return ZRV_ENOMEM;
    }
}

void ZRV_API zrv_profile_free(zrv_profile* profile) { delete profile; }

const char* ZRV_API zrv_profile_chip(const zrv_profile* profile) { return profileOf(profile).chip.c_str(); }
const char* ZRV_API zrv_profile_adapter(const zrv_profile* profile) {
    return profileOf(profile).adapter.c_str();
}

unsigned ZRV_API zrv_profile_line_count(const zrv_profile* profile, int outputs) {
    const zorvik::Profile& p = profileOf(profile);
    return static_cast<unsigned>((outputs != 0 ? p.outputs : p.inputs).size());
}

const char* ZRV_API zrv_profile_line_name(const zrv_profile* profile, int outputs, unsigned line) {
    const zorvik::Profile& p = profileOf(profile);
    const std::vector<std::string>& names = outputs != 0 ? p.outputs : p.inputs;
    return line < names.size() ? names[line].c_str() : nullptr;
}

unsigned ZRV_API zrv_profile_pin_count(const zrv_profile* profile) {
    return static_cast<unsigned>(profileOf(profile).pins.size());
}

const char* ZRV_API zrv_profile_pin_name(const zrv_profile* profile, unsigned pin) {
    const zorvik::Profile& p = profileOf(profile);
    return pin < p.pins.size() && !p.pins[pin].empty() ? p.pins[pin].c_str() : nullptr;
}

int ZRV_API zrv_profile_direction(const zrv_profile* profile, unsigned* mask) {
    const zorvik::Profile& p = profileOf(profile);
    if (!p.direction) return ZRV_EINVAL;
    if (mask != nullptr) *mask = *p.direction;
    return ZRV_OK;
}

int ZRV_API zrv_dio_pin_line(unsigned mask, unsigned pin, int* outputs, unsigned* line) {
    if (mask > 0xFF || pin >= zorvik::kPinBits) return ZRV_EINVAL;
    const bool input = (mask >> pin & 1u) != 0;
    const unsigned side = input ? mask : ~mask & 0xFFu;
    unsigned low = 0;
    while ((side >> low & 1u) == 0) ++low;  // the pin's own bit is in `side`
    if (outputs != nullptr) *outputs = input ? 0 : 1;
    if (line != nullptr) *line = pin - low;
    return ZRV_OK;
}

int ZRV_API zrv_profile_find_line(const zrv_profile* profile, int outputs, const char* text, unsigned* line) {
    if (text == nullptr) return ZRV_EINVAL;
    const zorvik::Profile& p = profileOf(profile);
    const std::vector<std::string>& names = outputs != 0 ? p.outputs : p.inputs;
    for (size_t i = 0; i < names.size(); ++i) {
        if (names[i] != text) continue;
        if (line != nullptr) *line = static_cast<unsigned>(i);
        return ZRV_OK;
    }
    // Names never start with a digit; a number has one or two digits.
    const size_t n = std::strlen(text);
    if (n == 0 || n > 2 || !std::all_of(text, text + n, [](unsigned char c) { return c >= '0' && c <= '9'; }))
        return ZRV_EINVAL;
    if (line != nullptr) *line = static_cast<unsigned>(std::atoi(text));
    return ZRV_OK;
}

int ZRV_API zrv_sensors_profile(zrv_device* dev, const zrv_profile* profile, zrv_sensor* out, size_t cap,
                                size_t* count) {
    if (out == nullptr && cap != 0) return ZRV_EINVAL;
    HwmData d;
    const int err = zrv_hwm_read(dev, &d);
    if (err != ZRV_OK) return err;
    return zrv_sensors_of(profile, &d, out, cap, count);
}

int ZRV_API zrv_sensors_of(const zrv_profile* profile, const HwmData* raw, zrv_sensor* out, size_t cap,
                           size_t* count) {
    if (raw == nullptr || (out == nullptr && cap != 0)) return ZRV_EINVAL;
    try {
        const std::vector<zrv_sensor> all = zorvik::sensorsOf(profileOf(profile), *raw);
        if (count != nullptr) *count = all.size();
        std::copy_n(all.begin(), std::min(cap, all.size()), out);
        return all.size() > cap ? ZRV_ERANGE : ZRV_OK;
    } catch (const std::bad_alloc&) {
        return ZRV_ENOMEM;
    }
}

int ZRV_API zrv_sensors(zrv_device* dev, const char* profile, zrv_sensor* out, size_t cap, size_t* count) {
    zrv_profile* p = nullptr;
    if (profile != nullptr) {
        const int err = zrv_profile_load(profile, &p, nullptr, 0);
        if (err != ZRV_OK) return err;
    }
    const int err = zrv_sensors_profile(dev, p, out, cap, count);
    zrv_profile_free(p);
    return err;
}

int ZRV_API zrv_fan_set(zrv_device* dev, unsigned fan, unsigned mode, unsigned data) {
    if (fan > 4 || (mode != ZRV_FAN_MODE_ONOFF && mode != ZRV_FAN_MODE_DUTY) || data > 127) return ZRV_EINVAL;
    FanCtrl c{};
    c.Fan = static_cast<uint8_t>(fan);
    c.Mode = static_cast<uint8_t>(mode);
    c.Data = static_cast<uint8_t>(data);
    return fanRequest(dev, c);
}

int ZRV_API zrv_fan_auto(zrv_device* dev, unsigned fan, unsigned limit1, unsigned limit2, unsigned start_duty,
                         unsigned slope) {
    if (fan > 4 || limit1 > 255 || limit2 > 255 || start_duty > 127 || slope > 7) return ZRV_EINVAL;
    FanCtrl c{};
    c.Fan = static_cast<uint8_t>(fan);
    c.Mode = ZRV_FAN_MODE_AUTO;
    c.Limit1 = static_cast<uint8_t>(limit1);
    c.Limit2 = static_cast<uint8_t>(limit2);
    c.StartDuty = static_cast<uint8_t>(start_duty);
    c.Slope = static_cast<uint8_t>(slope);
    return fanRequest(dev, c);
}

// ---- Digital I/O ------------------------------------------------------------

int ZRV_API zrv_dio_lines(zrv_device* dev, unsigned* inputs, unsigned* outputs) {
    uint8_t b[2] = {0, 0};
    const int err = send(dev, IOCTL_DIO_GET_CONFIG, nullptr, 0, b, sizeof b, sizeof b);
    if (err != ZRV_OK) return err;
    if (inputs != nullptr) *inputs = b[0];
    if (outputs != nullptr) *outputs = b[1];
    return ZRV_OK;
}

int ZRV_API zrv_dio_read(zrv_device* dev, uint16_t* inputs) {
    return readWord(dev, IOCTL_DIO_GET_INPUT, inputs);
}
int ZRV_API zrv_dio_read_outputs(zrv_device* dev, uint16_t* outputs) {
    return readWord(dev, IOCTL_DIO_GET_OUTPUT, outputs);
}

namespace {
// The driver completes an output write without saying whether the lines
// changed (an output port the registry gives no bits, a line that is an
// input now): the word is read back, and a bit of `checked` that did not
// take its level fails the write. The caller holds dev->update.
int writeOutputs(zrv_device* dev, uint16_t word, uint16_t checked, uint16_t* readBack = nullptr) {
    int err = writeWord(dev, word);
    if (err != ZRV_OK) return err;
    uint16_t back = 0;
    err = readWord(dev, IOCTL_DIO_GET_OUTPUT, &back);
    if (err != ZRV_OK) return err;
    if (readBack != nullptr) *readBack = back;
    return ((back ^ word) & checked) != 0 ? ZRV_EIO : ZRV_OK;
}
}  // namespace

int ZRV_API zrv_dio_write_back(zrv_device* dev, uint16_t outputs, uint16_t* read_back) {
    if (dev == nullptr) return ZRV_EINVAL;
    zorvik::Hold hold(dev->update);
    return writeOutputs(dev, outputs, 0xFFFF, read_back);
}

int ZRV_API zrv_dio_write(zrv_device* dev, uint16_t outputs) {
    return zrv_dio_write_back(dev, outputs, nullptr);
}

int ZRV_API zrv_dio_assume_direction(zrv_device* dev, unsigned mask) {
    if (dev == nullptr || mask > 0xFFu) return ZRV_EINVAL;
    dev->direction.store(static_cast<int>(mask), std::memory_order_relaxed);
    return ZRV_OK;
}

int ZRV_API zrv_dio_line_bits(zrv_device* dev, int outputs, uint16_t* bits) {
    if (dev == nullptr) return ZRV_EINVAL;
    const int mask = dev->direction.load(std::memory_order_relaxed);
    uint16_t lines = 0;
    if (mask >= 0) {
        // Each side keeps its gaps: only its lowest pin moves to bit 0.
        for (unsigned pin = 0; pin < zorvik::kPinBits; ++pin) {
            int out = 0;
            unsigned line = 0;
            if (zrv_dio_pin_line(static_cast<unsigned>(mask), pin, &out, &line) == ZRV_OK &&
                (out != 0) == (outputs != 0))
                lines = static_cast<uint16_t>(lines | 1u << line);
        }
    } else {
        unsigned in = 0, out = 0;
        const int err = zrv_dio_lines(dev, &in, &out);
        if (err != ZRV_OK) return err;
        const unsigned count = std::min(outputs != 0 ? out : in, 16u);
        lines = static_cast<uint16_t>((1ul << count) - 1);
    }
    if (bits != nullptr) *bits = lines;
    return ZRV_OK;
}

int ZRV_API zrv_dio_set_line(zrv_device* dev, unsigned line, int level) {
    if (dev == nullptr || line >= 16) return ZRV_EINVAL;
    uint16_t lines = 0;
    int err = zrv_dio_line_bits(dev, 1, &lines);
    if (err != ZRV_OK) return err;
    if ((lines >> line & 1u) == 0) return ZRV_EINVAL;
    zorvik::Hold hold(dev->update);
    uint16_t word = 0;
    err = readWord(dev, IOCTL_DIO_GET_OUTPUT, &word);
    if (err != ZRV_OK) return err;
    const uint16_t bit = static_cast<uint16_t>(1u << line);
    return writeOutputs(dev, static_cast<uint16_t>(level != 0 ? word | bit : word & ~bit), bit);
}

int ZRV_API zrv_dio_set_direction(zrv_device* dev, unsigned mask) {
    if (dev == nullptr || mask > 0xFFu) return ZRV_EINVAL;
    const int err = oneByte(dev, IOCTL_DIO_SET_SPECIFIC_MASK, static_cast<uint8_t>(mask));
    // A refused write may have reached the register or not.
    dev->direction.store(err == ZRV_OK ? static_cast<int>(mask) : -1, std::memory_order_relaxed);
    return err;
}

int ZRV_API zrv_cd_inputs(zrv_device* dev, uint8_t* inputs) {
    uint8_t b = 0;
    const int err = send(dev, IOCTL_DIO_CD_GET_INPUTS, nullptr, 0, &b, 1, 1);
    if (err == ZRV_OK && inputs != nullptr) *inputs = b;
    return err;
}

int ZRV_API zrv_cd_outputs(zrv_device* dev, unsigned* count) {
    uint8_t b = 0;
    const int err = send(dev, IOCTL_DIO_CD_GET_OUTPUT_COUNT, nullptr, 0, &b, 1, 1);
    if (err == ZRV_OK && count != nullptr) *count = b;
    return err;
}

int ZRV_API zrv_cd_pulse(zrv_device* dev, unsigned output) {
    if (output == 0 || output > 0xFFu) return ZRV_EINVAL;
    return oneByte(dev, IOCTL_DIO_CD_PULSE_OUTPUT, static_cast<uint8_t>(output));
}

// The request byte carries the output number in its high nibble and the
// level in bit 0.
int ZRV_API zrv_cd_set(zrv_device* dev, unsigned output, int level) {
    if (output == 0 || output > 15) return ZRV_EINVAL;
    return oneByte(dev, IOCTL_DIO_CD_SET_OUTPUT, static_cast<uint8_t>(output << 4 | (level != 0 ? 1u : 0u)));
}

int ZRV_API zrv_load_reason(zrv_device* dev, unsigned function, unsigned* reason) {
    if (dev == nullptr || function >= ZRV_FUNCTIONS) return ZRV_EINVAL;
    return dev->transport->loadReason(function, reason);
}

const char* ZRV_API zrv_reason_text(unsigned reason) {
#define ZRV_REASON_TEXT(code, name, words) words,
    static const char* const kWords[] = {ZRV_REASON_ROWS(ZRV_REASON_TEXT)};
#undef ZRV_REASON_TEXT
    return reason < std::size(kWords) ? kWords[reason] : "unknown reason";
}

// ---- The virtual board ------------------------------------------------------

}  // extern "C"

namespace {

// Calls `f` with the device's transport; no exception crosses the interface.
template <typename F>
int onBoard(zrv_device* dev, F&& f) {
    if (dev == nullptr) return ZRV_EINVAL;
    try {
        return f(*dev->transport);
    } catch (const std::bad_alloc&) {
        return ZRV_ENOMEM;
    } catch (...) {
        return ZRV_EIO;
    }
}

// A text into the caller's buffer, cut where it does not fit (`text` may be
// NULL with len 0).
int copyText(const std::string& from, char* text, size_t len) {
    if (text == nullptr && len != 0) return ZRV_EINVAL;
    if (len > 0) {
        const size_t n = std::min(len - 1, from.size());
        std::memcpy(text, from.data(), n);
        text[n] = '\0';
    }
    return from.size() < len ? ZRV_OK : ZRV_ERANGE;
}

}  // namespace

extern "C" {

int ZRV_API zrv_board_advance(zrv_device* dev, unsigned ms) {
    return onBoard(dev, [&](zorvik::Transport& t) { return t.advance(ms); });
}

int ZRV_API zrv_board_resets(zrv_device* dev, unsigned* resets) {
    return onBoard(dev, [&](zorvik::Transport& t) {
        std::vector<uint64_t> at;
        const int err = t.resets(at);
        if (err == ZRV_OK && resets != nullptr) *resets = static_cast<unsigned>(at.size());
        return err;
    });
}

int ZRV_API zrv_board_files(const char* trace_file, const char* dbg_file) {
    try {
        return zorvik::boardFiles(trace_file, dbg_file);
    } catch (const std::bad_alloc&) {
        return ZRV_ENOMEM;
    }
}

int ZRV_API zrv_board_open(const char* board_file, zrv_device** dev, int32_t* load_status, char* why,
                           size_t why_len) {
    if (why != nullptr && why_len > 0) why[0] = '\0';
    if (load_status != nullptr) *load_status = ZRV_STATUS_SUCCESS;
    if (dev == nullptr || board_file == nullptr) return ZRV_EINVAL;
    *dev = nullptr;
    try {
        std::unique_ptr<zorvik::Transport> t;
        std::string problem;
        const int err = zorvik::openBoard(board_file, t, load_status, problem);
        if (err != ZRV_OK) {
            if (why != nullptr) copyText(problem, why, why_len);
            return err;
        }
        auto d = std::make_unique<zrv_device>();
        d->transport = std::move(t);
        *dev = d.release();
        return ZRV_OK;
    } catch (const std::bad_alloc&) {
        return ZRV_ENOMEM;
    }
}

int ZRV_API zrv_board_now(zrv_device* dev, uint64_t* ms) {
    return onBoard(dev, [&](zorvik::Transport& t) { return t.now(ms); });
}

int ZRV_API zrv_board_advance_ms(zrv_device* dev, uint64_t ms) {
    return onBoard(dev, [&](zorvik::Transport& t) { return t.advance(ms); });
}

int ZRV_API zrv_board_reset_times(zrv_device* dev, uint64_t* at, size_t cap, size_t* count) {
    if (at == nullptr && cap != 0) return ZRV_EINVAL;
    return onBoard(dev, [&](zorvik::Transport& t) {
        std::vector<uint64_t> all;
        const int err = t.resets(all);
        if (err != ZRV_OK) return err;
        if (count != nullptr) *count = all.size();
        std::copy_n(all.begin(), std::min(cap, all.size()), at);
        return all.size() > cap ? ZRV_ERANGE : ZRV_OK;
    });
}

int ZRV_API zrv_board_set_pin(zrv_device* dev, const char* line, int level) {
    if (line == nullptr) return ZRV_EINVAL;
    return onBoard(dev, [&](zorvik::Transport& t) { return t.setPin(line, level != 0); });
}

int ZRV_API zrv_board_pin(zrv_device* dev, const char* line, int* level) {
    if (line == nullptr) return ZRV_EINVAL;
    return onBoard(dev, [&](zorvik::Transport& t) {
        bool high = false;
        const int err = t.pin(line, &high);
        if (err == ZRV_OK && level != nullptr) *level = high ? 1 : 0;
        return err;
    });
}

int ZRV_API zrv_board_registry_file(zrv_device* dev, char* path, size_t len) {
    return onBoard(dev, [&](zorvik::Transport& t) {
        std::string file;
        const int err = t.registryFile(file);
        return err != ZRV_OK ? err : copyText(file, path, len);
    });
}

int ZRV_API zrv_board_reg_count(zrv_device* dev, const char* subkey, unsigned* count) {
    if (subkey == nullptr) return ZRV_EINVAL;
    return onBoard(dev, [&](zorvik::Transport& t) {
        std::vector<zorvik::RegValue> values;
        const int err = t.registryValues(subkey, values);
        if (err == ZRV_OK && count != nullptr) *count = static_cast<unsigned>(values.size());
        return err;
    });
}

int ZRV_API zrv_board_reg_value(zrv_device* dev, const char* subkey, unsigned index, char* name,
                                size_t name_len, uint32_t* type, void* data, size_t data_cap,
                                size_t* data_len) {
    if (subkey == nullptr || (data == nullptr && data_cap != 0) || (name == nullptr && name_len != 0))
        return ZRV_EINVAL;
    return onBoard(dev, [&](zorvik::Transport& t) {
        std::vector<zorvik::RegValue> values;
        const int err = t.registryValues(subkey, values);
        if (err != ZRV_OK) return err;
        if (index >= values.size()) return ZRV_EINVAL;
        const zorvik::RegValue& v = values[index];
        const int named = name != nullptr ? copyText(v.name, name, name_len) : ZRV_OK;  // none asked
        if (type != nullptr) *type = v.type;
        if (data_len != nullptr) *data_len = v.data.size();
        std::copy_n(v.data.begin(), std::min(data_cap, v.data.size()), static_cast<uint8_t*>(data));
        return v.data.size() > data_cap ? ZRV_ERANGE : named;
    });
}

// After the request another thread has in flight on the device: the
// driver's unload frees what that request may still be using.
int ZRV_API zrv_board_unload(zrv_device* dev) {
    return onBoard(dev, [&](zorvik::Transport& t) {
        zorvik::Hold hold(dev->io);
        return t.unload();
    });
}

int ZRV_API zrv_board_breach_count(zrv_device* dev, unsigned kind, unsigned* count) {
    return onBoard(dev, [&](zorvik::Transport& t) {
        std::vector<std::string> lines;
        const int err = t.breaches(kind, lines);
        if (err == ZRV_OK && count != nullptr) *count = static_cast<unsigned>(lines.size());
        return err;
    });
}

int ZRV_API zrv_board_breach(zrv_device* dev, unsigned kind, unsigned index, char* text, size_t len) {
    return onBoard(dev, [&](zorvik::Transport& t) {
        std::vector<std::string> lines;
        const int err = t.breaches(kind, lines);
        if (err != ZRV_OK) return err;
        return index < lines.size() ? copyText(lines[index], text, len) : ZRV_EINVAL;
    });
}

}  // extern "C"
