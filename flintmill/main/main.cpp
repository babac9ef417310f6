// flintmill: the daemon that indexes the user's documents and answers the
// launcher's queries on $XDG_RUNTIME_DIR/flintmill.sock.
//
// Threads: the main thread serves the socket (service/server.hpp); one
// indexing thread writes the index (watch/indexer.hpp); a few query threads
// read it. SIGTERM and SIGINT end it cleanly: the index is committed, the
// socket removed (when it is ours, not systemd's).
#include <signal.h>
#include <sys/signalfd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "flintmill/index/search.hpp"
#include "flintmill/index/words.hpp"
#include "flintmill/service/config.hpp"
#include "flintmill/service/server.hpp"
#include "flintmill/service/startup.hpp"
#include "flintmill/watch/indexer.hpp"

namespace {

namespace wire = flintsearch::wire;
using namespace flintmill;

// The most hits one reply carries, whatever limit a client asks for.
constexpr std::uint64_t MAX_LIMIT = 1000;

void say(const std::string& line) {
    const std::string out = "flintmill: " + line + "\n";
    (void)!::write(STDERR_FILENO, out.data(), out.size());
}

constexpr const char* USAGE =
    "Usage: flintmill [--root DIR]... [--no-default-roots]\n"
    "\n"
    "Indexes the user's documents and answers queries on $XDG_RUNTIME_DIR/flintmill.sock.\n"
    "\n"
    "  --root DIR          also read DIR (may be given more than once)\n"
    "  --no-default-roots  do not read the Documents and Desktop folders\n"
    "  -h, --help          show this help and exit\n"
    "  --version           show the version and exit\n"
    "\n"
    "Settings: $XDG_CONFIG_HOME/flintmill/flintmill.conf; see flintmill(1).\n";

// One query thread's handler: its own reader, reopened for each query so
// that it sees the writer's latest commit.
std::function<wire::Response(const wire::Query&)> query_handler(const std::string& index_dir) {
    struct Reader {
        std::optional<Xapian::Database> db;
        std::optional<Xapian::Stem> stem;
    };
    auto reader = std::make_shared<Reader>();
    return [reader, index_dir](const wire::Query& q) -> wire::Response {
        if (!reader->db) {
            auto db = index::open_reader(index_dir);
            if (!db) {
                return wire::Error{"the index is not ready yet"};
            }
            reader->db.emplace(std::move(*db));
            reader->stem =
                index::stemmer_for_locale(index::index_language(*reader->db).value_or("en"));
        }
        try {
            reader->db->reopen();
        } catch (const Xapian::Error&) {
            reader->db.reset();  // opened afresh next time
            return wire::Error{"the index is being rebuilt; try again"};
        }
        auto hits =
            index::search(*reader->db, q.query, std::min(q.limit, MAX_LIMIT), *reader->stem);
        if (!hits) {
            reader->db.reset();
            return wire::Error{"search failed: " + hits.error().message};
        }
        wire::Hits reply;
        reply.hits.reserve(hits->size());
        for (index::Hit& h : *hits) {
            reply.hits.push_back(
                {std::move(h.title), std::move(h.path), std::move(h.snippet), h.score});
        }
        return reply;
    };
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<std::string> roots;
    bool default_roots = true;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "-h" || arg == "--help") {
            std::fputs(USAGE, stdout);
            return 0;
        }
        if (arg == "--version") {
            std::puts("flintmill " FLINTSEARCH_VERSION);
            return 0;
        }
        if (arg == "--no-default-roots") {
            default_roots = false;
        } else if (arg == "--root" && i + 1 < argc) {
            roots.emplace_back(argv[++i]);
        } else if (arg.starts_with("--root=")) {
            roots.push_back(arg.substr(7));
        } else {
            say("unknown argument \"" + arg + "\" (see --help)");
            return 2;
        }
    }

    // Everything the daemon creates (index, lock, socket) is the user's alone.
    ::umask(077);
    ::signal(SIGPIPE, SIG_IGN);
    // Signals arrive through a descriptor the server polls; blocked before
    // any thread starts, so that every thread inherits the mask.
    sigset_t stop_signals;
    sigemptyset(&stop_signals);
    sigaddset(&stop_signals, SIGTERM);
    sigaddset(&stop_signals, SIGINT);
    sigaddset(&stop_signals, SIGHUP);
    ::sigprocmask(SIG_BLOCK, &stop_signals, nullptr);
    const int stop_fd = ::signalfd(-1, &stop_signals, SFD_CLOEXEC | SFD_NONBLOCK);

    auto config = service::load_config(roots, default_roots);
    if (!config) {
        say(config.error());
        return 1;
    }
    if (auto ok = service::check_runtime_dir(config->runtime_dir); !ok) {
        say(ok.error());
        return 1;
    }
    auto lock = service::take_lock(config->lock_path);
    if (!lock) {
        say(lock.error());
        return 1;
    }
    flintsearch::util::UniqueFd listener = service::socket_from_systemd();
    const bool own_socket = !listener;
    if (own_socket) {
        auto fd = service::listen_on(config->socket_path);
        if (!fd) {
            say(fd.error());
            return 1;
        }
        listener = std::move(*fd);
    }
    if (config->rules.roots.empty()) {
        say("no folders to read (no Documents or Desktop folder, no root in " +
            config->config_file + " or on the command line); answering from the index as it is");
    }

    std::string language;
    (void)index::stemmer_for_locale(index::user_locale(), &language);
    watch::IndexerSettings settings;
    settings.index_dir = config->index_dir;
    settings.language = language;
    settings.rules = config->rules;
    settings.log = say;
    watch::Indexer indexer(std::move(settings));
    indexer.start();

    service::Handlers handlers;
    const std::string index_dir = config->index_dir;
    handlers.make_query = [index_dir] { return query_handler(index_dir); };
    handlers.status = [&indexer]() -> wire::Response {
        return wire::StatusInfo{indexer.indexed(), indexer.pending(), indexer.ready()};
    };
    handlers.reindex = [&indexer] { indexer.request_reconcile(); };
    service::serve(std::move(listener), stop_fd, handlers);

    indexer.stop();
    if (own_socket) {
        ::unlink(config->socket_path.c_str());
    }
    return 0;
}
