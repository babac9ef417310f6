#include "flintmill/extract/format.hpp"

#include <algorithm>
#include <array>
#include <cctype>
#include <string>
#include <utility>

namespace flintmill::extract {
namespace {

// Plain text and source code: read as text, whatever the language.
constexpr std::array<std::string_view, 58> TEXT_EXTENSIONS = {
    "txt",  "text",  "log",  "csv", "tsv",  "rst", "org", "tex",  "bib",  "adoc",  "c",     "h",
    "cc",   "cpp",   "cxx",  "hh",  "hpp",  "hxx", "ino", "cs",   "java", "kt",    "scala", "go",
    "rs",   "swift", "m",    "py",  "rb",   "pl",  "pm",  "php",  "lua",  "r",     "jl",    "hs",
    "ml",   "el",    "clj",  "js",  "mjs",  "ts",  "css", "scss", "sql",  "sh",    "bash",  "zsh",
    "fish", "json",  "yaml", "yml", "toml", "ini", "cfg", "conf", "xml",  "cmake",
};

constexpr std::array<std::string_view, 8> TEXT_NAMES = {
    "README", "LICENSE", "COPYING", "CHANGELOG", "NEWS", "TODO", "Makefile", "INSTALL",
};

constexpr std::array<std::pair<std::string_view, Format>, 13> DOCUMENT_EXTENSIONS = {{
    {"md", Format::Markdown},
    {"markdown", Format::Markdown},
    {"html", Format::Html},
    {"htm", Format::Html},
    {"xhtml", Format::Html},
    {"pdf", Format::Pdf},
    {"odt", Format::OpenDocument},
    {"ods", Format::OpenDocument},
    {"odp", Format::OpenDocument},
    {"docx", Format::WordXml},
    {"xlsx", Format::SheetXml},
    {"pptx", Format::SlidesXml},
    {"epub", Format::Epub},
}};

}  // namespace

Format format_of(std::string_view path) {
    const auto slash = path.rfind('/');
    const std::string_view name = slash == std::string_view::npos ? path : path.substr(slash + 1);
    const auto dot = name.rfind('.');
    // A leading dot starts a hidden name, not an extension.
    if (dot == std::string_view::npos || dot == 0) {
        const bool known =
            std::find(TEXT_NAMES.begin(), TEXT_NAMES.end(), name) != TEXT_NAMES.end();
        return known ? Format::PlainText : Format::None;
    }
    std::string ext(name.substr(dot + 1));
    if (ext.size() > 8) {
        return Format::None;
    }
    std::transform(ext.begin(), ext.end(), ext.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    for (const auto& [known, format] : DOCUMENT_EXTENSIONS) {
        if (ext == known) {
            return format;
        }
    }
    const bool text =
        std::find(TEXT_EXTENSIONS.begin(), TEXT_EXTENSIONS.end(), ext) != TEXT_EXTENSIONS.end();
    return text ? Format::PlainText : Format::None;
}

}  // namespace flintmill::extract
