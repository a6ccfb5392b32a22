#include "publish/book_file_diff.h"

#include "book/book_format.h"

namespace {

const char* LayoutName(BookLayout layout) {
  return layout == LayoutDivided ? "a divided book" : "a single book";
}

}  // namespace

bool DiffBookFiles(const BookImage& from, const std::string& fromName, const BookImage& to,
                   const std::string& toName, std::vector<uint8_t>* payload, DiffCounts* counts,
                   std::string* text, void (*progress)(int32_t, void*), void* context, std::string* error) {
  *counts = DiffCounts();
  if (from.layout != to.layout) {
    *error = toName + " is " + LayoutName(to.layout) + ", but " + fromName + " is " + LayoutName(from.layout);
    return false;
  }
  const bool divided = from.layout == LayoutDivided;
  // The word before a divided book's lists carries nothing; 0 is written.
  if (divided) AppendU32(payload, 0);
  std::vector<DiffRecord> records;
  for (int32_t body = 0; body < BookBodyCount(from); ++body) {
    const std::string fromBody = divided ? fromName + ": " + BookBodyName(from, body) : fromName;
    const std::string toBody = divided ? toName + ": " + BookBodyName(to, body) : toName;
    std::string cause;
    JosekiTablePtr before = LoadBookBody(from, body, &cause);
    if (!before) {
      *error = fromName + ": " + cause;
      return false;
    }
    JosekiTablePtr after = LoadBookBody(to, body, &cause);
    if (!after) {
      *error = toName + ": " + cause;
      return false;
    }
    if (!ComputeBookDiff(*before, fromBody, *after, toBody, &records, error)) return false;
    before.reset();
    after.reset();
    if (!CheckDiffRecords(records, &cause)) {
      *error = toBody + ": " + cause;
      return false;
    }
    *counts += AppendBookDiffList(records, payload);
    if (text != nullptr && !records.empty()) {
      if (divided) *text += "division " + std::to_string(body) + "\n";
      AppendDiffText(records, text);
    }
    if (progress != nullptr) progress(body + 1, context);
  }
  return true;
}
