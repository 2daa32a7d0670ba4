// The Prometheus text exposition format (version 0.0.4), as the node and
// windows exporters' textfile collectors read it and as a scrape of
// `/metrics` expects it: for each metric family one "# HELP" and one
// "# TYPE" line, then its samples, families never interleaved.
#pragma once

#include <string>
#include <utility>
#include <vector>

namespace zrvctl {

using PromLabels = std::vector<std::pair<std::string, std::string>>;

class Exposition {
public:
    // One sample of family `name`; the family's HELP and TYPE come from its
    // first sample. Samples of one family are kept together whatever order
    // they come in. Label values may hold any UTF-8 text.
    void sample(const std::string& name, const char* type, const char* help, const PromLabels& labels,
                double value);
    std::string text() const;
    bool empty() const { return families_.empty(); }

private:
    struct Family {
        std::string name, type, help;
        std::vector<std::string> samples;
    };
    std::vector<Family> families_;
};

// A label value as the format quotes it: backslash, double quote and line
// feed escaped.
std::string promEscape(const std::string& text);
// A sample value: integers without a fraction, NaN and +Inf/-Inf by name.
std::string promValue(double v);

// Replaces DIR/NAME with `text` so that a reader sees the old file or the
// new one, never a part: written to a temporary file in DIR (a name the
// collectors do not read), flushed, then renamed over NAME. On failure
// returns false with `error` set, removes the temporary file and leaves
// DIR/NAME as it was.
bool replaceFile(const std::string& dir, const std::string& name, const std::string& text,
                 std::string& error);

}  // namespace zrvctl
