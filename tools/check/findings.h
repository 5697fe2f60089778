// The results of the configuration test: one finding per check, in the
// order the checks ran, and the two ways they are printed.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace quorvex {

enum class Verdict { kOk, kWarn, kFail };

struct Finding {
  Verdict verdict;
  std::string check;  // which check, a short stable name ("setting PING-MODE")
  std::string found;  // what it found, in a sentence
  std::string fix;    // for WARN and FAIL: what to do, in a sentence; empty for OK
};

class Findings {
 public:
  void Ok(std::string check, std::string found);
  void Warn(std::string check, std::string found, std::string fix);
  void Fail(std::string check, std::string found, std::string fix);

  const std::vector<Finding>& All() const { return all_; }
  bool AnyFailed() const;

  // Rewrites every text of every finding with hide (the password's
  // concealment, applied once before anything is printed).
  template <typename Hide>
  void Conceal(Hide hide) {
    for (Finding& f : all_) {
      f.check = hide(f.check);
      f.found = hide(f.found);
      f.fix = hide(f.fix);
    }
  }

  // How many findings have verdict.
  std::size_t Count(Verdict verdict) const;

  // One line per finding (with quiet, per WARN and FAIL only): "OK  ",
  // "WARN" or "FAIL", the check, what it found and, for WARN and FAIL,
  // "Fix:" and the fix. Then the summary line, always: "Result: FAIL",
  // "WARN" or "OK", then "(<n> failed, <n> warnings, <n> OK)", where a
  // count of one says "warning".
  std::string Text(bool quiet = false) const;
  // The same as one JSON document:
  // {"result":"OK"|"WARN"|"FAIL","checks":[{"check":...,"result":...,
  //  "found":...,"fix":...},...]}, "fix" only for WARN and FAIL; "result"
  // is the worst verdict of all.
  std::string Json() const;

 private:
  std::vector<Finding> all_;
};

}  // namespace quorvex
