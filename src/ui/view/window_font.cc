// Font choice for the window: fontconfig says what is installed, FLTK (built
// with Xft) opens the family by name.
#include "ui/view/window_font.h"

#include <FL/Fl.H>
#include <fontconfig/fontconfig.h>

#include <cmath>
#include <memory>

#include "ui/frm_main.h"

namespace quorvex {
namespace {

struct PatternFree {
  void operator()(FcPattern* p) const { FcPatternDestroy(p); }
};
struct ObjectSetFree {
  void operator()(FcObjectSet* s) const { FcObjectSetDestroy(s); }
};
struct FontSetFree {
  void operator()(FcFontSet* s) const { FcFontSetDestroy(s); }
};

// FLTK's Xft font names carry a style prefix; a leading space means
// "regular" and keeps a family starting with B, I or P from being read as
// bold or italic. The strings must live as long as the program.
constexpr char kDesignedFace[] = " Franklin Gothic Medium";
constexpr char kFallbackFace[] = " DejaVu Sans";

}  // namespace

bool FontFamilyInstalled(const std::string& family) {
  std::unique_ptr<FcPattern, PatternFree> pattern(FcPatternCreate());
  if (!pattern) return false;
  FcPatternAddString(pattern.get(), FC_FAMILY, reinterpret_cast<const FcChar8*>(family.c_str()));
  std::unique_ptr<FcObjectSet, ObjectSetFree> objects(FcObjectSetBuild(FC_FAMILY, nullptr));
  if (!objects) return false;
  std::unique_ptr<FcFontSet, FontSetFree> fonts(FcFontList(nullptr, pattern.get(), objects.get()));
  return fonts && fonts->nfont > 0;
}

Fl_Fontsize PointsToPixels(double points) {
  return static_cast<Fl_Fontsize>(std::lround(points * 96.0 / 72.0));
}

WindowFont ResolveWindowFont() {
  WindowFont font;
  font.size = PointsToPixels(frmMain::kFontPoints);
  if (FontFamilyInstalled(frmMain::kFontName)) {
    Fl::set_font(FL_FREE_FONT, kDesignedFace);
    font.face = FL_FREE_FONT;
    font.family = frmMain::kFontName;
  } else if (FontFamilyInstalled(kFallbackFace + 1)) {
    Fl::set_font(FL_FREE_FONT, kFallbackFace);
    font.face = FL_FREE_FONT;
    font.family = kFallbackFace + 1;
  }
  return font;
}

}  // namespace quorvex
