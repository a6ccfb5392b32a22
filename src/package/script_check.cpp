#include "package/script_check.h"

#include "package/script_reader.h"
#include "package/update_package.h"
#include "stream/byte_stream.h"

int32_t CheckPackageScript(const uint8_t* script, uint32_t length, ApplyReport* report) {
  ApplyReport unused;
  if (report == nullptr) report = &unused;
  *report = ApplyReport();
  if (script == nullptr) return ApplyOk;
  // The stream only reads the caller's block.
  MemoryStream stream;
  stream.Attach(const_cast<uint8_t*>(script), length, true);
  ScriptNames names;
  EntryHead head;
  for (int32_t index = 0; static_cast<uint32_t>(stream.Tell()) < length; ++index) {
    const char* cause = nullptr;
    const int32_t result = ReadCheckedEntry(&stream, index, &names, &head, &cause);
    if (result == EntryEndsScript) return ApplyOk;
    if (result != 0) {
      report->failedEntry = index + 1;
      report->failedKind = head.kind;
      report->oldName = head.oldName.Text();
      report->newName = head.newName.Text();
      report->cause = cause;
      return result;
    }
    const uint32_t payload = static_cast<uint32_t>(stream.Tell());
    stream.Seek(static_cast<int32_t>(PayloadEnd(script, length, payload, head.kind)), false);
  }
  return ApplyOk;
}
