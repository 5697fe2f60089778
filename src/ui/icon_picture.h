// The picture of the window icon, drawn in code: a white ring with a tail
// (a "Q") and a green pulse in its middle, on a dark blue rounded square.
// One picture in the five sizes a desktop asks for, 24-bit colour. Both
// on-screen views make their icons from it; it needs no display.
#pragma once

#include <array>
#include <vector>

namespace quorvex {

inline constexpr std::array<int, 5> kIconSizes = {128, 48, 32, 24, 16};

// The picture at size x size pixels, 3 bytes (red, green, blue) a pixel,
// rows from the top. REQUIRES size > 0.
std::vector<unsigned char> DrawIconPixels(int size);

}  // namespace quorvex
