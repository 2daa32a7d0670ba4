// The name a user most likely meant: for "did you mean" hints of the board
// loader and of zrvctl config. Header-only, for both.
#pragma once

#include <algorithm>
#include <cctype>
#include <string>
#include <vector>

namespace zorvik {

// Edits (insert, delete, replace) between two short names, case ignored.
inline size_t editDistance(const std::string& a, const std::string& b) {
    std::vector<size_t> row(b.size() + 1);
    for (size_t j = 0; j <= b.size(); ++j) row[j] = j;
    for (size_t i = 1; i <= a.size(); ++i) {
        size_t diagonal = row[0];
        row[0] = i;
        for (size_t j = 1; j <= b.size(); ++j) {
            const size_t above = row[j];
            const bool same = std::tolower(static_cast<unsigned char>(a[i - 1])) ==
                              std::tolower(static_cast<unsigned char>(b[j - 1]));
            row[j] = std::min({above + 1, row[j - 1] + 1, diagonal + (same ? 0 : 1)});
            diagonal = above;
        }
    }
    return row[b.size()];
}

// The first of `names` fewest edits from `word`, at most two; "" when none is.
template <typename Names>
std::string nearestName(const std::string& word, const Names& names) {
    std::string nearest;
    size_t best = 3;
    for (const auto& name : names) {
        const size_t d = editDistance(word, name);
        if (d < best) {
            best = d;
            nearest = name;
        }
    }
    return nearest;
}

}  // namespace zorvik
