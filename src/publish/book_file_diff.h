// The diff between two whole book files of one layout: the payload that a
// book entry (one BookDiff list) or a divided-book entry (a leading u32 and
// 64 lists, division 0 first) carries to turn the first into the second.
#pragma once

#include <string>
#include <vector>

#include "publish/book_diff.h"
#include "publish/book_image.h"

// Appends the payload that turns `from` into `to` to `payload`, and, when
// `text` is given, the records as text (a "division K" line before each
// division that changes). `fromName` and `toName` (usually the file paths)
// begin every cause. False when the layouts differ, a body cannot be
// loaded, or a division's diff cannot be made or written (see
// ComputeBookDiff and CheckDiffRecords); `payload` is then incomplete.
// `progress`, when given, is called with the count of bodies done and
// `context`.
bool DiffBookFiles(const BookImage& from, const std::string& fromName, const BookImage& to,
                   const std::string& toName, std::vector<uint8_t>* payload, DiffCounts* counts,
                   std::string* text, void (*progress)(int32_t, void*), void* context, std::string* error);
