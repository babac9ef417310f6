#include "window/row_text.hpp"

#include <cmath>
#include <cstdio>

#include "text.hpp"

namespace flintsearch::window {

std::string score_text(float score) {
    const float product = score * 100.0f;
    if (std::isnan(product)) {
        return "NaN%";
    }
    if (std::isinf(product)) {
        return product > 0 ? "inf%" : "-inf%";
    }
    // nearbyint honours the current rounding mode, which is round-half-even
    // unless someone changed it. The result stays a float: a cast to an
    // integer type would overflow for large scores.
    float rounded = std::nearbyint(product);
    if (rounded == 0.0f) {
        rounded = 0.0f;  // no "-0%"
    }
    // Every float that is a whole number prints exactly with %.0f; the
    // largest (about 3.4e38) needs 39 digits.
    char buffer[64];
    const int length = std::snprintf(buffer, sizeof buffer, "%.0f%%", static_cast<double>(rounded));
    return std::string(buffer, static_cast<std::size_t>(length));
}

std::string snippet_line(std::string_view snippet) {
    std::string_view line = snippet;
    if (const auto end = snippet.find('\n'); end != std::string_view::npos) {
        line = snippet.substr(0, end);
        if (!line.empty() && line.back() == '\r') {
            line.remove_suffix(1);
        }
    }
    return std::string(flint::trim_white_space(line));
}

std::string parent_folder(std::string_view path) {
    std::string_view rest = path;
    while (!rest.empty() && rest.back() == '/') {
        rest.remove_suffix(1);
    }
    if (rest.empty()) {
        // "" or only slashes: the root has no parent.
        return flint::to_utf8_lossy(path);
    }
    const auto slash = rest.rfind('/');
    if (slash == std::string_view::npos) {
        return "";  // a single relative component
    }
    std::string_view parent = rest.substr(0, slash);
    while (!parent.empty() && parent.back() == '/') {
        parent.remove_suffix(1);
    }
    if (parent.empty()) {
        return "/";
    }
    return flint::to_utf8_lossy(parent);
}

}  // namespace flintsearch::window
