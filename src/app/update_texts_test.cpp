#include <iconv.h>

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "app/product_table.h"
#include "app/status_messages.h"
#include "app/update_texts.h"

namespace {

// The texts are written here in UTF-8 and converted at run time, so that a
// text mistyped in the program, or compiled without the code page 932
// conversion, shows up as a difference of bytes.
std::string Cp932(const char* utf8) {
  iconv_t convert = iconv_open("CP932", "UTF-8");
  EXPECT_NE(convert, reinterpret_cast<iconv_t>(-1));
  std::string in(utf8), out(in.size() * 2 + 4, '\0');
  char* from = in.data();
  char* to = out.data();
  size_t fromLeft = in.size(), toLeft = out.size();
  EXPECT_NE(iconv(convert, &from, &fromLeft, &to, &toLeft), static_cast<size_t>(-1)) << utf8;
  iconv_close(convert);
  out.resize(out.size() - toLeft);
  return out;
}

TEST(UpdateTextsTest, StatusMessagesAreTheSeventeenTexts) {
  const char* const expected[StatusMessageCount] = {
      u8"ファイルは正常に更新されました。",
      u8"更新作業が中断されました。",
      u8"予期せぬエラーが発生。更新ファイルが壊れているか、\r\nディスク容量が十分でない可能性があります。",
      u8"メモリが足りません。",
      u8"盤燈アプリケーションが見つかりません。\r\n手動でインストール先を指定してください",
      u8"OSのバージョンが不明です。",
      u8"定跡データ間のバージョンに不整合が発見されました。\r\n全ての定跡データのバージョンを1.00とみなしますが、\r\nアップデート中に警告メッセージが表示される可能性があります。",
      u8"データファイルが見つからないか壊れています。",
      u8"データファイルのコピーに失敗しました。",
      u8"カレントフォルダの変更に失敗しました。",
      u8"データファイルの展開に失敗しました。",
      u8"データファイルが壊れているようです。(症状１)",
      u8"データファイルが壊れているか、\r\n既にアップデート済のようです。",
      u8"アップデートは行われませんでした",
      u8"ファイルの後始末に失敗しました。\r\n(アップデートには成功しています。)",
      u8"Sound.dllが見つかりません。音声ファイルは展開されません。",
      u8"ファイルへのアクセスに失敗しました。アクセス権限がありません。必ず、盤燈をインストールしたユーザか管理者の権限で実行してください。",
  };
  for (int32_t code = 0; code < StatusMessageCount; ++code) {
    EXPECT_EQ(std::string(StatusMessages[code]), Cp932(expected[code])) << code;
  }
}

TEST(UpdateTextsTest, RunTextsAreCodePage932) {
  const struct {
    const char* text;
    const char* utf8;
  } cases[] = {
      {GreetingText,
       u8"本修正モジュールを実行する前に、盤燈や他のアプリケーションが終了していることを確認してください。よろしければ、ＯＫボタンを押してください。"},
      {QuestionAfterName, u8"を "},
      {QuestionAfterFolder, u8" にて見つけました。更新しますか？"},
      {DeclinedText, u8"更新を中断しました"},
      {UpdatingText, u8"更新しています。長い場合で１分程度はかかりますので、しばらくお待ちください…"},
      {SucceededText, u8"正常に更新されました"},
      {FailedText, u8"更新に失敗しました"},
      {NotFoundFormat, u8"%sが見つかりませんでした"},
      {FatalErrorCaption, u8"致命的なエラー"},
      {WindowCreateFailedText, u8"ウィンドウの作成に失敗しました"},
  };
  for (const auto& c : cases) EXPECT_EQ(std::string(c.text), Cp932(c.utf8)) << c.utf8;
  // One spelled out byte for byte, independent of any converter.
  EXPECT_EQ(std::string(FailedText),
            "\x8D\x58\x90\x56\x82\xC9\x8E\xB8\x94\x73\x82\xB5\x82\xDC\x82\xB5\x82\xBD");
}

TEST(ProductTableTest, FourRowsInOrderThenTheEndRow) {
  const struct {
    const char* displayName;
    const char* dataFileName;
    const char* appPathsName;
    const char* expectedExeName;
  } rows[] = {
      {u8"盤燈 青の巻", "upda.dat", "BantokiA.exe", "BANTOKIA.EXE"},
      {u8"盤燈 赤の巻", "updb.dat", "BantokiB.exe", "BANTOKIB.EXE"},
      {u8"盤燈 白の巻", "updc.dat", "BantokiC.exe", "BANTOKIC.EXE"},
      {u8"盤燈 黒の巻", "updd.dat", "BantokiD.exe", "BANTOKID.EXE"},
  };
  for (int i = 0; i < 4; ++i) {
    EXPECT_EQ(std::string(ProductTable[i].displayName), Cp932(rows[i].displayName)) << i;
    EXPECT_STREQ(ProductTable[i].dataFileName, rows[i].dataFileName);
    EXPECT_STREQ(ProductTable[i].appPathsName, rows[i].appPathsName);
    EXPECT_STREQ(ProductTable[i].expectedExeName, rows[i].expectedExeName);
  }
  EXPECT_EQ(ProductTable[4].displayName, nullptr);
  EXPECT_EQ(ProductTable[4].dataFileName, nullptr);
  EXPECT_EQ(ProductTable[4].appPathsName, nullptr);
  EXPECT_EQ(ProductTable[4].expectedExeName, nullptr);
}

}  // namespace
