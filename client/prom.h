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
// new one, never a part: written to a new temporary file in DIR (".NAME."
// and a unique suffix, which the collectors do not read), created so that
// it can never be something already there (a link another account planted
// is neither followed nor reused), flushed, then renamed over NAME. On
// Linux DIR must pass unsafeFolder, and the file gets `mode`. On failure
// returns false with `error` set, removes the temporary file and leaves
// DIR/NAME as it was.
bool replaceFile(const std::string& dir, const std::string& name, const std::string& text, std::string& error,
                 unsigned mode = 0644);

#ifndef _WIN32
// Why `folder` may not hold a file that other runs believe, or "" when it
// may: it must be a folder, not a link, of this user's or root's, that no
// other user may write in, or anyone could put a file of theirs there or
// swap ours. `missing` is set (and "" returned) when it does not exist.
std::string unsafeFolder(const std::string& folder, bool& missing);
#endif

}  // namespace zrvctl
