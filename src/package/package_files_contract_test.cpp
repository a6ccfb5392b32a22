// One table of file operations run over both implementations of
// PackageFiles: the system's, on a scratch folder, and the folder held in
// memory that `fixpack build` applies packages to. Both must give every
// result and leave every folder alike, so that what build trusts is what the
// updater meets on the disk.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "package/memory_package_files.h"
#include "package/package_files.h"
#include "stream/byte_stream.h"
#include "testing/package_builder.h"

namespace {

using namespace package_test;

// A folder behind one implementation: its files are set up by name and
// read back through the operations themselves.
class Folder {
 public:
  virtual ~Folder() = default;
  virtual void Put(const std::string& name, const std::string& text) = 0;
  virtual std::string Path(const std::string& name) const = 0;
  virtual PackageFiles* files() = 0;
};

class SystemFolder final : public Folder {
 public:
  void Put(const std::string& name, const std::string& text) override { scratch_.Put(name, Text(text)); }
  std::string Path(const std::string& name) const override { return scratch_ / name; }
  PackageFiles* files() override { return SystemPackageFiles(); }

 private:
  ScratchFolder scratch_;
};

class MemoryFolder final : public Folder {
 public:
  void Put(const std::string& name, const std::string& text) override { memory_.Put(name, Text(text)); }
  std::string Path(const std::string& name) const override { return MemoryPackageFiles::PathOf(name); }
  PackageFiles* files() override { return &memory_; }

 private:
  MemoryPackageFiles memory_;
};

enum Operation { Create, Rename, Link, Replace, Remove, Exists, Identity };

struct Case {
  const char* what;
  const char* before;  // "name=text ...": the folder's files ("sub/f" makes the
                       // folder sub); "c~a": c made a second name of a
  Operation operation;
  const char* one;
  const char* other;  // the second name, where the operation takes one
  int32_t result;     // the operation's result (a PathState or FileIdentity for the lookups)
  const char* after;  // the files afterwards, as "name=text ..."; a linked pair as "a+c=A"
};

// The names every folder is read back under.
const char* const Names[] = {"a", "b", "c", "sub/f"};

const Case Cases[] = {
    {"create a fresh file", "", Create, "a", nullptr, 0, "a=new"},
    {"create over an existing file is refused", "a=A", Create, "a", nullptr, -1, "a=A"},
    {"create over a folder is refused", "sub/f=F", Create, "sub", nullptr, -1, "sub/f=F"},
    {"rename to a free name", "a=A", Rename, "a", "c", 0, "c=A"},
    {"rename never replaces", "a=A b=B", Rename, "a", "b", -1, "a=A b=B"},
    {"rename of nothing", "b=B", Rename, "a", "c", -1, "b=B"},
    {"link to a free name", "a=A", Link, "a", "c", 0, "a+c=A"},
    {"link never replaces", "a=A b=B", Link, "a", "b", -1, "a=A b=B"},
    {"link of nothing", "", Link, "a", "c", -1, ""},
    {"replace a file", "a=A b=B", Replace, "b", "a", 0, "a=B"},
    {"replace onto a free name", "a=A", Replace, "a", "c", 0, "c=A"},
    {"replace onto a folder is refused", "a=A sub/f=F", Replace, "a", "sub", -1, "a=A sub/f=F"},
    {"replace of nothing", "b=B", Replace, "a", "b", -1, "b=B"},
    // Between two names of one file a rename does nothing, and both stay.
    {"replace onto another name of the same file", "a=A c~a", Replace, "a", "c", 0, "a+c=A"},
    {"remove a file", "a=A b=B", Remove, "a", nullptr, 0, "b=B"},
    {"remove nothing", "b=B", Remove, "a", nullptr, -1, "b=B"},
    {"remove one name of a linked file", "a=A c~a", Remove, "a", nullptr, 0, "c=A"},
    {"exists: a file", "a=A", Exists, "a", nullptr, PathFile, "a=A"},
    {"exists: nothing", "a=A", Exists, "b", nullptr, PathAbsent, "a=A"},
    {"exists: a folder", "sub/f=F", Exists, "sub", nullptr, PathOther, "sub/f=F"},
    {"exists: below a file", "a=A", Exists, "a/below", nullptr, PathAbsent, "a=A"},
    {"identity: two files", "a=A b=A", Identity, "a", "b", FilesApart, "a=A b=A"},
    {"identity: one name twice", "a=A", Identity, "a", "a", FilesOneName, "a=A"},
    {"identity: nothing", "a=A", Identity, "a", "c", FilesApart, "a=A"},
    {"identity: two names of one file", "a=A c~a", Identity, "a", "c", FilesLinked, "a+c=A"},
    {"identity: the other way round", "a=A c~a", Identity, "c", "a", FilesLinked, "a+c=A"},
};

std::vector<std::string> Words(const std::string& text) {
  std::vector<std::string> words;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find(' ', start);
    if (end == std::string::npos) end = text.size();
    if (end > start) words.push_back(text.substr(start, end - start));
    start = end + 1;
  }
  return words;
}

// The content under `path`, read through the operations; "-" for none.
std::string Content(PackageFiles* files, const std::string& path) {
  StreamPtr stream(files->OpenForReading(path.c_str()));
  if (!stream) return "-";
  std::string text;
  uint8_t buffer[64];
  int32_t got;
  while ((got = stream->Read(buffer, sizeof buffer)) > 0) text.append(buffer, buffer + got);
  files->Close(stream.get());
  return text;
}

// Every name with its content, and "a+c" for two names of one file.
std::string Listing(Folder* folder) {
  PackageFiles* files = folder->files();
  std::string listing;
  std::vector<std::string> listed;
  for (const char* name : Names) {
    const std::string path = folder->Path(name);
    if (files->Exists(path.c_str()) != PathFile) continue;
    bool named = false;
    for (const std::string& earlier : listed) named = named || earlier == name;
    if (named) continue;
    std::string names = name;
    for (const char* other : Names) {
      if (std::string(other) != name &&
          files->Identity(path.c_str(), folder->Path(other).c_str()) == FilesLinked) {
        names += std::string("+") + other;
        listed.push_back(other);
      }
    }
    listing += (listing.empty() ? "" : " ") + names + "=" + Content(files, path);
  }
  return listing;
}

int32_t Perform(Folder* folder, const Case& row) {
  PackageFiles* files = folder->files();
  const std::string one = folder->Path(row.one);
  const std::string other = row.other != nullptr ? folder->Path(row.other) : std::string();
  switch (row.operation) {
    case Create: {
      StreamPtr stream(files->OpenForWriting(one.c_str()));
      if (!stream) return -1;
      const Bytes text = Text("new");
      if (stream->Write(text.data(), static_cast<int32_t>(text.size())) != 3) return -2;
      if (files->Commit(stream.get()) != 0 || files->Close(stream.get()) != 0) return -3;
      return 0;
    }
    case Rename:
      return files->Rename(one.c_str(), other.c_str());
    case Link:
      return files->Link(one.c_str(), other.c_str());
    case Replace:
      return files->Replace(one.c_str(), other.c_str());
    case Remove:
      return files->Remove(one.c_str());
    case Exists:
      return files->Exists(one.c_str());
    case Identity:
      return files->Identity(one.c_str(), other.c_str());
  }
  return -100;
}

class PackageFilesContractTest : public ::testing::TestWithParam<bool> {
 protected:
  std::unique_ptr<Folder> MakeFolder() const {
    if (GetParam()) return std::make_unique<MemoryFolder>();
    return std::make_unique<SystemFolder>();
  }
};

TEST_P(PackageFilesContractTest, EveryOperationAsTheTableSays) {
  for (const Case& row : Cases) {
    SCOPED_TRACE(row.what);
    std::unique_ptr<Folder> folder = MakeFolder();
    for (const std::string& word : Words(row.before)) {
      const size_t equals = word.find('=');
      if (equals != std::string::npos) {
        folder->Put(word.substr(0, equals), word.substr(equals + 1));
        continue;
      }
      const size_t tilde = word.find('~');
      ASSERT_EQ(folder->files()->Link(folder->Path(word.substr(tilde + 1)).c_str(),
                                      folder->Path(word.substr(0, tilde)).c_str()),
                0);
    }
    EXPECT_EQ(Perform(folder.get(), row), row.result);
    EXPECT_EQ(Listing(folder.get()), row.after);
  }
}

INSTANTIATE_TEST_SUITE_P(BothFolders, PackageFilesContractTest, ::testing::Values(false, true),
                         [](const ::testing::TestParamInfo<bool>& info) {
                           return std::string(info.param ? "InMemory" : "System");
                         });

}  // namespace
