// How the theme library says something on the console: one line each, and
// only for what the user should know (a file refused as untrusted). Main
// thread only.
#pragma once

#include <functional>
#include <string_view>

namespace flint {

using Reporter = std::function<void(std::string_view message)>;

// The application's way of printing one line (without its line feed).
// Until one is set, lines go to standard error after the program's name.
void set_reporter(Reporter reporter);

// Prints the message through the reporter, but each distinct message only
// once per process: a live reload that meets the same refused file again
// and again says so once.
void report_once(std::string_view message);

}  // namespace flint
