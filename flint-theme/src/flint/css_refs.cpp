#include "flint/css_refs.hpp"

#include <filesystem>
#include <utility>

#include "flint/trust.hpp"

namespace flint {
namespace {

// ---- Scanning. Token rules follow CSS Syntax Level 3, as GTK's tokenizer
// does; only what decides where comments, strings, url() and blocks begin
// and end is modelled.

bool is_ws(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f';
}
bool is_newline(char c) {
    return c == '\n' || c == '\r' || c == '\f';
}
bool is_hex(char c) {
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}
bool is_digit(char c) {
    return c >= '0' && c <= '9';
}
bool is_name_start(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_' ||
           static_cast<unsigned char>(c) >= 0x80;
}
bool is_name_char(char c) {
    return is_name_start(c) || is_digit(c) || c == '-';
}
bool is_non_printable(char c) {
    const auto u = static_cast<unsigned char>(c);
    return u <= 0x08 || u == 0x0b || (u >= 0x0e && u <= 0x1f) || u == 0x7f;
}

void append_utf8(std::string& out, char32_t cp) {
    if (cp == 0 || cp > 0x10ffff || (cp >= 0xd800 && cp <= 0xdfff)) {
        cp = 0xfffd;
    }
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xc0 | (cp >> 6));
        out += static_cast<char>(0x80 | (cp & 0x3f));
    } else if (cp < 0x10000) {
        out += static_cast<char>(0xe0 | (cp >> 12));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3f));
        out += static_cast<char>(0x80 | (cp & 0x3f));
    } else {
        out += static_cast<char>(0xf0 | (cp >> 18));
        out += static_cast<char>(0x80 | ((cp >> 12) & 0x3f));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3f));
        out += static_cast<char>(0x80 | (cp & 0x3f));
    }
}

bool equals_ascii_nocase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) {
        return false;
    }
    for (std::size_t k = 0; k < a.size(); ++k) {
        char x = a[k];
        char y = b[k];
        x = (x >= 'A' && x <= 'Z') ? static_cast<char>(x - 'A' + 'a') : x;
        y = (y >= 'A' && y <= 'Z') ? static_cast<char>(y - 'A' + 'a') : y;
        if (x != y) {
            return false;
        }
    }
    return true;
}

enum class Tok {
    End,
    Whitespace,
    Comment,
    String,
    Url,       // a url token or url() function, consumed whole
    Function,  // name( other than url: opens a ')' block
    AtKeyword,
    Open,
    Close,
    Semicolon,
    Other,
};

class Scanner {
  public:
    explicit Scanner(std::string_view s) : s_(s) {}

    CssScan run() {
        CssScan scan;
        std::vector<char> closers;
        bool in_statement = false;
        bool at_rule = false;
        for (;;) {
            const std::size_t start = i_;
            const Tok t = next();
            if (t == Tok::End) {
                break;
            }
            if (t == Tok::Whitespace || t == Tok::Comment) {
                continue;
            }
            if (t == Tok::AtKeyword && equals_ascii_nocase(name_, "import")) {
                scan.refs.push_back(import_rule(start, !closers.empty()));
                continue;
            }
            if (t == Tok::Url) {
                scan.refs.push_back({CssRefKind::Url, start, i_, url_, false, false});
            }
            if (closers.empty() && !in_statement) {
                in_statement = true;
                at_rule = t == Tok::AtKeyword;
            }
            if (t == Tok::Open || t == Tok::Function) {
                closers.push_back(closer_);
            } else if (t == Tok::Close && !closers.empty() && closers.back() == s_[start]) {
                closers.pop_back();
                if (closers.empty() && s_[start] == '}') {
                    in_statement = false;
                }
            } else if (t == Tok::Semicolon && closers.empty()) {
                in_statement = false;
            }
        }
        std::string& closing = scan.closing;
        if (open_comment_) {
            closing += "*/";
        } else if (open_quote_ != 0) {
            closing += dangling_backslash_ ? "\\" : "";
            closing += open_quote_;
        } else if (dangling_backslash_) {
            closing += '\n';
        }
        const bool closes_rule = !closers.empty() && closers.front() == '}';
        for (auto it = closers.rbegin(); it != closers.rend(); ++it) {
            closing += *it;
        }
        if (in_statement && !closes_rule) {
            closing += at_rule ? ";" : "{}";
        }
        return scan;
    }

  private:
    char at(std::size_t k) const { return k < s_.size() ? s_[k] : '\0'; }
    bool has(std::size_t k) const { return k < s_.size(); }

    bool valid_escape(std::size_t k) const {
        return at(k) == '\\' && has(k + 1) && !is_newline(s_[k + 1]);
    }
    bool starts_name(std::size_t k) const {
        if (at(k) == '-') {
            return (has(k + 1) && (is_name_start(s_[k + 1]) || s_[k + 1] == '-')) ||
                   valid_escape(k + 1);
        }
        return (has(k) && is_name_start(s_[k])) || valid_escape(k);
    }
    bool starts_number(std::size_t k) const {
        std::size_t j = k;
        if (at(j) == '+' || at(j) == '-') {
            ++j;
        }
        if (at(j) == '.') {
            ++j;
        }
        return has(j) && is_digit(s_[j]);
    }

    // After a backslash known to start a valid escape (or at the end).
    void escape(std::string& out) {
        ++i_;  // the backslash
        if (!has(i_)) {
            append_utf8(out, 0xfffd);
            return;
        }
        if (is_hex(s_[i_])) {
            char32_t cp = 0;
            for (int n = 0; n < 6 && has(i_) && is_hex(s_[i_]); ++n, ++i_) {
                const char c = s_[i_];
                cp = cp * 16 + static_cast<char32_t>(is_digit(c)              ? c - '0'
                                                     : (c >= 'a' && c <= 'f') ? c - 'a' + 10
                                                                              : c - 'A' + 10);
            }
            if (at(i_) == '\r' && at(i_ + 1) == '\n') {
                i_ += 2;
            } else if (has(i_) && is_ws(s_[i_])) {
                ++i_;
            }
            append_utf8(out, cp);
            return;
        }
        out += s_[i_++];
    }

    std::string name() {
        std::string out;
        while (has(i_)) {
            if (is_name_char(s_[i_])) {
                out += s_[i_++];
            } else if (valid_escape(i_)) {
                escape(out);
            } else {
                break;
            }
        }
        return out;
    }

    // At an opening quote. The value when the string is well formed; a raw
    // newline ends it as a bad string (the newline is not consumed).
    std::optional<std::string> string() {
        const char quote = s_[i_++];
        std::string out;
        while (has(i_)) {
            const char c = s_[i_];
            if (c == quote) {
                ++i_;
                return out;
            }
            if (is_newline(c)) {
                return std::nullopt;
            }
            if (c == '\\') {
                if (!has(i_ + 1)) {
                    ++i_;
                    dangling_backslash_ = true;
                    break;
                }
                if (s_[i_ + 1] == '\r' && at(i_ + 2) == '\n') {
                    i_ += 3;
                } else if (is_newline(s_[i_ + 1])) {
                    i_ += 2;
                } else {
                    escape(out);
                }
                continue;
            }
            out += c;
            ++i_;
        }
        open_quote_ = quote;
        return out;
    }

    void skip_ws() {
        while (has(i_) && is_ws(s_[i_])) {
            ++i_;
        }
    }

    // Just after "url(": a url token, or the url() function around a string.
    void url() {
        url_.reset();
        skip_ws();
        if (at(i_) == '"' || at(i_) == '\'') {
            auto value = string();
            skip_ws();
            if (value && at(i_) == ')') {
                ++i_;
                url_ = std::move(value);
                return;
            }
            // Anything else inside is malformed: the whole function goes.
            skip_block(')');
            return;
        }
        std::string out;
        while (has(i_)) {
            const char c = s_[i_];
            if (c == ')') {
                ++i_;
                url_ = std::move(out);
                return;
            }
            if (is_ws(c)) {
                skip_ws();
                if (!has(i_) || at(i_) == ')') {
                    i_ += has(i_) ? 1 : 0;
                    url_ = std::move(out);
                    return;
                }
                break;
            }
            if (c == '"' || c == '\'' || c == '(' || is_non_printable(c)) {
                break;
            }
            if (c == '\\') {
                if (!valid_escape(i_)) {
                    break;
                }
                escape(out);
                continue;
            }
            out += c;
            ++i_;
        }
        if (!has(i_)) {
            url_ = std::move(out);  // ended by the end of the text
            return;
        }
        // A bad url: its remnants run to the next ")".
        while (has(i_) && s_[i_] != ')') {
            if (valid_escape(i_)) {
                std::string ignored;
                escape(ignored);
            } else {
                ++i_;
            }
        }
        i_ += has(i_) ? 1 : 0;
    }

    // Consumes tokens up to and including the closer of a block already open.
    void skip_block(char closer) {
        std::vector<char> closers{closer};
        while (!closers.empty()) {
            const std::size_t start = i_;
            const Tok t = next();
            if (t == Tok::End) {
                return;
            }
            if (t == Tok::Open || t == Tok::Function) {
                closers.push_back(closer_);
            } else if (t == Tok::Close && closers.back() == s_[start]) {
                closers.pop_back();
            }
        }
    }

    // Just after "@import": the rest of the rule, to its ";" or the end of
    // its block (or of the enclosing one, or of the text).
    CssRef import_rule(std::size_t begin, bool nested) {
        CssRef ref{CssRefKind::Import, begin, 0, std::nullopt, nested, false};
        bool seen_target = false;
        for (;;) {
            const std::size_t start = i_;
            const Tok t = next();
            if (t == Tok::End || t == Tok::Semicolon) {
                break;
            }
            if (t == Tok::Whitespace || t == Tok::Comment) {
                continue;
            }
            if (t == Tok::Close && s_[start] == '}') {
                i_ = start;  // closes the enclosing block, not part of the rule
                break;
            }
            if (!seen_target && (t == Tok::String || t == Tok::Url)) {
                seen_target = true;
                ref.target = t == Tok::String ? string_ : url_;
                continue;
            }
            ref.trailing = true;
            if (t == Tok::Open || t == Tok::Function) {
                const char closer = closer_;
                skip_block(closer);
                if (closer == '}') {
                    break;
                }
            }
        }
        if (!seen_target) {
            ref.target.reset();
        }
        ref.end = i_;
        return ref;
    }

    Tok next() {
        if (!has(i_)) {
            return Tok::End;
        }
        dangling_backslash_ = false;
        const char c = s_[i_];
        if (c == '/' && at(i_ + 1) == '*') {
            const auto close = s_.find("*/", i_ + 2);
            if (close == std::string_view::npos) {
                i_ = s_.size();
                open_comment_ = true;
            } else {
                i_ = close + 2;
            }
            return Tok::Comment;
        }
        if (is_ws(c)) {
            skip_ws();
            return Tok::Whitespace;
        }
        if (c == '"' || c == '\'') {
            string_ = string();
            return Tok::String;
        }
        if (c == '@' && starts_name(i_ + 1)) {
            ++i_;
            name_ = name();
            return Tok::AtKeyword;
        }
        if (c == '#' && (is_name_char(at(i_ + 1)) || valid_escape(i_ + 1))) {
            ++i_;
            name();
            return Tok::Other;
        }
        if (starts_number(i_)) {
            if (c == '+' || c == '-') {
                ++i_;
            }
            while (has(i_) && (is_digit(s_[i_]) || s_[i_] == '.')) {
                ++i_;
            }
            if ((at(i_) == 'e' || at(i_) == 'E') &&
                (is_digit(at(i_ + 1)) ||
                 ((at(i_ + 1) == '+' || at(i_ + 1) == '-') && is_digit(at(i_ + 2))))) {
                i_ += 2;
                while (has(i_) && is_digit(s_[i_])) {
                    ++i_;
                }
            }
            if (starts_name(i_)) {
                name();  // the unit: never a function
            } else if (at(i_) == '%') {
                ++i_;
            }
            return Tok::Other;
        }
        if (starts_name(i_)) {
            name_ = name();
            if (at(i_) != '(') {
                return Tok::Other;
            }
            ++i_;
            if (equals_ascii_nocase(name_, "url")) {
                url();
                return Tok::Url;
            }
            closer_ = ')';
            return Tok::Function;
        }
        ++i_;
        switch (c) {
            case '{':
                closer_ = '}';
                return Tok::Open;
            case '(':
                closer_ = ')';
                return Tok::Open;
            case '[':
                closer_ = ']';
                return Tok::Open;
            case '}':
            case ')':
            case ']':
                return Tok::Close;
            case ';':
                return Tok::Semicolon;
            case '\\':
                dangling_backslash_ = !has(i_);
                return Tok::Other;
            default:
                return Tok::Other;
        }
    }

    std::string_view s_;
    std::size_t i_ = 0;
    std::string name_;
    std::optional<std::string> string_;
    std::optional<std::string> url_;
    char closer_ = 0;
    bool open_comment_ = false;
    char open_quote_ = 0;
    bool dangling_backslash_ = false;
};

// ---- Vetting.

// Where a reference leads.
struct Target {
    enum class Kind { Keep, Local, Refused } kind;
    std::string value;  // the path for Local, the reason for Refused
};

bool has_scheme(std::string_view url, std::string_view& scheme) {
    if (url.empty() || !((url[0] >= 'a' && url[0] <= 'z') || (url[0] >= 'A' && url[0] <= 'Z'))) {
        return false;
    }
    for (std::size_t k = 1; k < url.size(); ++k) {
        const char c = url[k];
        if (c == ':') {
            scheme = url.substr(0, k);
            return true;
        }
        if (!(is_name_start(c) || is_digit(c) || c == '+' || c == '-' || c == '.') ||
            static_cast<unsigned char>(c) >= 0x80) {
            return false;
        }
    }
    return false;
}

// The local path of a file: URI, as GLib decodes it (any host is ignored).
std::optional<std::string> file_uri_path(std::string_view rest) {
    if (rest.starts_with("//")) {
        const auto slash = rest.find('/', 2);
        if (slash == std::string_view::npos) {
            return std::nullopt;
        }
        rest.remove_prefix(slash);
    }
    if (!rest.starts_with("/") || rest.find('#') != std::string_view::npos) {
        return std::nullopt;
    }
    std::string path;
    for (std::size_t k = 0; k < rest.size(); ++k) {
        if (rest[k] != '%') {
            path += rest[k];
            continue;
        }
        if (k + 2 >= rest.size() || !is_hex(rest[k + 1]) || !is_hex(rest[k + 2])) {
            return std::nullopt;
        }
        const int v = std::stoi(std::string(rest.substr(k + 1, 2)), nullptr, 16);
        if (v == 0 || v == '/') {
            return std::nullopt;
        }
        path += static_cast<char>(v);
        k += 2;
    }
    return path;
}

Target locate(const std::string& url, const std::optional<std::string>& base) {
    std::string_view scheme;
    std::string path;
    if (has_scheme(url, scheme)) {
        // Compiled into the program or carried in the text: nothing to open.
        if (equals_ascii_nocase(scheme, "resource") || equals_ascii_nocase(scheme, "data")) {
            return {Target::Kind::Keep, {}};
        }
        if (!equals_ascii_nocase(scheme, "file")) {
            // GIO hands other schemes to GVfs, whose reads block on the
            // network or a mount: never on the main loop.
            return {Target::Kind::Refused, "it is not a local file"};
        }
        auto decoded = file_uri_path(std::string_view(url).substr(scheme.size() + 1));
        if (!decoded) {
            return {Target::Kind::Refused, "it is not a valid file: URI"};
        }
        path = std::move(*decoded);
    } else if (!base) {
        return {Target::Kind::Refused, "a relative reference needs a stylesheet file"};
    } else {
        path = join_path(*base, url);
    }
    if (path.find('\0') != std::string::npos) {
        return {Target::Kind::Refused, "it is not a valid path"};
    }
    // GIO canonicalises paths lexically ("a/../b" is "b"), before symbolic
    // links, and so does this.
    return {Target::Kind::Local, std::filesystem::path(path).lexically_normal().string()};
}

std::string file_uri(const std::string& path) {
    static constexpr char hex[] = "0123456789ABCDEF";
    std::string out = "file://";
    for (const char c : path) {
        const auto u = static_cast<unsigned char>(c);
        if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || is_digit(c) || c == '/' ||
            c == '-' || c == '.' || c == '_' || c == '~') {
            out += c;
        } else {
            out += '%';
            out += hex[u >> 4];
            out += hex[u & 15];
        }
    }
    return out;
}

// The reference as a message shows it: printable, and not too long.
std::string shown(const std::optional<std::string>& target) {
    if (!target) {
        return "(malformed)";
    }
    std::string out;
    for (const char c : *target) {
        out += static_cast<unsigned char>(c) < 0x20 || c == 0x7f ? '?' : c;
        if (out.size() >= 200) {
            out += "...";
            break;
        }
    }
    return out;
}

std::optional<std::string> directory_of(const std::string& path) {
    if (path.empty()) {
        return std::nullopt;
    }
    std::error_code ec;
    const auto absolute = std::filesystem::absolute(path, ec);
    if (ec) {
        return std::nullopt;
    }
    return absolute.lexically_normal().parent_path().string();
}

class Vetter {
  public:
    Vetter(const CssVetLimits& limits, const std::string& origin) : limits_(limits) {
        std::error_code ec;
        if (!origin.empty()) {
            const auto real = std::filesystem::canonical(origin, ec);
            if (!ec) {
                chain_.push_back(real.string());
            }
        }
    }

    void vet(std::string_view css, const std::string& origin, int depth, std::string& out) {
        const std::string name = origin.empty() ? "the generated stylesheet" : origin;
        const auto base = directory_of(origin);
        const CssScan scan = scan_css(css);
        std::size_t copied = 0;
        for (const CssRef& ref : scan.refs) {
            out.append(css.substr(copied, ref.begin - copied));
            copied = ref.end;
            if (ref.kind == CssRefKind::Url) {
                out += url(ref, name, base)
                           .value_or(std::string(css.substr(ref.begin, ref.end - ref.begin)));
            } else if (!import(ref, name, base, depth, out)) {
                // A dropped rule leaves a blank: its neighbours must not
                // join into a token ("url" + "(x)") GTK would read anew.
                out += ' ';
            }
        }
        out.append(css.substr(copied));
    }

    std::vector<std::string> refusals;

  private:
    void refuse(const CssRef& ref, const std::string& name, const std::string& why) {
        const std::string what = ref.kind == CssRefKind::Url
                                     ? "url(\"" + shown(ref.target) + "\")"
                                     : "@import \"" + shown(ref.target) + "\"";
        refusals.push_back("ignoring " + what + " in " + name + ": " + why);
    }

    // What replaces a url(); nothing when it stays as it is.
    std::optional<std::string> url(const CssRef& ref, const std::string& name,
                                   const std::optional<std::string>& base) {
        static constexpr const char* harmless = "none";
        if (!ref.target) {
            refuse(ref, name, "it is malformed");
            return harmless;
        }
        const Target target = locate(*ref.target, base);
        if (target.kind == Target::Kind::Keep) {
            return std::nullopt;
        }
        if (target.kind == Target::Kind::Refused) {
            refuse(ref, name, target.value);
            return harmless;
        }
        // GTK opens the image itself, later, through gdk-pixbuf or its
        // texture loaders; what it finds then is the regular file of
        // bounded size checked here, in directories only the user (or
        // root) can change. The checked path is the one handed on.
        const TrustedFile file = check_trusted_file(target.value, limits_.max_image);
        if (!file.path) {
            refuse(ref, name, file.refusal);
            return harmless;
        }
        return "url(\"" + file_uri(*file.path) + "\")";
    }

    // Inlines the imported text into out; false when the rule is dropped.
    bool import(const CssRef& ref, const std::string& name, const std::optional<std::string>& base,
                int depth, std::string& out) {
        if (ref.nested || !ref.target) {
            return false;  // GTK ignores these: dropped unread
        }
        const Target target = locate(*ref.target, base);
        if (target.kind == Target::Kind::Keep) {
            return false;  // data: and resource: stylesheets are not worth the exception
        }
        if (target.kind == Target::Kind::Refused) {
            refuse(ref, name, target.value);
            return false;
        }
        if (depth >= limits_.max_depth) {
            refuse(ref, name,
                   "imports nest more than " + std::to_string(limits_.max_depth) + " deep");
            return false;
        }
        const TrustedFile file = check_trusted_file(target.value, limits_.max_total - total_);
        if (!file.path) {
            refuse(ref, name,
                   file.refusal.starts_with("it is larger than")
                       ? "the imported stylesheets exceed " + std::to_string(limits_.max_total) +
                             " bytes"
                       : file.refusal);
            return false;
        }
        for (const std::string& open : chain_) {
            if (open == *file.path) {
                refuse(ref, name, "it imports itself");
                return false;
            }
        }
        TrustedRead read = read_trusted_text_file(*file.path, limits_.max_total - total_);
        if (!read.text) {
            refuse(ref, name,
                   read.refusal.empty() ? "it cannot be read as UTF-8 text" : read.refusal);
            return false;
        }
        if (ref.trailing) {
            return false;  // GTK answers a media list with a syntax error and loads nothing
        }
        total_ += read.text->size();
        chain_.push_back(*file.path);
        // Relative references in the imported file resolve against its own
        // directory, as GTK resolves them: the one it was named in.
        out += '\n';
        vet(*read.text, target.value, depth + 1, out);
        out += scan_css(*read.text).closing;
        out += '\n';
        chain_.pop_back();
        return true;
    }

    const CssVetLimits& limits_;
    std::vector<std::string> chain_;
    std::size_t total_ = 0;
};

}  // namespace

CssScan scan_css(std::string_view css) {
    return Scanner(css).run();
}

VettedCss vet_css(std::string_view css, const std::string& origin, const CssVetLimits& limits) {
    Vetter vetter(limits, origin);
    VettedCss result;
    vetter.vet(css, origin, 0, result.text);
    result.refusals = std::move(vetter.refusals);
    return result;
}

}  // namespace flint
