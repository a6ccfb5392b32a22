#include "testing/dialog_resource.h"

#include <cstddef>
#include <cstring>

#include "testing/pe_image.h"
#include "testing/resource_cursor.h"

namespace {

constexpr uint32_t DsSetFont = 0x40;

bool IsOrdinal(const ResourceId& id, uint16_t value) { return !id.isName && id.ordinal == value; }

bool CopyRange(const std::vector<uint8_t>& file, uint64_t offset, uint64_t size, std::vector<uint8_t>* data) {
  if (offset > file.size() || size > file.size() - offset) return false;
  data->assign(file.begin() + static_cast<ptrdiff_t>(offset),
               file.begin() + static_cast<ptrdiff_t>(offset + size));
  return true;
}

// A .res file: a run of entries, each a header (data size, header size,
// type, name, version and flags, language, ...) and its data, both padded
// to 4 bytes. The first entry is the empty one that marks the format.
bool FindInRes(const std::vector<uint8_t>& file, uint16_t type, uint16_t name, uint16_t language,
               std::vector<uint8_t>* data) {
  static const uint8_t marker[] = {0, 0, 0, 0, 0x20, 0, 0, 0, 0xFF, 0xFF, 0, 0, 0xFF, 0xFF, 0, 0};
  if (file.size() < 32 || memcmp(file.data(), marker, sizeof marker) != 0) return false;
  ResourceCursor c(file.data(), file.size());
  while (c.ok() && c.pos() < file.size()) {
    const size_t start = c.pos();
    const uint32_t dataSize = c.u32();
    const uint32_t headerSize = c.u32();
    ResourceId entryType = c.id();
    ResourceId entryName = c.id();
    c.align(4);
    c.u32();  // data version
    c.u16();  // memory flags
    const uint16_t entryLanguage = c.u16();
    if (!c.ok() || headerSize < 32 || headerSize > file.size() - start) return false;
    const uint64_t dataStart = start + static_cast<uint64_t>(headerSize);
    if (IsOrdinal(entryType, type) && IsOrdinal(entryName, name) && entryLanguage == language)
      return CopyRange(file, dataStart, dataSize, data);
    const uint64_t next = (dataStart + dataSize + 3) / 4 * 4;
    if (next > file.size()) return false;
    c.seek(static_cast<size_t>(next));
  }
  return false;
}

// One level of the resource directory: the offset (from the directory's
// start) of the entry whose numeric id is `id`, with its subdirectory bit.
bool FindDirectoryEntry(const std::vector<uint8_t>& file, uint64_t root, uint32_t directory, uint16_t id,
                        uint32_t* target) {
  ResourceCursor c(file.data(), file.size());
  c.seek(static_cast<size_t>(root + directory + 12));
  const uint16_t named = c.u16();
  const uint16_t numbered = c.u16();
  for (uint32_t i = 0; c.ok() && i < static_cast<uint32_t>(named) + numbered; ++i) {
    const uint32_t nameField = c.u32();
    const uint32_t offsetField = c.u32();
    if (i >= named && (nameField & 0x80000000u) == 0 && nameField == id) {
      *target = offsetField;
      return c.ok();
    }
  }
  return false;
}

bool FindInPe(const std::vector<uint8_t>& file, uint16_t type, uint16_t name, uint16_t language,
              std::vector<uint8_t>* data) {
  PeImage image;
  if (!ParsePeImage(file, &image) || image.directories.size() <= PeResourceDirectory) return false;
  const uint32_t resourceRva = image.directories[PeResourceDirectory].first;
  uint64_t root = 0;
  if (resourceRva == 0 || !PeRvaToOffset(image, resourceRva, &root)) return false;

  // Three levels: type, name, language; the first two lead to directories,
  // the last to a data entry.
  uint32_t entry = 0;
  if (!FindDirectoryEntry(file, root, 0, type, &entry) || !(entry & 0x80000000u)) return false;
  if (!FindDirectoryEntry(file, root, entry & 0x7FFFFFFFu, name, &entry) || !(entry & 0x80000000u))
    return false;
  if (!FindDirectoryEntry(file, root, entry & 0x7FFFFFFFu, language, &entry) || (entry & 0x80000000u))
    return false;
  ResourceCursor d(file.data(), file.size());
  d.seek(static_cast<size_t>(root + entry));
  const uint32_t dataRva = d.u32();
  const uint32_t dataSize = d.u32();
  uint64_t offset = 0;
  return d.ok() && PeRvaToOffset(image, dataRva, &offset) && CopyRange(file, offset, dataSize, data);
}

}  // namespace

bool FindResourceData(const std::vector<uint8_t>& file, uint16_t type, uint16_t name, uint16_t language,
                      std::vector<uint8_t>* data) {
  return FindInRes(file, type, name, language, data) || FindInPe(file, type, name, language, data);
}

bool ParseDialogTemplate(const std::vector<uint8_t>& data, DialogTemplate* dialog) {
  ResourceCursor c(data.data(), data.size());
  DialogTemplate d;
  d.style = c.u32();
  d.exStyle = c.u32();
  // DLGTEMPLATEEX starts with the version 1 and the signature 0xFFFF.
  if ((d.style & 0xFFFF) == 1 && (d.style >> 16) == 0xFFFF) return false;
  const uint16_t count = c.u16();
  d.x = c.i16();
  d.y = c.i16();
  d.cx = c.i16();
  d.cy = c.i16();
  d.menu = c.id();
  d.windowClass = c.id();
  d.caption = c.text();
  if (d.style & DsSetFont) {
    d.hasFont = true;
    d.pointSize = c.u16();
    d.face = c.text();
  }
  for (uint16_t i = 0; i < count && c.ok(); ++i) {
    c.align(4);  // every DLGITEMTEMPLATE starts on a DWORD boundary
    DialogItem item;
    item.style = c.u32();
    item.exStyle = c.u32();
    item.x = c.i16();
    item.y = c.i16();
    item.cx = c.i16();
    item.cy = c.i16();
    item.id = c.u16();
    item.windowClass = c.id();
    item.text = c.id();
    item.creationDataSize = c.u16();
    // In the classic form the size counts its own word too.
    if (item.creationDataSize > 2) c.seek(c.pos() + item.creationDataSize - 2);
    d.items.push_back(item);
  }
  if (!c.ok()) return false;
  *dialog = std::move(d);
  return true;
}
