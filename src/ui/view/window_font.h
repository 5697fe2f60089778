// The font of the main window and of its message boxes on screen.
//
// The window is designed for "Franklin Gothic Medium" at 8.25 points. Where
// that family is not installed a close sans-serif takes its place, so the
// controls keep their proportions: DejaVu Sans where fontconfig knows it,
// FLTK's built-in Helvetica otherwise.
#pragma once

#include <FL/Enumerations.H>

#include <string>

namespace quorvex {

struct WindowFont {
  Fl_Font face = FL_HELVETICA;
  // Pixels: 8.25 points at 96 dots per inch.
  Fl_Fontsize size = 11;
  // The family actually used, for reports and tests.
  std::string family = "Helvetica";
};

// True when fontconfig lists at least one font of the family (matched
// without regard to case). Needs no display.
bool FontFamilyInstalled(const std::string& family);

// Picks the window font and registers it with FLTK under FL_FREE_FONT when
// it is not a built-in face. Needs no display; call before any widget is
// drawn.
WindowFont ResolveWindowFont();

// Pixel size of a font given in points on a 96 dots-per-inch screen.
Fl_Fontsize PointsToPixels(double points);

}  // namespace quorvex
