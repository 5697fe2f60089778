#include "ui/view/window_icon.h"

#include <FL/Fl_Window.H>

namespace quorvex {

WindowIcons::WindowIcons() {
  for (int size : kIconSizes) {
    pixels_.push_back(DrawIconPixels(size));
    images_.push_back(std::make_unique<Fl_RGB_Image>(pixels_.back().data(), size, size, 3));
    pointers_.push_back(images_.back().get());
  }
}

void WindowIcons::ApplyTo(Fl_Window& window) const {
  window.icons(const_cast<const Fl_RGB_Image**>(pointers_.data()),
               static_cast<int>(pointers_.size()));
}

void WindowIcons::MakeDefault() const {
  Fl_Window::default_icons(const_cast<const Fl_RGB_Image**>(pointers_.data()),
                           static_cast<int>(pointers_.size()));
}

}  // namespace quorvex
