// Starting child programs: the one place that knows posix_spawn. The
// launcher starts `kill` (waited for), `xdg-open` (detached) and `grim`
// (its output read through pipes, killed with its process group when it
// takes too long); each describes its child with a SpawnSpec.
#pragma once

#include <sys/types.h>

#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "util/unique_fd.hpp"

namespace flintsearch::util {

// Where one of the child's standard streams goes.
enum class Stream {
    Inherit,  // the launcher's own
    Null,     // the null device
    Pipe,     // a new pipe; the launcher keeps the other end (Child::in/out/err)
};

struct SpawnSpec {
    // argv[0] is the program, looked up through PATH; no shell is involved
    // and each element reaches the child as one argument.
    std::vector<std::string> argv{};
    Stream in = Stream::Inherit;
    Stream out = Stream::Inherit;
    Stream err = Stream::Inherit;
    // Variables set in the child's copy of the environment, replacing any
    // inherited value. Everything else is inherited, as is the working
    // directory.
    std::vector<std::pair<std::string, std::string>> env{};
    // The child leads a process group of its own, so that a time-out can
    // kill it together with whatever it started.
    bool own_process_group = false;
};

// A started child. The pipe ends are the launcher's (write end for in, read
// ends for out and err), close-on-exec, and empty for streams that are not
// Stream::Pipe. Nothing waits for the child: the caller reaps it, with
// wait_for or from the main loop (g_child_watch_add).
struct Child {
    pid_t pid = -1;
    UniqueFd in;
    UniqueFd out;
    UniqueFd err;
};

// Starts the child with every signal at its default disposition (the
// launcher ignores SIGPIPE) and an empty signal mask, whatever thread calls.
// Nothing when it cannot be started: the program is missing, an argument
// holds a NUL byte (the child would get a shorter argument, naming something
// else), or the system is out of resources.
std::optional<Child> spawn(const SpawnSpec& spec);

// Waits until the child ends and returns its wait status (see waitpid);
// nothing when waiting fails. Interrupted waits are repeated.
std::optional<int> wait_for(pid_t pid);

}  // namespace flintsearch::util
