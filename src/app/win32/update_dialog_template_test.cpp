// The compiled dialog template of the updater, read back from the compiled
// resource script and, when FIX_UPDATER_EXES names them (paths separated by
// ':'), from the built executables.
#include <cstddef>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "app/update_dialog_ids.h"
#include "testing/compiled_files.h"
#include "testing/dialog_resource.h"
#include "testing/scratch_folder.h"

namespace {

// The Win32 values the template is made of.
constexpr uint16_t RtDialog = 5;
constexpr uint16_t LangJapanese = 1041;
constexpr uint32_t WsPopup = 0x80000000, WsChild = 0x40000000, WsVisible = 0x10000000, WsCaption = 0x00C00000,
                   WsSysMenu = 0x00080000, WsTabStop = 0x00010000;
constexpr uint32_t DsSetFont = 0x40, DsModalFrame = 0x80, DsCenter = 0x800;
constexpr uint32_t BsPushButton = 0, BsDefPushButton = 1;
constexpr uint32_t EsMultiline = 0x4, EsAutoVScroll = 0x40, EsReadOnly = 0x800, EsWantReturn = 0x1000;
constexpr uint16_t ButtonClass = 0x80, EditClass = 0x81;

struct ExpectedItem {
  uint16_t id;
  uint16_t windowClass;
  int16_t x, y, cx, cy;
  uint32_t style;
  std::u16string text;
};

const ExpectedItem ExpectedItems[] = {
    {IDOK, ButtonClass, 48, 52, 50, 14, WsChild | WsVisible | WsTabStop | BsDefPushButton, u"OK"},
    {IDCANCEL, ButtonClass, 100, 52, 50, 14, WsChild | WsVisible | WsTabStop | BsPushButton, u"ｷｬﾝｾﾙ"},
    {IDC_MESSAGE, EditClass, 4, 0, 148, 48,
     WsChild | WsVisible | WsTabStop | EsMultiline | EsAutoVScroll | EsReadOnly | EsWantReturn, u""},
};

std::vector<std::string> TemplateSources() {
  std::vector<std::string> files = {FIX_UPDATE_DIALOG_RES};
  for (const std::string& path : CompiledWindowsPrograms("FIX_UPDATER_EXES")) files.push_back(path);
  return files;
}

class UpdateDialogTemplate : public testing::TestWithParam<std::string> {
 protected:
  // Reads the template out of the file under test.
  DialogTemplate Load() {
    const std::vector<uint8_t> file = test_support::ReadBytes(GetParam());
    EXPECT_FALSE(file.empty()) << "cannot read " << GetParam();
    std::vector<uint8_t> data;
    EXPECT_TRUE(FindResourceData(file, RtDialog, IDD_UPDATE, LangJapanese, &data))
        << "no Japanese dialog 102 in " << GetParam();
    DialogTemplate dialog;
    EXPECT_TRUE(ParseDialogTemplate(data, &dialog)) << "not a classic dialog template";
    return dialog;
  }
};

TEST_P(UpdateDialogTemplate, HasTheDialogsFrameCaptionAndFont) {
  const DialogTemplate d = Load();
  EXPECT_EQ(d.style, WsPopup | WsCaption | WsSysMenu | DsModalFrame | DsSetFont | DsCenter);
  EXPECT_EQ(d.exStyle, 0u);
  EXPECT_EQ(d.x, 0);
  EXPECT_EQ(d.y, 0);
  EXPECT_EQ(d.cx, 159);
  EXPECT_EQ(d.cy, 71);
  // An empty string in place of the menu and the class: none, the
  // standard dialog class.
  EXPECT_TRUE(d.menu.isName && d.menu.name.empty());
  EXPECT_TRUE(d.windowClass.isName && d.windowClass.name.empty());
  EXPECT_TRUE(d.caption == u"盤燈アップデート");
  EXPECT_TRUE(d.hasFont);
  EXPECT_EQ(d.pointSize, 9);
  EXPECT_TRUE(d.face == u"ＭＳ Ｐゴシック");
}

TEST_P(UpdateDialogTemplate, HasTheThreeControlsInTabOrder) {
  const DialogTemplate d = Load();
  ASSERT_EQ(d.items.size(), std::size(ExpectedItems));
  for (size_t i = 0; i < d.items.size(); ++i) {
    const DialogItem& item = d.items[i];
    const ExpectedItem& want = ExpectedItems[i];
    SCOPED_TRACE("control " + std::to_string(i) + ", id " + std::to_string(want.id));
    EXPECT_EQ(item.id, want.id);
    EXPECT_FALSE(item.windowClass.isName);
    EXPECT_EQ(item.windowClass.ordinal, want.windowClass);
    EXPECT_EQ(item.x, want.x);
    EXPECT_EQ(item.y, want.y);
    EXPECT_EQ(item.cx, want.cx);
    EXPECT_EQ(item.cy, want.cy);
    EXPECT_EQ(item.style, want.style) << std::hex << item.style << " != " << want.style;
    EXPECT_EQ(item.exStyle, 0u);
    EXPECT_TRUE(item.text.isName);
    EXPECT_TRUE(item.text.name == want.text);
    EXPECT_EQ(item.creationDataSize, 0);
  }
}

INSTANTIATE_TEST_SUITE_P(CompiledFiles, UpdateDialogTemplate, testing::ValuesIn(TemplateSources()),
                         [](const testing::TestParamInfo<std::string>& info) {
                           return "file" + std::to_string(info.index);
                         });

// The reader itself must refuse what is not a sound classic template.
TEST(DialogTemplateReader, RefusesExtendedAndCutTemplates) {
  std::vector<uint8_t> extended = {1, 0, 0xFF, 0xFF, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
  DialogTemplate d;
  EXPECT_FALSE(ParseDialogTemplate(extended, &d));

  std::ifstream in(FIX_UPDATE_DIALOG_RES, std::ios::binary);
  std::vector<uint8_t> file((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  std::vector<uint8_t> data;
  ASSERT_TRUE(FindResourceData(file, RtDialog, IDD_UPDATE, LangJapanese, &data));
  EXPECT_FALSE(FindResourceData(file, RtDialog, IDD_UPDATE, 1033, &data));
  ASSERT_TRUE(FindResourceData(file, RtDialog, IDD_UPDATE, LangJapanese, &data));
  for (size_t length = 0; length < data.size(); ++length) {
    std::vector<uint8_t> cut(data.begin(), data.begin() + static_cast<ptrdiff_t>(length));
    EXPECT_FALSE(ParseDialogTemplate(cut, &d)) << length;
  }
  for (size_t length = 0; length < file.size(); length += 3) {
    std::vector<uint8_t> cut(file.begin(), file.begin() + static_cast<ptrdiff_t>(length));
    std::vector<uint8_t> found;
    if (FindResourceData(cut, RtDialog, IDD_UPDATE, LangJapanese, &found)) {
      EXPECT_EQ(found, data) << length;
    }
  }
}

}  // namespace
