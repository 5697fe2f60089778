#include "job/settings_file_reader.h"

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string_view>

#include "platform/editor_text.h"
#include "platform/utf8_path.h"
#include "util/string_util.h"
#include "util/utf8.h"

namespace quorvex {
namespace {

const char* TypeName(std::filesystem::file_type type) {
  switch (type) {
    case std::filesystem::file_type::directory:
      return "folder";
    case std::filesystem::file_type::fifo:
      return "named pipe";
    case std::filesystem::file_type::socket:
      return "socket";
    case std::filesystem::file_type::block:
    case std::filesystem::file_type::character:
      return "device";
    default:
      return "special file";
  }
}

// The text of the settings file at file_path, without a UTF-8 mark;
// nothing when there is no such file. Throws SettingsFileError for a file
// that cannot be read, is not a regular file, is too large or is not UTF-8
// text.
std::optional<std::string> ReadSettingsText(const std::string& file_path) {
  // Only a regular file is opened: a FIFO would block the run until someone
  // writes into it, and a device or folder is no settings file either. The
  // type is judged without opening anything.
  std::error_code error;
  const std::filesystem::path path = PathFromUtf8(file_path);
  const std::filesystem::file_status status = std::filesystem::status(path, error);
  if (status.type() == std::filesystem::file_type::not_found) {
    return std::nullopt;
  }
  if (error) {
    throw SettingsFileError("The settings file " + file_path +
                            " cannot be read: " + error.message());
  }
  if (status.type() != std::filesystem::file_type::regular) {
    throw SettingsFileError("The settings file " + file_path + " is not a regular file (it is a " +
                            TypeName(status.type()) + "); replace it with a text file");
  }
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    throw SettingsFileError("The settings file " + file_path +
                            " cannot be read: " + std::strerror(errno));
  }
  std::string content;
  content.reserve(4096);
  char buffer[4096];
  while (in.read(buffer, sizeof buffer) || in.gcount() > 0) {
    content.append(buffer, static_cast<std::size_t>(in.gcount()));
    if (content.size() > kMaxSettingsFileBytes) {
      throw SettingsFileError("The settings file " + file_path + " is larger than " +
                              std::to_string(kMaxSettingsFileBytes) +
                              " bytes; it is not a settings file");
    }
  }
  if (in.bad()) {
    throw SettingsFileError("The settings file " + file_path +
                            " cannot be read: " + std::strerror(errno));
  }
  content = EditorTextToUtf8(std::move(content));
  if (content.starts_with("\xFF\xFE") || content.starts_with("\xFE\xFF")) {
    throw SettingsFileError("The settings file " + file_path +
                            " is UTF-16 text (what Windows Notepad calls \"Unicode\"); save it "
                            "as UTF-8");
  }
  if (const std::size_t nul = content.find('\0'); nul != std::string::npos) {
    throw SettingsFileError("The settings file " + file_path +
                            " is not a text file (a NUL byte at offset " + std::to_string(nul) +
                            ")");
  }
  if (content.starts_with("\xEF\xBB\xBF")) content.erase(0, 3);  // UTF-8 mark
  if (const std::size_t bad = FirstInvalidUtf8(content); bad != std::string_view::npos) {
    throw SettingsFileError("The settings file " + file_path +
                            " is not UTF-8 text (an invalid byte at offset " + std::to_string(bad) +
                            "); save it as UTF-8");
  }
  return content;
}

}  // namespace

std::string SettingsFileReader::SettingsFilePath(const std::string& program_folder) const {
  if (!program_folder.empty() && program_folder.back() == '/') {
    return program_folder + kSettingsFileName;
  }
  return program_folder + "/" + kSettingsFileName;
}

void SettingsFileReader::Load(const std::string& file_path) {
  sections_.clear();
  found_ = false;
  loaded_path_ = file_path;
  const std::optional<std::string> content = ReadSettingsText(file_path);
  if (!content) return;  // no file: every key takes its default
  found_ = true;

  std::string_view text(*content);
  Section* current = nullptr;
  // A line ends at LF, CRLF or a lone CR (classic Mac files); the empty
  // "line" between the CR and LF of a CRLF is skipped like any blank one.
  while (!text.empty()) {
    const std::size_t end = text.find_first_of("\r\n");
    std::string_view line = TrimWhitespace(text.substr(0, end));
    text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
    if (line.empty() || line.front() == ';' || line.front() == '#') continue;
    if (line.front() == '[') {
      const std::size_t close = line.find(']');
      const std::string_view name =
          TrimWhitespace(line.substr(1, close == std::string_view::npos ? line.npos : close - 1));
      current = nullptr;
      for (Section& known : sections_) {
        if (EqualsIgnoringAsciiCase(known.written.name, name)) current = &known;
      }
      if (current == nullptr)
        current = &sections_.emplace_back(Section{{std::string(name), {}}, {}});
      continue;
    }
    const std::size_t equals = line.find('=');
    if (current == nullptr || equals == std::string_view::npos) continue;
    std::string_view value = TrimWhitespace(line.substr(equals + 1));
    if (value.size() >= 2 && value.front() == '"' && value.back() == '"') {
      value = value.substr(1, value.size() - 2);
    }
    const std::string_view written = TrimWhitespace(line.substr(0, equals));
    // The first occurrence wins.
    if (current->values.emplace(AsciiUpperCase(written), std::string(value)).second) {
      current->written.keys.emplace_back(written);
    }
  }
}

void SettingsFileReader::LoadOnce(const std::string& file_path) {
  if (!loaded_path_ || *loaded_path_ != file_path) Load(file_path);
}

SettingsFileReader::Section* SettingsFileReader::Find(const std::string& file_path,
                                                      const std::string& section) {
  LoadOnce(file_path);
  for (Section& known : sections_) {
    if (EqualsIgnoringAsciiCase(known.written.name, section)) return &known;
  }
  return nullptr;
}

std::optional<std::string> SettingsFileReader::FindSetting(const std::string& file_path,
                                                           const std::string& section,
                                                           const std::string& key) {
  const Section* found = Find(file_path, section);
  if (found == nullptr) return std::nullopt;
  const auto k = found->values.find(AsciiUpperCase(key));
  if (k == found->values.end()) return std::nullopt;
  return k->second;
}

std::optional<std::vector<SettingsFileReader::WrittenSection>> SettingsFileReader::WrittenSections(
    const std::string& file_path) {
  LoadOnce(file_path);
  if (!found_) return std::nullopt;
  std::vector<WrittenSection> written;
  for (const Section& section : sections_) written.push_back(section.written);
  return written;
}

}  // namespace quorvex
