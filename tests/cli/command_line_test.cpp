#include "cli/command_line.hpp"

#include <gtest/gtest.h>

#include <string>
#include <variant>
#include <vector>

namespace flintsearch::cli {
namespace {

using Args = std::vector<std::string>;

const std::string kHelp =
    "Usage: flintsearch [OPTIONS]\n"
    "\n"
    "Options:\n"
    "      --screenshot <SCREENSHOT>  Render the named view, capture it, then exit instead of "
    "running normally. Known views: \"search\"\n"
    "      --output <OUTPUT>          PNG path to write the capture to. Required together with "
    "--screenshot\n"
    "      --width <WIDTH>            Capture canvas width \xE2\x80\x94 matches the isolated "
    "compositor's output width (`flint-capture --isolate-width`) [default: 1920]\n"
    "      --height <HEIGHT>          Capture canvas height \xE2\x80\x94 see `width` [default: "
    "1080]\n"
    "  -h, --help                     Print help\n";

std::string usage_error(const std::string& message, const std::string& name = "flintsearch") {
    return "error: " + message + "\n\nUsage: " + name +
           " [OPTIONS]\n\nFor more information, try '--help'.\n";
}

Args with_program(Args args) {
    args.insert(args.begin(), "/usr/bin/flintsearch");
    return args;
}

ParseExit expect_exit(const Args& args) {
    auto parsed = parse_arguments(with_program(args));
    if (!std::holds_alternative<ParseExit>(parsed)) {
        ADD_FAILURE() << "parsed without help or error";
        return {};
    }
    return std::get<ParseExit>(parsed);
}

Cli expect_cli(const Args& args) {
    auto parsed = parse_arguments(with_program(args));
    if (!std::holds_alternative<Cli>(parsed)) {
        ADD_FAILURE() << "unexpected exit: " << std::get<ParseExit>(parsed).text;
        return {};
    }
    return std::get<Cli>(parsed);
}

TEST(CommandLine, HelpTextIsExact) {
    for (const Args& args :
         {Args{"--help"}, Args{"-h"}, Args{"-hx"}, Args{"--help", "--bogus"},
          Args{"--width", "5", "--help", "--width", "6"}, Args{"--screenshot=", "-h", "junk"}}) {
        SCOPED_TRACE(testing::PrintToString(args));
        const ParseExit exit = expect_exit(args);
        EXPECT_EQ(exit.status, 0);
        EXPECT_EQ(exit.text, kHelp);
    }
}

TEST(CommandLine, AcceptedCommandLines) {
    struct Row {
        Args args;
        std::optional<std::string> screenshot;
        std::optional<std::string> output;
        std::uint32_t width;
        std::uint32_t height;
    };
    const std::vector<Row> rows = {
        {{}, std::nullopt, std::nullopt, 1920, 1080},
        {{"--screenshot", "search", "--output", "/tmp/s.png"}, "search", "/tmp/s.png", 1920, 1080},
        {{"--screenshot=search", "--output=/tmp/s.png"}, "search", "/tmp/s.png", 1920, 1080},
        {{"--output", "/tmp/s.png"}, std::nullopt, "/tmp/s.png", 1920, 1080},
        {{"--screenshot=", "--output", ""}, "", "", 1920, 1080},
        {{"--screenshot", "-"}, "-", std::nullopt, 1920, 1080},
        {{"--output=a=b"}, std::nullopt, "a=b", 1920, 1080},
        {{"--output", "\xFF\xFE.png"}, std::nullopt, "\xFF\xFE.png", 1920, 1080},
        {{"--output=\xC0"}, std::nullopt, "\xC0", 1920, 1080},
        {{"--width", "0", "--height", "4294967295"}, std::nullopt, std::nullopt, 0, 4294967295u},
        {{"--width=+007", "--height=-0"}, std::nullopt, std::nullopt, 7, 0},
        {{"--height", "800", "--width", "1280"}, std::nullopt, std::nullopt, 1280, 800},
        {{"--"}, std::nullopt, std::nullopt, 1920, 1080},
        {{"--width", "5", "--"}, std::nullopt, std::nullopt, 5, 1080},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(testing::PrintToString(row.args));
        const Cli cli = expect_cli(row.args);
        EXPECT_EQ(cli.screenshot, row.screenshot);
        EXPECT_EQ(cli.output, row.output);
        EXPECT_EQ(cli.width, row.width);
        EXPECT_EQ(cli.height, row.height);
    }
}

TEST(CommandLine, UsageErrorsAreExact) {
    struct Row {
        Args args;
        std::string message;
    };
    const std::vector<Row> rows = {
        // Stray words and unknown options.
        {{"search"}, "unexpected argument 'search' found"},
        {{"-"}, "unexpected argument '-' found"},
        {{""}, "unexpected argument '' found"},
        {{"--bogus"}, "unexpected argument '--bogus' found"},
        {{"--bogus=1"}, "unexpected argument '--bogus' found"},
        {{"-x"}, "unexpected argument '-x' found"},
        {{"-xh"}, "unexpected argument '-x' found"},
        {{"-\xC3\xA9h"}, "unexpected argument '-\xC3\xA9' found"},
        {{"-W", "x"}, "unexpected argument '-W' found"},
        {{"---width", "1"}, "unexpected argument '---width' found"},
        {{"--=1"}, "unexpected argument '--=1' found"},
        {{"--", "search"}, "unexpected argument 'search' found"},
        {{"--", "--help"}, "unexpected argument '--help' found"},
        {{"--width", "1", "--", "x", "y"}, "unexpected argument 'x' found"},
        {{"--screenshot", "search", "extra"}, "unexpected argument 'extra' found"},
        // Abbreviated long names are not options.
        {{"--wid", "5"}, "unexpected argument '--wid' found"},
        {{"--width5"}, "unexpected argument '--width5' found"},
        {{"--h"}, "unexpected argument '--h' found"},
        {{"--he"}, "unexpected argument '--he' found"},
        {{"--hel"}, "unexpected argument '--hel' found"},
        {{"--screen=search"}, "unexpected argument '--screen' found"},
        {{"--out", "x"}, "unexpected argument '--out' found"},
        {{"--WIDTH", "5"}, "unexpected argument '--WIDTH' found"},
        // A flag with a value.
        {{"--help=x"}, "unexpected value 'x' for '--help' found; no more were expected"},
        {{"--help="}, "unexpected value '' for '--help' found; no more were expected"},
        // Missing values: at the end, or a next argument that looks like an option.
        {{"--screenshot"},
         "a value is required for '--screenshot <SCREENSHOT>' but none was supplied"},
        {{"--output"}, "a value is required for '--output <OUTPUT>' but none was supplied"},
        {{"--width"}, "a value is required for '--width <WIDTH>' but none was supplied"},
        {{"--height"}, "a value is required for '--height <HEIGHT>' but none was supplied"},
        {{"--width", "-1"}, "a value is required for '--width <WIDTH>' but none was supplied"},
        {{"--output", "--width", "5"},
         "a value is required for '--output <OUTPUT>' but none was supplied"},
        {{"--screenshot", "--help"},
         "a value is required for '--screenshot <SCREENSHOT>' but none was supplied"},
        {{"--screenshot", "--"},
         "a value is required for '--screenshot <SCREENSHOT>' but none was supplied"},
        // Numbers.
        {{"--width", "abc"},
         "invalid value 'abc' for '--width <WIDTH>': invalid digit found in string"},
        {{"--width="},
         "invalid value '' for '--width <WIDTH>': cannot parse integer from empty string"},
        {{"--height", ""},
         "invalid value '' for '--height <HEIGHT>': cannot parse integer from empty string"},
        {{"--width=+"}, "invalid value '+' for '--width <WIDTH>': invalid digit found in string"},
        {{"--width=-"}, "invalid value '-' for '--width <WIDTH>': invalid digit found in string"},
        {{"--width", "-"},
         "invalid value '-' for '--width <WIDTH>': invalid digit found in string"},
        {{"--width= 5"}, "invalid value ' 5' for '--width <WIDTH>': invalid digit found in string"},
        {{"--width=5 "}, "invalid value '5 ' for '--width <WIDTH>': invalid digit found in string"},
        {{"--width=0x10"},
         "invalid value '0x10' for '--width <WIDTH>': invalid digit found in string"},
        {{"--width=1.5"},
         "invalid value '1.5' for '--width <WIDTH>': invalid digit found in string"},
        {{"--width=++1"},
         "invalid value '++1' for '--width <WIDTH>': invalid digit found in string"},
        {{"--width=-1"}, "invalid value '-1' for '--width <WIDTH>': -1 is not in 0..=4294967295"},
        {{"--width=-01"}, "invalid value '-01' for '--width <WIDTH>': -1 is not in 0..=4294967295"},
        {{"--width", "4294967296"},
         "invalid value '4294967296' for '--width <WIDTH>': 4294967296 is not in 0..=4294967295"},
        {{"--height", "+004294967296"},
         "invalid value '+004294967296' for '--height <HEIGHT>': 4294967296 is not in "
         "0..=4294967295"},
        {{"--width", "9223372036854775807"},
         "invalid value '9223372036854775807' for '--width <WIDTH>': 9223372036854775807 is not in "
         "0..=4294967295"},
        {{"--width=-9223372036854775808"},
         "invalid value '-9223372036854775808' for '--width <WIDTH>': -9223372036854775808 is not "
         "in 0..=4294967295"},
        {{"--width", "9223372036854775808"},
         "invalid value '9223372036854775808' for '--width <WIDTH>': number too large to fit in "
         "target type"},
        {{"--width=-9223372036854775809"},
         "invalid value '-9223372036854775809' for '--width <WIDTH>': number too small to fit in "
         "target type"},
        // Digits are checked from the left: an overflow is found before a later non-digit.
        {{"--width", "99999999999999999999x"},
         "invalid value '99999999999999999999x' for '--width <WIDTH>': number too large to fit in "
         "target type"},
        {{"--width", "9x9999999999999999999"},
         "invalid value '9x9999999999999999999' for '--width <WIDTH>': invalid digit found in "
         "string"},
        // Duplicates, found before the second value is looked at.
        {{"--width", "800", "--width", "900"},
         "the argument '--width <WIDTH>' cannot be used multiple times"},
        {{"--width", "800", "--width"},
         "the argument '--width <WIDTH>' cannot be used multiple times"},
        {{"--output=", "--output=x"},
         "the argument '--output <OUTPUT>' cannot be used multiple times"},
        {{"--screenshot", "a", "--height", "1", "--screenshot=b"},
         "the argument '--screenshot <SCREENSHOT>' cannot be used multiple times"},
        // Invalid UTF-8 where text is required.
        {{"\xFF"}, "invalid UTF-8 was detected in one or more arguments"},
        {{"--", "\xFF"}, "invalid UTF-8 was detected in one or more arguments"},
        {{"--scr\xFF"}, "invalid UTF-8 was detected in one or more arguments"},
        {{"--\xFF=x"}, "invalid UTF-8 was detected in one or more arguments"},
        {{"-\xFF"}, "invalid UTF-8 was detected in one or more arguments"},
        {{"--screenshot", "se\xFF"}, "invalid UTF-8 was detected in one or more arguments"},
        {{"--screenshot=\xED\xA0\x80"}, "invalid UTF-8 was detected in one or more arguments"},
        {{"--width", "1\xFF"}, "invalid UTF-8 was detected in one or more arguments"},
        {{"--height=\xC0\xB1"}, "invalid UTF-8 was detected in one or more arguments"},
        {{"--help=\xFF"}, "invalid UTF-8 was detected in one or more arguments"},
        // Left to right: the first problem wins, help included.
        {{"--width", "abc", "--help"},
         "invalid value 'abc' for '--width <WIDTH>': invalid digit found in string"},
        {{"search", "--help"}, "unexpected argument 'search' found"},
        {{"--wid=1", "-h"}, "unexpected argument '--wid' found"},
        {{"--bogus", "\xFF"}, "unexpected argument '--bogus' found"},
        {{"\xFF", "--bogus"}, "invalid UTF-8 was detected in one or more arguments"},
        {{"--width", "1", "--width", "abc"},
         "the argument '--width <WIDTH>' cannot be used multiple times"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(testing::PrintToString(row.args));
        const ParseExit exit = expect_exit(row.args);
        EXPECT_EQ(exit.status, 2);
        EXPECT_EQ(exit.text, usage_error(row.message));
    }
}

TEST(CommandLine, InvocationName) {
    struct Row {
        Args argv;
        std::string name;
    };
    const std::vector<Row> rows = {
        {{}, "flintsearch"},
        {{""}, "flintsearch"},
        {{"flintsearch"}, "flintsearch"},
        {{"/opt/bin/fs"}, "fs"},
        {{"./build/launch\xC3\xA9r"}, "launch\xC3\xA9r"},
        {{"bin/tool/"}, "tool"},
        {{"bin/tool/."}, "tool"},
        {{"/"}, "flintsearch"},
        {{"."}, "flintsearch"},
        {{"bin/.."}, "flintsearch"},
        {{"/usr/bin/fs\xFF"}, "flintsearch"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(testing::PrintToString(row.argv));
        EXPECT_EQ(invocation_name(row.argv), row.name);
    }
}

TEST(CommandLine, InvocationNameAppearsInHelpAndErrors) {
    auto help = parse_arguments({"/opt/bin/fs", "--help"});
    ASSERT_TRUE(std::holds_alternative<ParseExit>(help));
    EXPECT_EQ(std::get<ParseExit>(help).text.substr(0, 26), "Usage: fs [OPTIONS]\n\nOptio");

    auto error = parse_arguments({"/opt/bin/fs", "x"});
    ASSERT_TRUE(std::holds_alternative<ParseExit>(error));
    EXPECT_EQ(std::get<ParseExit>(error).text, usage_error("unexpected argument 'x' found", "fs"));

    // No argument vector at all: defaults, like no options.
    auto empty = parse_arguments({});
    ASSERT_TRUE(std::holds_alternative<Cli>(empty));
    EXPECT_FALSE(std::get<Cli>(empty).screenshot);
}

TEST(CommandLine, ParsesRepeatedlyFromAFreshState) {
    // getopt_long keeps process-wide state; a cluster left half read or a
    // consumed "--" must not leak into the next parse.
    expect_exit({"-xh"});
    expect_exit({"--", "a"});
    const Cli cli = expect_cli({"--width", "3"});
    EXPECT_EQ(cli.width, 3u);
}

TEST(ScreenshotRequest, BuiltFromTheCommandLine) {
    EXPECT_FALSE(screenshot_request(Cli{}));
    Cli output_only;
    output_only.output = "/tmp/s.png";
    EXPECT_FALSE(screenshot_request(output_only));

    const Cli cli = expect_cli({"--screenshot", "search", "--output", "/tmp/s.png", "--width=800"});
    const auto request = screenshot_request(cli);
    ASSERT_TRUE(request);
    EXPECT_EQ(request->view, "search");
    EXPECT_EQ(request->output, "/tmp/s.png");
    EXPECT_EQ(request->width, 800u);
    EXPECT_EQ(request->height, 1080u);
}

TEST(ScreenshotRequestDeathTest, ScreenshotWithoutOutputExitsWithOne) {
    Cli cli;
    cli.screenshot = "search";
    EXPECT_EXIT(screenshot_request(cli), testing::ExitedWithCode(1),
                "^flintsearch: --screenshot requires --output\n$");
}

}  // namespace
}  // namespace flintsearch::cli
