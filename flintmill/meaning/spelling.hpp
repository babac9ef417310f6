// Spelling correction from an index's own vocabulary: a word the index does
// not know is replaced by the most frequent indexed word within a small
// edit distance ("recipie" -> "recipe"). No dictionary of its own, so names
// and jargon the user writes are corrected towards, not away from.
//
// Pure functions over a Xapian::Database the caller owns (one per thread).
#pragma once

#include <xapian.h>

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace flintmill::meaning {

// Optimal string alignment distance (insertions, deletions, substitutions,
// and transpositions of neighbours), or limit + 1 when it exceeds limit.
std::size_t edit_distance(std::string_view a, std::string_view b, std::size_t limit);

// The indexed raw word closest to `word` (lower-case) when the index does
// not hold `word` itself: distance 1 for words of up to five letters, 2 for
// longer ones; ties go to the word in more documents. Candidates start with
// the same letter (people rarely get the first one wrong) and the scan is
// bounded, so a correction costs at most a few milliseconds.
std::optional<std::string> correct_spelling(const Xapian::Database& db, std::string_view word);

}  // namespace flintmill::meaning
