// Query building: from the text the user typed to a Xapian query, in one
// place, pure and testable without a socket or a daemon.
//
// How to extend it (ranking by meaning, spelling):
//  - build_query splits the text into QueryWords; each word carries the
//    terms that stand for it (its stem, and for the last word the prefix
//    expansion). To add related words or a spelling correction, append more
//    terms to a word's `terms` (with a lower `weight`): the word stays one
//    unit for the score's coverage (score.hpp), so a document that matches a
//    related word counts as matching that word, at that word's weight.
//  - Each word's subquery is OP_OR over its terms, each scaled by its
//    weight (OP_SCALE_WEIGHT); the words are joined with OP_OR and the
//    ranking (search.cpp) re-orders the best candidates by calibrated score.
//  - Keep it pure: the database is only read (term frequencies).
#pragma once

#include <xapian.h>

#include <string>
#include <string_view>
#include <vector>

namespace flintmill::index {

// A term that stands for a query word, and how much a match on it counts.
struct QueryTerm {
    std::string term;
    double weight = 1.0;  // 1 for the word itself; less for a related word
    bool prefix = false;  // `term` is a prefix (OP_WILDCARD) of raw words
};

struct QueryWord {
    std::string lower;  // as typed, lower-cased
    std::string stem;   // its Snowball stem
    std::vector<QueryTerm> terms;
    double idf = 0.0;  // how rare the word is in the index (BM25's idf)
};

struct QueryPlan {
    std::vector<QueryWord> words;
    Xapian::Query query;  // empty when the text holds no word

    // Which word a matching term of a document stands for, or -1.
    int word_of(const std::string& term) const;
};

// How many index words the last word's prefix may stand for: the most
// frequent ones. Keeps a one-letter prefix from becoming thousands of terms.
inline constexpr Xapian::termcount PREFIX_EXPANSIONS = 40;

// Builds the query for text. The last word is also matched as a prefix of
// longer words while the user is still typing it (text does not end in a
// space) and it has at least two characters. db supplies term frequencies
// (for idf); stem is the index's stemmer.
QueryPlan build_query(std::string_view text, const Xapian::Database& db, const Xapian::Stem& stem);

}  // namespace flintmill::index
