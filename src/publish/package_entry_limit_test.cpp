// The most entries a package may hold, on every side: the updater applies up
// to that many and refuses a script with more as damage before it applies
// any of them, the script walk of verify and inspect reports it, and build
// refuses a manifest that would need more.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "package/memory_package_files.h"
#include "package/update_package.h"
#include "publish/build_manifest.h"
#include "publish/package_script.h"
#include "testing/package_builder.h"

namespace {

using namespace package_test;

// `count` entries, each writing a file of its own.
Script ManyFiles(int32_t count) {
  Script script;
  for (int32_t i = 0; i < count; ++i) {
    const std::string name = "f" + std::to_string(i);
    script.File(name + ".old", name + ".txt", Text("x"));
  }
  return script;
}

TEST(PackageEntryLimit, TheEntryBeyondTheLimitIsRefused) {
  struct Case {
    int32_t entries;
    int32_t result;
    int32_t applied;
  } cases[] = {
      {MaxPackageEntries, ApplyOk, MaxPackageEntries},
      {MaxPackageEntries + 1, ApplyDamaged, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.entries);
    Script script = ManyFiles(c.entries);
    MemoryPackageFiles folder;
    ApplyReport report;
    EXPECT_EQ(ApplyPackage(script.bytes().data(), script.size(), "", &report, &folder), c.result);
    EXPECT_EQ(report.entriesApplied, c.applied);
    EXPECT_EQ(folder.Paths().size(), static_cast<size_t>(c.applied));
    const std::string beyond = "f" + std::to_string(MaxPackageEntries) + ".txt";
    EXPECT_EQ(folder.Get(beyond), nullptr);
    const ScriptWalk walk = WalkScript(script.bytes().data(), script.size());
    EXPECT_EQ(walk.problems.empty(), c.result == ApplyOk);
  }
}

TEST(PackageEntryLimit, BuildRefusesAManifestBeyondTheLimit) {
  std::string manifest;
  for (int32_t i = 0; i <= MaxPackageEntries; ++i) {
    manifest += "file f" + std::to_string(i) + ".old f" + std::to_string(i) + ".txt src\n";
  }
  std::vector<ManifestEntry> entries;
  std::string error;
  EXPECT_FALSE(ParseManifest(manifest, ".", &entries, &error));
  EXPECT_EQ(error, std::to_string(MaxPackageEntries + 1) + ": the updater takes at most " +
                       std::to_string(MaxPackageEntries) + " entries in one package");
}

}  // namespace
