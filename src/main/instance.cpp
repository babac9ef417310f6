#include "main/instance.hpp"

#include <sys/wait.h>

#include <chrono>
#include <string>
#include <thread>

#include "flint/text.hpp"
#include "util/pid_file.hpp"
#include "util/program.hpp"
#include "util/spawn.hpp"

namespace flintsearch {
namespace {

using namespace std::chrono_literals;

// How long a start waits for another start that holds the lock to write
// its id: it does so right after taking the lock.
constexpr auto CLAIM_WAIT = 250ms;
constexpr auto CLAIM_POLL = 5ms;

// The real user id in /proc/PID/status ("Uid:\treal\teffective\t...").
std::optional<std::uint32_t> real_uid_of(std::uint32_t pid) {
    const auto status = flint::read_text_file("/proc/" + std::to_string(pid) + "/status");
    if (!status) {
        return std::nullopt;
    }
    const auto at = status->find("\nUid:");
    if (at == std::string::npos) {
        return std::nullopt;
    }
    const auto begin = status->find_first_not_of(" \t", at + 5);
    const auto end = status->find_first_of(" \t\n", begin);
    if (begin == std::string::npos || end == std::string::npos) {
        return std::nullopt;
    }
    return util::parse_pid_text(std::string_view(*status).substr(begin, end - begin));
}

// `kill PID` through a PATH lookup, with the launcher's environment,
// working directory and standard streams, waited for. True when it ran and
// exited with status 0; a kill that cannot start counts as done, since
// nothing else would stop the launcher either.
bool run_kill(std::uint32_t pid) {
    const auto child = util::spawn({.argv = {"kill", std::to_string(pid)}});
    if (!child) {
        return true;
    }
    const auto status = util::wait_for(child->pid);
    return !status || (WIFEXITED(*status) && WEXITSTATUS(*status) == 0);
}

// The id of the launcher that holds the lock, once the holder has written
// it; nothing when the id names no launcher of ours.
std::optional<std::uint32_t> lock_holder(const util::PidFile& file) {
    const auto deadline = std::chrono::steady_clock::now() + CLAIM_WAIT;
    for (;;) {
        const auto text = file.read();
        if (text && !flint::trim_white_space(*text).empty()) {
            const auto pid = util::parse_pid_text(*text);
            return pid && is_own_launcher(*pid) ? pid : std::nullopt;
        }
        if (std::chrono::steady_clock::now() >= deadline) {
            return std::nullopt;
        }
        std::this_thread::sleep_for(CLAIM_POLL);
    }
}

ToggleResult claim(util::PidFile file) {
    file.write_own_pid();
    return ToggleResult{ToggleOutcome::Claimed, std::move(file)};
}

}  // namespace

bool is_own_launcher(std::uint32_t pid) {
    const auto comm = flint::read_text_file("/proc/" + std::to_string(pid) + "/comm");
    return comm && flint::trim_white_space(*comm) == util::PROGRAM_NAME &&
           real_uid_of(pid) == ::getuid();
}

ToggleResult toggle_instance(const std::string& pid_file, bool private_file) {
    std::string refusal;
    std::optional<util::PidFile> file = util::PidFile::open(pid_file, private_file, &refusal);
    if (!file) {
        if (!refusal.empty()) {
            util::report("not using " + pid_file + ": " + refusal);
        }
        return ToggleResult{};  // no pid file: the launcher opens all the same
    }
    if (file->try_lock()) {
        // No launcher holds it: whatever it says is stale.
        return claim(std::move(*file));
    }
    if (const auto pid = lock_holder(*file)) {
        // The stopped launcher ends by the signal and leaves its pid file;
        // its lock goes with it, so the next start claims the file.
        if (run_kill(*pid)) {
            return ToggleResult{ToggleOutcome::StoppedAnother, std::nullopt};
        }
    }
    // kill failed, or the holder names no launcher of ours: stale, unless
    // the holder still holds on.
    if (file->try_lock()) {
        return claim(std::move(*file));
    }
    return ToggleResult{};
}

}  // namespace flintsearch
