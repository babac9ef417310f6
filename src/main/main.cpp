// The program entry: command line and single-instance toggle, then the
// interface module, which runs the GTK application. Nothing here links GTK:
// a start that only stops the running launcher ends before any of it is
// loaded.
#include <dlfcn.h>
#include <unistd.h>

#include <csignal>
#include <optional>
#include <string>
#include <vector>

#include "cli/command_line.hpp"
#include "flint/trust.hpp"
#include "main/instance.hpp"
#include "main/ui_module.hpp"
#include "util/handover.hpp"
#include "util/paths.hpp"
#include "util/pid_file.hpp"
#include "util/program.hpp"

#if !defined(FLINTSEARCH_MODULE_RELDIR) || !defined(FLINTSEARCH_BUILD_DIR)
#error "FLINTSEARCH_MODULE_RELDIR and FLINTSEARCH_BUILD_DIR name where the module is"
#endif

namespace {

// The directory of the running executable, from /proc/self/exe; empty when
// it cannot be read.
std::string executable_dir() {
    std::vector<char> buffer(4096);
    const ssize_t n = readlink("/proc/self/exe", buffer.data(), buffer.size());
    if (n <= 0 || static_cast<std::size_t>(n) >= buffer.size()) {
        return {};
    }
    std::string path(buffer.data(), static_cast<std::size_t>(n));
    const auto slash = path.rfind('/');
    return slash == std::string::npos ? std::string{} : path.substr(0, slash);
}

// The one module this executable loads: the one beside it when it is the
// build tree's, else the one in its own installation's module directory
// (FLINTSEARCH_MODULE_RELDIR from the executable's directory), wherever that
// installation was put. Never one that merely lies beside a copy of the
// executable, and never another installation's.
std::string ui_module_path() {
    const std::string dir = executable_dir();
    if (dir == FLINTSEARCH_BUILD_DIR) {
        return dir + "/" + flintsearch::UI_MODULE_FILE;
    }
    return dir + "/" FLINTSEARCH_MODULE_RELDIR "/" + flintsearch::UI_MODULE_FILE;
}

// Loads the interface module and finds its entry; prints why not and
// returns null when that fails.
FlintsearchUiEntry load_ui_entry() {
    const auto fail = [](const std::string& why) {
        flintsearch::util::report("cannot load the interface module: " + why);
        return FlintsearchUiEntry{nullptr};
    };
    const std::string path = ui_module_path();
    if (access(path.c_str(), F_OK) != 0) {
        return fail("not found at " + path);
    }
    // Whoever can write the module runs code as this user.
    if (const auto why = flint::path_untrusted_because(path)) {
        return fail(path + ": " + *why);
    }
    // RTLD_NOW: a broken module fails here, with a message, rather than in
    // the middle of the run. The handle is never closed.
    void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (handle == nullptr) {
        const char* why = dlerror();
        return fail(why != nullptr ? why : path);
    }
    void* entry = dlsym(handle, flintsearch::UI_ENTRY_SYMBOL);
    if (entry == nullptr) {
        return fail(path + ": no " + flintsearch::UI_ENTRY_SYMBOL);
    }
    return reinterpret_cast<FlintsearchUiEntry>(entry);
}

}  // namespace

int main(int argc, char** argv) {
    using namespace flintsearch;

    // Writes to a closed socket or pipe must fail with EPIPE, not end the
    // process. Children get the default disposition back when they start.
    std::signal(SIGPIPE, SIG_IGN);

    // Help and usage errors end the process inside the parser.
    const cli::Cli cli = cli::parse_command_line(argc, argv);
    const std::optional<cli::ScreenshotRequest> screenshot = cli::screenshot_request(cli);

    // Every path is resolved here, once, before any thread starts.
    const util::Paths paths = util::resolve_paths();

    // Normal mode: a resident instance, when one answers, shows or hides its
    // window and this start is done. Unless a launcher started the ordinary
    // way is open: then this press closes that one, below.
    if (!screenshot && !paths.resident_socket.empty()) {
        if (auto resident = util::ResidentLink::reach(paths.resident_socket)) {
            if (!util::PidFile::is_held(paths.pid_file)) {
                resident->go();
                return 0;
            }
        }
    }

    // Normal mode: a second start stops the running launcher, before any
    // display connection exists. A claim holds the pid file's lock until
    // this process ends.
    ToggleResult toggle;
    if (!screenshot) {
        toggle = toggle_instance(paths.pid_file, paths.pid_file_private);
        if (toggle.outcome == ToggleOutcome::StoppedAnother) {
            return 0;
        }
    }

    const FlintsearchUiEntry run = load_ui_entry();
    if (run == nullptr) {
        // No window will follow: the claimed pid file would only name a
        // process that has gone.
        if (toggle.claim) {
            util::remove_pid_file(paths.pid_file);
        }
        return 1;
    }
    const FlintsearchUiStart start{
        .argc = argc,
        .argv = argv,
        .screenshot_view = screenshot ? screenshot->view.c_str() : nullptr,
        .screenshot_output = screenshot ? screenshot->output.c_str() : nullptr,
        .screenshot_width = screenshot ? screenshot->width : 0,
        .screenshot_height = screenshot ? screenshot->height : 0,
        .pid_file = toggle.claim ? paths.pid_file.c_str() : nullptr,
        .daemon_socket = paths.daemon_socket.c_str(),
        .user_css = paths.user_css.c_str(),
    };
    run(&start);
    // The run's status is not used: a normal end is status 0.
    return 0;
}
