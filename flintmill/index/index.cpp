#include "flintmill/index/index.hpp"

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <system_error>

#include "flintmill/index/words.hpp"

namespace flintmill::index {
namespace {

using flintsearch::Result;
using flintsearch::unexpected;

constexpr const char* LANGUAGE_KEY = "language";
constexpr std::size_t MAX_TERM_PATH = 180;
// Title words count this many times a body word: BM25 then ranks a
// document whose title holds the query above one that mentions it once.
constexpr Xapian::termcount TITLE_WDF = 5;

std::string encode_stamp(const FileStamp& s) {
    return std::to_string(s.inode) + ' ' + std::to_string(s.size) + ' ' +
           std::to_string(s.mtime_ns);
}

FileStamp decode_stamp(const std::string& text) {
    FileStamp s;
    std::sscanf(text.c_str(), "%lu %lu %ld", &s.inode, &s.size, &s.mtime_ns);
    return s;
}

IndexError from_xapian(const Xapian::Error& e) {
    IndexError error;
    error.message = e.get_description();
    const std::string type = e.get_type();
    if (type == "DatabaseCorruptError" || type == "DatabaseOpeningError" ||
        type == "DatabaseVersionError" || type == "DatabaseNotFoundError") {
        error.kind = IndexError::Kind::Corrupt;
    } else if (type == "DatabaseError" ||
               std::strstr(error.message.c_str(), std::strerror(ENOSPC)) != nullptr) {
        // A write that failed: the disk is full or failing. Readers go on.
        error.kind = IndexError::Kind::DiskFull;
    }
    return error;
}

// Removes a broken index. Only the files a Xapian database consists of go,
// and the folder itself if it is then empty: the index folder might be
// something the user pointed us at by mistake.
void remove_database(const std::string& dir) {
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator(dir, ec)) {
        const std::string name = entry.path().filename().string();
        if (name.ends_with(".glass") || name.starts_with("iamglass") || name == "flintlock" ||
            name == "postlist.tmp" || name.ends_with(".tmp") || name.ends_with(".DB") ||
            name.ends_with(".baseA") || name.ends_with(".baseB")) {
            std::filesystem::remove(entry.path(), ec);
        }
    }
}

Result<Xapian::WritableDatabase, IndexError> open_writable(const std::string& dir) {
    try {
        return Xapian::WritableDatabase(dir, Xapian::DB_CREATE_OR_OPEN);
    } catch (const Xapian::Error& e) {
        return unexpected(from_xapian(e));
    }
}

std::string basename_of(const std::string& path) {
    const auto slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

}  // namespace

std::string path_term(const std::string& path) {
    if (path.size() <= MAX_TERM_PATH) {
        return "Q" + path;
    }
    // FNV-1a over the whole path; the cut keeps the prefix searchable.
    std::uint64_t h = 1469598103934665603ull;
    for (const char c : path) {
        h = (h ^ static_cast<unsigned char>(c)) * 1099511628211ull;
    }
    char hex[17];
    std::snprintf(hex, sizeof hex, "%016llx", static_cast<unsigned long long>(h));
    return "Q" + path.substr(0, MAX_TERM_PATH) + "#" + hex;
}

Index::Index(std::string dir, std::string language, Xapian::WritableDatabase db)
    : dir_(std::move(dir)), language_(std::move(language)), db_(std::move(db)) {
    generator_.set_stemmer(Xapian::Stem(language_));
    generator_.set_stemming_strategy(Xapian::TermGenerator::STEM_SOME);
}

Result<Index, IndexError> Index::open(const std::string& dir, const std::string& language,
                                      bool* rebuilt) {
    if (rebuilt != nullptr) {
        *rebuilt = false;
    }
    std::error_code ec;
    std::filesystem::create_directories(dir, ec);
    if (ec) {
        return unexpected(
            IndexError{IndexError::Kind::Other, "cannot create " + dir + ": " + ec.message()});
    }
    auto db = open_writable(dir);
    bool fresh = false;
    if (db) {
        try {
            const std::string stored = db->get_metadata(LANGUAGE_KEY);
            // Reading every table once finds a half-written index now rather
            // than at the first query.
            (void)db->get_doccount();
            (void)db->get_lastdocid();
            if (db->get_doccount() > 0) {
                (void)db->get_document(*db->postlist_begin("")).get_value(PATH);
            }
            if (stored != language) {
                fresh = !stored.empty() || db->get_doccount() > 0;
            }
        } catch (const Xapian::Error& e) {
            db = unexpected(from_xapian(e));
        }
    }
    if (!db && db.error().kind != IndexError::Kind::Corrupt) {
        return unexpected(db.error());
    }
    if (!db || fresh) {
        db = Result<Xapian::WritableDatabase, IndexError>{};  // drop the handle first
        remove_database(dir);
        db = open_writable(dir);
        if (!db) {
            return unexpected(db.error());
        }
        if (rebuilt != nullptr) {
            *rebuilt = true;
        }
    }
    try {
        db->set_metadata(LANGUAGE_KEY, language);
    } catch (const Xapian::Error& e) {
        return unexpected(from_xapian(e));
    }
    return Index(dir, language, std::move(*db));
}

Result<void, IndexError> Index::add(const DocumentRecord& record) {
    try {
        Xapian::Document doc;
        generator_.set_document(doc);
        const std::string name = basename_of(record.path);
        const std::string& title = record.title.empty() ? name : record.title;
        generator_.index_text(title, TITLE_WDF);
        generator_.increase_termpos();
        if (title != name) {
            // The file name is found too, though it is not the title.
            generator_.index_text(name, 2);
            generator_.increase_termpos();
        }
        generator_.index_text(record.text);
        const std::string id = path_term(record.path);
        doc.add_boolean_term(id);
        doc.add_value(PATH, record.path);
        doc.add_value(TITLE, title);
        doc.add_value(STAMP, encode_stamp(record.stamp));
        std::string stored = record.text.substr(0, STORED_TEXT_BYTES);
        doc.set_data(stored);
        db_.replace_document(id, doc);
        return {};
    } catch (const Xapian::Error& e) {
        return unexpected(from_xapian(e));
    }
}

Result<void, IndexError> Index::remove(const std::string& path) {
    try {
        db_.delete_document(path_term(path));
        return {};
    } catch (const Xapian::Error& e) {
        return unexpected(from_xapian(e));
    }
}

Result<void, IndexError> Index::rename(const std::string& from, const std::string& to) {
    try {
        // The file itself, then everything below it when it is a folder.
        std::vector<std::pair<Xapian::docid, std::string>> moves;
        const std::string exact = path_term(from);
        for (auto it = db_.postlist_begin(exact); it != db_.postlist_end(exact); ++it) {
            moves.emplace_back(*it, to);
        }
        const std::string folder = from + "/";
        const std::string prefix =
            path_term(folder).substr(0, 1 + std::min(folder.size(), MAX_TERM_PATH));
        for (auto t = db_.allterms_begin(prefix); t != db_.allterms_end(prefix); ++t) {
            for (auto it = db_.postlist_begin(*t); it != db_.postlist_end(*t); ++it) {
                const std::string old = db_.get_document(*it).get_value(PATH);
                if (old.starts_with(folder)) {
                    moves.emplace_back(*it, to + "/" + old.substr(folder.size()));
                }
            }
        }
        for (const auto& [docid, path] : moves) {
            Xapian::Document doc = db_.get_document(docid);
            const std::string old_term = path_term(doc.get_value(PATH));
            doc.remove_term(old_term);
            const std::string id = path_term(path);
            doc.add_boolean_term(id);
            // A title that was the file name follows the new name.
            if (doc.get_value(TITLE) == basename_of(doc.get_value(PATH))) {
                doc.add_value(TITLE, basename_of(path));
            }
            doc.add_value(PATH, path);
            // A file that already sits at the new path is replaced.
            db_.delete_document(id);
            db_.replace_document(docid, doc);
        }
        return {};
    } catch (const Xapian::Error& e) {
        return unexpected(from_xapian(e));
    }
}

Result<void, IndexError> Index::commit() {
    try {
        db_.commit();
        return {};
    } catch (const Xapian::Error& e) {
        return unexpected(from_xapian(e));
    }
}

Result<std::vector<std::pair<std::string, FileStamp>>, IndexError> Index::files() {
    try {
        std::vector<std::pair<std::string, FileStamp>> out;
        out.reserve(db_.get_doccount());
        for (auto it = db_.postlist_begin(""); it != db_.postlist_end(""); ++it) {
            const Xapian::Document doc = db_.get_document(*it);
            out.emplace_back(doc.get_value(PATH), decode_stamp(doc.get_value(STAMP)));
        }
        return out;
    } catch (const Xapian::Error& e) {
        return unexpected(from_xapian(e));
    }
}

std::uint64_t Index::size() const {
    try {
        return db_.get_doccount();
    } catch (const Xapian::Error&) {
        return 0;
    }
}

Result<Xapian::Database, IndexError> open_reader(const std::string& dir) {
    try {
        return Xapian::Database(dir);
    } catch (const Xapian::Error& e) {
        return unexpected(from_xapian(e));
    }
}

std::optional<std::string> index_language(const Xapian::Database& db) {
    try {
        std::string language = db.get_metadata(LANGUAGE_KEY);
        if (language.empty()) {
            return std::nullopt;
        }
        return language;
    } catch (const Xapian::Error&) {
        return std::nullopt;
    }
}

}  // namespace flintmill::index
