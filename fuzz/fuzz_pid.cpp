// Pid-file text: parse_pid_text on arbitrary bytes, checked against an
// independent reading of the same rule (trimmed, optional "+", ASCII digits,
// at most 4294967295) done with std::from_chars.
#include <charconv>
#include <cstddef>
#include <cstdint>
#include <string_view>
#include <system_error>

#include "flint/text.hpp"
#include "fuzz_check.hpp"
#include "util/pid_file.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const auto pid = flintsearch::util::parse_pid_text(text);

    std::string_view digits = flint::trim_white_space(text);
    if (digits.starts_with('+')) {
        digits.remove_prefix(1);
    }
    bool all_digits = !digits.empty();
    for (const char c : digits) {
        all_digits = all_digits && c >= '0' && c <= '9';
    }
    std::uint32_t want = 0;
    bool fits = false;
    if (all_digits) {
        const auto [end, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), want);
        fits = ec == std::errc{} && end == digits.data() + digits.size();
    }
    FUZZ_CHECK(pid.has_value() == fits);
    if (pid) {
        FUZZ_CHECK(*pid == want);
    }
    return 0;
}
