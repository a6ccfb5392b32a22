// A scripted fake of the platform seam for the unit tests of the update
// flow. It keeps the dialog's state, records every text set and every
// button state seen by a waiting prompt, answers prompts from a script of
// presses (or lets a second thread press, for the prompt protocol), and
// holds a registry, system texts and a file picker of its own.
#pragma once

#include <cstdint>
#include <deque>
#include <map>
#include <mutex>
#include <condition_variable>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "app/platform.h"
#include "app/update_dialog_ids.h"

class FakePlatform {
 public:
  // What the script does while a prompt waits.
  struct Action {
    enum Kind { Press, Close } kind;
    int32_t id;  // the button pressed (Press only)
  };
  // The dialog as a waiting prompt showed it.
  struct Prompt {
    std::string text;
    bool okEnabled;
    bool cancelEnabled;
    bool operator==(const Prompt& other) const {
      return text == other.text && okEnabled == other.okEnabled && cancelEnabled == other.cancelEnabled;
    }
  };
  // One App Paths key. A key absent from the fake cannot be opened (2).
  struct RegistryEntry {
    int32_t openError = 0;  // the error of opening the key, or 0
    int32_t sizeError = 0;  // the error of asking the value's size, or 0
    int32_t readError = 0;  // the error of reading the value, or 0
    std::string data;       // the stored bytes of "Path", NULs included
  };
  // One call of the file picker.
  struct PickerCall {
    std::string filter;   // the filter list through its closing empty string
    uint32_t size;        // the file buffer's size
    std::string initial;  // the file name the dialog opened with
  };

  // The fake that every Platform* function uses; Reset() before each test.
  static FakePlatform& Get();
  void Reset();

  // --- set-up
  std::string modulePath = "C:\\Fix\\fixmod.exe";
  bool moduleFails = false;            // the module path cannot be had
  bool moduleTruncated = false;        // the path fills the buffer without a terminator
  std::set<std::string> presentFiles;  // paths the existence test finds
  int32_t platformId = 2;
  std::map<std::string, RegistryEntry> registry;  // by full sub-key path
  // The 32-bit view (KEY_WOW64_32KEY) of a 64-bit system, where the
  // products' 32-bit installers register; `registry` is the program's own.
  std::map<std::string, RegistryEntry> registry32;
  int32_t codePage = 932;  // the system's ANSI code page; only 932 has double-byte characters
  std::map<int32_t, std::string> systemTexts;    // FormatMessage texts; others have none
  std::deque<std::optional<std::string>> picks;  // picker answers; nullopt cancels
  std::deque<Action> script;                     // presses for waiting prompts
  bool scripted = true;                          // false: another thread answers the prompts
  bool waitObjectsFail = false;                  // PlatformCreateWaitObject gives null
  // "exists" or "query": that seam call throws std::bad_alloc, as a
  // platform layer built on strings does when memory runs out.
  std::string throwingCall;

  // Registers `folder` (stored with a NUL, as a string value is) for the
  // App Paths key of `exeName`.
  void RegisterAppPath(const std::string& exeName, const std::string& folder);

  // --- what happened
  std::vector<std::string> texts;           // every text set in the message area, "" included
  std::vector<Prompt> prompts;              // the dialog as each waiting prompt showed it
  std::vector<std::string> calls;           // dialog and wait calls in order (see .cpp)
  std::vector<std::string> existenceTests;  // paths given to the existence test
  std::vector<std::string> keysOpened;      // sub-keys opened in the program's own view
  std::vector<RegistryView> viewsOpened;    // the view of every open, in order
  std::vector<PickerCall> pickerCalls;
  int32_t registryCalls = 0;
  int32_t messagesOutstanding = 0;  // system texts handed out and not yet freed
  int32_t keysOutstanding = 0;      // keys opened and not yet closed
  int32_t refusedCloses = 0;        // closes refused with a beep
  int32_t disabledPresses = 0;      // scripted presses on a disabled button
  int32_t signalsOnClosed = 0;      // signals of a released wait object (a protocol fault)
  int32_t destroyPosted = 0;
  int32_t enabledUnpublished = 0;  // a button enabled while no wait object was published

  // The texts that waiting prompts showed, in order.
  std::vector<std::string> PromptTexts() const;

  // --- the dialog's state (safe from any thread)
  std::string MessageText();
  bool OkEnabled();
  bool CancelEnabled();
  // Blocks until `count` waits have begun in total (for a second thread that
  // answers prompts).
  void AwaitWaits(int32_t count);
  // True while a prompt is blocked in its wait.
  bool Waiting();

  // --- used by the Platform* functions
  std::mutex stateLock;  // guards the fields above against a second thread
  std::condition_variable stateChanged;
  std::mutex promptLock;  // the prompt lock of the seam
  int32_t waitsBegun = 0;
  bool waiting = false;
  bool okEnabled = true;
  bool cancelEnabled = true;
  std::string messageText;

  // Carries out script actions until `object` is signalled.
  void RunScript(WaitObject* object);
};

// Called with true as each seam function of the fake begins its own
// bookkeeping and with false as it ends it, so that a test that counts the
// program's allocations can leave the fake's out. Null by default.
extern void (*FakeBookkeepingHook)(bool begins);

// Script steps.
inline FakePlatform::Action Press(int32_t id) { return {FakePlatform::Action::Press, id}; }
inline FakePlatform::Action CloseWindow() { return {FakePlatform::Action::Close, 0}; }

// Tests of the flow start from a fresh fake.
class FakePlatformTest : public ::testing::Test {
 protected:
  void SetUp() override { fake.Reset(); }
  void TearDown() override { EXPECT_TRUE(fake.script.empty()) << "presses left unused"; }
  FakePlatform& fake = FakePlatform::Get();
};
