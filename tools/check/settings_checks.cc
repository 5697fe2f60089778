// The settings file, its keys, and the safety of the files the job trusts.
#include <algorithm>
#include <exception>
#include <filesystem>
#include <string>
#include <system_error>

#include "configuration_check.h"
#include "platform/utf8_path.h"
#include "platform/write_access.h"
#include "util/string_util.h"

namespace quorvex {
namespace {

// A value as shown: between double quotes when it is empty or has blanks
// at either end, which would be lost otherwise.
std::string Shown(const std::string& value) {
  const bool quoted = value.empty() || IsWhitespace(value.front()) || IsWhitespace(value.back());
  return quoted ? "\"" + value + "\"" : value;
}

std::string PingModeMeaning(int mode) {
  if (mode == 1) return "tcping.exe";
  if (mode == 2) return "psping.exe";
  return "the system ping";
}

}  // namespace

void ConfigurationCheck::CheckSettings() {
  try {
    ReadConnectionSettings(run_.ProgramFolder, ServerNameProvider(), run_.Settings, &report_);
  } catch (const std::exception& e) {
    // A file that is there but may not be read is given the right owner;
    // anything else is no settings file and is made again.
    const std::string file = SettingsFileReader().SettingsFilePath(run_.ProgramFolder);
    std::error_code error;
    const bool regular = std::filesystem::is_regular_file(PathFromUtf8(file), error);
    if (regular && !account_->WhyCannotRead(file).empty()) {
      findings_.Fail("settings file", file + " " + account_->WhyCannotRead(file) + ": " + e.what(),
                     PrivateSettingsAdvice());
    } else {
      findings_.Fail("settings file", e.what(),
                     "Replace it with a text file made from QuorvexServer.ini.example.");
    }
    return;
  }
  if (!report_.written) {
    findings_.Fail("settings file",
                   report_.file + " does not exist, so every key takes its default",
                   "Make it from QuorvexServer.ini.example in the program folder.");
  } else if (const std::string why = account_->WhyCannotRead(report_.file); !why.empty()) {
    settings_read_ = true;  // by this check's account, which may differ
    findings_.Fail("settings file",
                   report_.file + " " + why + ", judged for " + account_->Describe(),
                   PrivateSettingsAdvice());
  } else {
    settings_read_ = true;
    findings_.Ok("settings file", report_.file + " is a regular file and was read");
  }

  for (const SettingRead& key : report_.keys) {
    const std::string check = "setting " + key.key;
    const std::string by_default = key.defaulted ? " (default)" : "";
    if (key.key == "PASSWORD") {
      if (!report_.password_set) {
        findings_.Ok(check, "not set" + by_default);
      } else if (report_.password_error.empty()) {
        findings_.Ok(check, "set, and it decodes");
      } else {
        findings_.Fail(check, "set, but it does not decode: " + report_.password_error,
                       "Write under PASSWORD the text that quorvex-password prints for the "
                       "password.");
      }
    } else if (!key.used) {
      findings_.Ok(check, (key.defaulted ? "" : Shown(key.value) + ", ") +
                              "not used: SERVERDB names the database");
    } else if (key.key == "PING-MODE" && !report_.ping_mode_error.empty()) {
      findings_.Fail(check, report_.ping_mode_error + "; the job would end at once",
                     "Write a whole number, as the regional settings write numbers: 1 for "
                     "tcping.exe, 2 for psping.exe, any other for the system ping.");
    } else if (key.key == "PING-MODE") {
      findings_.Ok(check,
                   Shown(key.value) + by_default + ": " + PingModeMeaning(run_.Settings.PingMode));
    } else {
      findings_.Ok(check, Shown(key.value) + by_default);
    }
  }

  // What the file holds that nobody reads: a key misspelt there silently
  // means its default.
  using Sections = std::vector<SettingsFileReader::WrittenSection>;
  for (const SettingsFileReader::WrittenSection& section : report_.written.value_or(Sections())) {
    if (!EqualsIgnoringAsciiCase(section.name, kSettingsSection)) {
      findings_.Warn(
          "unknown section [" + section.name + "]",
          "the job reads no key of it; it reads only [" + std::string(kSettingsSection) + "]",
          "Move its keys into [" + std::string(kSettingsSection) + "], or remove the section.");
      continue;
    }
    for (const std::string& written : section.keys) {
      const SettingRead* nearest = nullptr;
      std::size_t distance = 0;
      for (const SettingRead& known : report_.keys) {
        const std::size_t d = EditDistanceIgnoringAsciiCase(written, known.key);
        if (nearest == nullptr || d < distance) {
          nearest = &known;
          distance = d;
        }
      }
      if (distance == 0) continue;
      // A suggestion only for a slip of a key's name: at most a third of
      // its letters differ.
      if (distance <= std::max<std::size_t>(1, nearest->key.size() / 3)) {
        findings_.Warn(
            "unknown key " + written,
            "the job reads no key " + written + "; the nearest key it reads is " + nearest->key,
            "Rename it to " + nearest->key + " if that was meant, or remove it.");
      } else {
        findings_.Warn("unknown key " + written, "the job reads no key " + written,
                       "Remove it; the keys the job reads are listed above.");
      }
    }
  }
}

void ConfigurationCheck::CheckFileSafety() {
  const std::string& folder = run_.ProgramFolder;
  if (const std::string why = WhyOthersMayChange(folder); why.empty()) {
    findings_.Ok("program folder",
                 folder + ": only the administrators and the job's account may change it");
  } else {
    findings_.Fail("program folder",
                   folder + " " + why + ", so others could replace the job's tools",
                   ReplaceableToolAdvice());
  }
  if (!tool_.path.empty()) {
    if (const std::string why = WhyToolIsReplaceable(tool_.path, folder); why.empty()) {
      findings_.Ok("tool permissions",
                   tool_.path +
                       ": only the administrators and the job's account may change it "
                       "or its folders");
    } else {
      tool_.replaceable = true;
      findings_.Fail("tool permissions",
                     why +
                         ", so someone other than the administrators and the job's account "
                         "could have replaced " +
                         tool_.path + "; the job does not start it and every server gets -1",
                     ReplaceableToolAdvice());
    }
  }
  if (report_.written) {
    if (const std::string why = WhyOrdinaryUsersMayRead(report_.file); why.empty()) {
      findings_.Ok("settings file permissions", report_.file + ": ordinary users may not read it");
    } else {
      findings_.Warn(
          "settings file permissions",
          report_.file + " " + why + ", and anybody who reads PASSWORD there can decode it",
          PrivateSettingsAdvice());
    }
  }
}

}  // namespace quorvex
