// The board profile of a run (labels, scaling, limits, line names), as
// libzorvik reads it; the format is described in docs/boards.md.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "zorvik/zorvik.h"

namespace zrvctl {

struct Profile {
    std::string file;                     // empty: no profile, raw readings
    std::shared_ptr<zrv_profile> handle;  // null for the raw layout
    std::string chip, adapter;
    std::vector<std::string> inputs, outputs;
    std::vector<std::string> pins;     // by bit in the port or register; "" where none
    std::optional<uint8_t> direction;  // the direction mask the board comes up with

    bool loaded() const { return !file.empty(); }
    // The raw layout: every channel of the record, unscaled.
    static Profile raw();
    // Throws ClientError naming the file and the entry at fault.
    static Profile load(const std::string& file);
    // The number of a line by name or number; empty when it is neither.
    std::optional<uint32_t> line(bool output, const std::string& text) const;
};

// NAME.profile.json beside NAME.reg (or beside any file NAME.EXT).
std::string profileBeside(const std::string& file);
// The profile of a run: `named` when given, else `beside` when that file
// exists, else the raw layout. Throws ClientError.
Profile chooseProfile(const std::string& named, const std::string& beside);

}  // namespace zrvctl
