#include "window/row_text.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>

#include "flint/text.hpp"

namespace flintsearch::window {
namespace {

TEST(ScoreText, RoundsTheSinglePrecisionPercentageHalfToEvenWithin0To100) {
    const float max = std::numeric_limits<float>::max();
    const float inf = std::numeric_limits<float>::infinity();
    const float nan = std::numeric_limits<float>::quiet_NaN();
    struct Case {
        float score;
        const char* text;
    };
    const Case cases[] = {
        {0.873f, "87%"},
        {1.0f, "100%"},
        {0.0f, "0%"},
        {0.125f, "12%"},
        {0.375f, "38%"},
        {0.999f, "100%"},
        {0.005f, "0%"},
        {-0.0f, "0%"},
        {0.015f, "2%"},
        {0.025f, "2%"},
        // Outside 0..1 the row shows the nearest end.
        {-0.05f, "0%"},
        {-0.001f, "0%"},
        {-2.0f, "0%"},
        {1.5f, "100%"},
        {12345.678f, "100%"},
        {1e30f, "100%"},
        {-1e30f, "0%"},
        {max, "100%"},
        {inf, "100%"},
        {-inf, "0%"},
        {nan, "0%"},
        {-nan, "0%"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.score);
        EXPECT_EQ(score_text(c.score), c.text);
    }
}

TEST(SnippetLine, KeepsTheTrimmedFirstLine) {
    struct Case {
        const char* name;
        std::string snippet;
        std::string line;
    };
    const Case cases[] = {
        {"single line", "hello world", "hello world"},
        {"empty", "", ""},
        {"first of several", "one\ntwo\nthree", "one"},
        {"crlf", "  first line  \r\nsecond", "first line"},
        {"blank first line hides the rest", "\n  second line", ""},
        {"only white space", " \t\u00a0\u3000 ", ""},
        {"unicode white space trimmed", "\u2003\u00a0title\u202f\u205f", "title"},
        {"carriage return alone is not a break", "a\rb", "a\rb"},
        {"lone cr before end trimmed", "text\r", "text"},
        {"line separator is not a line feed", "a\u2028b\nc", "a\u2028b"},
        {"embedded nul kept", std::string("a\0b\nc", 5), std::string("a\0b", 3)},
        {"invalid utf-8 kept", "\xff x \n", "\xff x"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(snippet_line(c.snippet), c.line);
    }
}

TEST(ParentFolder, DropsTheLastComponent) {
    struct Case {
        std::string path;
        std::string parent;
    };
    const Case cases[] = {
        {"/home/u/docs/a.pdf", "/home/u/docs"},
        {"/a", "/"},
        {"a.pdf", ""},
        {"report.pdf", ""},
        {"/", "/"},
        {"", ""},
        {"///", "///"},
        {"/home/u/docs/", "/home/u"},
        {"/home/u/docs//", "/home/u"},
        {"/home/u//docs", "/home/u"},
        {"//a", "/"},
        {"a/b", "a"},
        {"a//", ""},
        {"./a.pdf", "."},
        {"/home/\xff/a.pdf", "/home/\xef\xbf\xbd"},
        {"/\xc3\xa9t\xc3\xa9/x", "/\xc3\xa9t\xc3\xa9"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.path);
        EXPECT_EQ(parent_folder(c.path), c.parent);
    }
}

TEST(AccessibleRowText, ReadsTitleScoreAndFolderAsOneSentence) {
    const struct {
        const char* title;
        float score;
        const char* path;
        const char* spoken;
    } cases[] = {
        {"Report one", 0.87f, "/home/u/docs/report one.pdf", "Report one, 87%, in /home/u/docs"},
        {"Root file", 0.5f, "/a", "Root file, 50%, in /"},
        {"Bare name", 0.25f, "a.pdf", "Bare name, 25%"},
        {"", 1.0f, "/", ", 100%"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.path);
        EXPECT_EQ(accessible_row_text(c.title, c.score, c.path), c.spoken);
    }
}

TEST(LabelText, CutsHugeTextOnACharacterWithAnEllipsis) {
    const std::string ellipsis = "\u2026";
    const std::string euro = "\u20ac";  // three bytes
    struct Row {
        const char* name;
        std::string text;
        Keep keep;
    };
    const Row rows[] = {
        {"ASCII, start kept", std::string(5000, 'a'), Keep::Start},
        {"ASCII, end kept", std::string(5000, 'a') + "/name.pdf", Keep::End},
        {"multi-byte, start kept",
         [&] {
             std::string t;
             while (t.size() < 5000) t += euro;
             return t;
         }(),
         Keep::Start},
        {"multi-byte, end kept",
         "x" +
             [&] {
                 std::string t;
                 while (t.size() < 5000) t += euro;
                 return t;
             }(),
         Keep::End},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        const std::string got = label_text(row.text, row.keep);
        EXPECT_LE(got.size(), MAX_LABEL_BYTES);
        EXPECT_GT(got.size(), MAX_LABEL_BYTES - 8);
        EXPECT_TRUE(flint::is_valid_utf8(got));
        if (row.keep == Keep::Start) {
            ASSERT_TRUE(got.ends_with(ellipsis));
            EXPECT_TRUE(row.text.starts_with(got.substr(0, got.size() - ellipsis.size())));
        } else {
            ASSERT_TRUE(got.starts_with(ellipsis));
            EXPECT_TRUE(row.text.ends_with(got.substr(ellipsis.size())));
        }
    }
    // Up to the bound, the text is the label.
    const std::string fits(MAX_LABEL_BYTES, 'f');
    EXPECT_EQ(label_text(fits, Keep::Start), fits);
    EXPECT_EQ(label_text("", Keep::End), "");
}

}  // namespace
}  // namespace flintsearch::window
