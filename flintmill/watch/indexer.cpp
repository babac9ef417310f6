#include "flintmill/watch/indexer.hpp"

#include <poll.h>
#include <sys/eventfd.h>
#include <sys/inotify.h>
#include <unistd.h>

#include <cerrno>
#include <map>
#include <optional>
#include <set>
#include <unordered_map>
#include <vector>

#include "flint/text.hpp"
#include "flintmill/extract/extractor.hpp"
#include "flintmill/index/index.hpp"

namespace flintmill::watch {
namespace {

using Clock = std::chrono::steady_clock;
using index::FileStamp;

constexpr std::uint32_t WATCH_MASK = IN_CLOSE_WRITE | IN_MODIFY | IN_CREATE | IN_DELETE |
                                     IN_MOVED_FROM | IN_MOVED_TO | IN_ATTRIB | IN_ONLYDIR |
                                     IN_EXCL_UNLINK;
// Files read between two looks at inotify and the wake-up descriptor.
constexpr std::size_t BATCH = 64;
// A commit at least this often while a long queue is worked off, so that
// queries see progress.
constexpr auto COMMIT_EVERY = std::chrono::seconds(2);
constexpr auto DISK_RETRY = std::chrono::minutes(1);
constexpr auto UNWATCHED_RESCAN = std::chrono::minutes(5);

bool under(const std::string& path, const std::string& dir) {
    return path.size() > dir.size() && path.starts_with(dir) && path[dir.size()] == '/';
}

}  // namespace

struct Indexer::State {
    std::optional<index::Index> index;
    std::unique_ptr<extract::Extractor> extractor;
    int inotify = -1;
    std::unordered_map<int, std::string> watches;  // wd -> folder
    std::set<std::string> unwatched;               // folders over the watch limit
    bool limit_said = false;
    std::map<std::string, FileStamp> known;          // what the index holds
    std::map<std::string, Clock::time_point> queue;  // path -> when to read it
    bool writing_stopped = false;
    Clock::time_point retry_at{};
    Clock::time_point rescan_at{};
    std::size_t uncommitted = 0;
    Clock::time_point last_commit = Clock::now();
    std::uint64_t non_utf8_said = 0;
};

Indexer::Indexer(IndexerSettings settings)
    : settings_(std::move(settings)), state_(std::make_unique<State>()) {
    if (!settings_.log) {
        settings_.log = [](const std::string&) {};
    }
    wake_fd_ = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
}

Indexer::~Indexer() {
    stop();
    if (wake_fd_ >= 0) {
        ::close(wake_fd_);
    }
}

void Indexer::start() {
    thread_ = std::thread([this] { run(); });
}

void Indexer::stop() {
    stop_ = true;
    const std::uint64_t one = 1;
    (void)!::write(wake_fd_, &one, sizeof one);
    if (thread_.joinable()) {
        thread_.join();
    }
}

void Indexer::request_reconcile() {
    reconcile_ = true;
    const std::uint64_t one = 1;
    (void)!::write(wake_fd_, &one, sizeof one);
}

namespace {

// The indexing thread's work, on the state it owns.
class Worker {
  public:
    Worker(Indexer::State& s, IndexerSettings& settings, std::atomic<std::uint64_t>& indexed,
           std::atomic<std::uint64_t>& pending)
        : s_(s), settings_(settings), indexed_(indexed), pending_(pending) {}

    void log(const std::string& line) { settings_.log(line); }

    void failed_write(const index::IndexError& e) {
        if (!s_.writing_stopped) {
            log("indexing stopped: " + e.message +
                " (queries go on with the index as it is; retrying every minute)");
        }
        s_.writing_stopped = true;
        s_.retry_at = Clock::now() + DISK_RETRY;
    }

    void commit() {
        if (s_.uncommitted == 0 || s_.writing_stopped) {
            return;
        }
        if (auto r = s_.index->commit(); !r) {
            failed_write(r.error());
            return;
        }
        s_.uncommitted = 0;
        s_.last_commit = Clock::now();
        indexed_ = s_.index->size();
    }

    void enqueue(const std::string& path, Clock::time_point when) {
        s_.queue[path] = when;
        pending_ = s_.queue.size();
    }

    void forget(const std::string& path) {
        if (s_.known.erase(path) > 0) {
            if (auto r = s_.index->remove(path); !r) {
                failed_write(r.error());
            }
            ++s_.uncommitted;
        }
    }

    void forget_under(const std::string& dir) {
        std::vector<std::string> gone;
        for (auto it = s_.known.lower_bound(dir + "/");
             it != s_.known.end() && under(it->first, dir); ++it) {
            gone.push_back(it->first);
        }
        for (const std::string& path : gone) {
            forget(path);
        }
        for (auto it = s_.queue.lower_bound(dir + "/");
             it != s_.queue.end() && under(it->first, dir);) {
            it = s_.queue.erase(it);
        }
        pending_ = s_.queue.size();
    }

    void watch(const std::string& dir) {
        const int wd = ::inotify_add_watch(s_.inotify, dir.c_str(), WATCH_MASK);
        if (wd >= 0) {
            s_.watches[wd] = dir;
            s_.unwatched.erase(dir);
            return;
        }
        if (errno == ENOSPC) {
            if (!s_.limit_said) {
                log("inotify's watch limit is reached (fs.inotify.max_user_watches): folders "
                    "beyond "
                    "it are rescanned every few minutes instead of watched");
                s_.limit_said = true;
            }
            if (s_.unwatched.empty()) {
                s_.rescan_at = Clock::now() + UNWATCHED_RESCAN;
            }
            s_.unwatched.insert(dir);
        }
    }

    void note_non_utf8(std::uint64_t count) {
        if (count > 0 && count != s_.non_utf8_said) {
            log(std::to_string(count) +
                " files or folders skipped: their paths are not valid UTF-8");
            s_.non_utf8_said = count;
        }
    }

    // Brings the index in step with the disk.
    void reconcile() {
        const ScanResult scan = scan_roots(settings_.rules);
        note_non_utf8(scan.non_utf8);
        for (const std::string& dir : scan.dirs) {
            watch(dir);
        }
        std::map<std::string, FileStamp> disk;
        for (const FoundFile& f : scan.files) {
            disk.emplace(f.path, f.stamp);
        }
        // Files that are new by path, by stamp: a file that moved while we
        // were away keeps its inode, size and mtime.
        std::map<std::tuple<std::uint64_t, std::uint64_t, std::int64_t>, std::string> arrived;
        for (const auto& [path, stamp] : disk) {
            if (!s_.known.contains(path)) {
                arrived.emplace(std::tuple(stamp.inode, stamp.size, stamp.mtime_ns), path);
            }
        }
        std::vector<std::pair<std::string, FileStamp>> vanished;
        for (const auto& entry : s_.known) {
            if (!disk.contains(entry.first)) {
                vanished.push_back(entry);
            }
        }
        for (const auto& [path, stamp] : vanished) {
            const auto it = arrived.find(std::tuple(stamp.inode, stamp.size, stamp.mtime_ns));
            if (it != arrived.end() && stamp.inode != 0) {
                move_file(path, it->second);
                arrived.erase(it);
            } else {
                forget(path);
            }
        }
        const auto now = Clock::now();
        for (const auto& [path, stamp] : disk) {
            const auto k = s_.known.find(path);
            if (k == s_.known.end() || !(k->second == stamp)) {
                enqueue(path, now);
            }
        }
        commit();
    }

    void move_file(const std::string& from, const std::string& to) {
        const auto it = s_.known.find(from);
        if (it == s_.known.end()) {
            return;
        }
        const FileStamp stamp = it->second;
        s_.known.erase(it);
        if (auto r = s_.index->rename(from, to); !r) {
            failed_write(r.error());
        }
        s_.known[to] = stamp;
        ++s_.uncommitted;
    }

    void move(const std::string& from, const std::string& to, bool is_dir) {
        if (!wanted_path(to, settings_.rules)) {
            is_dir ? forget_under(from) : forget(from);
            return;
        }
        if (!is_dir) {
            move_file(from, to);
            if (auto q = s_.queue.find(from); q != s_.queue.end()) {
                s_.queue.erase(q);
                enqueue(to, Clock::now() + settings_.quiet);
            }
            return;
        }
        if (auto r = s_.index->rename(from, to); !r) {
            failed_write(r.error());
        }
        ++s_.uncommitted;
        const std::string prefix = from + "/";
        std::vector<std::pair<std::string, FileStamp>> moved;
        for (auto it = s_.known.lower_bound(prefix);
             it != s_.known.end() && under(it->first, from);) {
            moved.emplace_back(to + it->first.substr(from.size()), it->second);
            it = s_.known.erase(it);
        }
        s_.known.insert(moved.begin(), moved.end());
        std::vector<std::pair<std::string, Clock::time_point>> queued;
        for (auto it = s_.queue.lower_bound(prefix);
             it != s_.queue.end() && under(it->first, from);) {
            queued.emplace_back(to + it->first.substr(from.size()), it->second);
            it = s_.queue.erase(it);
        }
        s_.queue.insert(queued.begin(), queued.end());
        // The watches follow the folder; only their names change.
        for (auto& [wd, dir] : s_.watches) {
            if (dir == from || under(dir, from)) {
                dir = to + dir.substr(from.size());
            }
        }
    }

    void arrived_dir(const std::string& dir) {
        ScanResult scan;
        std::set<std::pair<std::uint64_t, std::uint64_t>> walked;
        scan_tree(dir, settings_.rules, walked, scan);
        for (const std::string& d : scan.dirs) {
            watch(d);
        }
        for (const FoundFile& f : scan.files) {
            enqueue(f.path, Clock::now() + settings_.quiet);
        }
    }

    // Drains inotify. Returns true when its queue overflowed.
    bool read_events() {
        alignas(inotify_event) char buffer[64 * 1024];
        std::map<std::uint32_t, std::pair<std::string, bool>> moved_from;
        bool overflow = false;
        for (;;) {
            const ssize_t n = ::read(s_.inotify, buffer, sizeof buffer);
            if (n <= 0) {
                break;
            }
            for (ssize_t at = 0; at < n;) {
                const auto* ev = reinterpret_cast<const inotify_event*>(buffer + at);
                at += static_cast<ssize_t>(sizeof(inotify_event) + ev->len);
                if (ev->mask & IN_Q_OVERFLOW) {
                    overflow = true;
                    continue;
                }
                const auto w = s_.watches.find(ev->wd);
                if (w == s_.watches.end()) {
                    continue;
                }
                if (ev->mask & IN_IGNORED) {
                    s_.watches.erase(w);
                    continue;
                }
                if (ev->len == 0) {
                    continue;
                }
                const std::string_view name(ev->name);
                const bool is_dir = (ev->mask & IN_ISDIR) != 0;
                if (skip_name(name, is_dir, settings_.rules)) {
                    continue;
                }
                if (!flint::is_valid_utf8(name)) {
                    continue;  // counted by the next walk
                }
                const std::string path = flint::join_path(w->second, name);
                handle(ev->mask, ev->cookie, path, is_dir, moved_from);
            }
        }
        // A move whose other half is not ours left the folders we read.
        for (const auto& [cookie, from] : moved_from) {
            from.second ? forget_under(from.first) : forget(from.first);
        }
        return overflow;
    }

    void handle(std::uint32_t mask, std::uint32_t cookie, const std::string& path, bool is_dir,
                std::map<std::uint32_t, std::pair<std::string, bool>>& moved_from) {
        if (mask & IN_MOVED_FROM) {
            moved_from[cookie] = {path, is_dir};
            return;
        }
        if (mask & IN_MOVED_TO) {
            if (const auto it = moved_from.find(cookie); it != moved_from.end()) {
                move(it->second.first, path, is_dir);
                moved_from.erase(it);
            } else if (is_dir) {
                arrived_dir(path);
            } else {
                enqueue(path, Clock::now() + settings_.quiet);
            }
            return;
        }
        if (mask & IN_DELETE) {
            is_dir ? forget_under(path) : forget(path);
            s_.queue.erase(path);
            pending_ = s_.queue.size();
            return;
        }
        if (is_dir) {
            if (mask & IN_CREATE) {
                arrived_dir(path);
            }
            return;
        }
        if (extract::is_supported(path)) {
            enqueue(path, Clock::now() + settings_.quiet);
        }
    }

    // Reads one file into the index (or drops it when it has gone).
    void read_file(const std::string& path) {
        struct stat st {};
        if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode) ||
            static_cast<std::uint64_t>(st.st_size) > settings_.rules.max_file_bytes ||
            !extract::is_supported(path)) {
            forget(path);
            return;
        }
        const FileStamp stamp = stamp_of(st);
        if (const auto k = s_.known.find(path); k != s_.known.end() && k->second == stamp) {
            return;
        }
        index::DocumentRecord record;
        record.path = path;
        record.stamp = stamp;
        auto doc = s_.extractor->extract(path);
        if (doc) {
            record.title = std::move(doc->title);
            record.text = std::move(doc->text);
        } else if (doc.error().kind == extract::FailureKind::Unsupported) {
            forget(path);
            return;
        } else {
            // Found by its name; remembered by its stamp, so it is not
            // read again until it changes.
            log("cannot read " + path + ": " + doc.error().message);
        }
        if (auto r = s_.index->add(record); !r) {
            failed_write(r.error());
            return;
        }
        s_.known[path] = stamp;
        ++s_.uncommitted;
    }

    // Reads up to BATCH files whose quiet time is over.
    void work_queue() {
        if (s_.writing_stopped) {
            return;
        }
        const auto now = Clock::now();
        std::size_t done = 0;
        for (auto it = s_.queue.begin(); it != s_.queue.end() && done < BATCH;) {
            if (it->second > now) {
                ++it;
                continue;
            }
            const std::string path = it->first;
            it = s_.queue.erase(it);
            pending_ = s_.queue.size();
            read_file(path);
            ++done;
            if (s_.writing_stopped) {
                enqueue(path, now);  // read again once writing resumes
                return;
            }
        }
        if (!has_due() || Clock::now() - s_.last_commit >= COMMIT_EVERY) {
            commit();
        }
    }

    bool has_due() const {
        const auto now = Clock::now();
        for (const auto& [path, when] : s_.queue) {
            if (when <= now) {
                return true;
            }
        }
        return false;
    }

    // How long poll may sleep: -1 (for ever) when nothing is waiting.
    int timeout_ms() const {
        std::optional<Clock::time_point> next;
        auto consider = [&next](Clock::time_point t) {
            if (!next || t < *next) {
                next = t;
            }
        };
        if (s_.writing_stopped) {
            consider(s_.retry_at);
        } else {
            for (const auto& [path, when] : s_.queue) {
                consider(when);
            }
            if (s_.uncommitted > 0) {
                consider(Clock::now());
            }
        }
        if (!s_.unwatched.empty()) {
            consider(s_.rescan_at);
        }
        if (!next) {
            return -1;
        }
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(*next - Clock::now()).count();
        return left <= 0 ? 0 : static_cast<int>(std::min<long long>(left + 1, 3'600'000));
    }

    void timers() {
        const auto now = Clock::now();
        if (s_.writing_stopped && now >= s_.retry_at) {
            s_.writing_stopped = false;
            s_.uncommitted = std::max<std::size_t>(s_.uncommitted, 1);
            commit();
            if (!s_.writing_stopped) {
                log("indexing resumed");
            }
        }
        if (!s_.unwatched.empty() && now >= s_.rescan_at) {
            s_.rescan_at = now + UNWATCHED_RESCAN;
            reconcile();
        }
    }

  private:
    Indexer::State& s_;
    IndexerSettings& settings_;
    std::atomic<std::uint64_t>& indexed_;
    std::atomic<std::uint64_t>& pending_;
};

}  // namespace

void Indexer::run() {
    State& s = *state_;
    bool rebuilt = false;
    auto opened = index::Index::open(settings_.index_dir, settings_.language, &rebuilt);
    if (!opened) {
        settings_.log("cannot open the index at " + settings_.index_dir + ": " +
                      opened.error().message + "; not indexing");
    } else {
        if (rebuilt) {
            settings_.log("the index at " + settings_.index_dir +
                          " could not be read or was built for another language; rebuilt it "
                          "from scratch");
        }
        s.index.emplace(std::move(*opened));
        std::string worker = extract::find_worker();
        if (worker.empty()) {
            // Every file still gets a document, found by its name.
            settings_.log(
                "cannot find the extraction worker flintmill-extract; files are found "
                "by their names only");
        }
        s.extractor = std::make_unique<extract::Extractor>(
            std::move(worker), extract::Limits{.max_file_bytes = settings_.rules.max_file_bytes});
        if (auto files = s.index->files()) {
            s.known.insert(files->begin(), files->end());
        }
        indexed_ = s.index->size();
        ready_ = true;
        s.inotify = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    }
    Worker worker(s, settings_, indexed_, pending_);
    if (s.index) {
        worker.reconcile();
    }
    scanned_ = true;
    while (!stop_) {
        pollfd fds[2] = {{wake_fd_, POLLIN, 0}, {s.inotify, POLLIN, 0}};
        const int timeout = s.index ? worker.timeout_ms() : -1;
        const int n = ::poll(fds, s.inotify >= 0 ? 2 : 1, timeout);
        if (n < 0 && errno != EINTR) {
            break;
        }
        if (fds[0].revents & POLLIN) {
            std::uint64_t count = 0;
            (void)!::read(wake_fd_, &count, sizeof count);
        }
        if (stop_ || !s.index) {
            continue;
        }
        bool full = reconcile_.exchange(false);
        if (s.inotify >= 0 && (fds[1].revents & POLLIN)) {
            if (worker.read_events()) {
                worker.log("inotify's event queue overflowed; reconciling with the disk");
                full = true;
            }
        }
        if (full) {
            worker.reconcile();
        }
        worker.timers();
        worker.work_queue();
    }
    if (s.index) {
        worker.commit();
    }
    if (s.inotify >= 0) {
        ::close(s.inotify);
    }
}

}  // namespace flintmill::watch
