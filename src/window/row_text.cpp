#include "window/row_text.hpp"

#include <cmath>
#include <cstdio>

#include "flint/text.hpp"

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

std::string label_text(std::string_view text, Keep keep) {
    if (text.size() <= MAX_LABEL_BYTES) {
        return std::string(text);
    }
    constexpr std::string_view ELLIPSIS = "\u2026";
    const std::size_t room = MAX_LABEL_BYTES - ELLIPSIS.size();
    // A cut never falls inside a UTF-8 sequence: it moves onto the nearest
    // lead byte on the kept side, at most three bytes away (ill-formed text,
    // which the decoder never hands on, is cut where it is).
    auto is_continuation = [&](std::size_t i) {
        return (static_cast<unsigned char>(text[i]) & 0xC0u) == 0x80u;
    };
    if (keep == Keep::Start) {
        std::size_t end = room;
        while (end > room - 3 && is_continuation(end)) {
            --end;
        }
        return std::string(text.substr(0, end)) + std::string(ELLIPSIS);
    }
    std::size_t start = text.size() - room;
    const std::size_t latest = start + 3;
    while (start < latest && is_continuation(start)) {
        ++start;
    }
    return std::string(ELLIPSIS) + std::string(text.substr(start));
}

std::string left_out_text(std::size_t left_out) {
    std::string digits = std::to_string(left_out);
    for (std::size_t i = digits.size(); i > 3; i -= 3) {
        digits.insert(i - 3, ",");
    }
    return digits + (left_out == 1 ? " more hit not shown" : " more hits not shown");
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
