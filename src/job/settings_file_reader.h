// SettingsFileReader: finds and reads the job's settings file.
//
// The file is QuorvexServer.ini in the program folder, in INI syntax:
// "[SECTION]" lines and "KEY=value" lines, ';' or '#' starting a comment
// line; lines may end in LF, CRLF or CR alike. Section and key names are matched without regard to
// letter case; a value has the white space around it trimmed and then one pair of enclosing double
// quotes removed, so SERVERDB="  db1  " keeps its blanks. When a key appears twice in a section the
// first one counts.
//
// The file is UTF-8, with or without its mark; on Windows also what
// Notepad saves as "ANSI" (the system's code page) and as "Unicode" (UTF-16
// with its byte-order mark, either byte order), as the system's profile
// functions read them (platform/editor_text.h). A UTF-16 file elsewhere is
// refused with a description that says so.
//
// A missing file or section gives every key its default. A file that
// cannot be read, is not a regular file (a named pipe, a folder, a device:
// refused without being opened, so nothing blocks), is not text (a NUL
// byte or bytes that are not UTF-8) or is larger than kMaxSettingsFileBytes
// makes FindSetting and WrittenSections throw SettingsFileError with a
// description an operator can act on.
#pragma once

#include <map>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace quorvex {

class SettingsFileError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

inline constexpr char kSettingsFileName[] = "QuorvexServer.ini";
inline constexpr std::size_t kMaxSettingsFileBytes = 1 << 20;

class SettingsFileReader {
 public:
  SettingsFileReader() = default;
  SettingsFileReader(const SettingsFileReader&) = delete;
  SettingsFileReader& operator=(const SettingsFileReader&) = delete;

  // The settings file's location for the given program folder.
  std::string SettingsFilePath(const std::string& program_folder) const;

  // The key's value; std::nullopt when the file gives the key no value
  // (file, section or key missing). The file is read once, on first use.
  std::optional<std::string> FindSetting(const std::string& file_path, const std::string& section,
                                         const std::string& key);

  // A section of the file and its keys, named as first written, in the
  // file's order.
  struct WrittenSection {
    std::string name;
    std::vector<std::string> keys;
  };
  // Every section and key the file holds; std::nullopt when there is no
  // file.
  std::optional<std::vector<WrittenSection>> WrittenSections(const std::string& file_path);

 private:
  struct Section {
    WrittenSection written;
    std::map<std::string, std::string> values;  // upper-cased key -> value
  };
  void Load(const std::string& file_path);
  void LoadOnce(const std::string& file_path);  // Load unless file_path is loaded
  Section* Find(const std::string& file_path, const std::string& section);

  std::optional<std::string> loaded_path_;
  bool found_ = false;
  std::vector<Section> sections_;
};

}  // namespace quorvex
