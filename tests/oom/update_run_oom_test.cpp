// The update run over the scripted platform with its k-th allocation
// failing, for every k: one product registered in App Paths and one that
// the user must pick, each with a package to apply. The run never ends in
// an exception and shows only the system's own texts; each install folder
// holds exactly what some number of complete entries left, the ones it
// reports as updated hold the whole package, and a second, clean run
// finishes both. Books are merged on one thread, so that every allocation
// of a merge is made where the count can reach it.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <set>
#include <string>
#include <vector>

#include "app/product_table.h"
#include "app/status_messages.h"
#include "app/update_run.h"
#include "app/update_texts.h"
#include "oom/failing_allocator.h"
#include "oom/oom_package.h"
#include "oom/sweep.h"
#include "testing/fake_platform.h"

namespace {

using oom_test::ScratchFolder;
using oom_test::Snapshot;

const ProductEntry& Registered = ProductTable[0];  // found through App Paths
const ProductEntry& Picked = ProductTable[2];      // picked by the user
const std::string SystemText = "The system cannot find the file specified.\r\n";

// A path as the system names it, with backslashes.
std::string SystemForm(std::string path) {
  std::replace(path.begin(), path.end(), '/', '\\');
  return path;
}

std::string Question(const ProductEntry& row, const std::string& folder) {
  return std::string(row.displayName) + QuestionAfterName + folder + QuestionAfterFolder;
}

std::string NotFound(const ProductEntry& row) {
  char text[512];
  snprintf(text, sizeof text, NotFoundFormat, row.displayName);
  return text;
}

class UpdateRunOutOfMemory : public ::testing::Test {
 protected:
  void SetUp() override {
    const auto entries = oom_test::Entries();
    start = oom_test::Install();
    states = oom_test::States(entries, start, registeredFolder);
    reruns = oom_test::Reruns(entries, states, registeredFolder);
    auto script = oom_test::Concatenate(entries, entries.size());
    const auto dataFile = package_test::DataFile(script.bytes());
    updater.Put(Registered.dataFileName, dataFile);
    updater.Put(Picked.dataFileName, dataFile);
    pickedFolderText = SystemForm(pickedFolder.Path()) + "\\";
    allowed = {GreetingText,
               Question(Registered, registeredFolder.Path()),
               Question(Picked, pickedFolderText),
               SucceededText,
               FailedText,
               DeclinedText,
               NotFound(Registered),
               NotFound(Picked),
               StatusMessages[LookupNoMemory],
               StatusMessages[LookupNotFound],
               std::string(StatusMessages[LookupNotFound]) + "\r\nError:" + SystemText};
  }
  void TearDown() override {
    FakeBookkeepingHook = nullptr;
  }

  // Both install folders as they were, and the fake set up afresh.
  void Prepare() {
    registeredFolder.Restore(start);
    pickedFolder.Restore(start);
    SetUpFake();
  }
  // The fake afresh: a press of OK for every prompt, the picked product's
  // executable for the picker.
  void SetUpFake() {
    fake.Reset();
    fake.modulePath = SystemForm(updater / "fixmod.exe");
    fake.presentFiles = {SystemForm(updater / Registered.dataFileName),
                         SystemForm(updater / Picked.dataFileName)};
    fake.RegisterAppPath(Registered.appPathsName, registeredFolder.Path());
    fake.systemTexts[2] = SystemText;
    fake.picks.assign(4, pickedFolderText + Picked.appPathsName);
    fake.script.assign(40, Press(IDOK));
  }

  FakePlatform& fake = FakePlatform::Get();
  ScratchFolder updater{"_updater"};
  ScratchFolder registeredFolder{"_registered"};
  ScratchFolder pickedFolder{"_picked"};
  Snapshot start;
  std::vector<Snapshot> states;
  std::vector<Snapshot> reruns;  // what a complete run makes of each state
  std::string pickedFolderText;
  std::set<std::string> allowed;
};

void CountOrNot(bool begins) {
  if (begins) {
    failing_allocator::BeginUncounted();
  } else {
    failing_allocator::EndUncounted();
  }
}

int FailureCount() {
  return ::testing::UnitTest::GetInstance()->current_test_info()->result()->total_part_count();
}

TEST_F(UpdateRunOutOfMemory, EveryAllocationFailingLeavesWholeEntries) {
  // RunUpdates merges on one thread unless told otherwise.
  FakeBookkeepingHook = CountOrNot;
  const int last = static_cast<int>(states.size()) - 1;
  int32_t result = 0;
  bool thrown = false;
  int faultyPoints = 0, failedRuns = 0;

  const auto counts = oom_test::SweepAllocations(
      [&] { Prepare(); },
      [&] {
        thrown = false;
        try {
          result = RunUpdates();
        } catch (...) {
          thrown = true;
        }
      },
      [&](uint64_t failAt) -> bool {
        const int failuresBefore = FailureCount();
        const std::string where = "allocation " + std::to_string(failAt);
        EXPECT_FALSE(thrown) << where;
        const std::vector<std::string> shown = fake.PromptTexts();
        for (const std::string& text : shown)
          EXPECT_EQ(allowed.count(text), 1u) << where << " showed " << text;
        if (shown.empty()) {
          ADD_FAILURE() << where << " showed nothing";
          return false;
        }
        const std::string& ending = shown.back();
        EXPECT_TRUE(ending == SucceededText || ending == FailedText || ending == DeclinedText ||
                    ending == NotFound(Registered) || ending == NotFound(Picked))
            << where << " ended with " << ending;

        // A folder holds the whole package exactly when its product was
        // reported updated.
        int finished = 0;
        int left[2] = {0, 0};
        int which = 0;
        for (const ScratchFolder* folder : {&registeredFolder, &pickedFolder}) {
          std::string differences;
          const int state = oom_test::StateOf(folder->Take(), states, &differences);
          EXPECT_GE(state, 0) << where << ": " << folder->Path() << " holds" << differences;
          if (state == last) ++finished;
          left[which++] = state < 0 ? 0 : state;
        }
        EXPECT_EQ(std::count(shown.begin(), shown.end(), std::string(SucceededText)), finished) << where;
        if (failAt == 0) {
          EXPECT_EQ(result, 0);
          EXPECT_EQ(finished, 2);
        } else if (finished < 2) {
          ++failedRuns;
          // Whatever the failure left, a clean run finishes both.
          FakeBookkeepingHook = nullptr;
          SetUpFake();
          EXPECT_EQ(RunUpdates(), 0) << "the run after " << where;
          EXPECT_EQ(registeredFolder.Take(), reruns[left[0]]) << "the run after " << where;
          EXPECT_EQ(pickedFolder.Take(), reruns[left[1]]) << "the run after " << where;
          FakeBookkeepingHook = CountOrNot;
        }
        if (FailureCount() > failuresBefore) ++faultyPoints;
        return faultyPoints < 30;
      });
  printf(
      "[ oom      ] update run: %llu allocations in a clean run; %llu runs with an allocation failing, "
      "%d of which left a product not updated\n",
      static_cast<unsigned long long>(counts.allocations), static_cast<unsigned long long>(counts.points),
      failedRuns);
  EXPECT_GT(counts.points, 0u);
}

}  // namespace
