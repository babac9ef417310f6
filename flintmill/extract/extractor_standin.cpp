// A temporary in-process reader for plain text and Markdown, standing in
// for the extraction worker until it lands. Deleted then.
#include <sys/stat.h>

#include "flintmill/extract/extractor.hpp"
#include "text.hpp"

namespace flintmill::extract {

struct Extractor::Worker {};

bool is_supported(std::string_view path) {
    return path.ends_with(".txt") || path.ends_with(".md");
}

Extractor::Extractor(std::string worker, Limits limits)
    : worker_path_(std::move(worker)), limits_(limits) {}
Extractor::~Extractor() = default;

flintsearch::Result<Document, Failure> Extractor::extract(const std::string& path) {
    if (!is_supported(path)) {
        return flintsearch::unexpected(Failure{FailureKind::Unsupported, "unsupported"});
    }
    auto bytes = flint::read_file(path, limits_.max_file_bytes);
    if (!bytes) {
        return flintsearch::unexpected(Failure{FailureKind::Unreadable, "cannot read " + path});
    }
    Document doc;
    doc.text = flint::to_utf8_lossy(bytes->substr(0, limits_.max_text_bytes));
    if (path.ends_with(".md")) {
        const auto pos = doc.text.find("# ");
        if (pos == 0 || (pos != std::string::npos && doc.text[pos - 1] == '\n')) {
            doc.title = doc.text.substr(pos + 2, doc.text.find('\n', pos) - pos - 2);
        }
    }
    return doc;
}

std::string find_worker() { return {}; }

}  // namespace flintmill::extract
