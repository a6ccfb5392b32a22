// Progress of a long operation, shown on stderr only when stderr is a
// terminal, so that scripts and pipes see nothing of it.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <utility>

class Progress {
 public:
  // `task` names the work ("diff old.dat"), `unit` what is counted
  // ("divisions"), `total` how many there are.
  Progress(std::string task, const char* unit, uint64_t total);
  // A progress in bytes, drawn in MiB, whose total UpdateBytes gives.
  explicit Progress(std::string task) : Progress(std::move(task), "MiB", 0) {}
  ~Progress();  // clears the line it drew
  Progress(const Progress&) = delete;
  Progress& operator=(const Progress&) = delete;

  // Reports that `done` of the total are finished. Cheap enough to call
  // every few thousand items; the line is redrawn at most five times a
  // second.
  void Update(uint64_t done);

  // Update as a callback for the publisher library's long operations:
  // `progress` is the Progress, `done` the count finished.
  static void Report(int32_t done, void* progress);

  // Reports that `done` of `total` bytes are finished, for work whose total
  // is known only once it has begun; as a callback, for the body packer.
  void UpdateBytes(uint64_t done, uint64_t total);
  static void ReportBytes(uint32_t done, uint32_t total, void* progress);

  // Clears the line that a progress draws on the terminal, if one stands
  // there, so that a result line begins on a clean line; the progress draws
  // it again at its next update.
  static void ClearShown();

 private:
  std::string task_;
  const char* unit_;
  uint64_t total_;
  bool shown_ = false;  // stderr is a terminal
  bool drawn_ = false;  // a line stands on the terminal
  int width_ = 0;       // the longest line drawn so far
  std::chrono::steady_clock::time_point next_;
  static Progress* drawing_;  // the progress whose line stands, or null

  // True when a line is to be drawn now: on a terminal, and not sooner than
  // the last line allows.
  bool Due();
  void Draw(const char* counts);  // the task and `counts`
};
