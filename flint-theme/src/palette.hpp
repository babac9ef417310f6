// The wallpaper palette: ten colour texts, four fixed neutrals and six read
// from the colour tool's wal/colors.json. Loading never fails.
#pragma once

#include <map>
#include <optional>
#include <string>
#include <string_view>

namespace flint {

struct Palette {
    std::string bg = "#0c0c0c";
    std::string fg = "#e8e8e8";
    std::string surface = "#1a1a1a";
    std::string red = "#b98749";
    std::string green = "#cd9450";
    std::string yellow = "#e3a85c";
    std::string accent = "#eab672";
    std::string pink = "#f6c477";
    std::string teal = "#eabe82";
    std::string overlay = "#d8d8d8";

    bool operator==(const Palette&) const = default;
};

// The record read from the palette file: its string-only "colors" map.
struct WalColors {
    std::map<std::string, std::string> colors;
};

// Parses palette file text. Nothing when the document breaks any rule.
std::optional<WalColors> parse_wal_colors(std::string_view text);

// The palette built from a parsed file: defaults for what it does not supply.
Palette palette_from(const WalColors& wal);

// The user's cache directory: XDG_CACHE_HOME, else the home directory
// joined with ".cache"; nothing without a home directory.
std::optional<std::string> cache_dir();

// Path of the palette file (cache_dir, or the literal "~/.cache", joined
// with "wal/colors.json").
std::string palette_path();

// Reads the palette file afresh; the default palette on any failure.
Palette load_palette();

}  // namespace flint
