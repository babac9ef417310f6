// Scores that mean something to a person, and the snippet shown under a hit.
//
// Xapian's own percentages are relative to the best hit of each query, so
// the top hit always reads 100 % however poor it is. A score here is built
// from what the match itself says and is comparable across queries:
//   coverage  the share of the query's idf mass that the document matches
//             (all rare words found: 1; only a common word of three: low);
//   strength  the BM25 weight against the most the query could weigh;
//   title     the share of the query's idf mass found in the title;
//   exact     the title is the query (words, case and file extension aside).
// Pure functions, safe on any thread.
#pragma once

#include <xapian.h>

#include <string>
#include <string_view>

#include "flintmill/index/query.hpp"

namespace flintmill::index {

struct ScoreInputs {
    double coverage = 0.0;  // 0..1
    double strength = 0.0;  // 0..1
    double title = 0.0;     // 0..1
    bool exact_title = false;
};

// The calibrated score in 0..1: an exact title match at 0.97 or more; every
// word matched well in the title near 0.9; every word in the body
// 0.6..0.8; a document that matches only part of the query falls with the
// square of the part it matches, so a weak match reads low.
float calibrated_score(const ScoreInputs& in);

// The share of the plan's idf mass whose words appear in text (by stem; the
// last word also as a prefix when the plan matches it so).
double coverage_in(std::string_view text, const QueryPlan& plan, const Xapian::Stem& stem);

// Whether the title, without a file extension, holds exactly the query's
// words in order.
bool is_exact_title(std::string_view title, const QueryPlan& plan);

// The snippet: the sentence of text that matches the query best (by the idf
// of the words it holds), then the sentences after it, up to max_bytes and
// cut at a word boundary. When nothing matches, the start of the text.
// Lines are joined with spaces, so the launcher's first line is the best
// sentence.
std::string make_snippet(std::string_view text, const QueryPlan& plan, const Xapian::Stem& stem,
                         std::size_t max_bytes = 240);

}  // namespace flintmill::index
