// Plain text, source code and Markdown.
#include <cctype>
#include <cstring>
#include <optional>

#include "flint/text.hpp"
#include "flintmill/extract/readers.hpp"
#include "flintmill/extract/text_sink.hpp"

namespace flintmill::extract {
namespace {

// Text that holds a NUL byte is some binary format with a text extension.
bool looks_binary(std::string_view bytes) {
    return std::memchr(bytes.data(), '\0', bytes.size()) != nullptr;
}

// The file's text as UTF-8. A Latin-1 reading never shrinks, and folding
// white space rarely halves text, so a prefix of a few times the text
// bound is all that can reach the sink; converting more would only cost
// memory inside the address-space limit.
std::string decode(std::string_view bytes, std::size_t max_text_bytes) {
    if (bytes.starts_with("\xEF\xBB\xBF")) {
        bytes.remove_prefix(3);
    }
    if (flint::is_valid_utf8(bytes)) {
        return std::string(bytes);
    }
    const std::size_t prefix =
        max_text_bytes > bytes.size() / 16 ? bytes.size() : max_text_bytes * 16;
    return latin1_to_utf8(bytes.substr(0, prefix));
}

// Calls f(line) for each line, without its line ending; false from f stops.
template <class F>
void each_line(std::string_view text, F&& f) {
    while (!text.empty()) {
        const auto end = text.find('\n');
        std::string_view line = text.substr(0, end);
        if (line.ends_with('\r')) {
            line.remove_suffix(1);
        }
        if (!f(line)) {
            return;
        }
        text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
    }
}

std::string_view trim(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) {
        s.remove_prefix(1);
    }
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) {
        s.remove_suffix(1);
    }
    return s;
}

bool is_word(char c) {
    return std::isalnum(static_cast<unsigned char>(c)) != 0 ||
           static_cast<unsigned char>(c) >= 0x80;
}

// A line made only of one of chars (and spaces), at least min times.
bool rule_of(std::string_view line, std::string_view chars, std::size_t min) {
    line = trim(line);
    if (line.empty() || chars.find(line.front()) == std::string_view::npos) {
        return false;
    }
    std::size_t count = 0;
    for (const char c : line) {
        if (c == line.front()) {
            ++count;
        } else if (c != ' ') {
            return false;
        }
    }
    return count >= min;
}

// Emphasis, code spans, links and images, inline HTML and escapes removed;
// the words a reader sees kept. Runs in one pass, without recursion.
std::string strip_inline(std::string_view s) {
    std::string out;
    out.reserve(s.size());
    for (std::size_t i = 0; i < s.size(); ++i) {
        const char c = s[i];
        const char next = i + 1 < s.size() ? s[i + 1] : '\0';
        if (c == '\\' && std::ispunct(static_cast<unsigned char>(next)) != 0) {
            out.push_back(next);
            ++i;
        } else if (c == ']' && (next == '(' || next == '[')) {
            // A link's target or reference: skipped, its label already kept.
            const auto close = s.find(next == '(' ? ')' : ']', i + 2);
            i = close == std::string_view::npos ? s.size() : close;
        } else if (c == '<') {
            const auto close = s.find('>', i + 1);
            const auto inner = close == std::string_view::npos ? std::string_view()
                                                               : s.substr(i + 1, close - i - 1);
            if (inner.empty() || inner.size() > 256) {
                out.push_back(c);
                continue;
            }
            // An autolink keeps its address; a tag goes.
            if (inner.find("://") != std::string_view::npos ||
                (inner.find('@') != std::string_view::npos &&
                 inner.find(' ') == std::string_view::npos)) {
                out.append(inner);
            }
            i = close;
        } else if (c == '[' || c == ']' || c == '`' || c == '*' || c == '~' ||
                   (c == '!' && next == '[')) {
            continue;
        } else if (c == '_' && (i == 0 || !is_word(s[i - 1]) || !is_word(next))) {
            continue;
        } else {
            out.push_back(c);
        }
    }
    return out;
}

// The text of an ATX heading line ("## Text ##"), or nothing.
std::optional<std::string_view> atx_heading(std::string_view line) {
    std::size_t level = 0;
    while (level < line.size() && line[level] == '#') {
        ++level;
    }
    if (level == 0 || level > 6 ||
        (level < line.size() && line[level] != ' ' && line[level] != '\t')) {
        return std::nullopt;
    }
    std::string_view text = trim(line.substr(level));
    while (!text.empty() && text.back() == '#') {
        text.remove_suffix(1);
    }
    return trim(text);
}

// Strips a list item's or quote's markers, reporting whether there were any.
std::string_view strip_block_markers(std::string_view line, bool& item) {
    item = false;
    for (;;) {
        line = trim(line);
        if (line.starts_with('>')) {
            line.remove_prefix(1);
            item = true;
            continue;
        }
        if (line.size() >= 2 && (line[0] == '-' || line[0] == '*' || line[0] == '+') &&
            line[1] == ' ') {
            line.remove_prefix(2);
            item = true;
            continue;
        }
        std::size_t digits = 0;
        while (digits < line.size() && digits < 9 &&
               std::isdigit(static_cast<unsigned char>(line[digits])) != 0) {
            ++digits;
        }
        if (digits > 0 && digits + 1 < line.size() &&
            (line[digits] == '.' || line[digits] == ')') && line[digits + 1] == ' ') {
            line.remove_prefix(digits + 2);
            item = true;
            continue;
        }
        return line;
    }
}

}  // namespace

Outcome read_plain_text(std::string_view bytes, const Limits& limits) {
    if (looks_binary(bytes)) {
        return fail(FailureKind::Malformed, "binary data, not text");
    }
    const std::string text = decode(bytes, limits.max_text_bytes);
    TextSink sink(limits.max_text_bytes);
    each_line(text, [&](std::string_view line) {
        sink.add(line);
        sink.paragraph();
        return !sink.full();
    });
    return Document{{}, sink.take()};
}

Outcome read_markdown(std::string_view bytes, const Limits& limits) {
    if (looks_binary(bytes)) {
        return fail(FailureKind::Malformed, "binary data, not text");
    }
    const std::string text = decode(bytes, limits.max_text_bytes);
    TextSink sink(limits.max_text_bytes);
    std::string title;
    bool in_front_matter = text.starts_with("---\n") || text.starts_with("---\r\n");
    bool first = true;
    bool in_fence = false;
    std::string_view previous;  // the last line of running text, for setext headings
    each_line(text, [&](std::string_view line) {
        if (in_front_matter) {
            // YAML front matter: only its title is read.
            if (!first && (line == "---" || line == "...")) {
                in_front_matter = false;
            } else if (line.starts_with("title:") && title.empty()) {
                std::string_view value = trim(line.substr(6));
                if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
                    value.back() == value.front()) {
                    value = value.substr(1, value.size() - 2);
                }
                title = clean_title(value, TITLE_BYTES);
            }
            first = false;
            return true;
        }
        const std::string_view stripped = trim(line);
        if (stripped.starts_with("```") || stripped.starts_with("~~~")) {
            in_fence = !in_fence;
            sink.paragraph();
            previous = {};
            return true;
        }
        if (in_fence) {
            sink.add(line);
            sink.paragraph();
            return !sink.full();
        }
        if (stripped.empty()) {
            sink.paragraph();
            previous = {};
            return true;
        }
        // "Title" over "=====" or "-----" is a heading; "-----" after a
        // blank line is a rule.
        if (!previous.empty() && (rule_of(stripped, "=", 1) || rule_of(stripped, "-", 2))) {
            if (title.empty()) {
                title = clean_title(strip_inline(previous), TITLE_BYTES);
            }
            sink.paragraph();
            previous = {};
            return true;
        }
        if (rule_of(stripped, "-*_", 3) ||
            (stripped.starts_with('[') && stripped.find("]: ") != std::string_view::npos) ||
            (stripped.starts_with('|') &&
             stripped.find_first_not_of("|-: ") == std::string_view::npos)) {
            sink.paragraph();
            previous = {};
            return true;
        }
        if (const auto heading = atx_heading(stripped)) {
            std::string heading_text = strip_inline(*heading);
            if (title.empty()) {
                title = clean_title(heading_text, TITLE_BYTES);
            }
            sink.paragraph();
            sink.add(heading_text);
            sink.paragraph();
            previous = {};
            return !sink.full();
        }
        bool item = false;
        std::string_view rest = strip_block_markers(stripped, item);
        if (item) {
            sink.paragraph();
        }
        std::string words = strip_inline(rest);
        if (rest.starts_with('|') || stripped.starts_with('|')) {
            for (char& c : words) {
                if (c == '|') {
                    c = ' ';
                }
            }
        }
        sink.space();
        sink.add(words);
        previous = item ? std::string_view() : stripped;
        return !sink.full();
    });
    return Document{std::move(title), sink.take()};
}

}  // namespace flintmill::extract
