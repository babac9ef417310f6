#include <gtest/gtest.h>

#include <algorithm>
#include <optional>
#include <string>

#include "flint/gtk/theme.hpp"
#include "theme_test_support.hpp"

namespace {

using theme_test::EnvGuard;

// The 39 rule lines with the constants filled in, written out by hand.
const std::string kRules = R"css(* { font-family: 'Varela Round, sans-serif'; font-size: 14px; }
/* Colour is set on containers; labels inherit it, so text on any panel,button, or accent is always the legible ink for that background. Bare`label { color }` is deliberately avoided — as a type selector itwould override a container's colour on its own child labels. */
window { background-color: @bg; color: @on-bg; }
.dim-label, .dim { opacity: 0.6; font-size: 12px; }
.title { font-size: 1.4em; font-weight: bold; }
.heading { font-weight: bold; opacity: 0.85; }
.subtitle { opacity: 0.7; font-size: 12px; }
button { background-color: @surface; color: @on-surface; border: none;border-radius: 8px; padding: 8px 16px; }
button:hover { background-color: alpha(@on-surface, 0.14); }
button:active { background-color: alpha(@on-surface, 0.20); }
button:disabled { opacity: 0.5; }
button.flat { background-color: transparent; color: @on-bg; }
button.suggested-action { background-color: @accent; color: @on-accent; }
button.suggested-action:hover { background-color: alpha(@accent, 0.85); }
button.destructive-action { background-color: @red; color: @on-red; }
button.destructive-action:hover { background-color: alpha(@red, 0.85); }
entry, spinbutton { background-color: @surface; color: @on-surface;border: 1px solid @overlay; border-radius: 6px;padding: 4px 8px; caret-color: @on-surface; }
entry:focus-within, spinbutton:focus-within { border-color: @accent; outline: none; }
entry image, spinbutton button { color: @on-surface; }
dropdown > button { background-color: @surface; color: @on-surface; border-radius: 6px; }
popover > contents { background-color: @surface; color: @on-surface; border-radius: 8px; }
switch { background-color: @overlay; border-radius: 999px; }
switch:checked { background-color: @accent; }
switch slider { background-color: @on-surface; border-radius: 999px; }
list, listbox { background-color: transparent; }
row { border-radius: 6px; }
row:selected, list row:selected { background-color: @accent; color: @on-accent; }
.sidebar { background-color: @surface; color: @on-surface; }
.sidebar row { padding: 8px 12px; }
.sidebar row:selected { background-color: @accent; color: @on-accent; }
.sidebar .section-header { padding: 12px 12px 4px 12px;font-size: 12px; font-weight: bold; opacity: 0.55; }
.card { background-color: @surface; color: @on-surface; border-radius: 8px; padding: 12px; }
.chip, .pill { background-color: @overlay; color: @on-overlay; border-radius: 999px;padding: 4px 12px; font-size: 12px; }
.chip.active, .pill.active { background-color: @accent; color: @on-accent; }
scrollbar { background-color: transparent; }
scrollbar slider { background-color: alpha(@on-bg, 0.25); border-radius: 999px;min-width: 6px; min-height: 6px; }
scrollbar slider:hover { background-color: alpha(@on-bg, 0.45); }
textview, .mono { font-family: monospace; }
textview text { background-color: @surface; color: @on-surface; }
)css";

TEST(ThemeCss, DefaultPaletteGivesTheExactStylesheet) {
    const std::string expected =
        "@define-color bg #0c0c0c;\n"
        "@define-color fg #e8e8e8;\n"
        "@define-color surface #1a1a1a;\n"
        "@define-color overlay #d8d8d8;\n"
        "@define-color accent #eab672;\n"
        "@define-color red #b98749;\n"
        "@define-color green #cd9450;\n"
        "@define-color yellow #e3a85c;\n"
        "@define-color blue #eab672;\n"
        "@define-color pink #f6c477;\n"
        "@define-color teal #eabe82;\n"
        "@define-color on-bg #f5f5f5;\n"
        "@define-color on-surface #f5f5f5;\n"
        "@define-color on-accent #11111b;\n"
        "@define-color on-red #11111b;\n"
        "@define-color on-overlay #11111b;\n" +
        kRules;
    const std::string css = flint::theme_css(flint::Palette{});
    EXPECT_EQ(css, expected);
    // Spot checks that do not depend on the golden text above.
    EXPECT_EQ(css.substr(css.find('\n', css.find("on-overlay")) + 1, 64),
              "* { font-family: 'Varela Round, sans-serif'; font-size: 14px; }\n");
    EXPECT_NE(css.find("\nbutton { background-color: @surface; color: @on-surface; border: "
                       "none;border-radius: 8px; padding: 8px 16px; }\n"),
              std::string::npos);
    EXPECT_EQ(std::count(css.begin(), css.end(), '\n'), 16 + 39);
    EXPECT_EQ(css.back(), '\n');
    EXPECT_TRUE(css.starts_with(flint::define_colors(flint::Palette{})));
}

TEST(ThemeCss, ColourBlockCopiesValuesAndRecomputesInks) {
    flint::Palette p;
    p.accent = "tomato";
    p.red = "#0000ff";
    p.bg = "#ffffff";
    p.teal = "";
    const std::string block = flint::define_colors(p);
    for (const char* line : {"@define-color accent tomato;\n", "@define-color blue tomato;\n",
                             "@define-color on-accent #f5f5f5;\n",
                             "@define-color on-red #f5f5f5;\n", "@define-color on-bg #11111b;\n",
                             "@define-color teal ;\n", "@define-color bg #ffffff;\n"}) {
        SCOPED_TRACE(line);
        EXPECT_NE(block.find(line), std::string::npos);
    }
    EXPECT_EQ(std::count(block.begin(), block.end(), '\n'), 16);
}

TEST(ThemeCssPath, PrefersRuntimeDirThenCacheDirThenTmp) {
    struct Row {
        const char* name;
        std::optional<std::string> runtime;  // nothing: unset
        std::optional<std::string> cache;
        std::string expected;
    };
    const Row rows[] = {
        {"runtime dir", "/run/user/1000", "/c", "/run/user/1000/flint/theme.css"},
        {"runtime dir with slash", "/run/user/1000/", "/c", "/run/user/1000/flint/theme.css"},
        {"runtime dir empty", "", "/c", "/c/flint/theme.css"},
        {"runtime dir not UTF-8", "/run/\xFF", "/c", "/c/flint/theme.css"},
        {"runtime dir unset", std::nullopt, "/c", "/c/flint/theme.css"},
        {"both empty", "", "", "flint/theme.css"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        EnvGuard env;
        row.runtime ? env.set("XDG_RUNTIME_DIR", *row.runtime) : env.unset("XDG_RUNTIME_DIR");
        row.cache ? env.set("XDG_CACHE_HOME", *row.cache) : env.unset("XDG_CACHE_HOME");
        EXPECT_EQ(flint::theme_css_path(), row.expected);
    }
    EnvGuard env;
    env.unset("XDG_RUNTIME_DIR");
    env.unset("XDG_CACHE_HOME");
    env.set("HOME", "/home/u");
    EXPECT_EQ(flint::theme_css_path(), "/home/u/.cache/flint/theme.css");
}

TEST(EventConcerns, ComparesEitherFileByPathComponents) {
    const std::string theme = "/run/user/1000/flint/theme.css";
    struct Row {
        const char* file;
        const char* other;
        bool expected;
    };
    const Row rows[] = {
        {"/run/user/1000/flint/theme.css", nullptr, true},
        {"/run/user/1000/flint/other.css", nullptr, false},
        {"/run/user/1000/flint/other.css", "/run/user/1000/flint/theme.css", true},
        {"/run/user/1000/flint/theme.css", "/run/user/1000/flint/x", true},
        {"/run/user/1000/flint/.theme.css.tmp", "/run/user/1000/flint/x", false},
        {nullptr, "/run/user/1000/flint/theme.css", true},
        {nullptr, nullptr, false},
        {"//run/user//1000/./flint/theme.css", nullptr, true},
        {"/run/user/1000/flint/theme.css/", nullptr, true},
        {"/run/user/1000/flint/./theme.css/.", nullptr, true},
        {"/run/user/1000/flint/../flint/theme.css", nullptr, false},
        {"run/user/1000/flint/theme.css", nullptr, false},
        {"/run/user/1000/flint/theme.cs", nullptr, false},
        {"/run/user/1000/flint/Theme.css", nullptr, false},
        {"/run/user/1000/flint", nullptr, false},
        {"", "", false},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(std::string(row.file ? row.file : "(null)") + " | " +
                     (row.other ? row.other : "(null)"));
        EXPECT_EQ(flint::event_concerns(row.file, row.other, theme), row.expected);
    }
    // Relative paths: a leading "." is a component of its own.
    EXPECT_TRUE(flint::event_concerns("flint//theme.css", nullptr, "flint/theme.css"));
    EXPECT_FALSE(flint::event_concerns("./flint/theme.css", nullptr, "flint/theme.css"));
    EXPECT_TRUE(flint::event_concerns("./flint/./theme.css", nullptr, "./flint/theme.css"));
}

// Installing a stylesheet before GTK has opened its display is a
// programming error that stops the process with a message.
TEST(ApplyCssDeathTest, StopsWithoutADisplay) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    flint::ProviderSlot slot;
    EXPECT_DEATH(flint::apply_css("a {}", slot), ": no display");
    EXPECT_DEATH(flint::load_user_css("/nonexistent.css", slot), ": no display");
}

}  // namespace
