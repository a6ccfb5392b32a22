// Finding a product's installation folder: the registry's App Paths entry of
// its executable first, then, when that fails, the user picking the
// executable in the Open dialog. Worker thread only.
#pragma once

#include <cstdint>

#include "app/product_table.h"
#include "app/status_messages.h"
#include "stream/text_buffer.h"

// The registry key under HKEY_LOCAL_MACHINE that holds the App Paths
// entries; the executable's name follows it.
extern const char AppPathsKey[];

// Finds the installation folder of `row` and leaves it in `folder` (owned by
// the caller). When the registry lookup fails and `allowBrowse` is true it
// shows the reason and lets the user pick the executable, again after every
// wrong pick, until a right pick or a cancel. Returns
//   LookupLocated          the folder text is in `folder`, exactly as stored
//                          or, when picked, ending in a backslash;
//   LookupCancelled        the user cancelled the pick;
//   LookupNoMemory;
//   LookupNotFound         not in the registry, and `allowBrowse` false
//                          (never when it is true);
//   LookupUnknownPlatform  an unsupported platform family, at once, with no
//                          registry access and no message.
int32_t FindInstallPath(TextBuffer* folder, const ProductEntry& row, bool allowBrowse);

// Lets the user pick `row`'s executable in the Open dialog (one filter: the
// product name followed by "実行ファイル", the exact executable name).
// LookupLocated with the picked file's folder in `folder`, ending in a
// backslash; LookupCancelled when the dialog was cancelled or failed;
// LookupNoMemory; LookupNotFound when the pick holds no backslash or its
// file name, letters a to z upper-cased, is not row.expectedExeName.
int32_t BrowseForInstallPath(TextBuffer* folder, const ProductEntry& row);

// Shows StatusMessages[code] (code 0 to 16), followed by "\r\nError:" and
// `systemText` when that is not null, and waits for OK. When memory for the
// composed text runs out the row is shown alone.
void ShowStatusError(int32_t code, const char* systemText);
