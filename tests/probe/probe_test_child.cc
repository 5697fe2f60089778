// A child for the window's tests: "nonewline" writes a text that does not
// end with a line break.
#include <unistd.h>

#include <string_view>

int main(int argc, char** argv) {
  if (argc < 2 || std::string_view(argv[1]) != "nonewline") return 2;
  constexpr std::string_view kText = "no line break at the end";
  return write(1, kText.data(), kText.size()) == static_cast<ssize_t>(kText.size()) ? 0 : 3;
}
