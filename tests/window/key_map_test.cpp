#include "window/key_map.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>

namespace flintsearch::window {
namespace {

constexpr std::uint32_t SHIFT = 1u << 0;
constexpr std::uint32_t ALT = 1u << 3;
constexpr std::uint32_t SUPER = 1u << 26;

TEST(MapKey, HandlesFiveKeysAndPassesTheRestOn) {
    struct Case {
        const char* name;
        std::uint32_t keyval;
        std::uint32_t modifiers;
        Action action;
    };
    const Case cases[] = {
        {"Return", KEY_RETURN, 0, Action::OpenSelected},
        {"keypad Enter", KEY_KP_ENTER, 0, Action::OpenSelected},
        {"Ctrl+Return", KEY_RETURN, CONTROL_MASK, Action::OpenSelectedFolder},
        {"Ctrl+keypad Enter", KEY_KP_ENTER, CONTROL_MASK, Action::OpenSelectedFolder},
        {"Shift+Return opens the file", KEY_RETURN, SHIFT, Action::OpenSelected},
        {"Ctrl+Shift+Return", KEY_RETURN, CONTROL_MASK | SHIFT, Action::OpenSelectedFolder},
        {"Alt+Super+Return", KEY_RETURN, ALT | SUPER, Action::OpenSelected},
        {"Escape", KEY_ESCAPE, 0, Action::Close},
        {"Ctrl+Escape", KEY_ESCAPE, CONTROL_MASK, Action::Close},
        {"Up", KEY_UP, 0, Action::SelectPrevious},
        {"Ctrl+Up", KEY_UP, CONTROL_MASK, Action::SelectPrevious},
        {"Down", KEY_DOWN, 0, Action::SelectNext},
        {"Shift+Down", KEY_DOWN, SHIFT, Action::SelectNext},
        {"Tab", 0xff09, 0, Action::PassThrough},
        {"Home", 0xff50, 0, Action::PassThrough},
        {"End", 0xff57, 0, Action::PassThrough},
        {"keypad Up", 0xff97, 0, Action::PassThrough},
        {"Left", 0xff51, 0, Action::PassThrough},
        {"letter a", 'a', 0, Action::PassThrough},
        {"Ctrl+a", 'a', CONTROL_MASK, Action::PassThrough},
        {"ISO Enter", 0xfe34, 0, Action::PassThrough},
        {"no key", 0, 0, Action::PassThrough},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(map_key(c.keyval, c.modifiers), c.action);
    }
}

TEST(IsOutside, CountsTheEdgesAsInside) {
    const Bounds panel{640, 120, 640, 60};
    struct Case {
        const char* name;
        double x;
        double y;
        bool outside;
    };
    const Case cases[] = {
        {"centre", 960, 150, false},
        {"left edge", 640, 150, false},
        {"right edge", 1280, 150, false},
        {"top edge", 960, 120, false},
        {"bottom edge", 960, 180, false},
        {"top-left corner", 640, 120, false},
        {"bottom-right corner", 1280, 180, false},
        {"one unit right", 1281, 150, true},
        {"just right", 1280.001, 150, true},
        {"just left", 639.999, 150, true},
        {"above", 960, 119.5, true},
        {"below", 960, 181, true},
        {"far corner", 0, 0, true},
        {"right of panel, outside vertically too", 1300, 200, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(is_outside(panel, c.x, c.y), c.outside);
    }
}

TEST(IsOutside, EmptyPanelContainsOnlyItsOrigin) {
    const Bounds empty{10, 10, 0, 0};
    EXPECT_FALSE(is_outside(empty, 10, 10));
    EXPECT_TRUE(is_outside(empty, 10, 10.5));
}

}  // namespace
}  // namespace flintsearch::window
