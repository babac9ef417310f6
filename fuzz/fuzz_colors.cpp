// Colour operations on arbitrary colour text. The first byte picks the
// channel index (including ones outside 0..2), the next four are the alpha's
// bit pattern (NaN and infinities included), the rest is the colour text.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

#include "flint/colors.hpp"
#include "fuzz_check.hpp"

namespace {

int hex_value(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    return -1;
}

void check_alpha_text(float alpha) {
    const std::string text = flint::format_alpha(alpha);
    FUZZ_CHECK(!text.empty());
    if (!std::isfinite(alpha)) {
        return;
    }
    FUZZ_CHECK(text.find_first_of("eE") == std::string::npos);
    FUZZ_CHECK(!text.ends_with(".0") && !text.ends_with("."));
    if (text.find('.') != std::string::npos) {
        FUZZ_CHECK(!text.ends_with("0"));
    }
    // Reads back as the same float (NaN aside, -0 keeps its sign).
    const float back = std::strtof(text.c_str(), nullptr);
    FUZZ_CHECK(back == alpha);
    FUZZ_CHECK(std::signbit(back) == std::signbit(alpha));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 5) {
        return 0;
    }
    const int k = static_cast<int>(static_cast<std::int8_t>(data[0]));
    float alpha;
    std::memcpy(&alpha, data + 1, sizeof alpha);
    const std::string_view color(reinterpret_cast<const char*>(data + 5), size - 5);

    const std::uint8_t channel = flint::channel_byte(color, k);
    if (k < 0 || k > 2) {
        FUZZ_CHECK(channel == 0);
    }
    // Two plain hex digits after the leading "#"s read as themselves.
    std::string_view digits = color;
    while (!digits.empty() && digits.front() == '#') {
        digits.remove_prefix(1);
    }
    if (k >= 0 && k <= 2 && digits.size() >= static_cast<std::size_t>(2 * k + 2)) {
        const int hi = hex_value(digits[2 * k]);
        const int lo = hex_value(digits[2 * k + 1]);
        const bool boundary = digits.size() == static_cast<std::size_t>(2 * k + 2) ||
                              (static_cast<unsigned char>(digits[2 * k + 2]) & 0xC0) != 0x80;
        if (hi >= 0 && lo >= 0 && boundary) {
            FUZZ_CHECK(channel == hi * 16 + lo);
        }
    }

    const float luminance = flint::relative_luminance(color);
    FUZZ_CHECK(luminance >= 0.0f && luminance <= 1.0f);
    const char* ink = flint::on_color(color);
    FUZZ_CHECK(ink ==
               (luminance > flint::LUMINANCE_THRESHOLD ? flint::INK_DARK : flint::INK_LIGHT));

    const std::string css = flint::rgba(color, alpha);
    const std::string head = "rgba(" + std::to_string(flint::channel_byte(color, 0)) + ", " +
                             std::to_string(flint::channel_byte(color, 1)) + ", " +
                             std::to_string(flint::channel_byte(color, 2)) + ", ";
    FUZZ_CHECK(css == head + flint::format_alpha(alpha) + ")");
    check_alpha_text(alpha);
    return 0;
}
