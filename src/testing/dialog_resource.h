// Reads a compiled dialog template back out of a resource file (.res) or a
// Windows executable (PE, 32 or 64 bit), so that the tests can check what
// the updater really carries. Portable: it needs no Windows headers and
// treats its input as hostile (every offset and length is checked).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// A resource name or type, or a template's menu, class or title: a number
// (ordinal), or a string when `isName`. An empty string stands for none.
struct ResourceId {
  bool isName = false;
  uint16_t ordinal = 0;
  std::u16string name;
};

// One control of a classic (DIALOG) template.
struct DialogItem {
  uint32_t style = 0;
  uint32_t exStyle = 0;
  int16_t x = 0, y = 0, cx = 0, cy = 0;
  uint16_t id = 0;
  ResourceId windowClass;  // 0x80 button, 0x81 edit, ... or a class name
  ResourceId text;         // the title: a string, or a resource ordinal
  uint16_t creationDataSize = 0;
};

// A classic template: the DLGTEMPLATE header, its strings and its controls.
struct DialogTemplate {
  uint32_t style = 0;
  uint32_t exStyle = 0;
  int16_t x = 0, y = 0, cx = 0, cy = 0;
  ResourceId menu;         // ordinal 0: no menu
  ResourceId windowClass;  // ordinal 0: the standard dialog class
  std::u16string caption;
  bool hasFont = false;  // present exactly when DS_SETFONT is set
  uint16_t pointSize = 0;
  std::u16string face;
  std::vector<DialogItem> items;
};

// Finds the resource of `type`, `name` and `language` in `file`, a .res file
// or a PE image, and copies its data to `data`. True when found; false when
// the file is neither form, is damaged, or holds no such resource.
bool FindResourceData(const std::vector<uint8_t>& file, uint16_t type, uint16_t name, uint16_t language,
                      std::vector<uint8_t>* data);

// Parses a classic dialog template. False for an extended (DIALOGEX)
// template or a damaged one.
bool ParseDialogTemplate(const std::vector<uint8_t>& data, DialogTemplate* dialog);
