// Which reader a file goes to, judged by its name alone (no I/O), so the
// daemon can skip files it cannot read before it opens them and the worker
// picks the same reader the daemon expected.
#pragma once

#include <string_view>

namespace flintmill::extract {

enum class Format {
    None,  // not a format we read
    PlainText,
    Markdown,
    Html,
    Pdf,
    OpenDocument,  // odt, ods, odp
    WordXml,       // docx
    SheetXml,      // xlsx
    SlidesXml,     // pptx
    Epub,
};

// The format for a path's extension (ASCII case ignored), or for a few
// well-known extensionless names (README, Makefile, ...).
Format format_of(std::string_view path);

}  // namespace flintmill::extract
