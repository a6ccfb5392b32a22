#include "testing/fake_platform.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>

#include "app/update_dialog.h"
#include "package/package_files.h"
#include "stream/cp932_path.h"

// Wait objects live until the next Reset, so that a signal of a released
// one is counted instead of touching freed memory.
struct WaitObject {
  std::mutex lock;
  std::condition_variable changed;
  bool signalled = false;
  bool closed = false;
};

struct RegistryKey {
  std::string path;
  RegistryView view;
};

namespace {

std::vector<std::unique_ptr<WaitObject>>& WaitObjects() {
  static std::vector<std::unique_ptr<WaitObject>> objects;
  return objects;
}

// Marks a seam function's own work as the fake's bookkeeping.
class Bookkeeping {
 public:
  Bookkeeping() {
    if (FakeBookkeepingHook != nullptr) FakeBookkeepingHook(true);
  }
  ~Bookkeeping() {
    if (FakeBookkeepingHook != nullptr) FakeBookkeepingHook(false);
  }
  Bookkeeping(const Bookkeeping&) = delete;
  Bookkeeping& operator=(const Bookkeeping&) = delete;
};

bool Signalled(WaitObject* object) {
  std::lock_guard<std::mutex> guard(object->lock);
  return object->signalled;
}

}  // namespace

void (*FakeBookkeepingHook)(bool begins) = nullptr;

FakePlatform& FakePlatform::Get() {
  static FakePlatform fake;
  return fake;
}

void FakePlatform::Reset() {
  std::lock_guard<std::mutex> guard(stateLock);
  modulePath = "C:\\Fix\\fixmod.exe";
  moduleFails = moduleTruncated = false;
  presentFiles.clear();
  platformId = 2;
  registry.clear();
  registry32.clear();
  codePage = 932;
  systemTexts.clear();
  picks.clear();
  script.clear();
  scripted = true;
  waitObjectsFail = false;
  throwingCall.clear();
  texts.clear();
  prompts.clear();
  calls.clear();
  existenceTests.clear();
  keysOpened.clear();
  viewsOpened.clear();
  pickerCalls.clear();
  registryCalls = messagesOutstanding = keysOutstanding = 0;
  refusedCloses = disabledPresses = signalsOnClosed = destroyPosted = enabledUnpublished = 0;
  waitsBegun = 0;
  waiting = false;
  okEnabled = cancelEnabled = true;
  messageText.clear();
  WaitObjects().clear();
  LastChoice = 0;
  PromptEvent = nullptr;
}

void FakePlatform::RegisterAppPath(const std::string& exeName, const std::string& folder) {
  RegistryEntry entry;
  entry.data = folder + std::string(1, '\0');
  registry["SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\App Paths\\" + exeName] = entry;
}

std::vector<std::string> FakePlatform::PromptTexts() const {
  std::vector<std::string> shown;
  for (const Prompt& prompt : prompts) shown.push_back(prompt.text);
  return shown;
}

std::string FakePlatform::MessageText() {
  std::lock_guard<std::mutex> guard(stateLock);
  return messageText;
}

bool FakePlatform::OkEnabled() {
  std::lock_guard<std::mutex> guard(stateLock);
  return okEnabled;
}

bool FakePlatform::CancelEnabled() {
  std::lock_guard<std::mutex> guard(stateLock);
  return cancelEnabled;
}

void FakePlatform::AwaitWaits(int32_t count) {
  std::unique_lock<std::mutex> guard(stateLock);
  stateChanged.wait(guard, [&] { return waitsBegun >= count && waiting; });
}

bool FakePlatform::Waiting() {
  std::lock_guard<std::mutex> guard(stateLock);
  return waiting;
}

void FakePlatform::RunScript(WaitObject* object) {
  while (!Signalled(object)) {
    Action action;
    {
      std::lock_guard<std::mutex> guard(stateLock);
      if (script.empty()) {
        ADD_FAILURE() << "a prompt waits and the script has no press left: " << messageText;
        return;
      }
      action = script.front();
      script.pop_front();
    }
    if (action.kind == Action::Close) {
      if (!CloseUpdateDialog(CancelEnabled())) {
        std::lock_guard<std::mutex> guard(stateLock);
        ++refusedCloses;
      }
      continue;
    }
    const bool enabled = action.id == IDOK ? OkEnabled() : action.id == IDCANCEL ? CancelEnabled() : true;
    if (!enabled) {
      std::lock_guard<std::mutex> guard(stateLock);
      ++disabledPresses;
      continue;
    }
    UpdateDialogCommand(0, action.id);
  }
}

// --- the seam

void PlatformSetItemText(PlatformWindow, int32_t id, const char* text) {
  Bookkeeping bookkeeping;
  FakePlatform& fake = FakePlatform::Get();
  std::lock_guard<std::mutex> guard(fake.stateLock);
  fake.calls.push_back("text " + std::to_string(id));
  if (id == IDC_MESSAGE) {
    fake.messageText = text;
    fake.texts.push_back(text);
  }
  fake.stateChanged.notify_all();
}

void PlatformEnableItem(PlatformWindow, int32_t id, bool enable) {
  Bookkeeping bookkeeping;
  FakePlatform& fake = FakePlatform::Get();
  std::lock_guard<std::mutex> guard(fake.stateLock);
  fake.calls.push_back("enable " + std::to_string(id) + (enable ? " on" : " off"));
  // Read on the worker, which alone writes it.
  if (enable && PromptEvent == nullptr) ++fake.enabledUnpublished;
  if (id == IDOK) fake.okEnabled = enable;
  if (id == IDCANCEL) fake.cancelEnabled = enable;
  fake.stateChanged.notify_all();
}

void PlatformRepaint(PlatformWindow) {
  Bookkeeping bookkeeping;
  FakePlatform& fake = FakePlatform::Get();
  std::lock_guard<std::mutex> guard(fake.stateLock);
  fake.calls.push_back("repaint");
}

void PlatformPostDestroy(PlatformWindow) {
  Bookkeeping bookkeeping;
  FakePlatform& fake = FakePlatform::Get();
  std::lock_guard<std::mutex> guard(fake.stateLock);
  fake.calls.push_back("destroy");
  ++fake.destroyPosted;
}

WaitObject* PlatformCreateWaitObject() {
  Bookkeeping bookkeeping;
  FakePlatform& fake = FakePlatform::Get();
  std::lock_guard<std::mutex> guard(fake.stateLock);
  fake.calls.push_back("create");
  if (fake.waitObjectsFail) return nullptr;
  WaitObjects().push_back(std::make_unique<WaitObject>());
  return WaitObjects().back().get();
}

void PlatformWait(WaitObject* object) {
  Bookkeeping bookkeeping;
  FakePlatform& fake = FakePlatform::Get();
  bool scripted;
  {
    std::lock_guard<std::mutex> guard(fake.stateLock);
    fake.calls.push_back("wait");
    fake.prompts.push_back({fake.messageText, fake.okEnabled, fake.cancelEnabled});
    ++fake.waitsBegun;
    fake.waiting = true;
    scripted = fake.scripted;
    fake.stateChanged.notify_all();
  }
  if (scripted) {
    fake.RunScript(object);  // a script that ran dry has failed the test; go on
  } else {
    std::unique_lock<std::mutex> guard(object->lock);
    object->changed.wait(guard, [&] { return object->signalled; });
  }
  std::lock_guard<std::mutex> guard(fake.stateLock);
  fake.waiting = false;
  fake.stateChanged.notify_all();
}

void PlatformSignal(WaitObject* object) {
  Bookkeeping bookkeeping;
  FakePlatform& fake = FakePlatform::Get();
  {
    std::lock_guard<std::mutex> guard(fake.stateLock);
    fake.calls.push_back("signal");
  }
  bool closed;
  {
    std::lock_guard<std::mutex> guard(object->lock);
    closed = object->closed;
    if (!closed) {
      object->signalled = true;
      object->changed.notify_all();
    }
  }
  if (closed) {
    std::lock_guard<std::mutex> guard(fake.stateLock);
    ++fake.signalsOnClosed;
  }
}

void PlatformCloseWaitObject(WaitObject* object) {
  Bookkeeping bookkeeping;
  FakePlatform& fake = FakePlatform::Get();
  {
    std::lock_guard<std::mutex> guard(fake.stateLock);
    fake.calls.push_back("close");
  }
  std::lock_guard<std::mutex> guard(object->lock);
  object->closed = true;
}

void PlatformLockPrompt() { FakePlatform::Get().promptLock.lock(); }
void PlatformUnlockPrompt() { FakePlatform::Get().promptLock.unlock(); }

uint32_t PlatformGetModuleFileName(PlatformInstance, char* path, uint32_t size) {
  FakePlatform& fake = FakePlatform::Get();
  if (fake.moduleFails || size == 0) return 0;
  if (fake.moduleTruncated) {
    // As older systems do: the buffer is filled and left without a terminator.
    memset(path, 'x', size);
    path[0] = 'C';
    path[1] = ':';
    path[2] = '\\';
    return size;
  }
  const size_t length = fake.modulePath.size() < size ? fake.modulePath.size() : size - 1;
  memcpy(path, fake.modulePath.data(), length);
  path[length] = '\0';
  return static_cast<uint32_t>(length);
}

bool PlatformFileExists(const char* path) {
  Bookkeeping bookkeeping;
  FakePlatform& fake = FakePlatform::Get();
  std::lock_guard<std::mutex> guard(fake.stateLock);
  fake.existenceTests.push_back(path);
  if (fake.throwingCall == "exists") throw std::bad_alloc();
  return fake.presentFiles.count(path) != 0;
}

int32_t PlatformGetPlatformId() { return FakePlatform::Get().platformId; }

bool PlatformIsLeadByte(unsigned char byte) {
  return FakePlatform::Get().codePage == 932 && IsCp932LeadByte(byte);
}

int32_t PlatformRegOpenKey(const char* subKey, RegistryView view, RegistryKey** key) {
  Bookkeeping bookkeeping;
  FakePlatform& fake = FakePlatform::Get();
  ++fake.registryCalls;
  fake.viewsOpened.push_back(view);
  if (view == RegistryViewOwn) fake.keysOpened.push_back(subKey);
  const auto& registry = view == RegistryView32 ? fake.registry32 : fake.registry;
  auto found = registry.find(subKey);
  if (found == registry.end()) return 2;  // ERROR_FILE_NOT_FOUND
  if (found->second.openError != 0) return found->second.openError;
  *key = new RegistryKey{subKey, view};
  ++fake.keysOutstanding;
  return 0;
}

int32_t PlatformRegQueryValue(RegistryKey* key, const char* name, char* data, uint32_t* size) {
  Bookkeeping bookkeeping;
  FakePlatform& fake = FakePlatform::Get();
  ++fake.registryCalls;
  EXPECT_STREQ(name, "Path");
  if (fake.throwingCall == "query") throw std::bad_alloc();
  const FakePlatform::RegistryEntry& entry =
      (key->view == RegistryView32 ? fake.registry32 : fake.registry).at(key->path);
  if (data == nullptr) {
    if (entry.sizeError != 0) return entry.sizeError;
    *size = static_cast<uint32_t>(entry.data.size());
    return 0;
  }
  if (entry.readError != 0) return entry.readError;
  if (*size < entry.data.size()) {
    *size = static_cast<uint32_t>(entry.data.size());
    return 234;  // ERROR_MORE_DATA
  }
  // As RegQueryValueExA: the stored bytes, without a terminator added.
  memcpy(data, entry.data.data(), entry.data.size());  // NOLINT(bugprone-not-null-terminated-result)
  *size = static_cast<uint32_t>(entry.data.size());
  return 0;
}

void PlatformRegCloseKey(RegistryKey* key) {
  Bookkeeping bookkeeping;
  FakePlatform& fake = FakePlatform::Get();
  ++fake.registryCalls;
  --fake.keysOutstanding;
  delete key;
}

char* PlatformFormatMessage(int32_t code) {
  FakePlatform& fake = FakePlatform::Get();
  auto found = fake.systemTexts.find(code);
  if (found == fake.systemTexts.end()) return nullptr;
  // Allocated as the system allocates its texts, and failing as it may.
  char* text = static_cast<char*>(malloc(found->second.size() + 1));
  if (text == nullptr) return nullptr;
  memcpy(text, found->second.c_str(), found->second.size() + 1);
  ++fake.messagesOutstanding;
  return text;
}

void PlatformFreeMessage(char* text) {
  --FakePlatform::Get().messagesOutstanding;
  free(text);
}

bool PlatformGetOpenFileName(const char* filter, char* file, uint32_t size) {
  Bookkeeping bookkeeping;
  FakePlatform& fake = FakePlatform::Get();
  // The list ends at the first empty string.
  const char* end = filter;
  while (*end != '\0') end += strlen(end) + 1;
  fake.pickerCalls.push_back({std::string(filter, end + 1), size, std::string(file)});
  if (fake.picks.empty()) {
    ADD_FAILURE() << "the Open dialog was shown and the script has no answer left";
    return false;
  }
  std::optional<std::string> pick = fake.picks.front();
  fake.picks.pop_front();
  if (!pick) return false;
  // A name that does not fit fails the dialog, as GetOpenFileNameA does,
  // rather than running past the caller's buffer.
  if (pick->size() >= size) {
    ADD_FAILURE() << "the scripted pick does not fit the file name buffer of " << size;
    return false;
  }
  memcpy(file, pick->c_str(), pick->size() + 1);
  return true;
}

PackageFiles* PlatformPackageFiles() { return SystemPackageFiles(); }
