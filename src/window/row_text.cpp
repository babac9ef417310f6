#include "window/row_text.hpp"

#include <cmath>

#include "flint/text.hpp"

namespace flintsearch::window {

std::string score_text(float score) {
    // A relevance, not a measurement: whatever a daemon sends, the row shows
    // 0% to 100%. NaN compares false both ways and shows as 0%.
    const float product = score * 100.0f;
    if (!(product > 0.0f)) {
        return "0%";
    }
    if (product >= 100.0f) {
        return "100%";
    }
    // nearbyint honours the current rounding mode, which is round-half-even
    // unless someone changed it.
    return std::to_string(static_cast<int>(std::nearbyint(product))) + "%";
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

bool is_openable_path(std::string_view path) {
    return path.starts_with('/');
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

std::string accessible_row_text(std::string_view title, float score, std::string_view path) {
    std::string text = label_text(title, Keep::Start) + ", " + score_text(score);
    const std::string folder = parent_folder(path);
    if (!folder.empty() && folder != path) {
        text += ", in " + label_text(folder, Keep::End);
    }
    return text;
}

}  // namespace flintsearch::window
