#include "package/script_reader.h"

#include "book/book_format.h"
#include "book/divided_book.h"
#include "package/entry_path.h"
#include "package/file_names.h"
#include "package/update_package.h"
#include "stream/byte_stream.h"

namespace {

constexpr uint32_t GroupHeadBytes = 9;  // low, high, count

// What remains of the stream behind its position, found without reading.
uint32_t Remaining(ByteStream* script) {
  const uint32_t here = static_cast<uint32_t>(script->Tell());
  script->Seek(0, true);
  const uint32_t end = static_cast<uint32_t>(script->Tell());
  script->Seek(static_cast<int32_t>(here), false);
  return end > here ? end - here : 0;
}

// A length byte and the name behind it. A name cut short keeps the bytes
// that are there.
HeadEnding ReadName(ByteStream* script, ScriptName* name) {
  name->at = static_cast<uint32_t>(script->Tell());
  const int32_t length = script->ReadU8();
  if (length < 0) return HeadEndsBeforeLength;
  name->length = length;
  if (length == 0) return HeadEndsByLength;
  name->bytes.resize(static_cast<size_t>(length));
  const int32_t got = script->Read(reinterpret_cast<uint8_t*>(&name->bytes[0]), length);
  if (got != length) {
    name->bytes.resize(got > 0 ? static_cast<size_t>(got) : 0);
    return HeadNameCutShort;
  }
  return name->bytes.back() == '\0' ? HeadRead : HeadNameWithoutNul;
}

void VisitRecords(const uint8_t* group, uint32_t count, DiffRecordVisitor visit, void* context) {
  if (visit == nullptr) return;
  const uint8_t* first = group + GroupHeadBytes;
  for (uint32_t i = 0; i < count; ++i) visit(group, first + i * MoveRecordSize, context);
}

}  // namespace

HeadEnding ReadEntryHead(ByteStream* script, EntryHead* head) {
  *head = EntryHead();
  head->at = static_cast<uint32_t>(script->Tell());
  if (Remaining(script) < 4) return HeadEndsBeforeKind;
  head->kind = script->ReadU32();
  if (head->kind < KindBook || head->kind > KindFile) return HeadEndsByKind;
  const HeadEnding ending = ReadName(script, &head->oldName);
  if (ending != HeadRead) return ending;
  head->inNewName = true;
  return ReadName(script, &head->newName);
}

const char* ScriptNames::Add(const std::string& oldName, const std::string& newName) {
  if (written_.count(oldName) != 0) return "the old name is an earlier entry's new name";
  if (kept_.count(newName) != 0) return "the new name is an earlier entry's old name";
  const auto kept = kept_.find(oldName);
  if (kept != kept_.end()) {
    if (CompareFileNames(kept->second.c_str(), newName.c_str()) != 0)
      return "the old name keeps the file of an earlier entry with another new name";
  } else {
    kept_.emplace(oldName, newName);
  }
  written_.insert(newName);
  return nullptr;
}

bool FilePayloadFits(ByteStream* script) {
  const uint32_t remaining = Remaining(script);
  if (remaining < 4) return false;
  const int32_t here = script->Tell();
  const uint32_t length = static_cast<uint32_t>(script->ReadU32());
  script->Seek(here, false);
  return length <= remaining - 4;
}

int32_t CheckEntryHead(ByteStream* script, const EntryHead& head, int32_t index, ScriptNames* names,
                       const char** cause) {
  const auto fail = [cause](int32_t result, const char* why) {
    *cause = why;
    return result;
  };
  if (index >= MaxPackageEntries) return fail(ApplyDamaged, "the script holds more entries than a package may");
  // Both names end in their NUL.
  const char* oldName = head.oldName.bytes.c_str();
  const char* newName = head.newName.bytes.c_str();
  if (const char* refused = CheckEntryNames(oldName, newName)) return fail(ApplyUnsafeName, refused);
  if (const char* refused = names->Add(oldName, newName)) return fail(ApplyUnsafeName, refused);
  if (head.kind == KindFile && !FilePayloadFits(script))
    return fail(ApplyDamaged, "the payload runs past the end of the script");
  return 0;
}

int32_t ReadCheckedEntry(ByteStream* script, int32_t index, ScriptNames* names, EntryHead* head,
                         const char** cause) {
  const HeadEnding ending = ReadEntryHead(script, head);
  if (EndsScript(ending)) return EntryEndsScript;
  if (ending == HeadNameCutShort) {
    *cause = "a name is cut short by the end of the script";
    return ApplyDamaged;
  }
  if (ending == HeadNameWithoutNul) {
    *cause = "a name does not end with its NUL";
    return ApplyDamaged;
  }
  return CheckEntryHead(script, *head, index, names, cause);
}

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
      VisitRecords(bytes + at, whole, visit, context);
      frame.ending = ListEndsInRecords;
      frame.cutCount = count;
      return frame;
    }
    VisitRecords(bytes + at, count, visit, context);
    at += GroupHeadBytes + count * MoveRecordSize;
    ++frame.groups;
  }
}

uint32_t PayloadEnd(const uint8_t* bytes, uint32_t size, uint32_t at, int32_t kind) {
  if (kind == KindFile) return at + 4 + LoadU32(bytes + at);
  int32_t lists = 1;
  if (kind == KindDividedBook) {
    if (size - at >= 4) at += 4;
    lists = DivisionCount;
  }
  for (int32_t k = 0; k < lists; ++k) at = FrameBookDiffList(bytes, size, at).end;
  return at;
}
