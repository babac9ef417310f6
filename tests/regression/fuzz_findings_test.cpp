// Inputs found by the fuzz targets. The JSON parser stops at a NUL byte as
// if the input ended there, so text after one used to be ignored.
#include <gtest/gtest.h>

#include <string>

#include "flint/palette.hpp"
#include "wire/protocol.hpp"

namespace {

using namespace std::string_literals;

TEST(FuzzFindings, NulByteAfterTheDocumentRejects) {
    const std::string palettes[] = {
        "{}\0junk"s,
        "{\"colors\":{\"color1\":\"#ffffff\"}}\0"s,
        "[]\0[]"s,
        "\0"s,
    };
    for (const auto& text : palettes) {
        SCOPED_TRACE(testing::PrintToString(text));
        EXPECT_FALSE(flint::parse_wal_colors(text).has_value());
    }
    // The same document without the NUL is fine.
    ASSERT_TRUE(flint::parse_wal_colors("{\"colors\":{\"color1\":\"#ffffff\"}}").has_value());

    const std::string replies[] = {
        "{\"type\":\"ok\"}\0"s,
        "{\"type\":\"ok\"}\0garbage"s,
        "{\"type\":\"ok\"} \0 "s,
    };
    for (const auto& text : replies) {
        SCOPED_TRACE(testing::PrintToString(text));
        EXPECT_FALSE(flintsearch::client::decode_response(text).has_value());
    }
}

}  // namespace
