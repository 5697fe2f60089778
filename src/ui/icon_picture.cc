// The window icon's picture, sampled from shapes in the unit square.
#include "ui/icon_picture.h"

#include <algorithm>
#include <cmath>

namespace quorvex {
namespace {

struct Rgb {
  double r, g, b;
};

constexpr Rgb kBackground = {0.0, 0.0, 0.0};  // outside the rounded square
constexpr Rgb kTile = {31, 78, 121};
constexpr Rgb kRing = {255, 255, 255};
constexpr Rgb kPulse = {76, 200, 90};

// Colour of one point of the unit square (0..1 both ways).
Rgb Sample(double x, double y) {
  // Rounded square: corner radius 0.18 of the side.
  constexpr double kCorner = 0.18;
  const double cx = std::clamp(x, kCorner, 1.0 - kCorner);
  const double cy = std::clamp(y, kCorner, 1.0 - kCorner);
  if (std::hypot(x - cx, y - cy) > kCorner) return kBackground;

  const double dx = x - 0.47;
  const double dy = y - 0.47;
  const double r = std::hypot(dx, dy);
  if (r < 0.11) return kPulse;
  if (r > 0.24 && r < 0.35) return kRing;
  // The tail of the Q: a thick stroke from the ring towards the lower right.
  const double along = (dx + dy) / std::sqrt(2.0);
  const double across = (dx - dy) / std::sqrt(2.0);
  if (along > 0.24 && along < 0.50 && std::abs(across) < 0.055) return kRing;
  return kTile;
}

}  // namespace

std::vector<unsigned char> DrawIconPixels(int size) {
  // Each pixel averages a 4 x 4 grid of samples, which smooths the edges
  // at the small sizes.
  constexpr int kGrid = 4;
  std::vector<unsigned char> pixels(static_cast<std::size_t>(size) * size * 3);
  for (int py = 0; py < size; ++py) {
    for (int px = 0; px < size; ++px) {
      Rgb sum = {0, 0, 0};
      for (int sy = 0; sy < kGrid; ++sy) {
        for (int sx = 0; sx < kGrid; ++sx) {
          const Rgb c = Sample((px + (sx + 0.5) / kGrid) / size, (py + (sy + 0.5) / kGrid) / size);
          sum.r += c.r;
          sum.g += c.g;
          sum.b += c.b;
        }
      }
      const std::size_t at = (static_cast<std::size_t>(py) * size + px) * 3;
      pixels[at] = static_cast<unsigned char>(std::lround(sum.r / (kGrid * kGrid)));
      pixels[at + 1] = static_cast<unsigned char>(std::lround(sum.g / (kGrid * kGrid)));
      pixels[at + 2] = static_cast<unsigned char>(std::lround(sum.b / (kGrid * kGrid)));
    }
  }
  return pixels;
}

}  // namespace quorvex
