// Starting a helper program (xdg-open) detached from the launcher.
#pragma once

#include <sys/types.h>

#include <optional>
#include <string>

namespace flintsearch::window {

// Starts program, looked up through PATH, with exactly one argument and no
// shell. The child inherits the environment and the working directory, gets
// /dev/null as standard input, output and error, the default SIGPIPE
// disposition and an empty signal mask. Returns the child's pid, or nothing
// when it could not be started. Nothing waits for the child here: the
// caller reaps it (the window uses g_child_watch_add) so no zombie is left.
std::optional<pid_t> spawn_detached(const std::string& program, const std::string& arg);

}  // namespace flintsearch::window
