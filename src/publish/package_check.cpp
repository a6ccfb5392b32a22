#include "publish/package_check.h"

#include <set>
#include <utility>

#include "package/memory_package_files.h"
#include "package/update_package.h"
#include "publish/book_diff.h"

// The book the update left, compared with the book to reach body by body.
bool SameBookContent(std::vector<uint8_t> result, const BookImage& wanted, std::string* cause) {
  BookImage made;
  if (!ParseBookImage(std::move(result), &made, cause)) return false;
  if (made.layout != wanted.layout) {
    *cause = "the updater made a book of the other layout";
    return false;
  }
  std::vector<DiffRecord> records;
  for (int32_t body = 0; body < BookBodyCount(made); ++body) {
    const std::string name = BookBodyName(made, body);
    JosekiTablePtr after = LoadBookBody(made, body, cause);
    if (!after) {
      *cause = "the updater made a book that does not load: " + *cause;
      return false;
    }
    JosekiTablePtr target = LoadBookBody(wanted, body, cause);
    if (!target) return false;
    if (!ComputeBookDiff(*after, "the updated book: " + name, *target, "the new book: " + name, &records,
                         cause)) {
      return false;
    }
    if (!records.empty()) {
      std::string still;
      std::vector<DiffRecord> first;
      for (const DiffRecord& record : records) {
        if (record.key.low == records[0].key.low && record.key.high == records[0].key.high)
          first.push_back(record);
      }
      AppendDiffText(first, &still);
      still.pop_back();
      *cause = name + ": the updated book differs from the new book in " + std::to_string(records.size()) +
               (records.size() == 1 ? " move" : " moves") + "; the first position would still need " + still;
      return false;
    }
  }
  return true;
}

bool CheckPackage(const std::vector<uint8_t>& script, const std::vector<PlannedEntry>& plan,
                  std::string* error, int32_t threads) {
  MemoryPackageFiles folder;
  std::set<std::string> expected;
  // A file entry finds a present file of other content, as an update
  // usually does, so that keeping it under oldName is checked too.
  std::vector<std::vector<uint8_t>> present(plan.size());
  for (size_t i = 0; i < plan.size(); ++i) {
    const PlannedEntry& entry = plan[i];
    if (entry.kind == KindFile) {
      const std::string text = "the present " + entry.newName;
      present[i].assign(text.begin(), text.end());
      if (present[i] == *entry.content) present[i].push_back('\n');
      folder.Put(entry.newName, present[i]);
    } else {
      folder.Put(entry.newName, entry.oldBook->bytes);
    }
    expected.insert(MemoryPackageFiles::PathOf(entry.oldName));
    expected.insert(MemoryPackageFiles::PathOf(entry.newName));
  }

  // The applier reads the script through a stream over the caller's block.
  std::vector<uint8_t> copy = script;
  ApplyReport report;
  const int32_t result =
      ApplyPackage(copy.data(), static_cast<uint32_t>(copy.size()), nullptr, &report, &folder, threads);
  if (result != ApplyOk) {
    const size_t failed = static_cast<size_t>(report.failedEntry > 0 ? report.failedEntry - 1 : 0);
    const std::string label = failed < plan.size() ? plan[failed].label + ": " : std::string();
    *error = label + "the updater's applier fails at entry " + std::to_string(failed + 1) + " (result " +
             std::to_string(result) + "): " + (report.cause != nullptr ? report.cause : "");
    return false;
  }
  if (report.entriesApplied != static_cast<int32_t>(plan.size())) {
    *error = "the updater's applier stops after " + std::to_string(report.entriesApplied) + " of " +
             std::to_string(plan.size()) + " entries";
    return false;
  }

  for (size_t i = 0; i < plan.size(); ++i) {
    const PlannedEntry& entry = plan[i];
    const std::vector<uint8_t>* now = folder.Get(entry.newName);
    const std::vector<uint8_t>* kept = folder.Get(entry.oldName);
    const std::vector<uint8_t>& before = entry.kind == KindFile ? present[i] : entry.oldBook->bytes;
    std::string cause;
    if (now == nullptr) {
      cause = "nothing stands under " + entry.newName + " afterwards";
    } else if (entry.kind == KindFile) {
      if (*now != *entry.content) cause = entry.newName + " does not hold the new content afterwards";
    } else if (!SameBookContent(*now, *entry.newBook, &cause)) {
      cause = entry.newName + ": " + cause;
    }
    if (cause.empty() && (kept == nullptr || *kept != before)) {
      cause = entry.oldName + " does not keep what " + entry.newName + " held before";
    }
    if (!cause.empty()) {
      *error = entry.label + ": " + cause;
      return false;
    }
  }
  for (const std::string& path : folder.Paths()) {
    if (expected.count(path) == 0) {
      *error = "the update leaves a file no entry names: " + path;
      return false;
    }
  }
  return true;
}
