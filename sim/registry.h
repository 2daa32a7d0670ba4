// The virtual board's registry: keys by absolute kernel path
// ("\Registry\Machine\Software\..."), case-insensitive keys and value names,
// typed values. Loads the registry export files that installers ship.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace sim {

constexpr uint32_t kRegSz = 1;
constexpr uint32_t kRegExpandSz = 2;
constexpr uint32_t kRegBinary = 3;
constexpr uint32_t kRegDword = 4;
constexpr uint32_t kRegMultiSz = 7;
constexpr uint32_t kRegQword = 11;

// A fault in a board's files, with the place it was found ("file:line: what").
class BoardError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// The most a board file or registry export may hold.
constexpr size_t kMaxBoardFileBytes = 1u << 20;

// The whole content of a board file or registry export (`what` names the
// kind in errors). Throws BoardError when it cannot be opened, is not a
// regular file or holds more than kMaxBoardFileBytes.
std::string readBoardFile(const std::string& file, const std::string& what);

struct RegValue {
    std::string name;  // as written
    uint32_t type = 0;
    std::vector<uint8_t> data;
};

class Registry {
public:
    // Accepts "\Registry\Machine\...", "HKEY_LOCAL_MACHINE\..." or "HKLM\...".
    static std::string normalise(const std::string& path);

    void createKey(const std::string& path);
    void deleteKey(const std::string& path);  // and its subkeys
    bool keyExists(const std::string& path) const;
    void setValue(const std::string& path, const std::string& name, uint32_t type, std::vector<uint8_t> data);
    void setDword(const std::string& path, const std::string& name, uint32_t value);
    void setString(const std::string& path, const std::string& name, const std::string& text);
    void deleteValue(const std::string& path, const std::string& name);
    const RegValue* find(const std::string& path, const std::string& name) const;
    std::vector<std::string> keys() const;                        // normalised, lower case
    std::vector<RegValue> values(const std::string& path) const;  // by lower-case name

    // Parses a registry export ("Windows Registry Editor Version 5.00" or
    // "REGEDIT4", UTF-8/ANSI or UTF-16LE with its mark). `origin` names the
    // source in errors. Throws BoardError, and then keeps the registry as it
    // was: nothing of a refused export is applied.
    void loadText(const std::string& text, const std::string& origin);
    void loadFile(const std::string& file);

private:
    void parse(const std::string& text, const std::string& origin);

    struct Key {
        std::string path;                        // as first written, normalised prefix
        std::map<std::string, RegValue> values;  // by lower-case name
    };
    std::map<std::string, Key> keys_;  // by lower-case normalised path
};

std::string lower(std::string s);

}  // namespace sim
