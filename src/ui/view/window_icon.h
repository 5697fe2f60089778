// The window icon, drawn in code: a white ring with a tail (a "Q") and a
// green pulse in its middle, on a dark blue rounded square. One picture in
// the five sizes a desktop asks for, 24-bit colour.
#pragma once

#include <FL/Fl_RGB_Image.H>

#include <array>
#include <memory>
#include <vector>

class Fl_Window;

namespace quorvex {

inline constexpr std::array<int, 5> kIconSizes = {128, 48, 32, 24, 16};

// The picture at size x size pixels, 3 bytes (red, green, blue) a pixel,
// rows from the top. REQUIRES size > 0.
std::vector<unsigned char> DrawIconPixels(int size);

// The icon images in kIconSizes order. Needs no display.
class WindowIcons {
 public:
  WindowIcons();
  WindowIcons(const WindowIcons&) = delete;
  WindowIcons& operator=(const WindowIcons&) = delete;

  const std::vector<const Fl_RGB_Image*>& Images() const { return pointers_; }
  // Gives the window all five images (FLTK copies them).
  void ApplyTo(Fl_Window& window) const;
  // Makes them the icons of windows that set none of their own, such as
  // the message boxes.
  void MakeDefault() const;

 private:
  std::vector<std::vector<unsigned char>> pixels_;
  std::vector<std::unique_ptr<Fl_RGB_Image>> images_;
  std::vector<const Fl_RGB_Image*> pointers_;
};

}  // namespace quorvex
