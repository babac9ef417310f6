// The readers the worker runs, one per format. Each takes the whole file,
// already read under the size bound, and returns its text and title or
// why it could not. They run only inside flintmill-extract, under its
// limits; nothing here is linked into the daemon.
#pragma once

#include <string>
#include <string_view>

#include "flintmill/extract/extractor.hpp"
#include "flintmill/extract/format.hpp"

namespace flintmill::extract {

using Outcome = flintsearch::Result<Document, Failure>;

inline constexpr std::size_t TITLE_BYTES = MAX_TITLE_BYTES;

inline flintsearch::unexpected<Failure> fail(FailureKind kind, std::string message) {
    return flintsearch::unexpected(Failure{kind, std::move(message)});
}

// Plain text and source code: UTF-8 when it is, else ISO-8859-1. No title.
Outcome read_plain_text(std::string_view bytes, const Limits& limits);
// Markdown: markup stripped, the title from the first heading.
Outcome read_markdown(std::string_view bytes, const Limits& limits);
// HTML: <title>, else the first <h1>; scripts and styles skipped.
Outcome read_html(std::string_view bytes, const Limits& limits);
// PDF: the document information's title, else the first line of text.
Outcome read_pdf(std::string_view bytes, const Limits& limits);
// Zip containers: OpenDocument, Office Open XML, EPUB.
Outcome read_package(Format format, std::string_view bytes, const Limits& limits);

// Global set-up of the parsing libraries (quiet, no network); once, before
// any reader runs.
void init_readers();

}  // namespace flintmill::extract
