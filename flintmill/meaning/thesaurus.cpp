#include "flintmill/meaning/thesaurus.hpp"

#include <atomic>
#include <mutex>
#include <string>
#include <unordered_map>

namespace flintmill::meaning {
namespace {

constexpr std::size_t CACHE_WORDS = 4096;

std::atomic<bool> opened_flag{false};

struct Thesaurus {
    std::once_flag opened;
    std::shared_ptr<const WordNet> wordnet;
    std::mutex mutex;
    std::unordered_map<std::string, std::vector<RelatedWord>> cache;
};

Thesaurus& thesaurus() {
    static Thesaurus t;
    std::call_once(t.opened, [] {
        if (auto wn = WordNet::open()) {
            t.wordnet = std::move(*wn);
        }
        opened_flag = true;
    });
    return t;
}

}  // namespace

std::vector<RelatedWord> related_words(std::string_view word) {
    Thesaurus& t = thesaurus();
    if (!t.wordnet) {
        return {};
    }
    std::string key(word);
    {
        std::lock_guard lock(t.mutex);
        if (auto it = t.cache.find(key); it != t.cache.end()) {
            return it->second;
        }
    }
    std::vector<RelatedWord> found = t.wordnet->related(word);
    std::lock_guard lock(t.mutex);
    // A full cache starts over: simpler than an LRU and as good for words
    // that a person types again and again.
    if (t.cache.size() >= CACHE_WORDS) {
        t.cache.clear();
    }
    t.cache.emplace(std::move(key), found);
    return found;
}

bool is_known_word(std::string_view word) {
    Thesaurus& t = thesaurus();
    return t.wordnet && !t.wordnet->base_forms(word).empty();
}

bool load_thesaurus() {
    Thesaurus& t = thesaurus();
    if (t.wordnet) {
        // A few lookups across the files fault in the pages of the index,
        // data and count files' upper search levels.
        for (const char* w : {"car", "find", "quick", "often"}) {
            (void)t.wordnet->related(w);
        }
    }
    return t.wordnet != nullptr;
}

bool thesaurus_ready() {
    return opened_flag;
}

}  // namespace flintmill::meaning
