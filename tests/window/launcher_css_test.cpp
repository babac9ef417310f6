#include "window/launcher_css.hpp"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <optional>
#include <string>

namespace flintsearch::window {
namespace {

TEST(LauncherCss, DefaultPaletteGolden) {
    const std::string expected =
        "window { background-color: transparent; }.launcher-bg { background-color: "
        "rgba(12, 12, 12, 0.6); color: #f5f5f5; border-radius: 8px;box-shadow: 0 8px 32px "
        "rgba(0,0,0,0.6); }searchentry { background-color: #1a1a1a; color: #f5f5f5; caret-color: "
        "#eab672;border: none; outline: none; box-shadow: none;padding: 12px 16px; border-radius: "
        "6px 6px 0 0; }listbox { background-color: transparent; padding: 4px; }row { padding: 8px "
        "12px; color: #f5f5f5; background-color: transparent;border-radius: 6px; }row:hover { "
        "background-color: #1a1a1a; color: #f5f5f5; }row:selected { background-color: #1a1a1a; "
        "color: #f5f5f5; }.hit-title { font-size: 14px; }.hit-muted { opacity: 0.6; font-size: "
        "12px; }.hit-snippet { opacity: 0.75; font-size: 11px; font-style: italic; }.hit-score { "
        "opacity: 0.5; font-size: 11px; }image { margin-right: 8px; }";
    EXPECT_EQ(launcher_css(flint::Palette{}), expected);
}

TEST(LauncherCss, UsesBgSurfaceAndAccentOnly) {
    flint::Palette light;
    light.bg = "#ffffff";
    light.surface = "#000000";
    light.accent = "not-a-colour";
    light.fg = "#123456";
    const std::string css = launcher_css(light);
    EXPECT_NE(css.find(".launcher-bg { background-color: rgba(255, 255, 255, 0.6); color: "
                       "#11111b;"),
              std::string::npos);
    EXPECT_NE(css.find("searchentry { background-color: #000000; color: #f5f5f5; caret-color: "
                       "not-a-colour;border"),
              std::string::npos);
    EXPECT_NE(css.find("row { padding: 8px 12px; color: #11111b;"), std::string::npos);
    EXPECT_EQ(css.find("#123456"), std::string::npos);
    EXPECT_EQ(css.find('\n'), std::string::npos);
}

TEST(LauncherCss, EntryAndListRulesAlsoReachGtksNodeNames) {
    flint::Palette palette;
    palette.accent = "#ff00aa";
    const std::string css = app_css(palette);
    // The launcher stylesheet comes first and unchanged; the entry.search copy
    // of the searchentry declarations and the list copy of the listbox ones
    // follow it.
    ASSERT_EQ(css.rfind(launcher_css(palette), 0), 0u);
    EXPECT_EQ(css.substr(launcher_css(palette).size()),
              "entry.search { background-color: #1a1a1a; color: #f5f5f5; caret-color: "
              "#ff00aa;border: none; outline: none; box-shadow: none;padding: 12px 16px; "
              "border-radius: 6px 6px 0 0; }list { background-color: transparent; padding: 4px; }");
}

}  // namespace
}  // namespace flintsearch::window
