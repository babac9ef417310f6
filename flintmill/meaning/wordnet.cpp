// WordNet 3.0 database files, read in place. The formats are those of
// wndb(5WN) and senseidx(5WN): index.<pos> lines are
//   lemma pos synset_cnt p_cnt [ptr_symbol...] sense_cnt tagsense_cnt offset...
// with the offsets ordered by how often each sense was seen in the tagged
// corpus; data.<pos> lines are
//   offset lex_filenum ss_type w_cnt [word lex_id]... p_cnt [sym offset pos st]... | gloss
// and cntlist.rev gives each sense key's tagged count.
#include "flintmill/meaning/wordnet.hpp"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <charconv>
#include <cstring>
#include <map>
#include <optional>
#include <utility>

namespace flintmill::meaning {

namespace {

// One read-only mapping of a whole file.
class Mapped {
  public:
    Mapped() = default;
    Mapped(Mapped&& other) noexcept
        : data_(std::exchange(other.data_, nullptr)), size_(std::exchange(other.size_, 0)) {}
    Mapped& operator=(Mapped&& other) noexcept {
        std::swap(data_, other.data_);
        std::swap(size_, other.size_);
        return *this;
    }
    Mapped(const Mapped&) = delete;
    ~Mapped() {
        if (data_ != nullptr) {
            ::munmap(const_cast<char*>(data_), size_);
        }
    }

    static flintsearch::Result<Mapped, std::string> open(const std::string& path) {
        int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
        if (fd < 0) {
            return flintsearch::unexpected("WordNet: cannot open " + path + ": " +
                                           std::strerror(errno));
        }
        struct stat st {};
        Mapped m;
        if (::fstat(fd, &st) == 0 && st.st_size > 0) {
            void* p = ::mmap(nullptr, static_cast<std::size_t>(st.st_size), PROT_READ, MAP_PRIVATE,
                             fd, 0);
            if (p != MAP_FAILED) {
                m.data_ = static_cast<const char*>(p);
                m.size_ = static_cast<std::size_t>(st.st_size);
            }
        }
        ::close(fd);
        if (m.data_ == nullptr) {
            return flintsearch::unexpected("WordNet: cannot map " + path);
        }
        return m;
    }

    std::string_view text() const { return {data_, size_}; }

  private:
    const char* data_ = nullptr;
    std::size_t size_ = 0;
};

// The line holding byte `pos`, without its newline.
std::string_view line_around(std::string_view file, std::size_t pos) {
    std::size_t start = file.rfind('\n', pos == 0 ? 0 : pos - 1);
    start = (start == std::string_view::npos || pos == 0) ? 0 : start + 1;
    std::size_t end = file.find('\n', start);
    if (end == std::string_view::npos) {
        end = file.size();
    }
    return file.substr(start, end - start);
}

// Binary search of a file whose lines are sorted by their first field
// (bytewise). The licence header of the index files starts with spaces, so
// its empty first field sorts before every lemma.
std::string_view find_line(std::string_view file, std::string_view key) {
    std::size_t lo = 0;
    std::size_t hi = file.size();
    while (lo < hi) {
        std::size_t mid = lo + (hi - lo) / 2;
        std::string_view line = line_around(file, mid);
        auto start = static_cast<std::size_t>(line.data() - file.data());
        std::string_view first = line.substr(0, line.find(' '));
        int c = first.compare(key);
        if (c == 0) {
            return line;
        }
        if (c < 0) {
            lo = start + line.size() + 1;
        } else {
            hi = start;
        }
    }
    return {};
}

std::vector<std::string_view> split(std::string_view s) {
    std::vector<std::string_view> out;
    std::size_t i = 0;
    while (i < s.size()) {
        while (i < s.size() && s[i] == ' ') {
            ++i;
        }
        std::size_t j = s.find(' ', i);
        if (j == std::string_view::npos) {
            j = s.size();
        }
        if (j > i) {
            out.push_back(s.substr(i, j - i));
        }
        i = j;
    }
    return out;
}

template <class T>
std::optional<T> number(std::string_view s, int base = 10) {
    T v{};
    auto r = std::from_chars(s.data(), s.data() + s.size(), v, base);
    if (r.ec != std::errc() || r.ptr != s.data() + s.size()) {
        return std::nullopt;
    }
    return v;
}

enum Pos : std::size_t { Noun, Verb, Adj, Adv, PosCount };
constexpr std::array<const char*, PosCount> pos_names{"noun", "verb", "adj", "adv"};

std::optional<Pos> pos_of(char c) {
    switch (c) {
        case 'n':
            return Noun;
        case 'v':
            return Verb;
        case 'a':
        case 's':
            return Adj;
        case 'r':
            return Adv;
        default:
            return std::nullopt;
    }
}

struct Pointer {
    std::string_view symbol;
    std::size_t offset;
    Pos pos;
};

struct Synset {
    char ss_type = 0;
    int lex_filenum = 0;
    std::vector<std::pair<std::string, int>> words;  // lowercase lemma, lex_id
    std::vector<Pointer> pointers;
    std::string_view gloss;
};

std::string lower(std::string_view s) {
    std::string out(s);
    for (char& c : out) {
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    return out;
}

std::optional<Synset> parse_synset(std::string_view line) {
    std::size_t bar = line.find(" | ");
    std::vector<std::string_view> t = split(line.substr(0, bar));
    if (t.size() < 4) {
        return std::nullopt;
    }
    Synset s;
    auto filenum = number<int>(t[1]);
    auto w_cnt = number<std::size_t>(t[3], 16);
    if (!filenum || !w_cnt || t[2].size() != 1 || t.size() < 4 + 2 * *w_cnt + 1) {
        return std::nullopt;
    }
    s.lex_filenum = *filenum;
    s.ss_type = t[2][0];
    std::size_t i = 4;
    for (std::size_t k = 0; k < *w_cnt; ++k, i += 2) {
        std::string_view w = t[i];
        w = w.substr(0, w.find('('));  // adjective markers: "(a)", "(p)", "(ip)"
        s.words.emplace_back(lower(w), number<int>(t[i + 1], 16).value_or(0));
    }
    auto p_cnt = number<std::size_t>(t[i]);
    ++i;
    if (!p_cnt || t.size() < i + 4 * *p_cnt) {
        return std::nullopt;
    }
    for (std::size_t k = 0; k < *p_cnt; ++k, i += 4) {
        auto off = number<std::size_t>(t[i + 1]);
        auto pos = t[i + 2].empty() ? std::nullopt : pos_of(t[i + 2][0]);
        if (off && pos) {
            s.pointers.push_back({t[i], *off, *pos});
        }
    }
    if (bar != std::string_view::npos) {
        s.gloss = line.substr(bar + 3);
    }
    return s;
}

bool is_plain_word(std::string_view w) {
    return w.size() >= 3 &&
           std::all_of(w.begin(), w.end(), [](char c) { return c >= 'a' && c <= 'z'; });
}

// Words that relate to nearly everything, so adding them only adds noise.
bool too_generic(std::string_view w) {
    static constexpr std::array<std::string_view, 61> words{
        "abstraction", "act",       "action",     "activity",
        "artefact",    "artifact",  "attribute",  "be",
        "being",       "cause",     "change",     "communication",
        "concept",     "condition", "content",    "device",
        "do",          "entity",    "event",      "form",
        "get",         "give",      "go",         "group",
        "have",        "idea",      "individual", "instrumentality",
        "kind",        "make",      "matter",     "measure",
        "move",        "object",    "organism",   "part",
        "people",      "person",    "piece",      "property",
        "quality",     "relation",  "someone",    "somebody",
        "sort",        "state",     "structure",  "substance",
        "take",        "thing",     "time",       "travel",
        "unit",        "use",       "way",        "whole",
        "cognition",   "location",  "man",        "woman",
        "head"};
    return std::find(words.begin(), words.end(), w) != words.end();
}

constexpr std::array<std::string_view, 12> gloss_stop{"a",  "an", "the", "or",  "of", "and",
                                                      "to", "in", "for", "any", "by", "with"};

}  // namespace

struct WordNet::Files {
    std::array<Mapped, PosCount> index;
    std::array<Mapped, PosCount> data;
    std::array<Mapped, PosCount> exc;
    Mapped cntlist;

    std::optional<Synset> synset(Pos pos, std::size_t offset) const {
        std::string_view file = data[pos].text();
        if (offset >= file.size()) {
            return std::nullopt;
        }
        std::string_view line = line_around(file, offset);
        if (static_cast<std::size_t>(line.data() - file.data()) != offset) {
            return std::nullopt;
        }
        return parse_synset(line);
    }

    // The synset offsets of a lemma, most frequent sense first.
    std::vector<std::size_t> senses(Pos pos, std::string_view lemma) const {
        std::vector<std::size_t> out;
        std::string_view line = find_line(index[pos].text(), lemma);
        if (line.empty()) {
            return out;
        }
        std::vector<std::string_view> t = split(line);
        if (t.size() < 4) {
            return out;
        }
        auto p_cnt = number<std::size_t>(t[3]);
        if (!p_cnt || t.size() < 4 + *p_cnt + 2) {
            return out;
        }
        for (std::size_t i = 4 + *p_cnt + 2; i < t.size(); ++i) {
            if (auto off = number<std::size_t>(t[i])) {
                out.push_back(*off);
            }
        }
        return out;
    }

    // How often a lemma was tagged in this sense (0 when never, or for
    // adjective satellites, whose keys name a head we do not track).
    int count(const Synset& s, std::string_view lemma) const {
        if (s.ss_type == 's') {
            return 0;
        }
        int lex_id = -1;
        for (const auto& [w, id] : s.words) {
            if (w == lemma) {
                lex_id = id;
            }
        }
        if (lex_id < 0) {
            return 0;
        }
        char type = s.ss_type == 'n' ? '1' : s.ss_type == 'v' ? '2' : s.ss_type == 'a' ? '3' : '4';
        char buf[32];
        std::snprintf(buf, sizeof buf, "%c:%02d:%02d::", type, s.lex_filenum, lex_id);
        std::string key = std::string(lemma) + "%" + buf;
        std::vector<std::string_view> t = split(find_line(cntlist.text(), key));
        return t.size() == 3 ? number<int>(t[2]).value_or(0) : 0;
    }

    // Distance to the root of the noun hierarchy along first hypernyms.
    int depth(Pos pos, std::size_t offset) const {
        int d = 0;
        for (; d < 25; ++d) {
            auto s = synset(pos, offset);
            if (!s) {
                break;
            }
            auto up = std::find_if(s->pointers.begin(), s->pointers.end(), [](const Pointer& p) {
                return p.symbol == "@" || p.symbol == "@i";
            });
            if (up == s->pointers.end()) {
                break;
            }
            offset = up->offset;
        }
        return d;
    }

    std::vector<std::string> base_forms(Pos pos, std::string_view word) const {
        std::vector<std::string> out;
        auto add = [&](std::string w) {
            if (std::find(out.begin(), out.end(), w) == out.end() &&
                !find_line(index[pos].text(), w).empty()) {
                out.push_back(std::move(w));
            }
        };
        add(std::string(word));
        std::vector<std::string_view> t = split(find_line(exc[pos].text(), word));
        for (std::size_t i = 1; i < t.size(); ++i) {
            add(std::string(t[i]));
        }
        static const std::array<std::vector<std::pair<std::string_view, std::string_view>>,
                                PosCount>
            rules{{{{"s", ""},
                    {"ses", "s"},
                    {"xes", "x"},
                    {"zes", "z"},
                    {"ches", "ch"},
                    {"shes", "sh"},
                    {"men", "man"},
                    {"ies", "y"}},
                   {{"s", ""},
                    {"ies", "y"},
                    {"es", "e"},
                    {"es", ""},
                    {"ed", "e"},
                    {"ed", ""},
                    {"ing", "e"},
                    {"ing", ""}},
                   {{"er", ""}, {"est", ""}, {"er", "e"}, {"est", "e"}},
                   {}}};
        for (const auto& [suffix, repl] : rules[pos]) {
            if (word.size() > suffix.size() + 1 && word.ends_with(suffix)) {
                add(std::string(word.substr(0, word.size() - suffix.size())) + std::string(repl));
            }
        }
        return out;
    }
};

WordNet::WordNet(std::unique_ptr<Files> files) : files_(std::move(files)) {}
WordNet::~WordNet() = default;

std::string WordNet::default_dir() {
    const char* env = std::getenv("FLINTMILL_WORDNET");
    return env != nullptr && *env != '\0' ? env : "/usr/share/wordnet";
}

flintsearch::Result<std::shared_ptr<const WordNet>, std::string> WordNet::open(
    const std::string& dir) {
    auto files = std::make_unique<Files>();
    auto map = [&](Mapped& slot, const std::string& name) -> std::optional<std::string> {
        auto m = Mapped::open(dir + "/" + name);
        if (!m) {
            return m.error();
        }
        slot = std::move(*m);
        return std::nullopt;
    };
    for (std::size_t p = 0; p < PosCount; ++p) {
        std::string name = pos_names[p];
        for (auto [slot, file] : {std::pair{&files->index[p], "index." + name},
                                  std::pair{&files->data[p], "data." + name},
                                  std::pair{&files->exc[p], name + ".exc"}}) {
            if (auto err = map(*slot, file)) {
                return flintsearch::unexpected(*err);
            }
        }
    }
    if (auto err = map(files->cntlist, "cntlist.rev")) {
        return flintsearch::unexpected(*err);
    }
    return std::shared_ptr<const WordNet>(new WordNet(std::move(files)));
}

std::vector<std::string> WordNet::base_forms(std::string_view word) const {
    std::string w = lower(word);
    std::vector<std::string> out;
    for (std::size_t p = 0; p < PosCount; ++p) {
        for (auto& b : files_->base_forms(static_cast<Pos>(p), w)) {
            if (std::find(out.begin(), out.end(), b) == out.end()) {
                out.push_back(std::move(b));
            }
        }
    }
    return out;
}

std::vector<RelatedWord> WordNet::related(std::string_view word, std::size_t limit) const {
    const Files& f = *files_;
    std::string w = lower(word);
    if (!is_plain_word(w) || limit == 0) {
        return {};
    }

    struct Sense {
        Pos pos;
        std::size_t offset;
        std::string lemma;
        int count;
        Synset synset;
    };
    std::vector<Sense> senses;
    std::vector<std::string> own_forms{w};
    for (std::size_t p = 0; p < PosCount; ++p) {
        auto pos = static_cast<Pos>(p);
        std::vector<std::string> forms = f.base_forms(pos, w);
        if (forms.empty()) {
            continue;
        }
        own_forms.insert(own_forms.end(), forms.begin(), forms.end());
        const std::string& lemma = forms.front();
        std::size_t rank = 0;
        for (std::size_t off : f.senses(pos, lemma)) {
            auto s = f.synset(pos, off);
            if (!s) {
                continue;
            }
            int c = f.count(*s, lemma);
            // Untagged senses beyond the first are rare by construction.
            if (c > 0 || rank == 0) {
                senses.push_back({pos, off, lemma, c, std::move(*s)});
            }
            ++rank;
        }
    }
    if (senses.empty()) {
        return {};
    }
    std::stable_sort(senses.begin(), senses.end(),
                     [](const Sense& a, const Sense& b) { return a.count > b.count; });
    const int top = senses.front().count;
    // Keep the dominant sense and at most one rival seen at least half as
    // often; with no tagged counts at all, only the first listed sense.
    std::vector<std::pair<const Sense*, double>> kept;
    for (const Sense& s : senses) {
        if (kept.size() == 2) {
            break;
        }
        if (kept.empty()) {
            kept.emplace_back(&s, 1.0);
        } else if (top > 0 && s.count * 2 >= top && s.count >= 2) {
            kept.emplace_back(&s, static_cast<double>(s.count) / top);
        }
    }

    std::map<std::string, RelatedWord> best;
    auto offer = [&](std::string cand, double weight, Relation rel) {
        if (!is_plain_word(cand) || too_generic(cand) ||
            std::find(own_forms.begin(), own_forms.end(), cand) != own_forms.end()) {
            return;
        }
        auto [it, fresh] = best.try_emplace(cand, RelatedWord{cand, weight, rel});
        if (!fresh && it->second.weight < weight) {
            it->second = RelatedWord{cand, weight, rel};
        }
    };
    // A multi-word lemma stands for its head noun, the last word
    // ("domestic_cat" -> "cat"), when that word is a noun of its own.
    auto head = [&](const std::string& lemma) -> std::string {
        std::size_t us = lemma.rfind('_');
        if (us == std::string::npos) {
            return lemma;
        }
        std::string h = lemma.substr(us + 1);
        return f.senses(Noun, h).empty() ? std::string() : h;
    };
    // The most frequent words of a synset, by their tagged counts.
    // Single words come before compounds; an untagged compound counts half
    // as much as its head's usual sense ("domestic_cat" as "cat").
    auto ranked_words = [&](const Synset& s) {
        std::vector<std::pair<int, std::string>> out;
        for (const auto& [lemma, id] : s.words) {
            int c = f.count(s, lemma);
            bool compound = lemma.find('_') != std::string::npos;
            if (compound && c == 0 && s.ss_type == 'n') {
                std::string h = lemma.substr(lemma.rfind('_') + 1);
                auto offs = f.senses(Noun, h);
                if (!offs.empty()) {
                    if (auto hs = f.synset(Noun, offs.front())) {
                        c = f.count(*hs, h) / 2;
                    }
                }
            }
            out.emplace_back(compound ? c : c * 2 + 1, lemma);
        }
        std::stable_sort(out.begin(), out.end(),
                         [](const auto& a, const auto& b) { return a.first > b.first; });
        for (auto& [c, lemma] : out) {
            c = lemma.find('_') == std::string::npos ? c / 2 : c;
        }
        return out;
    };
    auto offer_synset = [&](const Synset& s, double weight, Relation rel, std::size_t words) {
        std::size_t given = 0;
        for (const auto& [c, lemma] : ranked_words(s)) {
            std::string h = head(lemma);
            if (given == words || h.empty()) {
                continue;
            }
            offer(h, weight * (h == lemma ? 1.0 : 0.8), rel);
            ++given;
        }
    };
    auto narrower = [&](const Synset& s, double weight) {
        std::vector<std::pair<int, Synset>> kids;
        for (const Pointer& p : s.pointers) {
            if (p.symbol != "~" && p.symbol != "~i") {
                continue;
            }
            if (auto k = f.synset(p.pos, p.offset)) {
                auto words = ranked_words(*k);
                int c = words.empty() ? 0 : words.front().first;
                if (c > 0) {
                    kids.emplace_back(c, std::move(*k));
                }
            }
        }
        std::stable_sort(kids.begin(), kids.end(),
                         [](const auto& a, const auto& b) { return a.first > b.first; });
        for (std::size_t i = 0; i < kids.size() && i < 3; ++i) {
            offer_synset(kids[i].second, weight * (1.0 - 0.1 * static_cast<double>(i)),
                         Relation::Narrower, 1);
        }
    };

    for (const auto& [sense, sw] : kept) {
        const Synset& s = sense->synset;
        for (const auto& [c, lemma] : ranked_words(s)) {
            if (lemma == sense->lemma) {
                continue;
            }
            if (lemma.find('_') == std::string::npos) {
                if (c > 0 || sense->count == 0) {
                    offer(lemma, sw * (c > 0 ? 1.0 : 0.7), Relation::Synonym);
                }
            } else if (std::string h = head(lemma); !h.empty() && c > 0) {
                offer(h, sw * 0.5, Relation::Broader);
            }
        }
        bool has_narrower = false;
        int up = 0;
        for (const Pointer& p : s.pointers) {
            if ((p.symbol == "@" || p.symbol == "@i") && up < 2) {
                if (p.pos == Noun && f.depth(Noun, p.offset) < 5) {
                    continue;
                }
                if (auto h = f.synset(p.pos, p.offset)) {
                    offer_synset(*h, sw * 0.6, Relation::Broader, 1);
                    ++up;
                }
            }
            has_narrower = has_narrower || p.symbol == "~" || p.symbol == "~i";
        }
        if (has_narrower) {
            narrower(s, sw * 0.5);
        } else if (sense->pos == Noun) {
            // A leaf sense is often defined by a compound genus ("pet": "a
            // domesticated animal kept for companionship"): that compound's
            // own kinds are the words people use instead ("dog", "cat").
            std::vector<std::string> g;
            for (std::string_view tok : split(s.gloss.substr(0, s.gloss.find_first_of(";(")))) {
                std::string t = lower(tok);
                if (std::find(gloss_stop.begin(), gloss_stop.end(), t) == gloss_stop.end()) {
                    g.push_back(std::move(t));
                }
                if (g.size() == 4) {
                    break;
                }
            }
            for (std::size_t i = 0; i + 1 < g.size(); ++i) {
                auto offs = f.senses(Noun, g[i] + "_" + g[i + 1]);
                if (offs.empty()) {
                    continue;
                }
                if (auto genus = f.synset(Noun, offs.front())) {
                    narrower(*genus, sw * 0.45);
                }
                break;
            }
        }
    }

    std::vector<RelatedWord> out;
    for (auto& [k, r] : best) {
        out.push_back(std::move(r));
    }
    std::stable_sort(out.begin(), out.end(), [](const RelatedWord& a, const RelatedWord& b) {
        return a.weight > b.weight;
    });
    if (out.size() > limit) {
        out.resize(limit);
    }
    return out;
}

}  // namespace flintmill::meaning
