#include "flint/colors.hpp"

#include <gtest/gtest.h>

#include <array>
#include <string>

namespace {

using Channels = std::array<int, 3>;

Channels channels(const std::string& color) {
    return {flint::channel_byte(color, 0), flint::channel_byte(color, 1),
            flint::channel_byte(color, 2)};
}

TEST(ChannelByte, ReadsHexPairsAndNeverFails) {
    struct Row {
        std::string color;
        Channels expected;
    };
    const Row rows[] = {
        {"#0c0c0c", {12, 12, 12}},
        {"#b98749", {185, 135, 73}},
        {"#eab672", {234, 182, 114}},
        {"#FFFFFF", {255, 255, 255}},
        {"#FfAa09", {255, 170, 9}},
        {"ffffff", {255, 255, 255}},
        {"##ffffff", {255, 255, 255}},
        {"###0000ff", {0, 0, 255}},
        {"#ffffff80", {255, 255, 255}},
        {"#abc", {171, 0, 0}},  // no shorthand expansion; short spans read "00"
        {"#abcd", {171, 205, 0}},
        {"#a", {0, 0, 0}},
        {"", {0, 0, 0}},
        {"#", {0, 0, 0}},
        {"tomato", {0, 0, 0}},
        {"#+f+f+f", {15, 15, 15}},
        {"#-1ffff", {0, 255, 255}},
        {"#++ffff", {0, 255, 255}},
        {"#f+ffff", {0, 255, 255}},
        {"#+ ffff", {0, 255, 255}},
        {"# fffff", {0, 255, 255}},
        {"#gg0000", {0, 0, 0}},
        {"#12#456", {18, 0, 86}},  // only leading '#'s are stripped
        // Multi-byte characters: a span cut inside one reads "00"; a whole
        // one is not a digit. U+00E9 is two bytes, U+20AC three.
        {"#\xC3\xA9"
         "ffff",
         {0, 255, 255}},
        {"#a\xC3\xA9"
         "fff",
         {0, 0, 255}},
        {"#\xE2\x82\xAC"
         "fff",
         {0, 0, 255}},
        {"#ff\xE2\x82\xAC"
         "f",
         {255, 0, 0}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.color);
        EXPECT_EQ(channels(row.color), row.expected);
    }
    EXPECT_EQ(flint::channel_byte("#ffffff", 3), 0);
    EXPECT_EQ(flint::channel_byte("#ffffff", -1), 0);
}

TEST(Luminance, MatchesTheReferenceTableAndPicksInk) {
    struct Row {
        std::string color;
        float luminance;  // to four places
        const char* ink;
    };
    const Row rows[] = {
        {"#0c0c0c", 0.0037f, "#f5f5f5"}, {"#1a1a1a", 0.0103f, "#f5f5f5"},
        {"#b98749", 0.2812f, "#11111b"}, {"#eab672", 0.5216f, "#11111b"},
        {"#d8d8d8", 0.6867f, "#11111b"}, {"#767676", 0.1812f, "#11111b"},
        {"#757575", 0.1779f, "#f5f5f5"}, {"#ff0000", 0.2126f, "#11111b"},
        {"#0000ff", 0.0722f, "#f5f5f5"}, {"#abc", 0.0866f, "#f5f5f5"},
        {"", 0.0f, "#f5f5f5"},           {"tomato", 0.0f, "#f5f5f5"},
        {"##ffffff", 1.0f, "#11111b"},   {"#FFFFFF", 1.0f, "#11111b"},
        {"#ffffff80", 1.0f, "#11111b"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.color);
        EXPECT_NEAR(flint::relative_luminance(row.color), row.luminance, 0.00005f);
        EXPECT_STREQ(flint::on_color(row.color), row.ink);
    }
    EXPECT_EQ(flint::on_color("#000000"), flint::INK_LIGHT) << "returns the constant itself";
    EXPECT_EQ(flint::relative_luminance("#ffffff"), 1.0f);
}

TEST(Luminance, GreyBoundaryIsBetween117And118) {
    for (int c = 0; c < 256; ++c) {
        char color[8];
        std::snprintf(color, sizeof color, "#%02x%02x%02x", c, c, c);
        SCOPED_TRACE(color);
        EXPECT_STREQ(flint::on_color(color), c >= 118 ? flint::INK_DARK : flint::INK_LIGHT);
    }
}

TEST(Rgba, WritesChannelsAndShortestPlainAlpha) {
    struct Row {
        std::string color;
        float alpha;
        std::string expected;
    };
    const Row rows[] = {
        {"#0c0c0c", 0.6f, "rgba(12, 12, 12, 0.6)"},
        {"#b98749", 1.0f, "rgba(185, 135, 73, 1)"},
        {"#ffffff", 0.25f, "rgba(255, 255, 255, 0.25)"},
        {"#ffffff", 0.14f, "rgba(255, 255, 255, 0.14)"},
        {"#ffffff", 0.85f, "rgba(255, 255, 255, 0.85)"},
        {"tomato", 0.5f, "rgba(0, 0, 0, 0.5)"},
        {"", 0.0f, "rgba(0, 0, 0, 0)"},
        // No exponent form, no clamping.
        {"#000000", 1e-7f, "rgba(0, 0, 0, 0.0000001)"},
        {"#000000", 1.5e-10f, "rgba(0, 0, 0, 0.00000000015)"},
        {"#000000", 123456789.0f, "rgba(0, 0, 0, 123456790)"},
        {"#000000", 1e30f, "rgba(0, 0, 0, 1000000000000000000000000000000)"},
        {"#000000", 2.5f, "rgba(0, 0, 0, 2.5)"},
        {"#000000", -0.5f, "rgba(0, 0, 0, -0.5)"},
        {"#000000", -3e-8f, "rgba(0, 0, 0, -0.00000003)"},
        {"#000000", 100.0f, "rgba(0, 0, 0, 100)"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.expected);
        EXPECT_EQ(flint::rgba(row.color, row.alpha), row.expected);
    }
}

TEST(FormatAlpha, ReadsBackAsTheSameFloat) {
    for (float a = 1e-6f; a < 1e6f; a *= 1.37f) {
        const std::string text = flint::format_alpha(a);
        SCOPED_TRACE(text);
        EXPECT_EQ(text.find('e'), std::string::npos);
        EXPECT_EQ(std::strtof(text.c_str(), nullptr), a);
    }
}

}  // namespace
