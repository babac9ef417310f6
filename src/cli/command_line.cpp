#include "cli/command_line.hpp"

#include <getopt.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <utility>

#include "flint/text.hpp"
#include "util/program.hpp"
#include "util/result.hpp"

namespace flintsearch::cli {
namespace {

// The options in the order help and usage list them. The first four take a
// value; the last is the help flag.
enum OptionIndex : int { kScreenshot, kOutput, kWidth, kHeight, kHelp, kOptionCount };

struct OptionSpec {
    std::string_view name;        // long name without the dashes
    std::string_view value_name;  // empty for the help flag
    std::string_view help;
    std::string_view default_value;  // shown as " [default: ...]" when set
};

constexpr std::array<OptionSpec, kOptionCount> kOptions{{
    {"screenshot", "SCREENSHOT",
     "Render the named view, capture it, then exit instead of running normally. Known views: "
     "\"search\"",
     ""},
    {"output", "OUTPUT", "PNG path to write the capture to. Required together with --screenshot",
     ""},
    {"width", "WIDTH",
     "Capture canvas width \u2014 matches the isolated compositor's output width "
     "(`flint-capture --isolate-width`)",
     "1920"},
    {"height", "HEIGHT", "Capture canvas height \u2014 see `width`", "1080"},
    {"help", "", "Print help", ""},
}};

// getopt_long codes of the long options: out of the range of short options.
constexpr int kLongCodeBase = 0x100;

// "--width <WIDTH>", as usage errors name an option.
std::string option_display(const OptionSpec& spec) {
    std::string out = "--";
    out += spec.name;
    if (!spec.value_name.empty()) {
        out += " <";
        out += spec.value_name;
        out += ">";
    }
    return out;
}

std::string help_text(std::string_view name) {
    // Long options are indented so that they line up with the long name of
    // "  -h, --help"; the help texts form a column two spaces after the
    // widest option.
    std::array<std::string, kOptionCount> left;
    std::size_t widest = 0;
    for (int i = 0; i < kOptionCount; ++i) {
        left[i] = i == kHelp ? "  -h, --help" : "      " + option_display(kOptions[i]);
        widest = std::max(widest, left[i].size());
    }
    std::string out = "Usage: ";
    out += name;
    out += " [OPTIONS]\n\nOptions:\n";
    for (int i = 0; i < kOptionCount; ++i) {
        out += left[i];
        out.append(widest + 2 - left[i].size(), ' ');
        out += kOptions[i].help;
        if (!kOptions[i].default_value.empty()) {
            out += " [default: ";
            out += kOptions[i].default_value;
            out += "]";
        }
        out += "\n";
    }
    return out;
}

ParseExit usage_error(std::string_view name, std::string_view message) {
    std::string out = "error: ";
    out += message;
    out += "\n\nUsage: ";
    out += name;
    out += " [OPTIONS]\n\nFor more information, try '--help'.\n";
    return ParseExit{2, std::move(out)};
}

ParseExit unexpected_argument(std::string_view name, std::string_view argument) {
    if (!flint::is_valid_utf8(argument)) {
        return usage_error(name, "invalid UTF-8 was detected in one or more arguments");
    }
    return usage_error(name, "unexpected argument '" + std::string(argument) + "' found");
}

// Decimal text as a signed 64-bit integer, with the reasons the usage error
// gives: digits are checked one by one from the left, so a non-digit after
// an overflow is never reached.
Result<std::int64_t, std::string> parse_i64(std::string_view text) {
    if (text.empty()) {
        return unexpected(std::string("cannot parse integer from empty string"));
    }
    bool negative = false;
    if (text.front() == '+' || text.front() == '-') {
        if (text.size() == 1) {
            return unexpected(std::string("invalid digit found in string"));
        }
        negative = text.front() == '-';
        text.remove_prefix(1);
    }
    std::int64_t value = 0;
    for (const char c : text) {
        if (c < '0' || c > '9') {
            return unexpected(std::string("invalid digit found in string"));
        }
        const int digit = c - '0';
        if (__builtin_mul_overflow(value, 10, &value) ||
            (negative ? __builtin_sub_overflow(value, digit, &value)
                      : __builtin_add_overflow(value, digit, &value))) {
            return unexpected(std::string(negative ? "number too small to fit in target type"
                                                   : "number too large to fit in target type"));
        }
    }
    return value;
}

Result<std::uint32_t, std::string> parse_u32(std::string_view text) {
    auto value = parse_i64(text);
    if (!value) {
        return unexpected(value.error());
    }
    if (*value < 0 || *value > std::numeric_limits<std::uint32_t>::max()) {
        return unexpected(std::to_string(*value) + " is not in 0..=4294967295");
    }
    return static_cast<std::uint32_t>(*value);
}

bool starts_with(std::string_view text, std::string_view prefix) {
    return text.substr(0, prefix.size()) == prefix;
}

// The first code point of a valid UTF-8 text.
std::string_view first_code_point(std::string_view text) {
    std::size_t len = 1;
    while (len < text.size() && (static_cast<unsigned char>(text[len]) & 0xC0) == 0x80) {
        ++len;
    }
    return text.substr(0, len);
}

}  // namespace

std::string invocation_name(const std::vector<std::string>& argv) {
    if (argv.empty()) {
        return std::string(util::PROGRAM_NAME);
    }
    // The last normal component: empty and "." components are skipped, a
    // final ".." (or none at all) names nothing.
    std::string_view path = argv.front();
    std::string_view last;
    while (!path.empty()) {
        const std::size_t slash = path.find('/');
        const std::string_view part = path.substr(0, slash);
        if (!part.empty() && part != ".") {
            last = part;
        }
        path = slash == std::string_view::npos ? std::string_view() : path.substr(slash + 1);
    }
    if (last.empty() || last == ".." || !flint::is_valid_utf8(last)) {
        return std::string(util::PROGRAM_NAME);
    }
    return std::string(last);
}

std::variant<Cli, ParseExit> parse_arguments(const std::vector<std::string>& argv) {
    const std::string name = invocation_name(argv);
    Cli cli;
    if (argv.size() <= 1) {
        return cli;
    }

    // getopt_long wants mutable C strings; it works on this private copy.
    std::vector<std::string> storage(argv);
    std::vector<char*> args;
    args.reserve(storage.size() + 1);
    for (auto& arg : storage) {
        args.push_back(arg.data());
    }
    args.push_back(nullptr);
    const int argc = static_cast<int>(storage.size());

    std::array<option, kOptionCount + 1> long_options{};
    for (int i = 0; i < kOptionCount; ++i) {
        long_options[i] =
            option{kOptions[i].name.data(), i == kHelp ? no_argument : required_argument, nullptr,
                   kLongCodeBase + i};
    }

    // "-" keeps the arguments in order (words come back as code 1, nothing
    // is permuted), ":" and opterr = 0 keep getopt quiet. getopt_long also
    // accepts abbreviated long names and takes any next argument as a value,
    // so each argument it returns is checked again here. optind = 0 makes
    // glibc start afresh.
    opterr = 0;
    optind = 0;
    std::array<bool, kOptionCount> seen{};
    for (;;) {
        // Every argument handled below either ends the parse or is a whole
        // long option, so the argument getopt looks at is always argv[at].
        const int at = optind == 0 ? 1 : optind;
        const int code = getopt_long(argc, args.data(), "-:h", long_options.data(), nullptr);
        if (code == -1) {
            break;
        }
        const std::string_view arg = storage[at];
        if (code == 1) {
            return unexpected_argument(name, arg);
        }
        if (!starts_with(arg, "--")) {
            // A cluster of short options: only -h exists, and it ends the
            // parse, so the option getopt reports is the first one.
            if (code == 'h') {
                return ParseExit{0, help_text(name)};
            }
            if (!flint::is_valid_utf8(arg)) {
                return unexpected_argument(name, arg);
            }
            // Appended rather than "-" + ...: GCC 12 at -O2 warns (wrongly,
            // -Wrestrict) about the concatenation.
            std::string flag = "-";
            flag += first_code_point(arg.substr(1));
            return unexpected_argument(name, flag);
        }

        const std::size_t eq = arg.find('=');
        const std::string_view option_name =
            arg.substr(2, eq == std::string_view::npos ? std::string_view::npos : eq - 2);
        if (!flint::is_valid_utf8(option_name)) {
            return usage_error(name, "invalid UTF-8 was detected in one or more arguments");
        }
        int index = 0;
        while (index < kOptionCount && kOptions[index].name != option_name) {
            ++index;
        }
        if (index == kOptionCount) {
            return unexpected_argument(name, option_name.empty() ? arg : arg.substr(0, eq));
        }
        const OptionSpec& spec = kOptions[index];
        if (index == kHelp) {
            if (eq == std::string_view::npos) {
                return ParseExit{0, help_text(name)};
            }
            const std::string_view value = arg.substr(eq + 1);
            if (!flint::is_valid_utf8(value)) {
                return usage_error(name, "invalid UTF-8 was detected in one or more arguments");
            }
            return usage_error(name, "unexpected value '" + std::string(value) +
                                         "' for '--help' found; no more were expected");
        }
        if (seen[index]) {
            return usage_error(
                name, "the argument '" + option_display(spec) + "' cannot be used multiple times");
        }
        seen[index] = true;

        std::string_view value;
        if (eq != std::string_view::npos) {
            value = arg.substr(eq + 1);
        } else {
            // A next argument that looks like an option is not taken as the
            // value; a lone "-" is.
            const std::string_view next = at + 1 < argc ? std::string_view(storage[at + 1]) : "";
            if (at + 1 >= argc || (starts_with(next, "-") && next != "-")) {
                return usage_error(name, "a value is required for '" + option_display(spec) +
                                             "' but none was supplied");
            }
            value = next;
        }
        if (index != kOutput && !flint::is_valid_utf8(value)) {
            return usage_error(name, "invalid UTF-8 was detected in one or more arguments");
        }
        switch (index) {
            case kScreenshot:
                cli.screenshot = std::string(value);
                break;
            case kOutput:
                cli.output = std::string(value);
                break;
            default: {
                auto number = parse_u32(value);
                if (!number) {
                    return usage_error(name, "invalid value '" + std::string(value) + "' for '" +
                                                 option_display(spec) + "': " + number.error());
                }
                (index == kWidth ? cli.width : cli.height) = *number;
                break;
            }
        }
    }
    // getopt stopped at "--": whatever follows it is a stray word.
    if (optind < argc) {
        return unexpected_argument(name, storage[optind]);
    }
    return cli;
}

Cli parse_command_line(int argc, char** argv) {
    std::vector<std::string> args;
    for (int i = 0; i < argc && argv[i] != nullptr; ++i) {
        args.emplace_back(argv[i]);
    }
    auto parsed = parse_arguments(args);
    if (auto* cli = std::get_if<Cli>(&parsed)) {
        return std::move(*cli);
    }
    const auto& exit = std::get<ParseExit>(parsed);
    std::FILE* stream = exit.status == 0 ? stdout : stderr;
    std::fwrite(exit.text.data(), 1, exit.text.size(), stream);
    std::fflush(stream);
    std::exit(exit.status);
}

std::optional<ScreenshotRequest> screenshot_request(const Cli& cli) {
    if (!cli.screenshot) {
        return std::nullopt;
    }
    if (!cli.output) {
        util::report("--screenshot requires --output");
        std::exit(1);
    }
    return ScreenshotRequest{*cli.screenshot, *cli.output, cli.width, cli.height};
}

}  // namespace flintsearch::cli
