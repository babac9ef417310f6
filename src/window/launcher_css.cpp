#include "window/launcher_css.hpp"

#include <string_view>

#include "flint/colors.hpp"

namespace flintsearch::window {
namespace {

// The list's rule, after its selector.
constexpr std::string_view LIST_RULE = "{ background-color: transparent; padding: 4px; }";

// The search entry's rule, after its selector: surface colours, the accent
// caret, no frame, the panel's top corners.
std::string entry_rule(const flint::Palette& palette) {
    std::string css = "{ background-color: ";
    css += palette.surface;
    css += "; color: ";
    css += flint::on_color(palette.surface);
    css += "; caret-color: ";
    css += palette.accent;
    css +=
        ";border: none; outline: none; box-shadow: none;padding: 12px 16px; border-radius: 6px "
        "6px 0 0; }";
    return css;
}

}  // namespace

std::string launcher_css(const flint::Palette& palette) {
    const std::string panel = flint::rgba(palette.bg, 0.6f);
    const std::string panel_ink = flint::on_color(palette.bg);
    const std::string& surface = palette.surface;
    const std::string surface_ink = flint::on_color(palette.surface);

    std::string css;
    css.reserve(1024);
    css += "window { background-color: transparent; }.launcher-bg { background-color: ";
    css += panel;
    css += "; color: ";
    css += panel_ink;
    css += "; border-radius: 8px;box-shadow: 0 8px 32px rgba(0,0,0,0.6); }searchentry ";
    css += entry_rule(palette);
    css += "listbox ";
    css += LIST_RULE;
    css += "row { padding: 8px 12px; color: ";
    css += panel_ink;
    css += "; background-color: transparent;border-radius: 6px; }";
    // Hovered and selected rows look the same.
    for (const std::string_view state : {"hover", "selected"}) {
        css += "row:";
        css += state;
        css += " { background-color: ";
        css += surface;
        css += "; color: ";
        css += surface_ink;
        css += "; }";
    }
    css +=
        ".hit-title { font-size: 14px; }.hit-muted { opacity: 0.6; font-size: 12px; "
        "}.hit-snippet { opacity: 0.75; font-size: 11px; font-style: italic; }.hit-score { "
        "opacity: 0.5; font-size: 11px; }image { margin-right: 8px; }";
    return css;
}

std::string widget_node_css(const flint::Palette& palette) {
    return "entry.search " + entry_rule(palette) + "list " + std::string(LIST_RULE);
}

std::string app_css(const flint::Palette& palette) {
    return launcher_css(palette) + widget_node_css(palette);
}

}  // namespace flintsearch::window
