// Editors here write UTF-8: the bytes are the text.
#include "platform/editor_text.h"

namespace quorvex {

std::string EditorTextToUtf8(std::string text) { return text; }

}  // namespace quorvex
