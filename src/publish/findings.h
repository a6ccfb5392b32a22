// What a check of a file finds: violations of the stored form, which make
// the file unsound, and warnings, which do not. Each has its place.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

enum FindingLevel : int32_t {
  FindingViolation = 0,  // the file is unsound
  FindingWarning = 1,    // worth knowing; the file stays sound
};

struct Finding {
  FindingLevel level;
  std::string place;  // "division 3, bucket 17, node 5 (position ...)"
  std::string text;   // what is wrong there
};

class Findings {
 public:
  // Keeps the first `limit` findings (0 keeps all); later ones are only
  // counted, so a badly damaged file cannot flood the memory.
  explicit Findings(size_t limit = 0) : limit_(limit) {}

  void Violation(const std::string& place, const std::string& text) { Add(FindingViolation, place, text); }
  void Warning(const std::string& place, const std::string& text) { Add(FindingWarning, place, text); }

  uint64_t violations() const { return violations_; }
  uint64_t warnings() const { return warnings_; }
  const std::vector<Finding>& kept() const { return kept_; }
  uint64_t dropped() const { return violations_ + warnings_ - kept_.size(); }

 private:
  void Add(FindingLevel level, const std::string& place, const std::string& text) {
    if (level == FindingViolation) {
      ++violations_;
    } else {
      ++warnings_;
    }
    if (limit_ == 0 || kept_.size() < limit_) kept_.push_back(Finding{level, place, text});
  }

  size_t limit_;
  uint64_t violations_ = 0;
  uint64_t warnings_ = 0;
  std::vector<Finding> kept_;
};
