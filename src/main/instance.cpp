#include "main/instance.hpp"

#include <string>

#include "text.hpp"
#include "util/pid_file.hpp"
#include "util/program.hpp"
#include "util/spawn.hpp"

namespace flintsearch {
namespace {

bool is_launcher_process(std::uint32_t pid) {
    const auto comm = flint::read_text_file("/proc/" + std::to_string(pid) + "/comm");
    return comm && flint::trim_white_space(*comm) == util::PROGRAM_NAME;
}

// `kill PID` through a PATH lookup, with the launcher's environment,
// working directory and standard streams, waited for. Whether kill starts
// or succeeds does not matter to the caller.
void run_kill(std::uint32_t pid) {
    if (const auto child = util::spawn({.argv = {"kill", std::to_string(pid)}})) {
        util::wait_for(child->pid);
    }
}

}  // namespace

std::optional<std::uint32_t> running_launcher(const std::string& pid_file) {
    const auto text = util::read_pid_file(pid_file);
    if (!text) {
        return std::nullopt;
    }
    const auto pid = util::parse_pid_text(*text);
    if (!pid || !is_launcher_process(*pid)) {
        return std::nullopt;
    }
    return pid;
}

ToggleOutcome toggle_instance(const std::string& pid_file) {
    if (const auto pid = running_launcher(pid_file)) {
        // The stopped launcher ends by the signal and leaves its pid file;
        // the next start finds it stale and claims it.
        run_kill(*pid);
        return ToggleOutcome::StoppedAnother;
    }
    util::claim_pid_file(pid_file);
    return ToggleOutcome::Claimed;
}

}  // namespace flintsearch
