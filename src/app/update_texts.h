// The texts that the update run and the program's start show (code page
// 932).
#pragma once

extern const char GreetingText[];       // shown first, acknowledged with OK
extern const char QuestionAfterName[];  // "を ": follows the product name in the question
extern const char QuestionAfterFolder[];  // " にて見つけました。更新しますか？": follows the folder
extern const char DeclinedText[];         // the user did not confirm an update
extern const char UpdatingText[];         // shown while a package is applied
extern const char SucceededText[];        // a package was applied
extern const char FailedText[];           // a package was not applied
extern const char NotFoundFormat[];  // "%sが見つかりませんでした", %s: the product name

// The program's own failures, shown in a message box before or instead of
// the dialog.
extern const char FatalErrorCaption[];       // the message box caption
extern const char WindowCreateFailedText[];  // the dialog cannot be made (exit -1)
extern const char WorkerStartFailedText[];   // the worker thread cannot be started (exit -1)
