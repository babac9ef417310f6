// What a result row shows of a hit: the cut label texts, the snippet line and
// the count of hits left out, on arbitrary fields of arbitrary length. The
// input is a title, a path and a snippet separated by NUL bytes, the first
// eight bytes also giving a count. A label never exceeds its bound, keeps
// the start (or, for a path, the end) of the text byte for byte, and stays
// valid UTF-8 when its text was.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

#include "flint/text.hpp"
#include "fuzz_check.hpp"
#include "window/row_text.hpp"

namespace {

using flintsearch::window::Keep;
using flintsearch::window::label_text;
using flintsearch::window::MAX_LABEL_BYTES;

constexpr std::string_view ELLIPSIS = "\u2026";

void check_label(std::string_view text, Keep keep) {
    const std::string got = label_text(text, keep);
    if (text.size() <= MAX_LABEL_BYTES) {
        FUZZ_CHECK(got == text);
        return;
    }
    FUZZ_CHECK(got.size() <= MAX_LABEL_BYTES);
    // At most one UTF-8 sequence less than the room there is.
    FUZZ_CHECK(got.size() + 3 >= MAX_LABEL_BYTES);
    const std::string_view kept =
        keep == Keep::Start ? std::string_view(got).substr(0, got.size() - ELLIPSIS.size())
                            : std::string_view(got).substr(ELLIPSIS.size());
    if (keep == Keep::Start) {
        FUZZ_CHECK(std::string_view(got).ends_with(ELLIPSIS));
        FUZZ_CHECK(text.starts_with(kept));
    } else {
        FUZZ_CHECK(std::string_view(got).starts_with(ELLIPSIS));
        FUZZ_CHECK(text.ends_with(kept));
    }
    if (flint::is_valid_utf8(text)) {
        FUZZ_CHECK(flint::is_valid_utf8(got));
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    std::uint64_t count = 0;
    std::memcpy(&count, data, size < sizeof count ? size : sizeof count);

    std::string_view fields[3];
    std::string_view rest = input;
    for (auto& field : fields) {
        const auto end = rest.find('\0');
        field = rest.substr(0, end);
        rest = end == std::string_view::npos ? std::string_view() : rest.substr(end + 1);
    }
    // Short inputs stand for long texts too: the fields repeated.
    for (const auto& field : fields) {
        std::string repeated;
        while (!field.empty() && repeated.size() <= MAX_LABEL_BYTES + 8) {
            repeated += field;
        }
        for (const std::string_view text : {field, std::string_view(repeated)}) {
            check_label(text, Keep::Start);
            check_label(text, Keep::End);
        }
    }
    const std::string line = flintsearch::window::snippet_line(fields[2]);
    FUZZ_CHECK(line.find('\n') == std::string::npos);
    FUZZ_CHECK(fields[2].find(line) != std::string_view::npos);

    std::string digits;
    for (const char c : flintsearch::window::left_out_text(count)) {
        if (c == ' ') {
            break;
        }
        if (c != ',') {
            digits += c;
        }
    }
    FUZZ_CHECK(digits == std::to_string(count));
    return 0;
}
