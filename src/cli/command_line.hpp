// The command line: four long options that serve the screenshot mode, plus
// -h/--help. Parsing is pure (parse_arguments); the wrappers print and exit.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace flintsearch::cli {

struct Cli {
    std::optional<std::string> screenshot;  // valid UTF-8
    std::optional<std::string> output;      // any bytes
    std::uint32_t width = 1920;
    std::uint32_t height = 1080;
};

// A screenshot run: view name, output path, canvas size.
struct ScreenshotRequest {
    std::string view;
    std::string output;
    std::uint32_t width = 1920;
    std::uint32_t height = 1080;
};

// What the parser decided instead of a Cli: help text (status 0, standard
// output) or a usage error (status 2, standard error).
struct ParseExit {
    int status = 0;
    std::string text;
};

// The name shown in the usage line: the last path component of argv[0]
// when it is valid UTF-8, "flintsearch" otherwise (or without argv[0]).
std::string invocation_name(const std::vector<std::string>& argv);

// Parses the whole argument vector (argv[0] included), left to right: the
// first help flag or usage error decides. Uses getopt_long, whose state is
// process-wide, so call it from one thread at a time.
std::variant<Cli, ParseExit> parse_arguments(const std::vector<std::string>& argv);

// Parses argv; prints help or a usage error and ends the process for those.
Cli parse_command_line(int argc, char** argv);

// The request when --screenshot is given, nothing otherwise. Ends the
// process with status 1 when --screenshot lacks --output.
std::optional<ScreenshotRequest> screenshot_request(const Cli& cli);

}  // namespace flintsearch::cli
