#include "testing/update_data_writer.h"

#include <zlib.h>

#include <cstdio>

namespace {

void AppendU32(std::vector<uint8_t>* out, uint32_t value) {
  for (int shift = 0; shift < 32; shift += 8) out->push_back(static_cast<uint8_t>(value >> shift));
}

// A name as the script stores it: its length with the NUL, then the bytes
// and the NUL.
void AppendName(std::vector<uint8_t>* out, const std::string& name) {
  out->push_back(static_cast<uint8_t>(name.size() + 1));
  out->insert(out->end(), name.begin(), name.end());
  out->push_back(0);
}

}  // namespace

void AppendFileEntry(std::vector<uint8_t>* script, const std::string& oldName, const std::string& newName,
                     const std::string& content) {
  AppendU32(script, 2);  // KindFile
  AppendName(script, oldName);
  AppendName(script, newName);
  AppendU32(script, static_cast<uint32_t>(content.size()));
  script->insert(script->end(), content.begin(), content.end());
}

void AppendBookEntry(std::vector<uint8_t>* script, const std::string& oldName, const std::string& newName) {
  AppendU32(script, 0);  // KindBook
  AppendName(script, oldName);
  AppendName(script, newName);
  AppendU32(script, 0);  // the diff list's terminator
}

bool WriteUpdateDataFile(const std::string& path, const std::vector<uint8_t>& script) {
  uLongf packedSize = compressBound(static_cast<uLong>(script.size()));
  std::vector<uint8_t> packed(packedSize);
  if (compress(packed.data(), &packedSize, script.data(), static_cast<uLong>(script.size())) != Z_OK) {
    return false;
  }
  std::vector<uint8_t> file;
  AppendU32(&file, static_cast<uint32_t>(packedSize));
  AppendU32(&file, static_cast<uint32_t>(script.size()));
  file.insert(file.end(), packed.begin(), packed.begin() + static_cast<long>(packedSize));
  FILE* out = fopen(path.c_str(), "wb");
  if (out == nullptr) return false;
  const bool written = fwrite(file.data(), 1, file.size(), out) == file.size();
  return fclose(out) == 0 && written;
}
