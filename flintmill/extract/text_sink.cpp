#include "flintmill/extract/text_sink.hpp"

#include <cstdint>

namespace flintmill::extract {
namespace {

constexpr std::string_view REPLACEMENT = "\xEF\xBF\xBD";

// The length of the well-formed UTF-8 sequence at the start of bytes, or 0
// when it is ill-formed (overlong, surrogate, above U+10FFFF, cut short).
std::size_t sequence_length(std::string_view bytes) {
    const auto b = [&](std::size_t i) { return static_cast<std::uint8_t>(bytes[i]); };
    const std::uint8_t lead = b(0);
    if (lead < 0x80) {
        return 1;
    }
    std::size_t length = 0;
    std::uint8_t low = 0x80;
    std::uint8_t high = 0xBF;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        low = lead == 0xE0 ? 0xA0 : 0x80;
        high = lead == 0xED ? 0x9F : 0xBF;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        low = lead == 0xF0 ? 0x90 : 0x80;
        high = lead == 0xF4 ? 0x8F : 0xBF;
    } else {
        return 0;
    }
    if (bytes.size() < length || b(1) < low || b(1) > high) {
        return 0;
    }
    for (std::size_t i = 2; i < length; ++i) {
        if (b(i) < 0x80 || b(i) > 0xBF) {
            return 0;
        }
    }
    return length;
}

bool is_space_or_control(std::string_view cp) {
    if (cp.size() == 1) {
        const auto c = static_cast<unsigned char>(cp[0]);
        return c <= 0x20 || c == 0x7F;
    }
    // U+0085, U+00A0 (no-break space), C1 controls; U+2028/2029 separators.
    if (cp.size() == 2 && static_cast<unsigned char>(cp[0]) == 0xC2) {
        const auto c = static_cast<unsigned char>(cp[1]);
        return c <= 0x9F || c == 0xA0;
    }
    return cp == "\xE2\x80\xA8" || cp == "\xE2\x80\xA9" || cp == "\xEF\xBB\xBF";
}

}  // namespace

void TextSink::add(std::string_view bytes) {
    while (!bytes.empty() && !full_) {
        const std::size_t length = sequence_length(bytes);
        const std::string_view cp = length == 0 ? REPLACEMENT : bytes.substr(0, length);
        bytes.remove_prefix(length == 0 ? 1 : length);
        if (is_space_or_control(cp)) {
            pending_space_ = true;
        } else {
            put(cp);
        }
    }
}

void TextSink::put(std::string_view cp) {
    std::string_view separator;
    if (!text_.empty() && pending_break_) {
        separator = "\n";
    } else if (!text_.empty() && pending_space_ && text_.back() != '\n') {
        separator = " ";
    }
    if (text_.size() + separator.size() + cp.size() > max_bytes_) {
        full_ = true;
        return;
    }
    text_.append(separator).append(cp);
    pending_space_ = false;
    pending_break_ = false;
}

std::string latin1_to_utf8(std::string_view bytes) {
    std::string out;
    out.reserve(bytes.size() + bytes.size() / 8);
    for (const char ch : bytes) {
        const auto c = static_cast<unsigned char>(ch);
        if (c < 0x80) {
            out.push_back(ch);
        } else {
            out.push_back(static_cast<char>(0xC0 | (c >> 6)));
            out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
        }
    }
    return out;
}

std::string clean_title(std::string_view bytes, std::size_t max_bytes) {
    TextSink sink(max_bytes);
    sink.add(bytes);
    // add() never ends a paragraph, so the title stays on one line.
    return sink.take();
}

}  // namespace flintmill::extract
