#include "flint/text.hpp"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <string>

namespace {

using namespace std::string_literals;

TEST(TrimWhiteSpace, StripsEveryUnicodeWhiteSpaceAtBothEnds) {
    struct Row {
        std::string in;
        std::string out;
    };
    const Row rows[] = {
        {"", ""},
        {"  4711\n", "4711"},
        {"\t\v\f\r 4711 \r\n", "4711"},
        {"\xC2\x85"
         "a"
         "\xC2\xA0",
         "a"},  // U+0085, U+00A0
        {"\xE1\x9A\x80"
         "a"
         "\xE2\x80\x8A",
         "a"},  // U+1680, U+200A
        {"\xE2\x80\xA8\xE2\x80\xA9"
         "a"
         "\xE2\x80\xAF",
         "a"},  // U+2028/9, U+202F
        {"\xE2\x81\x9F"
         "a"
         "\xE3\x80\x80",
         "a"},           // U+205F, U+3000
        {"a b", "a b"},  // interior kept
        {"\xE2\x80\x8B"
         "a",
         "\xE2\x80\x8B"
         "a"},               // U+200B is not White_Space
        {" \xFF ", "\xFF"},  // invalid bytes are never stripped
        {"\xA0", "\xA0"},    // a lone continuation byte
        {"   ", ""},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.in);
        EXPECT_EQ(flint::trim_white_space(row.in), row.out);
    }
}

TEST(Utf8, ValidatesStrictly) {
    EXPECT_TRUE(flint::is_valid_utf8(""));
    EXPECT_TRUE(flint::is_valid_utf8("h\xC3\xA9llo \xF0\x9F\x94\x8D"));
    EXPECT_FALSE(flint::is_valid_utf8("\xC0\xAF"));          // overlong
    EXPECT_FALSE(flint::is_valid_utf8("\xED\xA0\x80"));      // surrogate
    EXPECT_FALSE(flint::is_valid_utf8("\xF4\x90\x80\x80"));  // above U+10FFFF
    EXPECT_FALSE(flint::is_valid_utf8("\xE2\x82"));          // truncated
    EXPECT_TRUE(flint::is_valid_utf8("a\0b"s));
}

TEST(Utf8, LossyConversionReplacesEachMaximalSubpart) {
    EXPECT_EQ(flint::to_utf8_lossy("ok"), "ok");
    EXPECT_EQ(flint::to_utf8_lossy("a\xFF"
                                   "b"),
              "a\xEF\xBF\xBD"
              "b");
    // A truncated three-byte sequence is one replacement, not two.
    EXPECT_EQ(flint::to_utf8_lossy("\xE2\x82"
                                   "x"),
              "\xEF\xBF\xBD"
              "x");
    EXPECT_EQ(flint::to_utf8_lossy("\xC0\xAF"), "\xEF\xBF\xBD\xEF\xBF\xBD");
}

TEST(JoinPath, AddsOneSeparator) {
    EXPECT_EQ(flint::join_path("/run/user/1000", "flintsearch.pid"),
              "/run/user/1000/flintsearch.pid");
    EXPECT_EQ(flint::join_path("/run/user/1000/", "flintsearch.pid"),
              "/run/user/1000/flintsearch.pid");
    EXPECT_EQ(flint::join_path("", "flintsearch.pid"), "flintsearch.pid");
    EXPECT_EQ(flint::join_path("/a", "/b"), "/b");
}

TEST(EnvUtf8, UsesSetValuesOnlyWhenValid) {
    ::setenv("FLINT_TEXT_TEST", "", 1);
    EXPECT_EQ(flint::env_utf8("FLINT_TEXT_TEST"), std::optional<std::string>(""));
    ::setenv("FLINT_TEXT_TEST", "\xFF", 1);
    EXPECT_EQ(flint::env_utf8("FLINT_TEXT_TEST"), std::nullopt);
    ::unsetenv("FLINT_TEXT_TEST");
    EXPECT_EQ(flint::env_utf8("FLINT_TEXT_TEST"), std::nullopt);
}

TEST(OsErrorText, NamesMessageAndNumber) {
    EXPECT_EQ(flint::os_error_text(ENOENT), "No such file or directory (os error 2)");
    EXPECT_EQ(flint::os_error_text(ECONNREFUSED), "Connection refused (os error 111)");
}

TEST(ReadFile, DistinguishesMissingAndNonUtf8) {
    EXPECT_EQ(flint::read_file("/nonexistent/flint"), std::nullopt);
    EXPECT_EQ(flint::read_file("a\0b"s), std::nullopt);
    EXPECT_TRUE(flint::read_file("/proc/self/comm").has_value());
    EXPECT_EQ(flint::read_file("/tmp"), std::nullopt);
    const std::string fifo = "/tmp/flint-text-test-fifo-" + std::to_string(::getpid());
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    EXPECT_EQ(flint::read_file(fifo), std::nullopt);  // returns at once, no writer needed
    ::unlink(fifo.c_str());
}

}  // namespace
