// Colour derivation on colour text: channels, relative luminance, legible
// ink and CSS rgba text.
//
// Palette values come verbatim from a file, so every operation accepts any
// text and gives a defined result; nothing here fails or allocates beyond the
// returned strings. All functions are pure and callable from any thread.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace flint {

inline constexpr char INK_DARK[] = "#11111b";
inline constexpr char INK_LIGHT[] = "#f5f5f5";
inline constexpr float LUMINANCE_THRESHOLD = 0.179f;

// Channel k (0 red, 1 green, 2 blue) of a colour text. Every leading "#" is
// dropped, then bytes 2k and 2k+1 are read as hexadecimal (either case). A
// span that is missing or cuts a multi-byte character reads as "00"; a
// leading "+" makes the one character after it the whole number ("+f" is
// 15); any other non-digit makes the channel 0. Short forms are not
// expanded ("#abc" is 171, 0, 0) and anything after the sixth byte is
// ignored. A k outside 0..2 gives 0.
std::uint8_t channel_byte(std::string_view color, int k);

// sRGB relative luminance, 0 (black) to 1 (white), computed entirely in
// single precision with powf and summed as 0.0722*B + (0.7152*G + 0.2126*R).
float relative_luminance(std::string_view color);

// INK_DARK when the luminance is strictly above LUMINANCE_THRESHOLD,
// INK_LIGHT otherwise. Returns one of the two constants (static storage).
const char* on_color(std::string_view color);

// The shortest decimal text that reads back as the same float, in plain
// positional notation (no exponent) and without a trailing ".0": 0.6 gives
// "0.6", 1 gives "1", 1e-7 gives "0.0000001".
std::string format_alpha(float alpha);

// "rgba(R, G, B, A)", e.g. "rgba(12, 12, 12, 0.6)": the three channels as
// decimal integers and the alpha as format_alpha writes it, unclamped.
std::string rgba(std::string_view color, float alpha);

}  // namespace flint
