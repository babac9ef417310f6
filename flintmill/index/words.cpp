#include "flintmill/index/words.hpp"

#include <cctype>
#include <cstdlib>

namespace flintmill::index {
namespace {

// TermGenerator's default limit on a term's length in bytes.
constexpr std::size_t MAX_WORD_BYTES = 64;

bool is_apostrophe(unsigned ch) {
    return ch == '\'' || ch == 0x2019;
}

}  // namespace

std::vector<Word> split_words(std::string_view text) {
    std::vector<Word> words;
    const char* base = text.data();
    Xapian::Utf8Iterator it(text.data(), text.size());
    const Xapian::Utf8Iterator end;
    while (it != end) {
        if (!Xapian::Unicode::is_wordchar(*it)) {
            ++it;
            continue;
        }
        Word word;
        word.begin = static_cast<std::size_t>(it.raw() - base);
        while (it != end) {
            const unsigned ch = *it;
            if (Xapian::Unicode::is_wordchar(ch)) {
                Xapian::Unicode::append_utf8(word.lower, Xapian::Unicode::tolower(ch));
                ++it;
                continue;
            }
            // "don't", "l'été": an apostrophe between word characters stays.
            Xapian::Utf8Iterator next = it;
            ++next;
            if (is_apostrophe(ch) && next != end && Xapian::Unicode::is_wordchar(*next)) {
                word.lower += '\'';
                it = next;
                continue;
            }
            break;
        }
        word.end = it == end ? text.size() : static_cast<std::size_t>(it.raw() - base);
        if (word.lower.size() <= MAX_WORD_BYTES) {
            words.push_back(std::move(word));
        }
    }
    return words;
}

Xapian::Stem stemmer_for_locale(std::string_view locale, std::string* language) {
    // "de_DE.UTF-8@euro" -> "de"; Xapian knows the ISO 639 codes of its
    // Snowball languages.
    std::string code(locale.substr(0, locale.find_first_of("_.@")));
    for (char& c : code) {
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    if (!code.empty() && code != "c" && code != "posix") {
        try {
            Xapian::Stem stem(code);
            if (language != nullptr) {
                *language = code;
            }
            return stem;
        } catch (const Xapian::Error&) {
            // No stemmer for this language: English below.
        }
    }
    if (language != nullptr) {
        *language = "en";
    }
    return Xapian::Stem("en");
}

std::string user_locale() {
    for (const char* name : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
        const char* value = std::getenv(name);
        if (value != nullptr && *value != '\0' && std::string_view(value) != "C" &&
            std::string_view(value) != "POSIX") {
            return value;
        }
    }
    return {};
}

}  // namespace flintmill::index
