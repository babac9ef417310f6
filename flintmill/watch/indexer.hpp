// The indexing thread: the one writer of the index. It walks the user's
// folders, watches them with inotify, and keeps the index in step with the
// disk: changed files are read again after a short quiet time (so a file
// being written is read once, when its writer pauses), moves and renames
// only change paths, deletions drop documents. At start, after an inotify
// queue overflow and on request it reconciles the index with the disk by
// (inode, size, mtime), so what changed while the daemon was down is
// picked up.
//
// Idle is idle: with nothing queued the thread sleeps in poll() with no
// time-out. Time-outs exist only while files wait for their quiet time,
// while writing is stopped by a full disk (a retry every minute), and when
// inotify's watch limit left folders unwatched (a rescan every few minutes).
//
// Ownership: an Indexer owns its thread, the index writer, the extractor and
// the inotify descriptor; all but the figures (atomics) and the wake-up
// descriptor are touched only by its thread.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <thread>

#include "flintmill/watch/scan.hpp"

namespace flintmill::watch {

struct IndexerSettings {
    std::string index_dir;
    std::string language;  // Snowball language code
    ScanRules rules;
    std::chrono::milliseconds quiet{400};         // after a file's last change
    std::function<void(const std::string&)> log;  // one line, no prefix
};

class Indexer {
  public:
    explicit Indexer(IndexerSettings settings);
    ~Indexer();  // stops and joins
    Indexer(const Indexer&) = delete;
    Indexer& operator=(const Indexer&) = delete;

    void start();
    void stop();
    // A full reconcile in the background (the reindex request).
    void request_reconcile();

    // Figures for status replies, safe from any thread.
    std::uint64_t indexed() const { return indexed_.load(); }
    std::uint64_t pending() const { return pending_.load(); }
    // True once the index is open and readable by queries.
    bool ready() const { return ready_.load(); }
    // True once the first reconcile has queued everything it found (tests,
    // benchmarks).
    bool scanned() const { return scanned_.load(); }

    // The indexing thread's own state (indexer.cpp).
    struct State;

  private:
    void run();

    IndexerSettings settings_;
    std::unique_ptr<State> state_;
    int wake_fd_ = -1;
    std::atomic<bool> stop_{false};
    std::atomic<bool> reconcile_{false};
    std::atomic<std::uint64_t> indexed_{0};
    std::atomic<std::uint64_t> pending_{0};
    std::atomic<bool> ready_{false};
    std::atomic<bool> scanned_{false};
    std::thread thread_;
};

}  // namespace flintmill::watch
