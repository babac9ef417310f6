// Ranking and snippets over a small real index.
#include "flintmill/index/search.hpp"

#include <gtest/gtest.h>

#include "flintmill/index/index.hpp"
#include "flintmill/index/score.hpp"
#include "flintmill/index/words.hpp"
#include "temp_dir.hpp"

namespace flintmill::index {
namespace {

TEST(Search, ScoresMeanTheSameAcrossQueries) {
    flintsearch::test::TempDir dir;
    auto index = Index::open((dir.path() / "ix").string(), "en");
    ASSERT_TRUE(index.has_value());
    const DocumentRecord docs[] = {
        {"/d/garden.txt",
         "Garden budget",
         "The budget for the garden. Seeds cost more.",
         {1, 1, 1}},
        {"/d/notes.txt", "", "Plans for the week. Somewhere the garden is mentioned.", {2, 1, 1}},
        {"/d/other.txt", "", "Nothing to see here at all.", {3, 1, 1}},
    };
    for (const auto& d : docs) {
        ASSERT_TRUE(index->add(d).has_value());
    }
    ASSERT_TRUE(index->commit().has_value());
    auto db = open_reader((dir.path() / "ix").string());
    ASSERT_TRUE(db.has_value());

    const auto exact = search(*db, "garden budget", 10);
    ASSERT_TRUE(exact.has_value());
    ASSERT_EQ(exact->size(), 2u);
    EXPECT_EQ((*exact)[0].path, "/d/garden.txt");
    EXPECT_GE((*exact)[0].score, 0.97f);  // the title is the query
    EXPECT_LT((*exact)[1].score, 0.5f);   // one word of two, in passing
    // The most relevant sentence comes first in the snippet.
    EXPECT_EQ((*exact)[1].snippet.rfind("Somewhere the garden", 0), 0u);

    const auto typing = search(*db, "gard", 10);  // the last word as a prefix
    ASSERT_TRUE(typing.has_value());
    ASSERT_EQ(typing->size(), 2u);
    EXPECT_GT((*typing)[1].score, 0.5f);  // all of the query matched

    const auto none = search(*db, "  ", 10);
    ASSERT_TRUE(none.has_value());
    EXPECT_TRUE(none->empty());

    ASSERT_TRUE(index->rename("/d", "/e").has_value());
    ASSERT_TRUE(index->remove("/e/other.txt").has_value());
    ASSERT_TRUE(index->commit().has_value());
    db->reopen();
    const auto moved = search(*db, "garden", 10);
    ASSERT_TRUE(moved.has_value());
    ASSERT_EQ(moved->size(), 2u);
    EXPECT_EQ((*moved)[0].path.rfind("/e/", 0), 0u);
    EXPECT_EQ(index->size(), 2u);
}

TEST(Score, FallsWithThePartOfTheQueryMatched) {
    const ScoreInputs rows[] = {{1, 1, 1, true},
                                {1, 1, 1, false},
                                {1, 0.5, 0, false},
                                {0.5, 1, 1, false},
                                {0.1, 1, 0, false}};
    float last = 2.0f;
    for (const auto& r : rows) {
        const float s = calibrated_score(r);
        EXPECT_LT(s, last);
        EXPECT_GE(s, 0.0f);
        last = s;
    }
    EXPECT_LT(last, 0.15f);
}

TEST(Words, StemmerFollowsTheLocale) {
    std::string lang;
    stemmer_for_locale("de_DE.UTF-8", &lang);
    EXPECT_EQ(lang, "de");
    stemmer_for_locale("xx_YY", &lang);
    EXPECT_EQ(lang, "en");
}

}  // namespace
}  // namespace flintmill::index
