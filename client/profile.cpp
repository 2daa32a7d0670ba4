#include "client/profile.h"

#include <fstream>

#include "client/session.h"

namespace zrvctl {

namespace {

Profile describe(std::shared_ptr<zrv_profile> handle, const std::string& file) {
    Profile p;
    p.file = file;
    p.handle = std::move(handle);
    p.chip = zrv_profile_chip(p.handle.get());
    p.adapter = zrv_profile_adapter(p.handle.get());
    for (int outputs = 0; outputs < 2; ++outputs)
        for (unsigned i = 0; i < zrv_profile_line_count(p.handle.get(), outputs); ++i)
            (outputs != 0 ? p.outputs : p.inputs)
                .push_back(zrv_profile_line_name(p.handle.get(), outputs, i));
    for (unsigned i = 0; i < zrv_profile_pin_count(p.handle.get()); ++i) {
        const char* name = zrv_profile_pin_name(p.handle.get(), i);
        p.pins.emplace_back(name != nullptr ? name : "");
    }
    unsigned mask = 0;
    if (zrv_profile_direction(p.handle.get(), &mask) == ZRV_OK) p.direction = static_cast<uint8_t>(mask);
    return p;
}

}  // namespace

Profile Profile::raw() { return describe(nullptr, ""); }

Profile Profile::load(const std::string& file) {
    char why[2048];
    zrv_profile* handle = nullptr;
    if (zrv_profile_load(file.c_str(), &handle, why, sizeof why) != ZRV_OK) throw ClientError{why};
    return describe(std::shared_ptr<zrv_profile>(handle, zrv_profile_free), file);
}

std::optional<uint32_t> Profile::line(bool output, const std::string& text) const {
    unsigned n = 0;
    if (zrv_profile_find_line(handle.get(), output ? 1 : 0, text.c_str(), &n) != ZRV_OK) return std::nullopt;
    return n;
}

std::string profileBeside(const std::string& file) {
    const size_t slash = file.find_last_of("/\\");
    const size_t dot = file.rfind('.');
    const bool hasExt = dot != std::string::npos && (slash == std::string::npos || dot > slash);
    return (hasExt ? file.substr(0, dot) : file) + ".profile.json";
}

Profile chooseProfile(const std::string& named, const std::string& beside) {
    if (!named.empty()) return Profile::load(named);
    if (!beside.empty() && std::ifstream(beside)) return Profile::load(beside);
    return Profile::raw();
}

}  // namespace zrvctl
