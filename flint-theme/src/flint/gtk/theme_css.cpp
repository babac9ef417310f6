#include <initializer_list>
#include <string_view>

#include "flint/colors.hpp"
#include "flint/gtk/theme.hpp"
#include "flint/text.hpp"

namespace flint {
namespace {

// Appends one stylesheet line: its pieces joined with nothing added, then LF.
void line(std::string& out, std::initializer_list<std::string_view> pieces) {
    for (const std::string_view piece : pieces) {
        out.append(piece);
    }
    out.push_back('\n');
}

void define(std::string& out, std::string_view name, std::string_view value) {
    line(out, {"@define-color ", name, " ", value, ";"});
}

}  // namespace

std::string define_colors(const Palette& p) {
    std::string css;
    css.reserve(512);
    define(css, "bg", p.bg);
    define(css, "fg", p.fg);
    define(css, "surface", p.surface);
    define(css, "overlay", p.overlay);
    define(css, "accent", p.accent);
    define(css, "red", p.red);
    define(css, "green", p.green);
    define(css, "yellow", p.yellow);
    define(css, "blue", p.accent);
    define(css, "pink", p.pink);
    define(css, "teal", p.teal);
    define(css, "on-bg", on_color(p.bg));
    define(css, "on-surface", on_color(p.surface));
    define(css, "on-accent", on_color(p.accent));
    define(css, "on-red", on_color(p.red));
    define(css, "on-overlay", on_color(p.overlay));
    return css;
}

std::string theme_css(const Palette& palette) {
    const std::string font_size = std::to_string(FONT_SIZE);
    const std::string font_size_small = std::to_string(FONT_SIZE_SMALL);
    const std::string radius = std::to_string(RADIUS);
    const std::string radius_small = std::to_string(RADIUS_SMALL);
    const std::string radius_pill = std::to_string(RADIUS_PILL);
    const std::string space_xs = std::to_string(SPACE_XS);
    const std::string space_s = std::to_string(SPACE_S);
    const std::string space_m = std::to_string(SPACE_M);
    const std::string space_l = std::to_string(SPACE_L);

    std::string css = define_colors(palette);
    css.reserve(css.size() + 4096);
    // The rules set colours on containers only, never on labels, so labels
    // inherit the ink of whatever they sit on. The text is fixed byte for
    // byte, the missing spaces after some semicolons included.
    line(css, {"* { font-family: '", FONT_FAMILY, "'; font-size: ", font_size, "px; }"});
    line(css, {"/* Colour is set on containers; labels inherit it, so text on any panel,button, or "
               "accent is always the legible ink for that background. Bare`label { color }` is "
               "deliberately avoided — as a type selector itwould override a container's colour on "
               "its own child labels. */"});
    line(css, {"window { background-color: @bg; color: @on-bg; }"});
    line(css, {".dim-label, .dim { opacity: 0.6; font-size: ", font_size_small, "px; }"});
    line(css, {".title { font-size: 1.4em; font-weight: bold; }"});
    line(css, {".heading { font-weight: bold; opacity: 0.85; }"});
    line(css, {".subtitle { opacity: 0.7; font-size: ", font_size_small, "px; }"});
    line(css,
         {"button { background-color: @surface; color: @on-surface; border: none;border-radius: ",
          radius, "px; padding: ", space_s, "px ", space_l, "px; }"});
    line(css, {"button:hover { background-color: alpha(@on-surface, 0.14); }"});
    line(css, {"button:active { background-color: alpha(@on-surface, 0.20); }"});
    line(css, {"button:disabled { opacity: 0.5; }"});
    line(css, {"button.flat { background-color: transparent; color: @on-bg; }"});
    line(css, {"button.suggested-action { background-color: @accent; color: @on-accent; }"});
    line(css, {"button.suggested-action:hover { background-color: alpha(@accent, 0.85); }"});
    line(css, {"button.destructive-action { background-color: @red; color: @on-red; }"});
    line(css, {"button.destructive-action:hover { background-color: alpha(@red, 0.85); }"});
    line(css, {"entry, spinbutton { background-color: @surface; color: @on-surface;border: 1px "
               "solid @overlay; border-radius: ",
               radius_small, "px;padding: ", space_xs, "px ", space_s,
               "px; caret-color: @on-surface; }"});
    line(css,
         {"entry:focus-within, spinbutton:focus-within { border-color: @accent; outline: none; }"});
    line(css, {"entry image, spinbutton button { color: @on-surface; }"});
    line(css,
         {"dropdown > button { background-color: @surface; color: @on-surface; border-radius: ",
          radius_small, "px; }"});
    line(css,
         {"popover > contents { background-color: @surface; color: @on-surface; border-radius: ",
          radius, "px; }"});
    line(css, {"switch { background-color: @overlay; border-radius: ", radius_pill, "px; }"});
    line(css, {"switch:checked { background-color: @accent; }"});
    line(css,
         {"switch slider { background-color: @on-surface; border-radius: ", radius_pill, "px; }"});
    line(css, {"list, listbox { background-color: transparent; }"});
    line(css, {"row { border-radius: ", radius_small, "px; }"});
    line(css,
         {"row:selected, list row:selected { background-color: @accent; color: @on-accent; }"});
    line(css, {".sidebar { background-color: @surface; color: @on-surface; }"});
    line(css, {".sidebar row { padding: ", space_s, "px ", space_m, "px; }"});
    line(css, {".sidebar row:selected { background-color: @accent; color: @on-accent; }"});
    line(css,
         {".sidebar .section-header { padding: ", space_m, "px ", space_m, "px ", space_xs, "px ",
          space_m, "px;font-size: ", font_size_small, "px; font-weight: bold; opacity: 0.55; }"});
    line(css, {".card { background-color: @surface; color: @on-surface; border-radius: ", radius,
               "px; padding: ", space_m, "px; }"});
    line(css, {".chip, .pill { background-color: @overlay; color: @on-overlay; border-radius: ",
               radius_pill, "px;padding: ", space_xs, "px ", space_m,
               "px; font-size: ", font_size_small, "px; }"});
    line(css, {".chip.active, .pill.active { background-color: @accent; color: @on-accent; }"});
    line(css, {"scrollbar { background-color: transparent; }"});
    line(css, {"scrollbar slider { background-color: alpha(@on-bg, 0.25); border-radius: ",
               radius_pill, "px;min-width: 6px; min-height: 6px; }"});
    line(css, {"scrollbar slider:hover { background-color: alpha(@on-bg, 0.45); }"});
    line(css, {"textview, .mono { font-family: monospace; }"});
    line(css, {"textview text { background-color: @surface; color: @on-surface; }"});
    return css;
}

std::string theme_css_path() {
    std::string base = "/tmp";
    if (auto runtime = env_utf8("XDG_RUNTIME_DIR"); runtime && !runtime->empty()) {
        base = std::move(*runtime);
    } else if (auto cache = cache_dir()) {
        base = std::move(*cache);
    }
    return join_path(join_path(base, "flint"), "theme.css");
}

}  // namespace flint
