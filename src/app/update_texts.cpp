#include "app/update_texts.h"

const char GreetingText[] =
    "本修正モジュールを実行する前に、盤燈や他のアプリケーションが終了していることを確認してください。"
    "よろしければ、ＯＫボタンを押してください。";
const char QuestionAfterName[] = "を ";
const char QuestionAfterFolder[] = " にて見つけました。更新しますか？";
const char DeclinedText[] = "更新を中断しました";
const char UpdatingText[] = "更新しています。長い場合で１分程度はかかりますので、しばらくお待ちください…";
const char SucceededText[] = "正常に更新されました";
const char FailedText[] = "更新に失敗しました";
const char NotFoundFormat[] = "%sが見つかりませんでした";

const char FatalErrorCaption[] = "致命的なエラー";
const char WindowCreateFailedText[] = "ウィンドウの作成に失敗しました";
// Without the worker nothing would ever end the dialog, so the program says
// so and ends instead of showing it.
const char WorkerStartFailedText[] = "更新処理を開始できませんでした。\r\n修正モジュールを終了します。";
