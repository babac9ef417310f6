#include "flint/palette.hpp"

#include <gtest/gtest.h>
#include <pwd.h>
#include <unistd.h>

#include <map>
#include <optional>
#include <string>

#include "theme_test_support.hpp"

namespace {

using Map = std::map<std::string, std::string>;
using theme_test::EnvGuard;
using theme_test::TempDir;

TEST(ParseWalColors, AppliesTheDocumentRules) {
    struct Row {
        std::string text;
        std::optional<Map> colors;  // nothing: rejected
    };
    const Row rows[] = {
        {R"({})", Map{}},
        {R"({"colors":{}})", Map{}},
        {R"({"colors":{"color1":"#ff0000"}})", Map{{"color1", "#ff0000"}}},
        // A non-string anywhere in the map rejects the whole file.
        {R"({"colors":{"color1":"#ff0000","color9":5}})", std::nullopt},
        {R"({"colors":{"color1":true}})", std::nullopt},
        {R"({"colors":{"color1":null}})", std::nullopt},
        {R"({"colors":{"a":{"b":"c"}}})", std::nullopt},
        {R"({"colors":{"a":["c"]}})", std::nullopt},
        // "colors" itself must be an object.
        {R"({"colors":null})", std::nullopt},
        {R"({"colors":[]})", std::nullopt},
        {R"({"colors":"#fff"})", std::nullopt},
        {R"({"colors":1})", std::nullopt},
        // Duplicates: later wins inside the map, twice at the top rejects.
        {R"({"colors":{"color1":"a","color1":"b"}})", Map{{"color1", "b"}}},
        {R"({"colors":{},"colors":{}})", std::nullopt},
        {R"({"colors":{"color1":"a"},"x":1,"colors":{"color1":"b"}})", std::nullopt},
        // Other members are skipped whole, "colors" keys inside them included.
        {R"({"wallpaper":"/w.png","special":{"background":"#fff","foreground":"#000"},)"
         R"("colors":{"color2":"x"}})",
         Map{{"color2", "x"}}},
        {R"({"x":{"colors":5},"y":[{"colors":[]},null,1.5e3,-2],"colors":{"c":"d"}})",
         Map{{"c", "d"}}},
        {R"({"x":{"colors":{}},"colors":{}})", Map{}},
        {R"({"a":1,"a":2})", Map{}},
        {R"({"Colors":5})", Map{}},
        // Escapes decode as usual, in keys and values.
        {R"({"colors":{"col\u006fr1":"\u00e9\n\"x\""}})", Map{{"color1", "\xC3\xA9\n\"x\""}}},
        // Exactly one value, then only JSON whitespace.
        {"{\"colors\":{\"c\":\"d\"}} \t\r\n", Map{{"c", "d"}}},
        {" \n{}", Map{}},
        {R"({"colors":{"c":"d"}} x)", std::nullopt},
        {"{}\f", std::nullopt},
        {"{}\v", std::nullopt},
        {"{} {}", std::nullopt},
        {"{}\xC2\xA0", std::nullopt},      // U+00A0 is not JSON whitespace
        {"\xEF\xBB\xBF{}", std::nullopt},  // byte order mark
        {"", std::nullopt},
        {"  ", std::nullopt},
        {R"({"colors":{"c":"d",}})", std::nullopt},
        {"// note\n{}", std::nullopt},
        {R"({"colors":{"c":"d"})", std::nullopt},
        // The document must be an object or an array.
        {R"("colors")", std::nullopt},
        {"42", std::nullopt},
        {"null", std::nullopt},
        // Positional form: at most one element, the colour map.
        {"[]", Map{}},
        {R"([{"color1":"a","color1":"b"}])", Map{{"color1", "b"}}},
        {"[{},{}]", std::nullopt},
        {R"([{"color1":5}])", std::nullopt},
        {"[null]", std::nullopt},
        {"[[]]", std::nullopt},
        {R"(["#fff"])", std::nullopt},
        {"[] []", std::nullopt},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.text);
        const auto parsed = flint::parse_wal_colors(row.text);
        ASSERT_EQ(parsed.has_value(), row.colors.has_value());
        if (parsed) {
            EXPECT_EQ(parsed->colors, *row.colors);
        }
    }
}

TEST(ParseWalColors, SkipsDeeplyNestedMembersWithoutRecursing) {
    const std::size_t depth = 200000;
    std::string text = R"({"deep":)";
    text.append(depth, '[');
    text.append(depth, ']');
    text += R"(,"colors":{"color1":"a"}})";
    const auto parsed = flint::parse_wal_colors(text);
    ASSERT_TRUE(parsed.has_value());
    EXPECT_EQ(parsed->colors, (Map{{"color1", "a"}}));
}

TEST(PaletteFrom, UsesOnlyColoursOfColor1ToColor6Verbatim) {
    const flint::Palette defaults;
    const flint::Palette p = flint::palette_from(flint::WalColors{{
        {"color0", "#000001"},
        {"Color1", "#000002"},  // case matters
        {"color2", ""},
        {"color4", "#ABCDEF"},
        {"color5", "tomato"},
        {"color6", " tomato "},
        {"color7", "#000003"},
        {"background", "#000004"},
        {"foreground", "#000005"},
    }});
    EXPECT_EQ(p.red, defaults.red);
    EXPECT_EQ(p.green, defaults.green);
    EXPECT_EQ(p.yellow, defaults.yellow);
    EXPECT_EQ(p.accent, "#ABCDEF");
    EXPECT_EQ(p.pink, "tomato");
    EXPECT_EQ(p.teal, defaults.teal);
    EXPECT_EQ(p.bg, "#0c0c0c");
    EXPECT_EQ(p.fg, "#e8e8e8");
    EXPECT_EQ(p.surface, "#1a1a1a");
    EXPECT_EQ(p.overlay, "#d8d8d8");

    // What is not a colour falls back to that colour's default; a value is
    // pasted into the stylesheet and must not change its rules.
    const char* colours[] = {"#abc",      "#abcd",       "#a1b2c3",
                             "#a1b2c3d4", "transparent", "RebeccaPurple"};
    const char* not_colours[] = {
        "#fff; } .launcher-bg { background-color: magenta; } x {",
        "red;}",
        "url(\"/tmp/fifo\")",
        "#12345",
        "#abcdeg",
        "#",
        "rgb(1,2,3)",
        "alpha(@bg, 0.5)",
        "red\\\r\n",
        "tomato\n",
        "abcdefghijklmnopqrstuvwxyzabcdefg",  // 33 letters
    };
    for (const char* value : colours) {
        SCOPED_TRACE(value);
        EXPECT_EQ(flint::palette_from(flint::WalColors{{{"color1", value}}}).red, value);
    }
    for (const char* value : not_colours) {
        SCOPED_TRACE(value);
        EXPECT_EQ(flint::palette_from(flint::WalColors{{{"color1", value}}}).red, defaults.red);
    }
}

std::string password_home() {
    const passwd* pw = getpwuid(getuid());
    return pw != nullptr && pw->pw_dir != nullptr ? pw->pw_dir : "";
}

TEST(CacheDir, FollowsXdgCacheHomeThenHomeThenPasswordDatabase) {
    const std::string pw_home = password_home();
    const std::optional<std::string> pw_cache =
        pw_home.empty() ? std::nullopt : std::optional<std::string>(pw_home + "/.cache");
    struct Row {
        const char* name;
        std::optional<std::string> xdg;  // nothing: unset
        std::optional<std::string> home;
        std::optional<std::string> expected;
    };
    const Row rows[] = {
        {"xdg wins", "/x/cache", "/home/u", "/x/cache"},
        {"xdg empty counts as set", "", "/home/u", ""},
        {"xdg relative kept", "rel/cache", "/home/u", "rel/cache"},
        {"xdg not utf-8", "/x/\xFF", "/home/u", "/home/u/.cache"},
        {"home", std::nullopt, "/home/u", "/home/u/.cache"},
        {"home with slash", std::nullopt, "/home/u/", "/home/u/.cache"},
        {"home empty", std::nullopt, "", pw_cache},
        {"home unset", std::nullopt, std::nullopt, pw_cache},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        EnvGuard env;
        row.xdg ? env.set("XDG_CACHE_HOME", *row.xdg) : env.unset("XDG_CACHE_HOME");
        row.home ? env.set("HOME", *row.home) : env.unset("HOME");
        EXPECT_EQ(flint::cache_dir(), row.expected);
    }
}

TEST(LoadPalette, ReadsTheCacheFileAfreshEachCall) {
    TempDir dir;
    EnvGuard env;
    env.set("XDG_CACHE_HOME", dir.str());
    const flint::Palette defaults;

    EXPECT_EQ(flint::palette_path(), dir.str() + "/wal/colors.json");
    EXPECT_EQ(flint::load_palette(), defaults) << "no file";

    dir.write("wal/colors.json", R"({"colors":{"color1":"#ff0000","color0":"#123456"}})");
    flint::Palette expected;
    expected.red = "#ff0000";
    EXPECT_EQ(flint::load_palette(), expected);

    dir.write("wal/colors.json", R"({"colors":{"color4":"tomato"}})");
    EXPECT_EQ(flint::load_palette().accent, "tomato") << "not cached";

    struct Row {
        const char* name;
        std::string bytes;
    };
    const Row rejected[] = {
        {"a number in the map", R"({"colors":{"color1":"#ff0000","color9":1}})"},
        {"not UTF-8", "{\"colors\":{\"color1\":\"\xFF\"}}"},
        {"trailing text", R"({"colors":{"color1":"#ff0000"}};)"},
        {"empty file", ""},
    };
    for (const auto& row : rejected) {
        SCOPED_TRACE(row.name);
        dir.write("wal/colors.json", row.bytes);
        EXPECT_EQ(flint::load_palette(), defaults);
    }

    std::filesystem::remove(dir.path() / "wal/colors.json");
    std::filesystem::create_directory(dir.path() / "wal/colors.json");
    EXPECT_EQ(flint::load_palette(), defaults) << "a directory";
}

TEST(LoadPalette, EmptyXdgCacheHomeReadsRelativeToTheWorkingDirectory) {
    TempDir dir;
    theme_test::CwdGuard cwd(dir.path());
    EnvGuard env;
    env.set("XDG_CACHE_HOME", "");
    EXPECT_EQ(flint::palette_path(), "wal/colors.json");
    dir.write("wal/colors.json", R"([{"color3":"#333333"}])");
    EXPECT_EQ(flint::load_palette().yellow, "#333333");
}

}  // namespace
