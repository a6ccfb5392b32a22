#include "testing/version_resource.h"

#include <cstddef>
#include <utility>

#include "testing/resource_cursor.h"

namespace {

constexpr uint32_t FixedInfoSignature = 0xFEEF04BD;
constexpr size_t FixedInfoSize = 52;

// One node of the version tree: u16 length (the whole node), u16 value
// length (bytes for binary values, characters for text), u16 type (0
// binary, 1 text), its key, then its value and its children, each on a
// 4-byte boundary.
struct VersionNode {
  std::u16string key;
  bool isText = false;
  std::vector<uint8_t> value;
  std::vector<VersionNode> children;
};

size_t RoundUp4(size_t at) { return (at + 3) / 4 * 4; }

// Parses the node that starts at `start` and lies wholly before `limit`.
bool ParseNode(const std::vector<uint8_t>& data, size_t start, size_t limit, int depth, VersionNode* node) {
  if (depth > 3 || limit > data.size() || start > limit) return false;
  ResourceCursor c(data.data(), limit);
  c.seek(start);
  const uint16_t length = c.u16();
  const uint16_t valueLength = c.u16();
  const uint16_t type = c.u16();
  if (!c.ok() || type > 1 || length < 6 || length > limit - start) return false;
  const size_t end = start + length;
  ResourceCursor inside(data.data(), end);
  inside.seek(c.pos());
  node->key = inside.text();
  if (!inside.ok()) return false;  // no NUL before the node's end
  node->isText = type == 1;
  const size_t valueStart = RoundUp4(inside.pos());
  const size_t valueBytes = node->isText ? size_t{valueLength} * 2 : valueLength;
  if (valueBytes > 0 && (valueStart > end || valueBytes > end - valueStart)) return false;
  if (valueBytes > 0) {
    node->value.assign(data.begin() + static_cast<ptrdiff_t>(valueStart),
                       data.begin() + static_cast<ptrdiff_t>(valueStart + valueBytes));
  }
  for (size_t at = RoundUp4(valueBytes > 0 ? valueStart + valueBytes : inside.pos()); at < end;) {
    VersionNode child;
    if (!ParseNode(data, at, end, depth + 1, &child)) return false;
    at = RoundUp4(at + (data[at] | static_cast<size_t>(data[at + 1]) << 8));
    node->children.push_back(std::move(child));
  }
  return true;
}

// A text value: the characters up to the first NUL, or all of them.
std::u16string TextValue(const VersionNode& node) {
  ResourceCursor c(node.value.data(), node.value.size());
  return c.text();
}

}  // namespace

bool ParseVersionResource(const std::vector<uint8_t>& data, VersionResource* version) {
  VersionNode root;
  if (!ParseNode(data, 0, data.size(), 0, &root) || root.key != u"VS_VERSION_INFO") return false;
  if (root.value.size() != FixedInfoSize) return false;
  ResourceCursor fixed(root.value.data(), root.value.size());
  if (fixed.u32() != FixedInfoSignature) return false;
  VersionResource v;
  fixed.u32();  // structure version
  for (int half = 0; half < 2; ++half) {
    uint16_t* numbers = half == 0 ? v.fileVersion : v.productVersion;
    const uint32_t high = fixed.u32(), low = fixed.u32();
    numbers[0] = static_cast<uint16_t>(high >> 16);
    numbers[1] = static_cast<uint16_t>(high);
    numbers[2] = static_cast<uint16_t>(low >> 16);
    numbers[3] = static_cast<uint16_t>(low);
  }
  fixed.u32();  // flags mask
  v.fileFlags = fixed.u32();
  v.fileOs = fixed.u32();
  v.fileType = fixed.u32();

  for (const VersionNode& block : root.children) {
    if (block.key == u"StringFileInfo") {
      for (const VersionNode& table : block.children) {
        auto& strings = v.strings[table.key];
        for (const VersionNode& string : table.children) strings[string.key] = TextValue(string);
      }
    } else if (block.key == u"VarFileInfo") {
      for (const VersionNode& var : block.children) {
        if (var.key != u"Translation" || var.value.size() % 4 != 0) return false;
        ResourceCursor pairs(var.value.data(), var.value.size());
        for (size_t i = 0; i < var.value.size() / 4; ++i) {
          const uint16_t language = pairs.u16();
          v.translations.emplace_back(language, pairs.u16());
        }
      }
    } else {
      return false;
    }
  }
  *version = std::move(v);
  return true;
}
