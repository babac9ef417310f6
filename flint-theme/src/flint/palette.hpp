// The wallpaper palette: ten colour texts, four fixed neutrals and six read
// from the colour tool's wal/colors.json. Loading never fails and reports
// nothing: a missing, unreadable or malformed file gives the defaults.
//
// Everything here is synchronous, keeps no state between calls and needs no
// GTK; the functions that read the environment or files may run on any
// thread (the launcher calls them on the GTK main thread).
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
// Values are kept verbatim (no trimming, validation or case change).
struct WalColors {
    std::map<std::string, std::string> colors;
};

// Parses palette file text. The document is exactly one JSON value followed
// by nothing but space, tab, LF or CR (no byte order mark either), and is
//   - an object: its "colors" member, when present, is an object whose
//     values are all strings (a later duplicate key wins); "colors" twice
//     rejects; every other member is skipped whatever it holds; or
//   - an array: [] is an empty map, [map] is that map, more elements reject.
// Nothing when the document breaks any rule.
std::optional<WalColors> parse_wal_colors(std::string_view text);

// Whether a palette value is a colour the stylesheets may hold: "#" and 3,
// 4, 6 or 8 hexadecimal digits, or a colour name (1 to 32 ASCII letters).
// The value is pasted into stylesheet text, so anything else (";", "}",
// "url(", quotes, blanks, the empty text) could change its rules.
bool is_colour(std::string_view text);

// The palette built from a parsed file: red, green, yellow, accent, pink and
// teal from "color1".."color6" (exact, case-sensitive keys) when the value
// is_colour, verbatim (case kept), defaults for what it does not supply or
// what is not a colour; bg, fg, surface and overlay are always fixed.
Palette palette_from(const WalColors& wal);

// The user's cache directory: XDG_CACHE_HOME when set and valid UTF-8 (even
// empty, even relative), else the home directory joined with ".cache". The
// home directory is HOME when set and non-empty, else the password
// database's entry for getuid(); an empty one counts as none. Nothing
// without a home directory.
std::optional<std::string> cache_dir();

// Path of the palette file: cache_dir, or the literal relative "~/.cache"
// (the tilde is not expanded), joined with "wal/colors.json".
std::string palette_path();

// Reads and parses the palette file afresh on every call, under the rules of
// read_trusted_text_file (a regular, bounded, valid UTF-8 file of the user's
// or root's in directories no one else can write; a refusal is reported once
// on standard error); the default palette on any failure.
Palette load_palette();

}  // namespace flint
