#include "flintmill/meaning/spelling.hpp"

#include <algorithm>
#include <vector>

namespace flintmill::meaning {

namespace {

// Terms looked at per correction, at most.
constexpr std::size_t MAX_SCAN = 60'000;

}  // namespace

std::size_t edit_distance(std::string_view a, std::string_view b, std::size_t limit) {
    const std::size_t n = a.size();
    const std::size_t m = b.size();
    if ((n > m ? n - m : m - n) > limit) {
        return limit + 1;
    }
    // Three rows of the dynamic programme: two back for transpositions.
    std::vector<std::size_t> prev2(m + 1), prev(m + 1), cur(m + 1);
    for (std::size_t j = 0; j <= m; ++j) {
        prev[j] = j;
    }
    for (std::size_t i = 1; i <= n; ++i) {
        cur[0] = i;
        std::size_t row_min = cur[0];
        for (std::size_t j = 1; j <= m; ++j) {
            std::size_t cost = a[i - 1] == b[j - 1] ? 0 : 1;
            std::size_t v = std::min({prev[j] + 1, cur[j - 1] + 1, prev[j - 1] + cost});
            if (i > 1 && j > 1 && a[i - 1] == b[j - 2] && a[i - 2] == b[j - 1]) {
                v = std::min(v, prev2[j - 2] + 1);
            }
            cur[j] = v;
            row_min = std::min(row_min, v);
        }
        if (row_min > limit) {
            return limit + 1;
        }
        std::swap(prev2, prev);
        std::swap(prev, cur);
    }
    return std::min(prev[m], limit + 1);
}

std::optional<std::string> correct_spelling(const Xapian::Database& db, std::string_view word) {
    if (word.size() < 4 || !(word[0] >= 'a' && word[0] <= 'z')) {
        return std::nullopt;
    }
    const std::string w(word);
    if (db.get_termfreq(w) > 0) {
        return std::nullopt;
    }
    const std::size_t limit = word.size() <= 5 ? 1 : 2;
    std::optional<std::string> best;
    std::size_t best_distance = limit + 1;
    Xapian::doccount best_freq = 0;
    std::size_t scanned = 0;
    const std::string first(1, w[0]);
    for (auto t = db.allterms_begin(first); t != db.allterms_end(first) && scanned < MAX_SCAN;
         ++t, ++scanned) {
        const std::string& term = *t;
        const std::size_t diff =
            term.size() > w.size() ? term.size() - w.size() : w.size() - term.size();
        if (diff > limit) {
            continue;
        }
        std::size_t d = edit_distance(w, term, std::min(limit, best_distance));
        if (d > limit || d > best_distance) {
            continue;
        }
        Xapian::doccount freq = t.get_termfreq();
        if (d < best_distance || freq > best_freq) {
            best = term;
            best_distance = d;
            best_freq = freq;
        }
    }
    return best;
}

}  // namespace flintmill::meaning
