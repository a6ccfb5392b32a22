// Status codes of the install lookup and the table of user messages that
// they index.
#pragma once

#include <cstdint>

// A lookup status; also the index of its row in StatusMessages. The lookup
// produces only the values named here; the other rows of the table belong
// to codes it never produces.
enum LookupStatus : int32_t {
  LookupLocated = 0,          // the folder text is in the caller's buffer
  LookupCancelled = 1,        // the Open dialog was closed without a pick (or failed)
  LookupNoMemory = 3,         // no memory for the folder text
  LookupNotFound = 4,         // registry lookup failed, or the picked file is not the product's
  LookupUnknownPlatform = 5,  // neither of the two supported platform families
};

constexpr int32_t StatusMessageCount = 17;

// The user messages for the status codes 0 to 16, in code order (code page
// 932, "\r\n" line breaks).
extern const char* const StatusMessages[StatusMessageCount];
