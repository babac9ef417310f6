// Palette files: parse_wal_colors on arbitrary bytes. An accepted document
// must be one JSON value (no byte order mark, nothing after it but JSON white
// space) whose colour map is what a DOM parse finds, the later of two equal
// keys winning; the palette built from it must take only color1..color6.
#include <cstddef>
#include <cstdint>
#include <nlohmann/json.hpp>
#include <string_view>

#include "flint/palette.hpp"
#include "fuzz_check.hpp"

namespace {

using Json = nlohmann::json;

// The colour map a DOM parse finds, or a null value when the document has none
// of the allowed shapes.
Json dom_colors(const Json& doc) {
    if (doc.is_array()) {
        if (doc.empty()) {
            return Json::object();
        }
        return doc.size() == 1 && doc[0].is_object() ? doc[0] : Json();
    }
    if (!doc.is_object()) {
        return Json();
    }
    const auto it = doc.find("colors");
    if (it == doc.end()) {
        return Json::object();
    }
    return it->is_object() ? *it : Json();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const auto wal = flint::parse_wal_colors(text);
    if (!wal) {
        return 0;
    }
    FUZZ_CHECK(!text.starts_with("\xEF\xBB\xBF"));
    // A raw NUL is never part of JSON text; the parser would stop at it.
    FUZZ_CHECK(text.find('\0') == std::string_view::npos);
    FUZZ_CHECK(Json::accept(text, false));

    const Json colors = dom_colors(Json::parse(text));
    FUZZ_CHECK(colors.is_object());
    FUZZ_CHECK(colors.size() == wal->colors.size());
    for (const auto& [key, value] : wal->colors) {
        const auto it = colors.find(key);
        FUZZ_CHECK(it != colors.end());
        FUZZ_CHECK(it->is_string() && it->get_ref<const std::string&>() == value);
    }

    const flint::Palette palette = flint::palette_from(*wal);
    const flint::Palette defaults;
    FUZZ_CHECK(palette.bg == defaults.bg && palette.fg == defaults.fg &&
               palette.surface == defaults.surface && palette.overlay == defaults.overlay);
    const auto expect = [&](const char* key, const std::string& field,
                            const std::string& fallback) {
        // A value is taken only when it is a colour, which holds nothing
        // but "#", digits and ASCII letters; anything else falls back.
        const auto it = wal->colors.find(key);
        const bool taken = it != wal->colors.end() && flint::is_colour(it->second);
        FUZZ_CHECK(field == (taken ? it->second : fallback));
        FUZZ_CHECK(field.find_first_not_of("#0123456789abcdefghijklmnopqrstuvwxyz"
                                           "ABCDEFGHIJKLMNOPQRSTUVWXYZ") == std::string::npos);
    };
    expect("color1", palette.red, defaults.red);
    expect("color2", palette.green, defaults.green);
    expect("color3", palette.yellow, defaults.yellow);
    expect("color4", palette.accent, defaults.accent);
    expect("color5", palette.pink, defaults.pink);
    expect("color6", palette.teal, defaults.teal);
    return 0;
}
