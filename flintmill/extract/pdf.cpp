// PDF through poppler-cpp, from the bytes already read (poppler never opens
// the path itself, so what it parses is what was checked).
#include <poppler/cpp/poppler-document.h>
#include <poppler/cpp/poppler-page.h>

#include <climits>
#include <memory>

#include "flintmill/extract/readers.hpp"
#include "flintmill/extract/text_sink.hpp"

namespace flintmill::extract {
namespace {

std::string_view view_of(const poppler::byte_array& bytes) {
    return {bytes.data(), bytes.size()};
}

}  // namespace

Outcome read_pdf(std::string_view bytes, const Limits& limits) {
    if (bytes.size() > static_cast<std::size_t>(INT_MAX)) {
        return fail(FailureKind::TooLarge, "too large to parse");
    }
    std::unique_ptr<poppler::document> doc(
        poppler::document::load_from_raw_data(bytes.data(), static_cast<int>(bytes.size())));
    if (!doc) {
        return fail(FailureKind::Malformed, "not a readable PDF");
    }
    if (doc->is_locked()) {
        return fail(FailureKind::Unreadable, "encrypted PDF (needs a password)");
    }
    TextSink sink(limits.max_text_bytes);
    std::string first_line;
    const int pages = doc->pages();
    for (int i = 0; i < pages && !sink.full(); ++i) {
        std::unique_ptr<poppler::page> page(doc->create_page(i));
        if (!page) {
            continue;
        }
        const poppler::byte_array text = page->text().to_utf8();
        std::string_view rest = view_of(text);
        while (!rest.empty() && !sink.full()) {
            const auto end = rest.find('\n');
            const std::string_view line = rest.substr(0, end);
            if (first_line.empty()) {
                first_line = clean_title(line, TITLE_BYTES);
            }
            sink.add(line);
            sink.paragraph();
            rest = end == std::string_view::npos ? std::string_view() : rest.substr(end + 1);
        }
    }
    std::string title = clean_title(view_of(doc->get_title().to_utf8()), TITLE_BYTES);
    return Document{title.empty() ? std::move(first_line) : std::move(title), sink.take()};
}

}  // namespace flintmill::extract
