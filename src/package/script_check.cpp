#include "package/script_check.h"

#include <cstring>
#include <string>

#include "book/book_format.h"
#include "book/divided_book.h"
#include "package/entry_path.h"
#include "package/update_package.h"

namespace {

constexpr int32_t EndOfScript = 1;      // an end condition: what came before is the script
constexpr uint32_t GroupHeadBytes = 9;  // low, high, count

void VisitRecords(const uint8_t* first, uint32_t count, DiffRecordVisitor visit, void* context) {
  if (visit == nullptr) return;
  for (uint32_t i = 0; i < count; ++i) visit(first + i * MoveRecordSize, context);
}

// The bytes of a name as the entry loop has them: those read, up to the
// first NUL among them.
struct Name {
  const uint8_t* bytes = nullptr;
  uint32_t count = 0;

  std::string Text() const {
    if (count == 0) return std::string();
    const void* nul = memchr(bytes, 0, count);
    const uint32_t length =
        nul == nullptr ? count : static_cast<uint32_t>(static_cast<const uint8_t*>(nul) - bytes);
    return std::string(reinterpret_cast<const char*>(bytes), length);
  }
};

class Checker {
 public:
  Checker(const uint8_t* script, uint32_t length) : script_(script), length_(length) {}

  // ApplyOk, or the failed entry's result with the report filled in.
  int32_t Run(ApplyReport* report) {
    for (int32_t index = 0; at_ < length_; ++index) {
      const int32_t result = Entry(index);
      if (result == EndOfScript) return ApplyOk;
      if (result != 0) {
        report->failedEntry = index + 1;
        report->failedKind = kind_;
        report->oldName = oldName_.Text();
        report->newName = newName_.Text();
        report->cause = cause_;
        return result;
      }
    }
    return ApplyOk;
  }

 private:
  uint32_t Left() const { return length_ - at_; }

  int32_t Fail(int32_t result, const char* why) {
    cause_ = why;
    return result;
  }

  // A length byte and the name behind it. A name cut short keeps the bytes
  // that are there, as the loop reads them.
  int32_t ReadName(Name* name) {
    if (Left() < 1) return EndOfScript;
    const uint32_t length = script_[at_++];
    if (length == 0) return EndOfScript;
    name->bytes = script_ + at_;
    if (Left() < length) {
      name->count = Left();
      at_ = length_;
      return Fail(ApplyDamaged, "a name is cut short by the end of the script");
    }
    name->count = length;
    at_ += length;
    if (name->bytes[length - 1] != 0) return Fail(ApplyDamaged, "a name does not end with its NUL");
    return 0;
  }

  int32_t PassPayload() {
    if (kind_ == KindFile) {
      if (Left() < 4 || LoadU32(script_ + at_) > Left() - 4) {
        return Fail(ApplyDamaged, "the payload runs past the end of the script");
      }
      at_ += 4 + LoadU32(script_ + at_);
      return 0;
    }
    int32_t lists = 1;
    if (kind_ == KindDividedBook) {
      // The leading word is read whole or not at all; the lists take
      // whatever bytes are left.
      if (Left() >= 4) at_ += 4;
      lists = DivisionCount;
    }
    for (int32_t k = 0; k < lists; ++k) at_ = FrameBookDiffList(script_, length_, at_).end;
    return 0;
  }

  // One entry's checks, in the entry loop's order.
  int32_t Entry(int32_t index) {
    oldName_ = Name();
    newName_ = Name();
    if (Left() < 4) return EndOfScript;
    const uint32_t kind = LoadU32(script_ + at_);
    if (kind > static_cast<uint32_t>(KindFile)) return EndOfScript;
    kind_ = static_cast<int32_t>(kind);
    at_ += 4;
    int32_t result = ReadName(&oldName_);
    if (result == 0) result = ReadName(&newName_);
    if (result != 0) return result;
    if (index >= MaxPackageEntries)
      return Fail(ApplyDamaged, "the script holds more entries than a package may");
    // Both names end in their NUL inside the script.
    const char* refused = CheckEntryNames(reinterpret_cast<const char*>(oldName_.bytes),
                                          reinterpret_cast<const char*>(newName_.bytes));
    if (refused != nullptr) return Fail(ApplyUnsafeName, refused);
    return PassPayload();
  }

  const uint8_t* script_;
  uint32_t length_;
  uint32_t at_ = 0;
  int32_t kind_ = -1;
  Name oldName_;
  Name newName_;
  const char* cause_ = nullptr;
};

}  // namespace

DiffListFrame FrameBookDiffList(const uint8_t* bytes, uint32_t size, uint32_t at, DiffRecordVisitor visit,
                                void* context) {
  DiffListFrame frame;
  if (at > size) at = size;
  // The merge reads whole fields; one cut short takes the bytes that are
  // left, so every list that the data cuts short ends at the data's end.
  frame.end = size;
  for (;;) {
    const uint32_t left = size - at;
    frame.cutAt = at;
    if (left < 4) {
      frame.ending = left == 0 ? ListEndsBeforeTerminator : ListEndsInTerminator;
      return frame;
    }
    if (IsListEnd(LoadU32(bytes + at))) {
      frame.end = at + 4;
      frame.ending = ListTerminated;
      return frame;
    }
    if (left < GroupHeadBytes) {
      frame.ending = ListEndsInGroupHead;
      return frame;
    }
    const uint32_t count = bytes[at + 8];
    const uint32_t whole = (left - GroupHeadBytes) / MoveRecordSize;
    if (whole < count) {
      VisitRecords(bytes + at + GroupHeadBytes, whole, visit, context);
      frame.ending = ListEndsInRecords;
      frame.cutCount = count;
      return frame;
    }
    VisitRecords(bytes + at + GroupHeadBytes, count, visit, context);
    at += GroupHeadBytes + count * MoveRecordSize;
    ++frame.groups;
  }
}

int32_t CheckPackageScript(const uint8_t* script, uint32_t length, ApplyReport* report) {
  ApplyReport unused;
  if (report == nullptr) report = &unused;
  *report = ApplyReport();
  if (script == nullptr) return ApplyOk;
  return Checker(script, length).Run(report);
}
