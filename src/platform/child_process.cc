#include "platform/child_process.h"

#include "util/string_util.h"

namespace quorvex {

std::vector<std::string> SplitCommandLine(std::string_view line) {
  std::vector<std::string> args;
  std::size_t i = 0;
  const std::size_t n = line.size();
  while (i < n && IsBlank(line[i])) ++i;
  if (i == n) return args;

  // The program name: quotes only group, backslashes are plain text.
  std::string program;
  if (line[i] == '"') {
    ++i;
    while (i < n && line[i] != '"') program += line[i++];
    if (i < n) ++i;  // the closing quote
  } else {
    while (i < n && !IsBlank(line[i])) program += line[i++];
  }
  args.push_back(std::move(program));

  while (true) {
    while (i < n && IsBlank(line[i])) ++i;
    if (i == n) break;
    std::string arg;
    bool quoted = false;
    while (i < n && (quoted || !IsBlank(line[i]))) {
      const char c = line[i];
      if (c == '\\') {
        std::size_t count = 0;
        while (i < n && line[i] == '\\') {
          ++count;
          ++i;
        }
        if (i < n && line[i] == '"') {
          arg.append(count / 2, '\\');
          if (count % 2 == 1) {
            arg += '"';
          } else {
            quoted = !quoted;
          }
          ++i;
        } else {
          arg.append(count, '\\');
        }
      } else if (c == '"') {
        quoted = !quoted;
        ++i;
      } else {
        arg += c;
        ++i;
      }
    }
    args.push_back(std::move(arg));
  }
  return args;
}

}  // namespace quorvex
