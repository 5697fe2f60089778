#include "reporting/usage_values.h"

#include <cstdio>

#include "text/xml_document.h"
#include "util/utf8.h"

namespace quorvex {

std::string UsageValueProblem(std::string_view value) {
  if (std::string problem = XmlTextProblem(value); !problem.empty()) return problem;
  if (value.find('"') != std::string_view::npos) {
    return "holds a double quote, which ends the attribute early";
  }
  if (value.find('<') != std::string_view::npos) return "holds '<', which XML refuses in a value";
  if (value.find('&') != std::string_view::npos) {
    return "holds '&', which XML reads as the start of a reference";
  }
  return "";
}

std::string ShownValue(std::string_view value) {
  constexpr std::size_t kShown = 40;
  std::string out = "\"";
  std::size_t at = 0;
  for (std::size_t shown = 0; at < value.size() && shown < kShown; ++shown) {
    const Utf8Char c = DecodeUtf8(value, at);
    if (c.length == 0 || c.code < 0x20 || c.code == 0x7f || c.code == '\\') {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\x%02x", static_cast<unsigned char>(value[at]));
      out += escaped;
      ++at;
    } else {
      out.append(value.substr(at, c.length));
      at += c.length;
    }
  }
  out += "\"";
  if (at < value.size()) out += "... (" + std::to_string(value.size()) + " bytes)";
  return out;
}

std::string UsageValueAdvice() {
  return "Correct Transaccion or Server_Id of those records in table Transaccion_Uso (they are "
         "copied into the document as they are: no double quote, '<', '&', control character "
         "or byte that is not UTF-8); the next run sends them with the others";
}

}  // namespace quorvex
