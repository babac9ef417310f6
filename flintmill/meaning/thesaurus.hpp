// The process's one thesaurus: WordNet opened on first use, with a bounded
// cache of the related words already looked up (a query is retyped one
// letter at a time, so the same words come back many times).
//
// Ownership: the thesaurus lives for the whole process; every function here
// is safe to call from any thread.
#pragma once

#include <string_view>
#include <vector>

#include "flintmill/meaning/wordnet.hpp"

namespace flintmill::meaning {

// Related words of `word` (see WordNet::related), or none when WordNet is
// not installed. The first call opens WordNet.
std::vector<RelatedWord> related_words(std::string_view word);

// Whether `word` is an English word WordNet knows (in any inflection): such
// a word is not a misspelling, even when the index does not hold it.
bool is_known_word(std::string_view word);

// Opens WordNet now and touches the pages a first lookup needs, so that the
// first query does not pay for it. Returns whether the thesaurus is usable.
bool load_thesaurus();

// Whether load_thesaurus (or a lookup) has already opened WordNet: cheap,
// for the daemon's status reply.
bool thesaurus_ready();

}  // namespace flintmill::meaning
