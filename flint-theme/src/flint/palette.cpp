#include "flint/palette.hpp"

#include <pwd.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <nlohmann/json.hpp>
#include <vector>

#include "flint/report.hpp"
#include "flint/text.hpp"
#include "flint/trust.hpp"

namespace flint {
namespace {

using json = nlohmann::json;

// Reads a palette document as a stream of SAX events, so that a duplicate
// "colors" key is visible (a DOM parse keeps only one of them) and ignored
// members are skipped without being built. Returning false from any event
// stops the parse and rejects the document.
//
// Depth 0 is outside every container, depth 1 directly inside the root. The
// colour map is open at depth 2, either as the value of the root object's
// "colors" member or as the single element of a root array.
class WalColorsReader {
  public:
    std::map<std::string, std::string>& colors() { return colors_; }

    bool null() { return scalar(nullptr); }
    bool boolean(bool) { return scalar(nullptr); }
    bool number_integer(json::number_integer_t) { return scalar(nullptr); }
    bool number_unsigned(json::number_unsigned_t) { return scalar(nullptr); }
    bool number_float(json::number_float_t, const json::string_t&) { return scalar(nullptr); }
    bool string(json::string_t& value) { return scalar(&value); }
    bool binary(json::binary_t&) { return scalar(nullptr); }

    bool start_object(std::size_t) { return open(false); }
    bool start_array(std::size_t) { return open(true); }
    bool end_object() { return close(); }
    bool end_array() { return close(); }

    bool key(json::string_t& name) {
        if (depth_ == 1 && root_ == Root::Object) {
            if (name == "colors") {
                if (seen_colors_) {
                    return false;
                }
                seen_colors_ = true;
                colors_next_ = true;
            }
        } else if (in_colors_ && depth_ == 2) {
            key_ = std::move(name);
        }
        return true;
    }

    bool parse_error(std::size_t, const std::string&, const nlohmann::detail::exception&) {
        return false;
    }

  private:
    enum class Root { None, Object, Array };

    // A value that is not a container. value is set for strings only.
    bool scalar(json::string_t* value) {
        if (depth_ == 0) {
            return false;  // the document must be an object or an array
        }
        if (depth_ == 1) {
            // In the root object: fine unless it is the "colors" value. In the
            // root array: the element must be the colour map.
            return root_ == Root::Object && !colors_next_;
        }
        if (in_colors_ && depth_ == 2) {
            if (value == nullptr) {
                return false;  // every value in the map must be a string
            }
            colors_.insert_or_assign(std::move(key_), std::move(*value));
        }
        return true;
    }

    bool open(bool array) {
        if (depth_ == 0) {
            root_ = array ? Root::Array : Root::Object;
            depth_ = 1;
            return true;
        }
        if (depth_ == 1) {
            const bool map_here = root_ == Root::Object ? colors_next_ : true;
            if (map_here) {
                if (array || (root_ == Root::Array && ++elements_ > 1)) {
                    return false;
                }
                colors_next_ = false;
                in_colors_ = true;
            }
        } else if (in_colors_ && depth_ == 2) {
            return false;  // a nested value inside the map
        }
        ++depth_;
        return true;
    }

    bool close() {
        if (in_colors_ && depth_ == 2) {
            in_colors_ = false;
        }
        --depth_;
        return true;
    }

    Root root_ = Root::None;
    std::size_t depth_ = 0;
    std::size_t elements_ = 0;
    bool seen_colors_ = false;
    bool colors_next_ = false;
    bool in_colors_ = false;
    std::string key_;
    std::map<std::string, std::string> colors_;
};

// The home directory recorded for the current user in the password database.
std::optional<std::string> password_home() {
    const long hint = sysconf(_SC_GETPW_R_SIZE_MAX);
    std::size_t size = hint > 0 ? static_cast<std::size_t>(hint) : 512;
    std::vector<char> buf;
    for (;;) {
        buf.resize(size);
        passwd entry{};
        passwd* found = nullptr;
        const int rc = getpwuid_r(getuid(), &entry, buf.data(), buf.size(), &found);
        if (rc == ERANGE && size < (std::size_t{1} << 20)) {
            size *= 2;
            continue;
        }
        if (rc != 0 || found == nullptr || found->pw_dir == nullptr) {
            return std::nullopt;
        }
        return std::string(found->pw_dir);
    }
}

}  // namespace

std::optional<WalColors> parse_wal_colors(std::string_view text) {
    // nlohmann skips a leading byte order mark; a palette document is one
    // JSON value and nothing else, so refuse it here. The parser also takes a
    // NUL byte for the end of the input, so "{}\0junk" would pass; JSON text
    // never holds a raw NUL (inside a string it is a refused control
    // character), so any NUL rejects the document.
    if (text.starts_with("\xEF\xBB\xBF") || text.find('\0') != std::string_view::npos) {
        return std::nullopt;
    }
    WalColorsReader reader;
    // Strict mode: after the value only space, tab, LF and CR may follow.
    if (!json::sax_parse(text, &reader, json::input_format_t::json, true, false)) {
        return std::nullopt;
    }
    return WalColors{std::move(reader.colors())};
}

bool is_colour(std::string_view text) {
    const auto is_hex = [](char c) {
        return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
    };
    const auto is_letter = [](char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); };
    if (text.starts_with('#')) {
        const std::string_view digits = text.substr(1);
        const std::size_t n = digits.size();
        return (n == 3 || n == 4 || n == 6 || n == 8) &&
               std::all_of(digits.begin(), digits.end(), is_hex);
    }
    return !text.empty() && text.size() <= 32 && std::all_of(text.begin(), text.end(), is_letter);
}

Palette palette_from(const WalColors& wal) {
    Palette palette;
    const auto take = [&](const char* key, std::string& field) {
        if (const auto it = wal.colors.find(key); it != wal.colors.end() && is_colour(it->second)) {
            field = it->second;
        }
    };
    take("color1", palette.red);
    take("color2", palette.green);
    take("color3", palette.yellow);
    take("color4", palette.accent);
    take("color5", palette.pink);
    take("color6", palette.teal);
    return palette;
}

std::optional<std::string> cache_dir() {
    if (auto xdg = env_utf8("XDG_CACHE_HOME")) {
        return xdg;
    }
    std::optional<std::string> home;
    if (const char* env = std::getenv("HOME"); env != nullptr && *env != '\0') {
        home = std::string(env);
    } else {
        home = password_home();
    }
    if (!home || home->empty()) {
        return std::nullopt;
    }
    return join_path(*home, ".cache");
}

std::string palette_path() {
    return join_path(cache_dir().value_or("~/.cache"), "wal/colors.json");
}

Palette load_palette() {
    // The cache directory may be shared (XDG_CACHE_HOME on a common disk):
    // the palette is read under the same rules as the stylesheets.
    const std::string path = palette_path();
    TrustedRead read = read_trusted_text_file(path);
    if (!read.refusal.empty()) {
        report_once("ignoring " + path + ": " + read.refusal);
    }
    if (!read.text) {
        return Palette{};
    }
    const auto wal = parse_wal_colors(*read.text);
    return wal ? palette_from(*wal) : Palette{};
}

}  // namespace flint
