// A bounds-checked little-endian reader over a byte range, shared by the
// readers of compiled resources (dialog templates, version resources): once
// a read would pass the end, it stays failed and every read gives 0.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "testing/dialog_resource.h"

class ResourceCursor {
 public:
  ResourceCursor(const uint8_t* data, size_t size) : data_(data), size_(size) {}

  bool ok() const { return ok_; }
  size_t pos() const { return pos_; }
  void seek(size_t pos) {
    if (pos > size_) ok_ = false;
    else pos_ = pos;
  }
  void align(size_t unit) { seek((pos_ + unit - 1) / unit * unit); }

  uint16_t u16() {
    if (!need(2)) return 0;
    uint16_t v = static_cast<uint16_t>(data_[pos_] | data_[pos_ + 1] << 8);
    pos_ += 2;
    return v;
  }
  uint32_t u32() {
    uint32_t low = u16();
    return low | static_cast<uint32_t>(u16()) << 16;
  }
  int16_t i16() { return static_cast<int16_t>(u16()); }

  // A NUL-terminated UTF-16 string.
  std::u16string text() {
    std::u16string s;
    for (;;) {
      uint16_t c = u16();
      if (!ok_ || c == 0) return s;
      s.push_back(static_cast<char16_t>(c));
    }
  }
  // The sz_Or_Ord of templates and .res headers: 0xFFFF and an ordinal, or
  // a string.
  ResourceId id() {
    ResourceId r;
    if (!need(2)) return r;
    if (data_[pos_] == 0xFF && data_[pos_ + 1] == 0xFF) {
      pos_ += 2;
      r.ordinal = u16();
    } else {
      r.isName = true;
      r.name = text();
    }
    return r;
  }

 private:
  bool need(size_t n) {
    if (!ok_ || size_ - pos_ < n) ok_ = false;
    return ok_;
  }

  const uint8_t* data_;
  size_t size_;
  size_t pos_ = 0;
  bool ok_ = true;
};
