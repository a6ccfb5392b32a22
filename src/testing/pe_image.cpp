#include "testing/pe_image.h"

#include "testing/resource_cursor.h"

bool ParsePeImage(const std::vector<uint8_t>& file, PeImage* image) {
  if (file.size() < 64 || file[0] != 'M' || file[1] != 'Z') return false;
  ResourceCursor c(file.data(), file.size());
  c.seek(0x3C);
  const uint32_t peOffset = c.u32();
  c.seek(peOffset);
  if (c.u32() != 0x00004550) return false;  // "PE\0\0"
  c.u16();                                  // machine
  const uint16_t sectionCount = c.u16();
  c.seek(c.pos() + 12);
  const uint16_t optionalSize = c.u16();
  c.u16();  // characteristics
  const size_t optional = c.pos();
  const uint16_t magic = c.u16();
  // The data directories follow 96 (PE32) or 112 (PE32+) bytes of fields.
  const size_t directories = optional + (magic == 0x20B ? 112 : magic == 0x10B ? 96 : 0);
  if (directories == optional) return false;
  c.seek(directories - 4);
  const uint32_t directoryCount = c.u32();
  if (!c.ok() || directoryCount > 16 || optionalSize < directories - optional + directoryCount * 8) return false;
  PeImage read;
  for (uint32_t i = 0; i < directoryCount; ++i) {
    const uint32_t rva = c.u32();
    read.directories.emplace_back(rva, c.u32());
  }
  c.seek(optional + optionalSize);
  for (uint16_t i = 0; i < sectionCount && c.ok(); ++i) {
    c.seek(c.pos() + 8);  // name
    PeSection s;
    s.virtualSize = c.u32();
    s.virtualAddress = c.u32();
    s.rawSize = c.u32();
    s.rawOffset = c.u32();
    c.seek(c.pos() + 16);
    read.sections.push_back(s);
  }
  if (!c.ok()) return false;
  *image = std::move(read);
  return true;
}

bool PeRvaToOffset(const PeImage& image, uint32_t rva, uint64_t* offset) {
  for (const PeSection& s : image.sections) {
    const uint32_t span = s.virtualSize > s.rawSize ? s.virtualSize : s.rawSize;
    if (rva >= s.virtualAddress && rva - s.virtualAddress < span) {
      if (rva - s.virtualAddress >= s.rawSize) return false;  // not stored in the file
      *offset = static_cast<uint64_t>(s.rawOffset) + (rva - s.virtualAddress);
      return true;
    }
  }
  return false;
}

namespace {

// A NUL-terminated ASCII name at a relative virtual address.
bool NameAt(const std::vector<uint8_t>& file, const PeImage& image, uint32_t rva, std::string* name) {
  uint64_t offset = 0;
  if (!PeRvaToOffset(image, rva, &offset)) return false;
  name->clear();
  for (uint64_t at = offset; at < file.size(); ++at) {
    if (file[static_cast<size_t>(at)] == 0) return !name->empty();
    name->push_back(static_cast<char>(file[static_cast<size_t>(at)]));
  }
  return false;
}

// A table of descriptors of `size` bytes each, ended by one of zeros, whose
// DLL name's address is the u32 at `nameField`.
bool ReadDescriptors(const std::vector<uint8_t>& file, const PeImage& image, size_t directory, size_t size,
                     size_t nameField, std::vector<std::string>* dlls) {
  if (directory >= image.directories.size() || image.directories[directory].first == 0) return true;
  uint64_t offset = 0;
  if (!PeRvaToOffset(image, image.directories[directory].first, &offset)) return false;
  for (;; offset += size) {
    if (offset > file.size() || file.size() - offset < size) return false;
    ResourceCursor c(file.data(), file.size());
    bool empty = true;
    for (size_t i = 0; i < size; ++i) empty = empty && file[static_cast<size_t>(offset + i)] == 0;
    if (empty) return true;
    c.seek(static_cast<size_t>(offset + nameField));
    std::string name;
    if (!NameAt(file, image, c.u32(), &name)) return false;
    dlls->push_back(name);
  }
}

}  // namespace

bool ReadPeImports(const std::vector<uint8_t>& file, std::vector<std::string>* dlls) {
  PeImage image;
  if (!ParsePeImage(file, &image)) return false;
  dlls->clear();
  // IMAGE_IMPORT_DESCRIPTOR: 20 bytes, the name at 12;
  // IMAGE_DELAYLOAD_DESCRIPTOR: 32 bytes, the name at 4.
  return ReadDescriptors(file, image, PeImportDirectory, 20, 12, dlls) &&
         ReadDescriptors(file, image, PeDelayImportDirectory, 32, 4, dlls);
}
