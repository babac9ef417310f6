// Colour derivation on colour text: channels, relative luminance, legible
// ink and CSS rgba text. Pure, any input gives a defined result.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace flint {

inline constexpr const char* INK_DARK = "#11111b";
inline constexpr const char* INK_LIGHT = "#f5f5f5";
inline constexpr float LUMINANCE_THRESHOLD = 0.179f;

// Channel k (0 red, 1 green, 2 blue) of a colour text.
std::uint8_t channel_byte(std::string_view color, int k);

// sRGB relative luminance, 0 (black) to 1 (white), in single precision.
float relative_luminance(std::string_view color);

// INK_DARK for light backgrounds, INK_LIGHT otherwise.
const char* on_color(std::string_view color);

// "rgba(R, G, B, A)" with the alpha in its shortest round-trip form.
std::string rgba(std::string_view color, float alpha);

}  // namespace flint
