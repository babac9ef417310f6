#include "flintmill/index/score.hpp"

#include <algorithm>
#include <cmath>
#include <vector>

#include "flintmill/index/words.hpp"

namespace flintmill::index {
namespace {

// Which of the plan's words a text word is: by stem, or (for a prefix
// word) as the start of it.
int word_index(const Word& w, const QueryPlan& plan, const Xapian::Stem& stem,
               std::string* stem_cache) {
    for (std::size_t i = 0; i < plan.words.size(); ++i) {
        const QueryWord& q = plan.words[i];
        for (const QueryTerm& t : q.terms) {
            if (t.prefix && w.lower.starts_with(t.term)) {
                return static_cast<int>(i);
            }
        }
        if (w.lower == q.lower) {
            return static_cast<int>(i);
        }
        if (stem_cache->empty()) {
            *stem_cache = stem(w.lower);
        }
        if (*stem_cache == q.stem) {
            return static_cast<int>(i);
        }
    }
    return -1;
}

double total_idf(const QueryPlan& plan) {
    double total = 0.0;
    for (const QueryWord& w : plan.words) {
        total += w.idf;
    }
    return total;
}

bool is_sentence_end(char c) {
    return c == '.' || c == '!' || c == '?' || c == '\n';
}

// Valid UTF-8 cut at or before n, at a space when there is one nearby.
std::string_view cut_at_word(std::string_view text, std::size_t n) {
    if (text.size() <= n) {
        return text;
    }
    std::size_t cut = n;
    while (cut > 0 && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80) {
        --cut;
    }
    const std::size_t space = text.rfind(' ', cut);
    if (space != std::string_view::npos && space > n / 2) {
        cut = space;
    }
    return text.substr(0, cut);
}

}  // namespace

float calibrated_score(const ScoreInputs& in) {
    const double c = std::clamp(in.coverage, 0.0, 1.0);
    const double s = std::clamp(in.strength, 0.0, 1.0);
    const double t = std::clamp(in.title, 0.0, 1.0);
    // Coverage carries most of the scale; strength and title only lift a
    // document that matches the words, never one that matches few of them.
    double score = 0.05 + 0.55 * c * c + 0.2 * c * std::min(1.0, 1.5 * s) + 0.15 * c * t;
    score = std::min(score, 0.95);
    if (in.exact_title && c >= 0.999) {
        score = std::max(score, 0.97 + 0.03 * s);
    }
    return static_cast<float>(std::clamp(score, 0.0, 1.0));
}

double coverage_in(std::string_view text, const QueryPlan& plan, const Xapian::Stem& stem) {
    const double total = total_idf(plan);
    if (total <= 0.0) {
        return 0.0;
    }
    std::vector<bool> found(plan.words.size(), false);
    for (const Word& w : split_words(text)) {
        std::string cache;
        if (const int i = word_index(w, plan, stem, &cache); i >= 0) {
            found[static_cast<std::size_t>(i)] = true;
        }
    }
    double matched = 0.0;
    for (std::size_t i = 0; i < found.size(); ++i) {
        matched += found[i] ? plan.words[i].idf : 0.0;
    }
    return matched / total;
}

bool is_exact_title(std::string_view title, const QueryPlan& plan) {
    if (plan.words.empty()) {
        return false;
    }
    // "report.pdf" is the title "report".
    const auto dot = title.rfind('.');
    if (dot != std::string_view::npos && dot > 0 && title.size() - dot <= 6 &&
        title.find(' ', dot) == std::string_view::npos) {
        title = title.substr(0, dot);
    }
    const std::vector<Word> words = split_words(title);
    if (words.size() != plan.words.size()) {
        return false;
    }
    for (std::size_t i = 0; i < words.size(); ++i) {
        const QueryWord& q = plan.words[i];
        const bool prefix = !q.terms.empty() && q.terms.back().prefix;
        if (words[i].lower != q.lower && !(prefix && words[i].lower.starts_with(q.lower))) {
            return false;
        }
    }
    return true;
}

std::string make_snippet(std::string_view text, const QueryPlan& plan, const Xapian::Stem& stem,
                         std::size_t max_bytes) {
    // Sentences as [begin, end) byte ranges.
    std::vector<std::pair<std::size_t, std::size_t>> sentences;
    std::size_t begin = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const bool end = is_sentence_end(text[i]) && (text[i] == '\n' || i + 1 == text.size() ||
                                                      text[i + 1] == ' ' || text[i + 1] == '\n');
        if (end) {
            sentences.emplace_back(begin, i + 1);
            begin = i + 1;
        }
    }
    if (begin < text.size()) {
        sentences.emplace_back(begin, text.size());
    }
    // The best sentence: the most idf mass of distinct query words, then the
    // most occurrences. Bounded: a long text is looked at sentence by
    // sentence once.
    std::size_t best = 0;
    double best_mass = 0.0;
    std::size_t best_hits = 0;
    for (std::size_t s = 0; s < sentences.size(); ++s) {
        const auto [b, e] = sentences[s];
        std::vector<bool> found(plan.words.size(), false);
        std::size_t hits = 0;
        for (const Word& w : split_words(text.substr(b, e - b))) {
            std::string cache;
            if (const int i = word_index(w, plan, stem, &cache); i >= 0) {
                found[static_cast<std::size_t>(i)] = true;
                ++hits;
            }
        }
        double mass = 0.0;
        for (std::size_t i = 0; i < found.size(); ++i) {
            mass += found[i] ? plan.words[i].idf + 1e-9 : 0.0;
        }
        if (mass > best_mass || (mass == best_mass && mass > 0 && hits > best_hits)) {
            best = s;
            best_mass = mass;
            best_hits = hits;
        }
    }
    // The passage from the best sentence on, on one line.
    std::string out;
    for (std::size_t s = best; s < sentences.size() && out.size() < max_bytes; ++s) {
        const auto [b, e] = sentences[s];
        for (std::size_t i = b; i < e; ++i) {
            const char c = text[i];
            const bool blank = c == '\n' || c == '\r' || c == '\t' || c == ' ';
            if (blank) {
                if (!out.empty() && out.back() != ' ') {
                    out += ' ';
                }
            } else {
                out += c;
            }
        }
    }
    while (!out.empty() && out.back() == ' ') {
        out.pop_back();
    }
    if (out.size() <= max_bytes) {
        return out;
    }
    return std::string(cut_at_word(out, max_bytes - 3)) + "\u2026";
}

}  // namespace flintmill::index
