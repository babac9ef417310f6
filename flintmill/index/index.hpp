// The document index: one Xapian database on disk, written by one writer
// and read by any number of readers (each query thread opens its own
// Xapian::Database on the same directory and reopens it to see new commits).
//
// Ownership: an Index owns its Xapian::WritableDatabase and is used from one
// thread at a time (the daemon's indexing thread, or a bench program).
// Nothing here logs: failures come back as IndexError and the caller decides.
#pragma once

#include <xapian.h>

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "util/result.hpp"

namespace flintmill::index {

// What the index knows of a file on disk, to tell whether it changed.
struct FileStamp {
    std::uint64_t inode = 0;
    std::uint64_t size = 0;
    std::int64_t mtime_ns = 0;

    bool operator==(const FileStamp&) const = default;
};

// One document to index. path must be valid UTF-8 (the wire carries UTF-8).
struct DocumentRecord {
    std::string path;
    std::string title;  // shown as the hit's title; the file name when empty
    std::string text;
    FileStamp stamp;
};

struct IndexError {
    enum class Kind {
        Corrupt,   // the database cannot be read: rebuild it
        DiskFull,  // ENOSPC or a write that failed: stop writing, go on reading
        Other,
    };
    Kind kind = Kind::Other;
    std::string message;
};

// Value slots of a document (its data holds the start of its text, for
// snippets).
enum Slot : Xapian::valueno { PATH = 0, TITLE = 1, STAMP = 2 };

// How much of a document's text is kept for snippets.
inline constexpr std::size_t STORED_TEXT_BYTES = 256 * 1024;

class Index {
  public:
    // Opens the index at dir, creating it (and dir) when missing. language
    // is a Snowball language code (see stemmer_for_locale). An index that
    // cannot be opened as a database, or that was stemmed in another
    // language, is removed and created afresh; *rebuilt tells the caller
    // (so that it can say so once and reindex everything).
    static flintsearch::Result<Index, IndexError> open(const std::string& dir,
                                                       const std::string& language,
                                                       bool* rebuilt = nullptr);

    // Adds the document, replacing any earlier one with the same path.
    flintsearch::Result<void, IndexError> add(const DocumentRecord& doc);
    // Drops the document at path (nothing when there is none).
    flintsearch::Result<void, IndexError> remove(const std::string& path);
    // Gives the document at from (and, for a folder, every document below
    // it) the path to, without reading any file again.
    flintsearch::Result<void, IndexError> rename(const std::string& from, const std::string& to);
    // Makes everything since the last commit visible to readers.
    flintsearch::Result<void, IndexError> commit();

    // Every indexed path with its stamp (for reconciling with the disk).
    flintsearch::Result<std::vector<std::pair<std::string, FileStamp>>, IndexError> files();

    std::uint64_t size() const;
    const std::string& dir() const { return dir_; }
    const std::string& language() const { return language_; }

  private:
    Index(std::string dir, std::string language, Xapian::WritableDatabase db);

    std::string dir_;
    std::string language_;
    Xapian::WritableDatabase db_;
    Xapian::TermGenerator generator_;
};

// The unique term naming the document at path. Xapian terms hold at most
// about 245 bytes, so a long path is cut and the cut carries a hash of the
// whole path.
std::string path_term(const std::string& path);

// Opens a reader on the index at dir.
flintsearch::Result<Xapian::Database, IndexError> open_reader(const std::string& dir);

// The language an index was built with (its metadata), or nothing.
std::optional<std::string> index_language(const Xapian::Database& db);

}  // namespace flintmill::index
