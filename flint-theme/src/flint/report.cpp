#include "flint/report.hpp"

#include <cstdio>
#include <set>
#include <string>

namespace flint {
namespace {

Reporter& reporter() {
    static Reporter r;
    return r;
}

}  // namespace

void set_reporter(Reporter r) {
    reporter() = std::move(r);
}

void report_once(std::string_view message) {
    static std::set<std::string, std::less<>> said;
    if (said.contains(message)) {
        return;
    }
    said.emplace(message);
    if (reporter()) {
        reporter()(message);
    } else {
        std::fprintf(stderr, "flint-theme: %.*s\n", static_cast<int>(message.size()),
                     message.data());
    }
}

}  // namespace flint
