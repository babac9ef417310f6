// The command line: the input split on NUL bytes is the argument vector
// (argv[0] first). parse_arguments is pure, so nothing here may exit; the
// texts it produces go to a terminal and must be valid UTF-8, and a second
// parse of the same vector must agree with the first (getopt's process-wide
// state is reset on every call).
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "cli/command_line.hpp"
#include "flint/text.hpp"
#include "fuzz_check.hpp"

namespace {

using flintsearch::cli::Cli;
using flintsearch::cli::ParseExit;

bool same(const std::variant<Cli, ParseExit>& a, const std::variant<Cli, ParseExit>& b) {
    if (a.index() != b.index()) {
        return false;
    }
    if (const auto* x = std::get_if<Cli>(&a)) {
        const auto& y = std::get<Cli>(b);
        return x->screenshot == y.screenshot && x->output == y.output && x->width == y.width &&
               x->height == y.height;
    }
    const auto& x = std::get<ParseExit>(a);
    const auto& y = std::get<ParseExit>(b);
    return x.status == y.status && x.text == y.text;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::vector<std::string> argv;
    if (size > 0) {
        const std::string_view input(reinterpret_cast<const char*>(data), size);
        std::size_t start = 0;
        for (;;) {
            const std::size_t nul = input.find('\0', start);
            argv.emplace_back(input.substr(start, nul - start));
            if (nul == std::string_view::npos) {
                break;
            }
            start = nul + 1;
        }
    }
    if (argv.size() > 64) {
        return 0;  // longer vectors cover nothing the short ones miss
    }

    const auto parsed = flintsearch::cli::parse_arguments(argv);
    if (const auto* cli = std::get_if<Cli>(&parsed)) {
        if (cli->screenshot) {
            FUZZ_CHECK(flint::is_valid_utf8(*cli->screenshot));
        }
        // Without options there is nothing to set.
        if (argv.size() <= 1) {
            FUZZ_CHECK(!cli->screenshot && !cli->output && cli->width == 1920 &&
                       cli->height == 1080);
        }
    } else {
        const auto& exit = std::get<ParseExit>(parsed);
        FUZZ_CHECK(exit.status == 0 || exit.status == 2);
        FUZZ_CHECK(flint::is_valid_utf8(exit.text));
        const std::string name = flintsearch::cli::invocation_name(argv);
        if (exit.status == 0) {
            FUZZ_CHECK(exit.text.starts_with("Usage: " + name + " [OPTIONS]\n"));
        } else {
            FUZZ_CHECK(exit.text.starts_with("error: "));
            FUZZ_CHECK(exit.text.ends_with("Usage: " + name +
                                           " [OPTIONS]\n\nFor more information, try '--help'.\n"));
        }
    }
    FUZZ_CHECK(same(parsed, flintsearch::cli::parse_arguments(argv)));
    return 0;
}
