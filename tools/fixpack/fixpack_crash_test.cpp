// fixpack apply killed at many moments of its run. After every kill each
// product file stands complete under its own name, holding either what it
// held before or what a clean run gives it; what it held before is never
// lost. A second, complete run applies every entry again and removes
// whatever temporary file the killed run left behind: every new name then
// holds its new content and every old name what it held before, except that
// an old name that was free keeps the new content of a file the killed run
// had already made (a second application of that entry).
//
// Each run is a child process. In the first test it runs the command as the
// program does and is killed at moments spread evenly over the length of a
// clean run; in the second it kills itself at its k-th file operation, for
// every k up to the number a clean run makes.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "book/joseki_table.h"
#include "fixpack/fixpack_commands.h"
#include "package/entry_path.h"
#include "package/update_package.h"
#include "testing/killing_package_files.h"
#include "testing/package_builder.h"

namespace {

using namespace package_test;
using Clock = std::chrono::steady_clock;

// A raw body of `positions` positions with two moves each, spread over
// `buckets` buckets.
Bytes LargeRawBook(int32_t buckets, uint32_t positions, uint32_t seed) {
  JosekiTablePtr table(CreateJosekiTable(buckets));
  for (uint32_t i = 0; i < positions; ++i) {
    const PositionKey key = {0x1000 + i * 7919 + seed, seed};
    PutMove(table.get(), key, BookMove{static_cast<uint16_t>(10 + i % 50), 1, i});
    PutMove(table.get(), key, BookMove{static_cast<uint16_t>(200 + i % 30), 2, seed});
  }
  Bytes raw(RawBodySize(static_cast<uint32_t>(table->bucketCount), static_cast<uint32_t>(table->nodeCount),
                        static_cast<uint32_t>(table->moveCount)));
  EXPECT_EQ(SaveJosekiTable(table.get(), raw.data(), static_cast<uint32_t>(raw.size())), 0);
  return raw;
}

// Puts, overwrites and deletes over every `step`-th position of such a book.
void LargeDiff(Script* script, uint32_t positions, uint32_t seed, uint32_t step) {
  for (uint32_t i = 0; i < positions; i += step) {
    const uint32_t low = 0x1000 + i * 7919 + seed;
    script->Group(low, seed, static_cast<uint16_t>(10 + i % 50), i % 3 == 0);
    script->Group(low, seed, static_cast<uint16_t>(300 + i % 7));
  }
  script->U32(0xFFFFFFFF);
}

Bytes Noise(size_t size, uint32_t seed) {
  Bytes bytes(size);
  for (uint8_t& byte : bytes) {
    seed = static_cast<uint32_t>(uint64_t{seed} * 1103515245u + 12345u);
    byte = static_cast<uint8_t>(seed >> 16);
  }
  return bytes;
}

// One entry of the package: its two names, and whether its old name was
// free before the run (then the present content must turn up there).
struct Product {
  std::string newName;
  std::string oldName;
};

const std::vector<Product> Products = {
    {"joseki.dat", "joseki.bak"},      // a large single book
    {"book/div.dat", "book/div.bak"},  // a divided book
    {"big.bin", "big.bak"},            // a large file written afresh
    {"new.txt", "new.bak"},            // a file that did not stand before
    {"a.txt", "a.bak"},                // its old name keeps an earlier content
};

// Runs `fixpack apply` in a child process; returns its pid.
pid_t StartApply(const std::string& dataFile, const std::string& folder) {
  const pid_t pid = fork();
  if (pid == 0) {
    if (freopen("/dev/null", "w", stdout) == nullptr) _exit(3);
    std::string data = dataFile, target = folder;
    char* argv[] = {data.data(), target.data(), nullptr};
    _exit(RunApply(2, argv));
  }
  return pid;
}

// Waits for the child; true when it ended by itself with status 0.
bool Finished(pid_t pid) {
  int status = 0;
  if (waitpid(pid, &status, 0) != pid) return false;
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

// FIX_CRASH_KILLS asks for more (or fewer) kills; the sanitizer build, whose
// runs are several times slower, makes fewer by default.
int KillCount() {
  const char* wanted = getenv("FIX_CRASH_KILLS");
  const long count = wanted != nullptr ? strtol(wanted, nullptr, 10) : 0;
  if (count > 0 && count <= 100000) return static_cast<int>(count);
#if defined(__SANITIZE_ADDRESS__)
  return 12;
#else
  return 30;
#endif
}

// The folder of the runs: in memory where the system has such a file system,
// so that a run's length is the work it does and not the disk's mood, and
// the kill moments spread evenly over that work. (A kill leaves the page
// cache as it was, so the disk has nothing to add here.)
class RunFolder {
 public:
  RunFolder() {
    const std::filesystem::path memory = "/dev/shm";
    const std::filesystem::path base =
        std::filesystem::is_directory(memory) ? memory : std::filesystem::path(::testing::TempDir());
    path_ = base / ("fixpack_crash_" + std::to_string(getpid()));
    std::filesystem::remove_all(path_);
    std::filesystem::create_directories(path_);
  }
  ~RunFolder() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  std::string operator/(const std::string& name) const { return (path_ / name).string(); }

 private:
  std::filesystem::path path_;
};

void PutFolder(const std::string& folder, const Snapshot& files) {
  std::filesystem::remove_all(folder);
  for (const auto& [name, bytes] : files) {
    const std::filesystem::path path = std::filesystem::path(folder) / name;
    std::filesystem::create_directories(path.parent_path());
    package_test::WriteBytes(path.string(), bytes);
  }
}

// A package over an install folder: a single book, a divided book, a file
// written afresh over a present one, a new file, and a file whose old name
// keeps an earlier content (see Products).
struct Package {
  Snapshot start;
  Bytes script;
};

Package MakePackage(uint32_t bookPositions, uint32_t divisionPositions, size_t fileSize) {
  Package package;
  Snapshot& start = package.start;
  start["joseki.dat"] = package_test::BookFile(LargeRawBook(1021, bookPositions, 0));
  std::vector<Bytes> divisions;
  for (uint32_t k = 0; k < 64; ++k) divisions.push_back(LargeRawBook(31, divisionPositions, k + 1));
  start["book/div.dat"] = package_test::DividedFile(divisions);
  start["big.bin"] = Noise(fileSize, 1);
  start["a.txt"] = Text("present");
  start["a.bak"] = Text("kept by an earlier update");
  start["other.txt"] = Text("not in the package");

  Script script;
  script.Head(KindBook, "joseki.bak", "joseki.dat");
  LargeDiff(&script, bookPositions, 0, 4);
  script.Head(KindDividedBook, "book\\div.bak", "book\\div.dat").U32(0);
  for (uint32_t k = 0; k < 64; ++k) LargeDiff(&script, divisionPositions, k + 1, 3);
  script.File("big.bak", "big.bin", Noise(fileSize, 2));
  // The new file comes before the last entry, so that a run killed at any
  // file operation may have made it already.
  script.File("new.bak", "new.txt", Text("a file of its own"));
  script.File("a.bak", "a.txt", Text("new content"));
  package.script = script.bytes();
  return package;
}

struct KillCheck {
  int statesChecked = 0;  // product files looked at
  int productsNew = 0;    // of them, those already holding their new content
  int leftovers = 0;      // temporary files left behind
};

// Checks the folder that a killed run left. Each product file holds its
// complete old or complete new content; the old content is never lost (once
// the new one stands, the old one stands under the old name, and an earlier
// content under the old name is never touched); nothing is left but
// temporary files the next run knows. With `renamesOnly` (a run without
// links or the replacing rename) a product may also be missing between the
// applier's two renames, while its old content stands complete under the
// old name or beside the product as the set-aside file.
KillCheck CheckKilled(const Snapshot& start, const Snapshot& clean, const Snapshot& killed, bool renamesOnly,
                      const std::string& label) {
  KillCheck check;
  for (const Product& product : Products) {
    ++check.statesChecked;
    const auto now = killed.find(product.newName);
    const auto before = start.find(product.newName);
    const auto kept = killed.find(product.oldName);
    const bool isNew = now != killed.end() && now->second == clean.at(product.newName);
    const bool isOld =
        before == start.end() ? now == killed.end() : now != killed.end() && now->second == before->second;
    const bool keptOld = before != start.end() && kept != killed.end() && kept->second == before->second;
    const auto aside = killed.find(TempEntryName(product.newName.c_str(), true));
    const bool setAside = before != start.end() && aside != killed.end() && aside->second == before->second;
    const bool between = renamesOnly && now == killed.end() && (keptOld || setAside);
    EXPECT_TRUE(isNew || isOld || between) << label << ": " << product.newName << " is neither old nor new";
    if (isNew) ++check.productsNew;
    if (start.count(product.oldName) != 0) {
      // An earlier content under the old name is never touched.
      EXPECT_TRUE(kept != killed.end() && kept->second == start.at(product.oldName))
          << label << ": " << product.oldName;
    } else if (isNew && before != start.end()) {
      // Once the new content stands, the old one stands under the old name.
      EXPECT_TRUE(keptOld) << label << ": the old content of " << product.newName << " is lost";
    }
  }
  for (const auto& [name, bytes] : killed) {
    if (start.count(name) != 0 || clean.count(name) != 0) continue;
    EXPECT_TRUE(IsPackageTempName(name.c_str())) << label << " left " << name;
    ++check.leftovers;
  }
  return check;
}

// The folder that a complete run leaves after a killed one, by the
// applier's steps: each entry moves what stands under its new name to its
// old name when that is free, and writes the new name afresh. An entry that
// found a present file, or an old name already taken, thus ends as in one
// clean run, whenever the kill came. An entry over no present file that the
// killed run had completed finds its own new file there, and keeps it under
// the old name.
Snapshot AfterSecondRun(const Snapshot& start, const Snapshot& clean, const Snapshot& killed) {
  Snapshot wanted = clean;
  for (const Product& product : Products) {
    if (start.count(product.newName) != 0 || start.count(product.oldName) != 0) continue;
    const auto made = killed.find(product.newName);
    if (made != killed.end() && made->second == clean.at(product.newName))
      wanted[product.oldName] = made->second;
  }
  return wanted;
}

TEST(FixpackCrashTest, EveryKillLeavesWholeFilesAndASecondRunFinishes) {
  RunFolder scratch;
  const std::string folder = scratch / "install";
  const std::string dataFile = scratch / "upda.dat";
  const Package package = MakePackage(15000, 300, 1 << 20);
  const Snapshot& start = package.start;
  package_test::WriteBytes(dataFile, package_test::DataFile(package.script));

  // A clean run gives the expected folder and the length of a run.
  const auto runFolder = [&](const Snapshot& files) { PutFolder(folder, files); };
  const auto takeFolder = [&]() { return TakeFolder(folder); };
  std::vector<double> lengths;
  Snapshot clean;
  for (int i = 0; i < 3; ++i) {
    runFolder(start);
    const auto began = Clock::now();
    ASSERT_TRUE(Finished(StartApply(dataFile, folder)));
    lengths.push_back(std::chrono::duration<double>(Clock::now() - began).count());
    clean = takeFolder();
  }
  std::sort(lengths.begin(), lengths.end());
  // The length of a run follows the machine's load: it is taken afresh from
  // the latest complete runs, and shortened whenever a run ends before its
  // kill, so that the kills keep landing inside runs.
  double runLength = lengths[1];
  double shortening = 1.0;  // grows smaller with every run that ends before its kill
  for (const Product& product : Products) {
    const auto before = start.find(product.newName);
    ASSERT_TRUE(before == start.end() || before->second != clean.at(product.newName)) << product.newName;
  }

  const int kills = KillCount();
  int landed = 0, finishedFirst = 0, statesChecked = 0, leftovers = 0;
  std::map<int, int> productsNewAtKill;  // how far the killed runs came
  for (int i = 0; landed < kills && i < 3 * kills; ++i) {
    runFolder(start);
    const pid_t child = StartApply(dataFile, folder);
    std::this_thread::sleep_for(std::chrono::duration<double>(runLength * 0.95 * (landed + 0.5) / kills));
    kill(child, SIGKILL);
    if (Finished(child)) {
      ++finishedFirst;
      shortening *= 0.9;
    } else {
      ++landed;
    }

    const Snapshot killed = takeFolder();
    const KillCheck check = CheckKilled(start, clean, killed, false, "kill " + std::to_string(i));
    statesChecked += check.statesChecked;
    leftovers += check.leftovers;
    const int newCount = check.productsNew;
    ++productsNewAtKill[newCount];

    const auto began = Clock::now();
    ASSERT_TRUE(Finished(StartApply(dataFile, folder))) << "second run after kill " << i;
    lengths.erase(lengths.begin());
    lengths.push_back(std::chrono::duration<double>(Clock::now() - began).count());
    std::vector<double> recent = lengths;
    std::sort(recent.begin(), recent.end());
    runLength = recent[1] * shortening;
    EXPECT_EQ(Differences(takeFolder(), AfterSecondRun(start, clean, killed)), "")
        << "second run after kill " << i;
    if (HasFailure()) break;
  }

  std::string spread;
  for (const auto& [count, times] : productsNewAtKill) {
    spread += " " + std::to_string(count) + ":" + std::to_string(times);
  }
  printf(
      "[ crash    ] runs of about %.0f ms, %d kills inside a run (%d more runs ended first), "
      "%d product states checked, %d temporary files left and removed; "
      "kills by products already new:%s\n",
      runLength * 1000, landed, finishedFirst, statesChecked, leftovers, spread.c_str());
  EXPECT_EQ(landed, kills);
}

// Reads the data file and applies it as fixpack apply does, through counted
// file operations, in a child process that kills itself before operation
// `killAt` (0: none). Returns the child's wait status.
int ApplyCounted(const std::string& dataFile, const std::string& folder, int32_t killAt, bool links) {
  const pid_t pid = fork();
  if (pid == 0) {
    std::vector<uint8_t> script;
    if (ReadUpdatePackage(dataFile.c_str(), &script) != 0) _exit(3);
    KillingPackageFiles files(killAt, links);
    const int32_t result =
        ApplyPackage(script.data(), static_cast<uint32_t>(script.size()), folder.c_str(), nullptr, &files);
    _exit(result == ApplyOk ? 0 : 1);
  }
  int status = 0;
  return waitpid(pid, &status, 0) == pid ? status : -1;
}

// The number of file operations of a clean run from `start`, counted in this
// process.
int32_t CountOperations(const std::string& dataFile, const std::string& folder, const Snapshot& start,
                        bool links) {
  PutFolder(folder, start);
  std::vector<uint8_t> script;
  if (ReadUpdatePackage(dataFile.c_str(), &script) != 0) return 0;
  KillingPackageFiles files(0, links);
  if (ApplyPackage(script.data(), static_cast<uint32_t>(script.size()), folder.c_str(), nullptr, &files) !=
      ApplyOk) {
    return 0;
  }
  return files.count();
}

// The failures that the running test has met so far.
int FailureCount() {
  const ::testing::TestResult* result = ::testing::UnitTest::GetInstance()->current_test_info()->result();
  int failures = 0;
  for (int i = 0; i < result->total_part_count(); ++i)
    failures += result->GetTestPartResult(i).failed() ? 1 : 0;
  return failures;
}

// A small package, so that a run costs little: the number of file
// operations does not depend on the sizes. With links and the replacing
// rename as this system has them, and with renames only.
TEST(FixpackCrashTest, AKillAtEveryFileOperationLeavesWholeFilesAndASecondRunFinishes) {
  RunFolder scratch;
  const std::string folder = scratch / "install";
  const std::string dataFile = scratch / "upda.dat";
  const Package package = MakePackage(400, 12, 4096);
  package_test::WriteBytes(dataFile, package_test::DataFile(package.script));
  PutFolder(folder, package.start);
  ASSERT_TRUE(Finished(StartApply(dataFile, folder)));
  const Snapshot clean = TakeFolder(folder);

  for (const bool links : {true, false}) {
    SCOPED_TRACE(links ? "with links" : "renames only");
    const int32_t operations = CountOperations(dataFile, folder, package.start, links);
    ASSERT_GT(operations, 0);
    ASSERT_EQ(Differences(TakeFolder(folder), clean), "");
    int statesChecked = 0, leftovers = 0, failures = 0;
    for (int32_t k = 1; k <= operations; ++k) {
      const std::string label = "kill at operation " + std::to_string(k);
      PutFolder(folder, package.start);
      const int status = ApplyCounted(dataFile, folder, k, links);
      ASSERT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL) << label << ": the run was not killed";
      const int before = FailureCount();
      const Snapshot killed = TakeFolder(folder);
      const KillCheck check = CheckKilled(package.start, clean, killed, !links, label);
      statesChecked += check.statesChecked;
      leftovers += check.leftovers;
      const int second = ApplyCounted(dataFile, folder, 0, links);
      EXPECT_TRUE(WIFEXITED(second) && WEXITSTATUS(second) == 0) << label << ": the second run failed";
      EXPECT_EQ(Differences(TakeFolder(folder), AfterSecondRun(package.start, clean, killed)), "")
          << "second run after " << label;
      if (FailureCount() != before) ++failures;
    }
    printf(
        "[ crash    ] %s: %d file operations, a kill before each, %d product states checked, "
        "%d temporary files left and removed, %d kills with failures\n",
        links ? "with links" : "renames only", operations, statesChecked, leftovers, failures);
  }
}

}  // namespace
