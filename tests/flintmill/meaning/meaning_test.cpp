// Related words chosen from WordNet, spelling from an index's vocabulary,
// and the quality set's promise that its paraphrases share no stem.
#include <gtest/gtest.h>
#include <xapian.h>

#include <algorithm>
#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "flintmill/meaning/spelling.hpp"
#include "flintmill/meaning/wordnet.hpp"

namespace fm = flintmill::meaning;

namespace {

std::vector<std::string> words_of(const std::vector<fm::RelatedWord>& related) {
    std::vector<std::string> out;
    for (const auto& r : related) {
        out.push_back(r.word);
    }
    return out;
}

bool has(const std::vector<std::string>& v, const std::string& w) {
    return std::find(v.begin(), v.end(), w) != v.end();
}

}  // namespace

TEST(RelatedWords, ChosenFromTheUsualSenses) {
    auto wn = fm::WordNet::open();
    ASSERT_TRUE(wn) << wn.error();
    struct Row {
        const char* word;
        std::vector<std::string> wanted;    // each must be among the related words
        std::vector<std::string> unwanted;  // none may be
    };
    const Row rows[] = {
        {"car", {"automobile", "vehicle"}, {"machine", "entity", "object", "car"}},
        {"cars", {"automobile"}, {"cars", "car"}},
        {"pet", {"dog", "cat"}, {"entity", "organism"}},
        {"fixing", {"repair", "mend"}, {"fix", "doctor"}},
        {"holiday", {"vacation"}, {"entity"}},
        {"invoice", {"bill"}, {}},
        {"puppy", {"dog"}, {}},
        {"xqzzy", {}, {}},
        {"the", {}, {}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.word);
        std::vector<fm::RelatedWord> related = (*wn)->related(row.word);
        std::vector<std::string> got = words_of(related);
        EXPECT_LE(got.size(), 4u);
        for (const auto& w : row.wanted) {
            EXPECT_TRUE(has(got, w)) << w;
        }
        for (const auto& w : row.unwanted) {
            EXPECT_FALSE(has(got, w)) << w;
        }
        for (const auto& r : related) {
            EXPECT_GT(r.weight, 0.0);
            EXPECT_LE(r.weight, 1.0);
        }
    }
}

TEST(RelatedWords, SynonymsOfTheUsualSenseComeFirst) {
    auto wn = fm::WordNet::open();
    ASSERT_TRUE(wn) << wn.error();
    std::vector<fm::RelatedWord> related = (*wn)->related("car");
    ASSERT_FALSE(related.empty());
    EXPECT_EQ(related.front().relation, fm::Relation::Synonym);
    EXPECT_LT(related.back().weight, related.front().weight);
}

TEST(RelatedWords, BaseForms) {
    auto wn = fm::WordNet::open();
    ASSERT_TRUE(wn) << wn.error();
    EXPECT_TRUE(has((*wn)->base_forms("geese"), "goose"));
    EXPECT_TRUE(has((*wn)->base_forms("fixing"), "fix"));
    EXPECT_TRUE(has((*wn)->base_forms("churches"), "church"));
    EXPECT_TRUE((*wn)->base_forms("xqzzy").empty());
}

TEST(RelatedWords, MissingDatabaseIsAReadableError) {
    auto wn = fm::WordNet::open("/nonexistent");
    ASSERT_FALSE(wn);
    EXPECT_NE(wn.error().find("/nonexistent/index.noun"), std::string::npos);
}

TEST(Spelling, CorrectsTowardsTheIndexsOwnWords) {
    Xapian::WritableDatabase db(std::string(), Xapian::DB_BACKEND_INMEMORY);
    for (const char* text : {"recipe lasagna", "recipe soup", "receipt tax", "dentist appointment",
                             "mortgage bank", "recite poem", "cat vet"}) {
        Xapian::Document doc;
        std::istringstream in(text);
        for (std::string w; in >> w;) {
            doc.add_term(w);
        }
        db.add_document(doc);
    }
    struct Row {
        const char* typed;
        const char* wanted;  // empty: no correction
    };
    const Row rows[] = {
        {"recipie", "recipe"},    // an extra letter
        {"dentsit", "dentist"},   // two letters swapped
        {"mortage", "mortgage"},  // a letter left out
        {"reciept", "receipt"},   // swapped, and "recipe" is further
        {"recipe", ""},           // known: left alone
        {"cta", ""},              // too short to guess
        {"lasagnaaaa", ""},       // too far
        {"zebra", ""},            // nothing near
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.typed);
        auto got = fm::correct_spelling(db, row.typed);
        EXPECT_EQ(got.value_or(""), row.wanted);
    }
    EXPECT_EQ(fm::edit_distance("kitten", "sitting", 5), 3u);
    EXPECT_EQ(fm::edit_distance("kitten", "sitting", 1), 2u);
}

// The paraphrases of the quality set are only worth measuring if they truly
// share no stem with the notes they should find.
TEST(QualitySet, ParaphrasesShareNoStemWithTheirDocuments) {
    const std::string dir = FLINTMILL_QUALITY_DIR;
    Xapian::Stem stem("english");
    auto stems = [&](const std::string& text) {
        std::set<std::string> out;
        std::string word;
        auto flush = [&] {
            if (!word.empty()) {
                out.insert(stem(word));
            }
            word.clear();
        };
        for (char c : text) {
            auto u = static_cast<unsigned char>(c);
            if (std::isalnum(u) || u >= 0x80) {
                word += static_cast<char>(std::tolower(u));
            } else {
                flush();
            }
        }
        flush();
        return out;
    };
    std::ifstream tsv(dir + "/queries.tsv");
    ASSERT_TRUE(tsv) << dir;
    int paraphrases = 0;
    for (std::string line; std::getline(tsv, line);) {
        if (line.empty() || line[0] == '#') {
            continue;
        }
        std::istringstream row(line);
        std::string kind, query, docs;
        std::getline(row, kind, '\t');
        std::getline(row, query, '\t');
        std::getline(row, docs, '\t');
        ASSERT_FALSE(docs.empty()) << line;
        std::istringstream names(docs);
        for (std::string name; std::getline(names, name, ',');) {
            std::ifstream doc(dir + "/docs/" + name);
            ASSERT_TRUE(doc) << name;
            if (kind != "paraphrase") {
                continue;
            }
            std::stringstream body;
            body << name << "\n" << doc.rdbuf();
            std::set<std::string> doc_stems = stems(body.str());
            for (const std::string& s : stems(query)) {
                EXPECT_FALSE(doc_stems.count(s))
                    << "\"" << query << "\" shares \"" << s << "\" with " << name;
            }
            ++paraphrases;
        }
    }
    EXPECT_GE(paraphrases, 20);
}
