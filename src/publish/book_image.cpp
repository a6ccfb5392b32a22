#include "publish/book_image.h"

#include <cstring>
#include <new>
#include <utility>

#include "book/book_body.h"
#include "book/book_format.h"
#include "book/divided_book.h"
#include "book/table_packing.h"
#include "publish/packed_block.h"

bool BookLayoutOfMagic(const std::vector<uint8_t>& bytes, BookLayout* layout) {
  if (bytes.size() < 8) return false;
  if (memcmp(bytes.data(), BookFileMagic, 8) == 0) {
    *layout = LayoutSingle;
    return true;
  }
  if (memcmp(bytes.data(), DividedBookMagic, 8) == 0) {
    *layout = LayoutDivided;
    return true;
  }
  return false;
}

bool ParseBookImage(std::vector<uint8_t> bytes, BookImage* image, std::string* error) {
  BookLayout layout;
  if (!BookLayoutOfMagic(bytes, &layout)) {
    *error = "not a book file: its first 8 bytes are neither \"JoSeKi5\" nor \"JSKDIV1\" with their NUL";
    return false;
  }
  if (layout == LayoutDivided && bytes.size() < DividedFirstBlock) {
    *error =
        "a divided book too short for its table of 64 offsets (" + std::to_string(bytes.size()) + " bytes)";
    return false;
  }
  image->layout = layout;
  image->bytes = std::move(bytes);
  return true;
}

int32_t BookBodyCount(const BookImage& image) { return image.layout == LayoutDivided ? DivisionCount : 1; }

std::string BookBodyName(const BookImage& image, int32_t body) {
  return image.layout == LayoutDivided ? "division " + std::to_string(body) : std::string("the body");
}

uint32_t BookBodyOffset(const BookImage& image, int32_t body) {
  if (image.layout == LayoutSingle) return 8;
  return LoadU32(image.bytes.data() + DividedTableOffset + 4 * body);
}

JosekiTablePtr LoadBookBody(const BookImage& image, int32_t body, std::string* error) {
  const std::string name = BookBodyName(image, body);
  const uint32_t offset = BookBodyOffset(image, body);
  if (image.layout == LayoutDivided && offset < DividedFirstBlock) {
    *error = name + ": its offset " + std::to_string(offset) + " lies inside the table of offsets";
    return nullptr;
  }
  if (offset > image.bytes.size()) {
    *error = name + ": its offset " + std::to_string(offset) + " lies past the end of the file";
    return nullptr;
  }
  const uint64_t available = image.bytes.size() - offset;
  std::vector<uint8_t> raw;
  const BlockCheck check = UnpackBlock(image.bytes.data() + offset, available, &raw);
  if (!BlockUsable(check)) {
    *error = name + ": " + DescribeBlock(check, available);
    return nullptr;
  }
  JosekiTablePtr table(LoadJosekiTable(raw.data(), static_cast<uint32_t>(raw.size())));
  if (!table) {
    *error =
        name + ": its raw body is damaged: its counts do not match its records (fixpack verify tells more)";
  }
  return table;
}

bool PackBookBody(JosekiTablePtr table, std::vector<uint8_t>* block, std::string* error, int32_t threads,
                  const PackProgress* progress) {
  ByteBlock raw, body;
  uint32_t length = 0;
  switch (PackTableBody(std::move(table), &raw, &body, &length, threads, progress)) {
    case TablePacked:
      break;
    case TableTooLarge:
      *error = "the book is too large for one body (its raw size passes 4 GiB)";
      return false;
    case TableNoMemory:
      *error = "out of memory for the body";
      return false;
    case TableNotStorable:
      *error = "the table cannot be stored";
      return false;
    default:
      *error = "the raw body cannot be packed";
      return false;
  }
  try {
    block->assign(body.bytes.get(), body.bytes.get() + length);
  } catch (const std::bad_alloc&) {
    *error = "out of memory for the body";
    return false;
  }
  return true;
}

std::vector<uint8_t> SingleBookBytes(const std::vector<uint8_t>& block) {
  std::vector<uint8_t> file(8 + block.size());
  memcpy(file.data(), BookFileMagic, 8);
  if (!block.empty()) memcpy(file.data() + 8, block.data(), block.size());
  return file;
}

bool DividedBookBytes(const std::vector<std::vector<uint8_t>>& blocks, std::vector<uint8_t>* file) {
  file->assign(DividedBookMagic, DividedBookMagic + 8);
  uint64_t offset = DividedFirstBlock;
  for (const std::vector<uint8_t>& block : blocks) {
    AppendU32(file, static_cast<uint32_t>(offset));
    offset += (block.size() + 3) & ~static_cast<uint64_t>(3);
    if (offset > 0x7FFFFFFF) return false;
  }
  for (const std::vector<uint8_t>& block : blocks) {
    file->insert(file->end(), block.begin(), block.end());
    file->resize((file->size() + 3) & ~static_cast<size_t>(3), 0);
  }
  return true;
}
