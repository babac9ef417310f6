// Text extraction from the user's documents. Documents are untrusted: every
// parse runs in a worker child (flintmill-extract) under hard limits, and the
// daemon only ever sees the text the worker sends back.
//
// Ownership: an Extractor owns one worker process and the two pipes to it.
// It is not thread-safe; the indexing thread owns it. The worker is started
// on first use and restarted after it was killed or died.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "util/result.hpp"

namespace flintmill::extract {

// What came out of one file: valid UTF-8, bounded by Limits::max_text_bytes.
struct Document {
    // The document's own title or first heading; when it has none, the file
    // name without its extension (Extractor::extract fills that in, so the
    // worker never needs the name and every caller shows the same title).
    std::string title;
    std::string text;  // body text, paragraphs separated by "\n"
};

enum class FailureKind {
    Unsupported,  // not a format we read
    Unreadable,   // could not be opened or read (permissions, not a regular file, vanished)
    TooLarge,     // over a size bound before or while reading
    Malformed,    // the parser rejected it
    Timeout,      // killed at the wall-clock deadline
    Crashed,      // the worker died on it (signal, address-space limit)
};

struct Failure {
    FailureKind kind;
    std::string message;  // one readable line, for the daemon's log
};

struct Limits {
    std::chrono::milliseconds deadline{10'000};       // wall clock per file
    std::size_t max_text_bytes = 1 << 20;             // extracted text kept per file
    std::uint64_t max_file_bytes = 256ull << 20;      // input files larger than this are TooLarge
    std::uint64_t address_space_bytes = 1ull << 30;   // RLIMIT_AS of the worker
    std::uint64_t max_unpacked_bytes = 256ull << 20;  // zip containers: total inflated size
    std::uint64_t max_ratio = 200;                    // zip containers: inflated / compressed
    std::size_t max_members = 10'000;                 // zip containers: member count
};

// The longest title a document gives (cut between characters).
inline constexpr std::size_t MAX_TITLE_BYTES = 512;

// Whether the file name has an extension we extract (cheap, no I/O).
bool is_supported(std::string_view path);

// The title of a file that has none of its own: its name without the last
// extension ("notes.2024.txt" -> "notes.2024"; ".profile" stays), with
// bytes that are not UTF-8 replaced. For files indexed without extraction.
std::string title_from_file_name(std::string_view path);

class Extractor {
  public:
    // worker: path of the flintmill-extract executable (see find_worker).
    Extractor(std::string worker, Limits limits);
    ~Extractor();
    Extractor(const Extractor&) = delete;
    Extractor& operator=(const Extractor&) = delete;

    // Extracts one file. Blocks for at most the deadline (plus the time to
    // restart a worker); never throws.
    flintsearch::Result<Document, Failure> extract(const std::string& path);

  private:
    struct Worker;
    std::string worker_path_;
    Limits limits_;
    std::unique_ptr<Worker> worker_;
};

// The worker executable: $FLINTMILL_EXTRACT when set (tests), else
// flintmill-extract beside the running executable, else the installed
// libexec path. Empty when none exists.
std::string find_worker();

}  // namespace flintmill::extract
