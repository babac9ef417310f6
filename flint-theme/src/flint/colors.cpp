#include "flint/colors.hpp"

#include <math.h>

#include <charconv>
#include <cstddef>
#include <cstdlib>
#include <system_error>

namespace flint {
namespace {

bool is_char_boundary(std::string_view text, std::size_t i) {
    return i == 0 || i >= text.size() || (static_cast<unsigned char>(text[i]) & 0xC0) != 0x80;
}

int hex_digit(char c) {
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

// Reads a two-character span as an unsigned hexadecimal number. A leading
// "+" is a sign, so the one character after it is the whole number; any
// other character anywhere makes the result 0.
std::uint8_t read_hex_pair(std::string_view pair) {
    if (pair.size() == 2 && pair[0] == '+') {
        pair.remove_prefix(1);
    }
    int value = 0;
    for (const char c : pair) {
        const int digit = hex_digit(c);
        if (digit < 0) {
            return 0;
        }
        value = value * 16 + digit;
    }
    return static_cast<std::uint8_t>(value);
}

float linearise(std::uint8_t channel) {
    const float v = static_cast<float>(channel) / 255.0f;
    if (v <= 0.04045f) {
        return v / 12.92f;
    }
    return powf((v + 0.055f) / 1.055f, 2.4f);
}

// Rewrites "d.ddde±N" in plain positional notation; text without an
// exponent (inf, nan) is returned unchanged.
std::string expand_exponent(std::string_view text) {
    const std::size_t e = text.find('e');
    if (e == std::string_view::npos) {
        return std::string(text);
    }
    std::string out;
    std::string_view mantissa = text.substr(0, e);
    if (!mantissa.empty() && mantissa.front() == '-') {
        out.push_back('-');
        mantissa.remove_prefix(1);
    }
    std::string digits;
    for (const char c : mantissa) {
        if (c != '.') {
            digits.push_back(c);
        }
    }
    const long exponent = std::strtol(std::string(text.substr(e + 1)).c_str(), nullptr, 10);
    // Number of digits before the decimal point.
    const long point = 1 + exponent;
    const auto count = static_cast<long>(digits.size());
    if (point <= 0) {
        out.append("0.");
        out.append(static_cast<std::size_t>(-point), '0');
        out.append(digits);
    } else if (point >= count) {
        out.append(digits);
        out.append(static_cast<std::size_t>(point - count), '0');
    } else {
        out.append(digits, 0, static_cast<std::size_t>(point));
        out.push_back('.');
        out.append(digits, static_cast<std::size_t>(point));
    }
    return out;
}

}  // namespace

std::uint8_t channel_byte(std::string_view color, int k) {
    while (!color.empty() && color.front() == '#') {
        color.remove_prefix(1);
    }
    if (k < 0 || k > 2) {
        return 0;
    }
    const auto begin = static_cast<std::size_t>(2 * k);
    const std::size_t end = begin + 2;
    if (color.size() < end || !is_char_boundary(color, begin) || !is_char_boundary(color, end)) {
        return 0;  // read as "00"
    }
    return read_hex_pair(color.substr(begin, 2));
}

float relative_luminance(std::string_view color) {
    const float r = linearise(channel_byte(color, 0));
    const float g = linearise(channel_byte(color, 1));
    const float b = linearise(channel_byte(color, 2));
    // This summation order is part of the result: the threshold test in
    // on_color is sensitive to the last bit.
    return 0.0722f * b + (0.7152f * g + 0.2126f * r);
}

const char* on_color(std::string_view color) {
    return relative_luminance(color) > LUMINANCE_THRESHOLD ? INK_DARK : INK_LIGHT;
}

std::string format_alpha(float alpha) {
    char buf[64];
    // Scientific form gives the fewest significant digits that read back as
    // the same float (1.2345679e+08 for 123456789); the plain form alone would
    // pick the closest digits of equal length instead (123456792).
    const auto [end, ec] =
        std::to_chars(buf, buf + sizeof buf, alpha, std::chars_format::scientific);
    if (ec != std::errc{}) {
        return "0";  // cannot happen: 64 bytes hold any shortest float form
    }
    return expand_exponent(std::string_view(buf, static_cast<std::size_t>(end - buf)));
}

std::string rgba(std::string_view color, float alpha) {
    std::string out = "rgba(";
    out += std::to_string(channel_byte(color, 0));
    out += ", ";
    out += std::to_string(channel_byte(color, 1));
    out += ", ";
    out += std::to_string(channel_byte(color, 2));
    out += ", ";
    out += format_alpha(alpha);
    out += ')';
    return out;
}

}  // namespace flint
