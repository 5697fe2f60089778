#include "findings.h"

#include <algorithm>
#include <utility>

#include "util/utf8.h"

namespace quorvex {
namespace {

const char* Name(Verdict verdict) {
  switch (verdict) {
    case Verdict::kOk:
      return "OK";
    case Verdict::kWarn:
      return "WARN";
    case Verdict::kFail:
      return "FAIL";
  }
  return "FAIL";
}

}  // namespace

void Findings::Ok(std::string check, std::string found) {
  all_.push_back({Verdict::kOk, std::move(check), std::move(found), {}});
}

void Findings::Warn(std::string check, std::string found, std::string fix) {
  all_.push_back({Verdict::kWarn, std::move(check), std::move(found), std::move(fix)});
}

void Findings::Fail(std::string check, std::string found, std::string fix) {
  all_.push_back({Verdict::kFail, std::move(check), std::move(found), std::move(fix)});
}

bool Findings::AnyFailed() const {
  return std::any_of(all_.begin(), all_.end(),
                     [](const Finding& f) { return f.verdict == Verdict::kFail; });
}

std::size_t Findings::Count(Verdict verdict) const {
  return static_cast<std::size_t>(std::count_if(
      all_.begin(), all_.end(), [verdict](const Finding& f) { return f.verdict == verdict; }));
}

std::string Findings::Text(bool quiet) const {
  std::string out;
  for (const Finding& f : all_) {
    if (quiet && f.verdict == Verdict::kOk) continue;
    std::string verdict = Name(f.verdict);
    verdict.resize(4, ' ');
    out += verdict + " " + f.check + ": " + f.found;
    if (f.verdict != Verdict::kOk) out += ". Fix: " + f.fix;
    out += '\n';
  }
  const std::size_t failed = Count(Verdict::kFail), warned = Count(Verdict::kWarn);
  const char* result = failed > 0 ? "FAIL" : warned > 0 ? "WARN" : "OK";
  return out + "Result: " + result + " (" + std::to_string(failed) + " failed, " +
         std::to_string(warned) + (warned == 1 ? " warning, " : " warnings, ") +
         std::to_string(Count(Verdict::kOk)) + " OK)\n";
}

std::string Findings::Json() const {
  Verdict worst = Verdict::kOk;
  for (const Finding& f : all_) worst = std::max(worst, f.verdict);
  std::string out = "{\"result\":\"" + std::string(Name(worst)) + "\",\"checks\":[";
  for (const Finding& f : all_) {
    if (&f != all_.data()) out += ',';
    out += "{\"check\":";
    AppendJsonString(out, f.check);
    out += ",\"result\":\"" + std::string(Name(f.verdict)) + "\",\"found\":";
    AppendJsonString(out, f.found);
    if (f.verdict != Verdict::kOk) {
      out += ",\"fix\":";
      AppendJsonString(out, f.fix);
    }
    out += '}';
  }
  return out + "]}\n";
}

}  // namespace quorvex
