// Searching the index: the query (query.hpp) run with BM25, the best
// candidates re-ordered by calibrated score (score.hpp), each with its
// snippet.
//
// Thread use: a Xapian::Database is not shared between threads; each
// caller passes its own (open_reader) and may reopen it between searches.
#pragma once

#include <xapian.h>

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "flintmill/index/index.hpp"
#include "util/result.hpp"

namespace flintmill::index {

struct Hit {
    std::string title;
    std::string path;
    std::string snippet;
    float score = 0.0f;  // calibrated, 0..1
};

// The best hits for text, at most limit, best first. stem must be the
// index's stemmer (stemmer_for_locale of index_language).
flintsearch::Result<std::vector<Hit>, IndexError> search(const Xapian::Database& db,
                                                         std::string_view text, std::size_t limit,
                                                         const Xapian::Stem& stem);

// The same with the stemmer the index was built with.
flintsearch::Result<std::vector<Hit>, IndexError> search(const Xapian::Database& db,
                                                         std::string_view text, std::size_t limit);

}  // namespace flintmill::index
