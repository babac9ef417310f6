// Words of a text as the index sees them: the same split, case folding and
// stemming for documents, queries and snippets, so that a query word and the
// sentence it is found in agree on what "the same word" is.
//
// Pure functions; a Xapian::Stem is cheap to copy and each caller owns its
// own (Xapian objects are not shared between threads).
#pragma once

#include <xapian.h>

#include <string>
#include <string_view>
#include <vector>

namespace flintmill::index {

// One word of a text: its lower-cased form and where it stands (byte
// offsets into the text).
struct Word {
    std::string lower;
    std::size_t begin = 0;
    std::size_t end = 0;
};

// Splits text into words the way Xapian's TermGenerator does for the
// languages we index: runs of word characters, an apostrophe between two
// of them kept inside the word, everything lower-cased. Words longer than
// Xapian's term limit are dropped, as the TermGenerator drops them.
std::vector<Word> split_words(std::string_view text);

// The Snowball stemmer for a locale name such as "de_DE.UTF-8" or "pt_BR":
// its language when Xapian has a stemmer for it, else English. Sets
// *language (when given) to the language code used.
Xapian::Stem stemmer_for_locale(std::string_view locale, std::string* language = nullptr);

// The locale the user's language comes from: LC_ALL, then LC_MESSAGES,
// then LANG (the first one set and not "C"/"POSIX"); empty when none is.
std::string user_locale();

}  // namespace flintmill::index
