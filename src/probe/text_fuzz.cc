// Fuzz target for the reply reading of the latency probe: cutting text
// between markers, and the locale number test with its conversion.
//
// The input is split at the first two 0x00 bytes into text, start marker
// and end marker. Checked for every input: no crash, the cut is a piece of
// the text that follows a start marker, and every text the number test
// accepts converts without failing.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "probe/reply_text.h"
#include "text/locale_number.h"
#include "util/string_util.h"

namespace {

void Check(bool condition) {
  if (!condition) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  const std::size_t first = input.find('\0');
  const std::size_t second =
      first == std::string_view::npos ? std::string_view::npos : input.find('\0', first + 1);
  const std::string_view text = input.substr(0, first);
  const std::string_view start =
      first == std::string_view::npos ? "Average =" : input.substr(first + 1, second - first - 1);
  const std::string_view end = second == std::string_view::npos ? "ms" : input.substr(second + 1);

  const std::string cut = quorvex::TextBetween(text, start, end);
  if (!cut.empty()) {
    const std::size_t at = text.find(start);
    Check(at != std::string_view::npos);
    Check(text.substr(at + start.size(), cut.size()) == cut);
    Check(text.substr(at + start.size() + cut.size()).starts_with(end));
  }

  const std::string reply = quorvex::TrimSpaces(cut);
  for (const std::string_view candidate : {std::string_view(reply), text}) {
    if (quorvex::IsNumeric(candidate)) {
      try {
        const double value = quorvex::ToDouble(candidate);
        quorvex::SqlNumber(value);
      } catch (...) {
        std::abort();
      }
    }
  }
  return 0;
}
