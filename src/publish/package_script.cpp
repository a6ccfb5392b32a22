#include "publish/package_script.h"

#include "book/book_format.h"
#include "book/divided_book.h"
#include "package/entry_path.h"
#include "package/script_reader.h"
#include "package/update_package.h"
#include "stream/byte_stream.h"

namespace {

class Walker {
 public:
  Walker(const uint8_t* script, uint32_t size) : script_(script), size_(size) {
    stream_.Attach(const_cast<uint8_t*>(script), size, true);  // read only
  }

  ScriptWalk Run() {
    while (at_ < size_ && Entry()) {
    }
    walk_.end = at_;
    return std::move(walk_);
  }

 private:
  uint32_t Left() const { return size_ - at_; }

  void Problem(uint32_t offset, const std::string& text) {
    walk_.problems.push_back(ScriptProblem{offset, entry_, text});
  }

  // Ends the walk at `offset`, saying what the updater does there.
  bool Stop(uint32_t offset, const std::string& text) {
    Problem(offset, text);
    at_ = offset;
    return false;
  }

  std::string NeverApplied(uint32_t from) const {
    return "; the updater stops here and the " + std::to_string(size_ - from) +
           " bytes from here on are never applied";
  }

  // A name as the reader left it: the stop its ending makes, or the
  // problems of a name read whole.
  bool Name(const char* which, const ScriptName& read, HeadEnding ending, std::string* name) {
    const std::string the = std::string("the ") + which + " name";
    switch (ending) {
      case HeadEndsBeforeLength:
        return Stop(read.at, "the script ends where " + the + "'s length belongs");
      case HeadEndsByLength:
        return Stop(read.at, the + "'s length is 0" + NeverApplied(entryStart_));
      case HeadNameCutShort:
        return Stop(read.at, the + " is cut short by the end of the script");
      case HeadNameWithoutNul:
        return Stop(read.at, the + " does not end with a NUL" + NeverApplied(entryStart_));
      default:
        break;
    }
    *name = read.Text();  // up to the first NUL, as the updater takes it
    const uint32_t length = static_cast<uint32_t>(read.length);
    if (name->size() + 1 != length) {
      Problem(read.at, the + " '" + *name + "' is followed by " + std::to_string(length - 1 - name->size()) +
                           " hidden bytes behind its NUL");
    }
    if (const char* refused = CheckEntryName(name->c_str())) {
      Problem(read.at, std::string("the updater refuses the ") + which + " name '" + *name + "': " + refused);
    }
    return true;
  }

  static void CountRecord(const uint8_t* /*group*/, const uint8_t* record, void* context) {
    DiffCounts* counts = static_cast<DiffCounts*>(context);
    const BookMove move{static_cast<uint16_t>(LoadU16(record)), static_cast<uint16_t>(LoadU16(record + 2)),
                        LoadU32(record + 4)};
    if (IsDeleteMarker(move)) {
      ++counts->deletes;
    } else {
      ++counts->puts;
    }
  }

  // The list is framed by the updater's own rules; a list that the end of
  // the script cuts short is sound to the updater but not as a package
  // should be.
  bool List(ScriptList* list) {
    list->offset = at_;
    const DiffListFrame frame = FrameBookDiffList(script_, size_, at_, CountRecord, &list->counts);
    switch (frame.ending) {
      case ListTerminated:
        break;
      case ListEndsBeforeTerminator:
        return Stop(frame.cutAt, "the script ends inside a BookDiff list, before its terminator");
      case ListEndsInTerminator:
        return Stop(frame.cutAt, "the script ends inside a BookDiff list's terminator");
      case ListEndsInGroupHead:
        return Stop(frame.cutAt, "a BookDiff group's head is cut short by the end of the script");
      case ListEndsInRecords:
        return Stop(frame.cutAt, "a BookDiff group of " + std::to_string(frame.cutCount) +
                                     " records is cut short by the end of the script");
    }
    list->counts.groups = frame.groups;
    at_ = frame.end;
    list->size = at_ - list->offset;
    return true;
  }

  bool Payload(ScriptEntry* entry) {
    if (entry->kind == KindFile) {
      if (Left() < 4) return Stop(at_, "the script ends where the file's length belongs");
      entry->fileSize = LoadU32(script_ + at_);
      if (Left() - 4 < entry->fileSize) {
        return Stop(at_, "the file's " + std::to_string(entry->fileSize) +
                             " bytes run past the end of the script (" + std::to_string(Left() - 4) +
                             " remain)");
      }
      at_ += 4 + entry->fileSize;
      return true;
    }
    int32_t lists = 1;
    if (entry->kind == KindDividedBook) {
      if (Left() < 4) return Stop(at_, "the script ends where the divided book's leading word belongs");
      at_ += 4;
      lists = DivisionCount;
    }
    entry->lists.resize(static_cast<size_t>(lists));
    for (ScriptList& list : entry->lists) {
      if (!List(&list)) return false;
    }
    return true;
  }

  bool Entry() {
    entryStart_ = at_;
    ++entry_;
    stream_.Seek(static_cast<int32_t>(at_), false);
    EntryHead head;
    const HeadEnding ending = ReadEntryHead(&stream_, &head);
    if (ending == HeadEndsBeforeKind) {
      return Stop(at_,
                  std::to_string(Left()) + " stray bytes at the end of the script, too few for an entry");
    }
    if (ending == HeadEndsByKind) {
      return Stop(at_, "kind " + std::to_string(head.kind) + " is none of 0 (book), 1 (divided book), 2 (file)" +
                           NeverApplied(at_));
    }
    ScriptEntry entry;
    entry.offset = at_;
    entry.kind = head.kind;
    if (!Name("old", head.oldName, head.inNewName ? HeadRead : ending, &entry.oldName) ||
        !Name("new", head.newName, ending, &entry.newName)) {
      return false;
    }
    at_ = static_cast<uint32_t>(stream_.Tell());
    if (entry_ > MaxPackageEntries) {
      return Stop(entry.offset, "the updater takes at most " + std::to_string(MaxPackageEntries) +
                                    " entries in one package; this one and all behind it are refused");
    }
    if (SameEntryName(entry.oldName.c_str(), entry.newName.c_str())) {
      Problem(entry.offset, "both names denote the same file, '" + entry.newName +
                                "'; writing it would cut the file to be read");
    } else if (CheckEntryNames(entry.oldName.c_str(), entry.newName.c_str()) == nullptr) {
      if (const char* refused = names_.Add(entry.oldName, entry.newName))
        Problem(entry.offset, std::string("the updater refuses the entry: ") + refused);
    }
    entry.payloadOffset = at_;
    if (!Payload(&entry)) return false;
    entry.payloadSize = at_ - entry.payloadOffset;
    walk_.entries.push_back(std::move(entry));
    return true;
  }

  const uint8_t* script_;
  uint32_t size_;
  uint32_t at_ = 0;
  uint32_t entryStart_ = 0;
  int32_t entry_ = 0;
  MemoryStream stream_;  // the reader's view of the script
  ScriptNames names_;    // those of the entries so far
  ScriptWalk walk_;
};

}  // namespace

ScriptWalk WalkScript(const uint8_t* script, uint32_t size) { return Walker(script, size).Run(); }
