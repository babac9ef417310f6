#include "util/program.hpp"

#include <unistd.h>

#include <cstdio>
#include <string>

#include "util/unique_fd.hpp"

namespace flintsearch::util {

void report(std::string_view message) {
    std::string line;
    line.reserve(PROGRAM_NAME.size() + 2 + message.size() + 1);
    line.append(PROGRAM_NAME).append(": ").append(message).push_back('\n');
    // Anything stdio still buffers for standard error goes first.
    std::fflush(stderr);
    write_all(STDERR_FILENO, line);
}

}  // namespace flintsearch::util
