// What a key press or a pointer press means to the launcher. Pure: the GTK
// handlers only carry out the Action they get here.
#pragma once

#include <cstdint>

namespace flintsearch::window {

// GDK key symbols and modifier bits that matter here (values as in
// gdk/gdkkeysyms.h and GdkModifierType), so this file needs no GTK header.
inline constexpr std::uint32_t KEY_RETURN = 0xff0d;
inline constexpr std::uint32_t KEY_KP_ENTER = 0xff8d;
inline constexpr std::uint32_t KEY_ESCAPE = 0xff1b;
inline constexpr std::uint32_t KEY_UP = 0xff52;
inline constexpr std::uint32_t KEY_DOWN = 0xff54;
inline constexpr std::uint32_t CONTROL_MASK = 1u << 2;

enum class Action {
    OpenSelected,        // Return or keypad Enter
    OpenSelectedFolder,  // the same with Ctrl held
    Close,               // Escape
    SelectPrevious,      // Up
    SelectNext,          // Down
    PassThrough,         // anything else goes on to the search entry
};

// Looks only at the key value, and at the Ctrl bit for Enter; every other
// modifier is ignored (Shift+Enter opens the file).
Action map_key(std::uint32_t keyval, std::uint32_t modifiers);

// A rectangle in window coordinates (graphene's origin and size).
struct Bounds {
    double left = 0;
    double top = 0;
    double width = 0;
    double height = 0;
};

// Whether a press at (x, y) lies outside the panel. The edges count as
// inside.
bool is_outside(const Bounds& panel, double x, double y);

}  // namespace flintsearch::window
