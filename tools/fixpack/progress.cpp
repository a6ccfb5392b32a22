#include "fixpack/progress.h"

#include <cstdio>

#ifdef _WIN32
#include <io.h>
#define FIXPACK_ISATTY(file) _isatty(_fileno(file))
#else
#include <unistd.h>
#define FIXPACK_ISATTY(file) isatty(fileno(file))
#endif

Progress::Progress(std::string task, const char* unit, uint64_t total)
    : task_(std::move(task)), unit_(unit), total_(total) {
  shown_ = FIXPACK_ISATTY(stderr) != 0;
  // The first line waits a moment, so that quick work draws nothing.
  next_ = std::chrono::steady_clock::now() + std::chrono::milliseconds(300);
}

// Lines are cleared with spaces rather than an escape sequence, which not
// every Windows console understands.
Progress* Progress::drawing_ = nullptr;

Progress::~Progress() {
  if (drawing_ == this) ClearShown();
  if (drawing_ == this) drawing_ = nullptr;
}

void Progress::ClearShown() {
  Progress* shown = drawing_;
  if (shown == nullptr || !shown->drawn_) return;
  fprintf(stderr, "\r%*s\r", shown->width_, "");
  fflush(stderr);
  shown->drawn_ = false;
  drawing_ = nullptr;
}

void Progress::Report(int32_t done, void* progress) {
  static_cast<Progress*>(progress)->Update(static_cast<uint64_t>(done));
}

void Progress::Update(uint64_t done) {
  if (!Due()) return;
  char counts[64];
  snprintf(counts, sizeof counts, "%llu/%llu %s", static_cast<unsigned long long>(done),
           static_cast<unsigned long long>(total_), unit_);
  Draw(counts);
}

void Progress::ReportBytes(uint32_t done, uint32_t total, void* progress) {
  static_cast<Progress*>(progress)->UpdateBytes(done, total);
}

void Progress::UpdateBytes(uint64_t done, uint64_t total) {
  if (!Due()) return;
  constexpr double MiB = 1024.0 * 1024.0;
  char counts[64];
  snprintf(counts, sizeof counts, "%.1f/%.1f MiB", static_cast<double>(done) / MiB,
           static_cast<double>(total) / MiB);
  Draw(counts);
}

bool Progress::Due() {
  if (!shown_) return false;
  const auto now = std::chrono::steady_clock::now();
  if (now < next_) return false;
  next_ = now + std::chrono::milliseconds(200);
  return true;
}

void Progress::Draw(const char* counts) {
  char line[512];
  int length = snprintf(line, sizeof line, "%s: %s", task_.c_str(), counts);
  if (length < 0) return;
  if (length >= static_cast<int>(sizeof line)) length = static_cast<int>(sizeof line) - 1;
  fprintf(stderr, "\r%s%*s", line, width_ > length ? width_ - length : 0, "");
  if (length > width_) width_ = length;
  fflush(stderr);
  drawn_ = true;
  drawing_ = this;
}
