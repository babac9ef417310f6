// The WordNet thesaurus, read straight from the database files of
// wordnet-base. Every file is mapped read-only and searched in place: the
// index files, cntlist.rev and the exception lists are sorted, so a lookup
// is a binary search, and a synset is read at its byte offset in data.*.
// Opening costs a few mmap calls and nothing is parsed up front, so the
// first query pays a handful of page faults, not a load.
//
// Ownership: a WordNet owns its mappings and unmaps them when it goes. It is
// immutable after open() and safe to share between threads.
#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "util/result.hpp"

namespace flintmill::meaning {

enum class Relation {
    Synonym,   // another word of the same sense
    Broader,   // a close hypernym ("car" -> "vehicle")
    Narrower,  // a frequent hyponym ("car" -> "cab")
};

struct RelatedWord {
    std::string word;  // one lowercase word (multi-word lemmas are reduced to their head)
    double weight;     // in (0, 1]: how close it is to the query word's usual meaning
    Relation relation;
};

class WordNet {
  public:
    // dir holds data.*, index.*, cntlist.rev and *.exc (wordnet-base:
    // /usr/share/wordnet). Fails with a readable line when a file is missing.
    static flintsearch::Result<std::shared_ptr<const WordNet>, std::string> open(
        const std::string& dir = default_dir());
    static std::string default_dir();

    ~WordNet();
    WordNet(const WordNet&) = delete;
    WordNet& operator=(const WordNet&) = delete;

    // Words related to `word` in its most frequent senses, best first, at
    // most `limit`. Rare senses, multi-word lemmas that have no usable head,
    // and words too generic to help ("entity", "object") are left out; the
    // word itself and its inflections never appear.
    std::vector<RelatedWord> related(std::string_view word, std::size_t limit = 4) const;

    // The base forms WordNet knows for an inflected word ("cars" -> "car",
    // "fixing" -> "fix", "geese" -> "goose"), the word itself first when it
    // is a lemma. Empty when WordNet knows none.
    std::vector<std::string> base_forms(std::string_view word) const;

    struct Files;  // the mappings (defined in wordnet.cpp)

  private:
    explicit WordNet(std::unique_ptr<Files> files);
    std::unique_ptr<Files> files_;
};

}  // namespace flintmill::meaning
