// The window icon as FLTK images: the picture of ui/icon_picture.h in its
// five sizes.
#pragma once

#include <FL/Fl_RGB_Image.H>

#include <memory>
#include <vector>

#include "ui/icon_picture.h"

class Fl_Window;

namespace quorvex {

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
