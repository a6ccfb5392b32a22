// fixpack apply with its k-th allocation failing, for every k: the command
// never ends in an exception, it either applies the package (a failure it
// could do without) or fails with a message that names the lack of memory;
// the folder then holds exactly what some number of complete entries left,
// and a second, clean run finishes the update. It runs on one thread, so
// that every allocation of a merge is made where the count can reach it.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "fixpack/fixpack_commands.h"
#include "oom/oom_package.h"
#include "oom/sweep.h"

namespace {

using oom_test::ScratchFolder;
using oom_test::Snapshot;

struct Outcome {
  int status = -1;
  bool thrown = false;
  std::string output;
};

class Command {
 public:
  explicit Command(std::vector<std::string> words) : words_(std::move(words)) {
    for (std::string& word : words_) argv_.push_back(word.data());
  }
  // Runs it; stdout and stderr are captured around the call, so that the
  // capture's own allocations stay outside any count.
  void Run() {
    outcome_ = Outcome();
    try {
      outcome_.status = RunFixpack(static_cast<int>(argv_.size()), argv_.data());
    } catch (...) {
      outcome_.thrown = true;
    }
  }
  static void Capture() {
    fflush(stdout);
    ::testing::internal::CaptureStdout();
    ::testing::internal::CaptureStderr();
  }
  const Outcome& Collect() {
    fflush(stdout);
    outcome_.output = ::testing::internal::GetCapturedStdout();
    outcome_.output += ::testing::internal::GetCapturedStderr();
    return outcome_;
  }

 private:
  std::vector<std::string> words_;
  std::vector<char*> argv_;
  Outcome outcome_;
};

int Occurrences(const std::string& text, const std::string& part) {
  int count = 0;
  for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + part.size())) ++count;
  return count;
}

// The failures recorded so far in the running test.
int FailureCount() {
  return ::testing::UnitTest::GetInstance()->current_test_info()->result()->total_part_count();
}

// After a point that fails, the sweep goes on to show the others, up to a
// few.
bool KeepGoing(int failuresBefore, int* faultyPoints) {
  if (FailureCount() > failuresBefore) ++*faultyPoints;
  return *faultyPoints < 30;
}

TEST(FixpackApplyOutOfMemory, EveryAllocationFailingLeavesWholeEntries) {
  ScratchFolder scratch;
  const ScratchFolder install("_install");
  const auto entries = oom_test::Entries();
  const Snapshot start = oom_test::Install();
  const std::vector<Snapshot> states = oom_test::States(entries, start, install);
  ASSERT_NE(states.front(), states.back());
  const std::vector<Snapshot> reruns = oom_test::Reruns(entries, states, install);
  auto script = oom_test::Concatenate(entries, entries.size());
  scratch.Put("upda.dat", package_test::DataFile(script.bytes()));

  Command apply({"fixpack", "apply", "--threads", "1", scratch / "upda.dat", install.Path()});
  // Once, so that what the first run of a process sets up (the stdio
  // buffers) is not counted.
  Command::Capture();
  apply.Run();
  ASSERT_EQ(apply.Collect().status, 0);

  int tolerated = 0, failed = 0, faulty = 0;
  const auto counts = oom_test::SweepAllocations(
      [&] {
        install.Restore(start);
        Command::Capture();
      },
      [&] { apply.Run(); },
      [&](uint64_t failAt) {
        const int failuresBefore = FailureCount();
        const Outcome outcome = apply.Collect();
        const std::string where = "allocation " + std::to_string(failAt) + ": " + outcome.output;
        EXPECT_FALSE(outcome.thrown) << where;
        std::string differences;
        const int state = oom_test::StateOf(install.Take(), states, &differences);
        EXPECT_GE(state, 0) << where << " left" << differences;
        const int last = static_cast<int>(states.size()) - 1;
        if (failAt == 0 || outcome.status == 0) {
          EXPECT_EQ(outcome.status, 0) << where;
          EXPECT_EQ(state, last) << where;
          if (failAt != 0) ++tolerated;
          return KeepGoing(failuresBefore, &faulty);
        }
        ++failed;
        EXPECT_EQ(outcome.status, 1) << where;
        // Said once: the step that failed, then the cause.
        EXPECT_EQ(Occurrences(outcome.output, "not enough memory"), 1) << where;
        // Only a failure before the package step (reading the command line)
        // may end in the program's own memory message, with nothing touched.
        if (outcome.output.find("fixpack apply: not enough memory") != std::string::npos) {
          EXPECT_EQ(state, 0) << where << " (the failure got past the package step)";
        }
        EXPECT_LT(state, last) << where;
        // Whatever the failure left, a clean run finishes the update.
        Command::Capture();
        apply.Run();
        EXPECT_EQ(apply.Collect().status, 0) << "the run after " << where;
        EXPECT_EQ(install.Take(), reruns[state < 0 ? 0 : state]) << "the run after " << where;
        return KeepGoing(failuresBefore, &faulty);
      });
  printf(
      "[ oom      ] fixpack apply: %llu allocations in a clean run; %llu runs with an allocation failing: "
      "%d failed with the memory message, %d still applied the package\n",
      static_cast<unsigned long long>(counts.allocations), static_cast<unsigned long long>(counts.points),
      failed, tolerated);
  EXPECT_GT(counts.points, 0u);
}

}  // namespace
