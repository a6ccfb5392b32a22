// The products that the updater knows, in the order it visits them.
#pragma once

// One product. Four read-only NUL-terminated texts (code page 932).
struct ProductEntry {
  const char* displayName;      // shown in messages and in the Open dialog's filter
  const char* dataFileName;     // the update data file, beside the updater
  const char* appPathsName;     // App Paths sub-key, and the Open dialog's file pattern
  const char* expectedExeName;  // appPathsName in upper case: a picked file must bear it
};

// The four products in visiting order, ended by a row whose fields are all
// null. A walk stops at the first row whose displayName is null.
extern const ProductEntry ProductTable[];
