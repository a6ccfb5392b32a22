#include "app/status_messages.h"

const char* const StatusMessages[StatusMessageCount] = {
    // 0: files updated successfully
    "ファイルは正常に更新されました。",
    // 1: update work interrupted
    "更新作業が中断されました。",
    // 2: unexpected error; damaged update file or too little disk space
    "予期せぬエラーが発生。更新ファイルが壊れているか、\r\nディスク容量が十分でない可能性があります。",
    // 3: not enough memory
    "メモリが足りません。",
    // 4: application not found; choose the install location by hand
    "盤燈アプリケーションが見つかりません。\r\n手動でインストール先を指定してください",
    // 5: unrecognised system version
    "OSのバージョンが不明です。",
    // 6: opening-book versions disagree; all taken as 1.00; warnings may follow
    "定跡データ間のバージョンに不整合が発見されました。\r\n全ての定跡データのバージョンを1.00とみなしますが、\r\nアップデート中に警告メッセージが表示される可能性があります。",
    // 7: data file missing or damaged
    "データファイルが見つからないか壊れています。",
    // 8: copying the data file failed
    "データファイルのコピーに失敗しました。",
    // 9: changing the current folder failed
    "カレントフォルダの変更に失敗しました。",
    // 10: unpacking the data file failed
    "データファイルの展開に失敗しました。",
    // 11: data file damaged (symptom 1)
    "データファイルが壊れているようです。(症状１)",
    // 12: data file damaged or update already applied
    "データファイルが壊れているか、\r\n既にアップデート済のようです。",
    // 13: no update was made
    "アップデートは行われませんでした",
    // 14: clean-up failed (the update itself succeeded)
    "ファイルの後始末に失敗しました。\r\n(アップデートには成功しています。)",
    // 15: sound library missing; sound files not unpacked
    "Sound.dllが見つかりません。音声ファイルは展開されません。",
    // 16: file access denied; run as the installing user or an administrator
    "ファイルへのアクセスに失敗しました。アクセス権限がありません。必ず、盤燈をインストールしたユーザか管理者の権限で実行してください。",
};
