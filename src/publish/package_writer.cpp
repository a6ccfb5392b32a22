#include "publish/package_writer.h"

#include "book/book_format.h"
#include "package/entry_path.h"
#include "package/update_package.h"
#include "publish/packed_block.h"

const char* CheckPackageName(const std::string& name) {
  if (name.empty()) return "the name is empty";
  if (name.size() > 254) return "the name is longer than 254 bytes";
  if (name.find('\0') != std::string::npos) return "the name holds a NUL byte";
  return CheckEntryName(name.c_str());
}

void AppendEntryHead(std::vector<uint8_t>* script, int32_t kind, const std::string& oldName,
                     const std::string& newName) {
  AppendU32(script, static_cast<uint32_t>(kind));
  for (const std::string* name : {&oldName, &newName}) {
    AppendU8(script, static_cast<uint32_t>(name->size() + 1));
    script->insert(script->end(), name->begin(), name->end());
    AppendU8(script, 0);
  }
}

bool AppendFileEntry(std::vector<uint8_t>* script, const std::string& oldName, const std::string& newName,
                     const std::vector<uint8_t>& content) {
  if (content.size() > MaxScriptSize) return false;
  AppendEntryHead(script, KindFile, oldName, newName);
  AppendU32(script, static_cast<uint32_t>(content.size()));
  script->insert(script->end(), content.begin(), content.end());
  return true;
}

bool MakeUpdateDataFile(const std::vector<uint8_t>& script, std::vector<uint8_t>* file, int32_t threads) {
  if (script.size() > MaxScriptSize) return false;
  return PackBlock(script.data(), script.size(), file, threads);
}
