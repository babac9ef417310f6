#include "window/launcher_css.hpp"

#include "colors.hpp"
#include "text.hpp"

namespace flintsearch::window {

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
    css +=
        "; border-radius: 8px;box-shadow: 0 8px 32px rgba(0,0,0,0.6); }searchentry { "
        "background-color: ";
    css += surface;
    css += "; color: ";
    css += surface_ink;
    css += "; caret-color: ";
    css += palette.accent;
    css +=
        ";border: none; outline: none; box-shadow: none;padding: 12px 16px; border-radius: 6px "
        "6px 0 0; }listbox { background-color: transparent; padding: 4px; }row { padding: 8px "
        "12px; color: ";
    css += panel_ink;
    css += "; background-color: transparent;border-radius: 6px; }row:hover { background-color: ";
    css += surface;
    css += "; color: ";
    css += surface_ink;
    css += "; }row:selected { background-color: ";
    css += surface;
    css += "; color: ";
    css += surface_ink;
    css +=
        "; }.hit-title { font-size: 14px; }.hit-muted { opacity: 0.6; font-size: 12px; "
        "}.hit-snippet { opacity: 0.75; font-size: 11px; font-style: italic; }.hit-score { "
        "opacity: 0.5; font-size: 11px; }image { margin-right: 8px; }";
    return css;
}

std::string widget_node_css(const flint::Palette& palette) {
    std::string css = "entry.search { background-color: ";
    css += palette.surface;
    css += "; color: ";
    css += flint::on_color(palette.surface);
    css += "; caret-color: ";
    css += palette.accent;
    css +=
        ";border: none; outline: none; box-shadow: none;padding: 12px 16px; border-radius: 6px "
        "6px 0 0; }list { background-color: transparent; padding: 4px; }";
    return css;
}

std::string app_css(const flint::Palette& palette) {
    return launcher_css(palette) + widget_node_css(palette);
}

std::string config_dir() {
    std::string base;
    if (auto config_home = flint::env_utf8("XDG_CONFIG_HOME")) {
        base = std::move(*config_home);
    } else {
        base = flint::join_path(flint::env_utf8("HOME").value_or("/tmp"), ".config");
    }
    return flint::join_path(base, "flintsearch");
}

std::string user_css_path() {
    return flint::join_path(config_dir(), "style.css");
}

}  // namespace flintsearch::window
