#include <chrono>
#include <thread>

#include "app/update_dialog.h"
#include "testing/fake_platform.h"

namespace {

using Strings = std::vector<std::string>;

class ShowPromptTest : public FakePlatformTest {};

// The order of a prompt's steps: text, wait object published before any
// button is enabled, buttons, repaint, wait, release, empty text.
TEST_F(ShowPromptTest, StepsInOrderForEachMode) {
  const struct {
    int32_t mode;
    FakePlatform::Action press;
    int32_t choice;
    Strings calls;
  } cases[] = {
      {PromptAcknowledge,
       Press(IDOK),
       ChoiceOk,
       {"text 1012", "create", "enable 1 on", "enable 2 off", "repaint", "wait", "signal", "close",
        "text 1012"}},
      {PromptConfirm,
       Press(IDCANCEL),
       ChoiceCancel,
       {"text 1012", "create", "enable 1 on", "enable 2 on", "repaint", "wait", "signal", "close",
        "text 1012"}},
      {PromptConfirm,
       Press(IDOK),
       ChoiceOk,
       {"text 1012", "create", "enable 1 on", "enable 2 on", "repaint", "wait", "signal", "close",
        "text 1012"}},
  };
  for (const auto& c : cases) {
    fake.Reset();
    fake.script = {c.press};
    EXPECT_EQ(ShowPrompt("message", c.mode), c.choice) << c.mode;
    EXPECT_EQ(fake.calls, c.calls) << c.mode;
    EXPECT_EQ(fake.texts, (Strings{"message", ""}));
    ASSERT_EQ(fake.prompts.size(), 1u);
    EXPECT_EQ(fake.prompts[0], (FakePlatform::Prompt{"message", true, c.mode == PromptConfirm}));
    EXPECT_EQ(fake.enabledUnpublished, 0);
    EXPECT_EQ(PromptEvent, nullptr);
    // The buttons keep the prompt's state after it returns.
    EXPECT_TRUE(fake.OkEnabled());
    EXPECT_EQ(fake.CancelEnabled(), c.mode == PromptConfirm);
  }
}

TEST_F(ShowPromptTest, OtherModesOnlyClearTheAreaAndDisableBoth) {
  LastChoice = ChoiceCancel;
  EXPECT_EQ(ShowPrompt("gone at once", 7), ChoiceCancel);
  EXPECT_EQ(fake.calls, (Strings{"text 1012", "enable 1 off", "enable 2 off", "repaint", "text 1012"}));
  EXPECT_EQ(fake.texts, (Strings{"gone at once", ""}));
  EXPECT_TRUE(fake.prompts.empty());
  EXPECT_FALSE(fake.OkEnabled());
  EXPECT_FALSE(fake.CancelEnabled());
}

// Without a wait object nothing waits, and an earlier press must not be
// taken for an answer to a question nobody saw.
TEST_F(ShowPromptTest, NoWaitObjectGivesNoAnswer) {
  fake.waitObjectsFail = true;
  LastChoice = ChoiceOk;
  EXPECT_EQ(ShowPrompt("update?", PromptConfirm), ChoiceNone);
  EXPECT_TRUE(fake.prompts.empty());
  EXPECT_FALSE(fake.OkEnabled());
  EXPECT_FALSE(fake.CancelEnabled());
  EXPECT_EQ(fake.MessageText(), "");
}

TEST_F(ShowPromptTest, DisabledButtonsAndClosesDoNotAnswer) {
  // Cancel is disabled during an acknowledgement: neither its press nor a
  // close of the window ends the wait.
  fake.script = {Press(IDCANCEL), CloseWindow(), Press(IDOK)};
  EXPECT_EQ(ShowPrompt("read me", PromptAcknowledge), ChoiceOk);
  EXPECT_EQ(fake.disabledPresses, 1);
  EXPECT_EQ(fake.refusedCloses, 1);

  // During a question the close is Cancel.
  fake.script = {CloseWindow()};
  EXPECT_EQ(ShowPrompt("update?", PromptConfirm), ChoiceCancel);
  EXPECT_EQ(fake.refusedCloses, 1);
}

TEST(UpdateDialogCommandTest, RecordsTheChoiceOfEachControl) {
  FakePlatform::Get().Reset();
  const struct {
    int32_t notification, id;
    bool handled;
    int32_t choice;
  } cases[] = {
      {0, IDOK, true, ChoiceOk},
      {0, IDCANCEL, true, ChoiceCancel},
      {0, IDC_MESSAGE, true, ChoiceNone},
      {0, IDCANCEL, true, ChoiceCancel},
      {1, IDOK, false, ChoiceCancel},  // another notification: nothing recorded
      {0x0300, IDC_MESSAGE, false, ChoiceCancel},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(UpdateDialogCommand(c.notification, c.id), c.handled) << c.notification << " " << c.id;
    EXPECT_EQ(LastChoice.load(), c.choice) << c.notification << " " << c.id;
  }
  EXPECT_TRUE(FakePlatform::Get().calls.empty()) << "nothing waits, so nothing is signalled";
}

// The prompt protocol with a real worker and a real user-interface thread.
class PromptThreadsTest : public FakePlatformTest {
 protected:
  void SetUp() override {
    FakePlatformTest::SetUp();
    fake.scripted = false;
  }
  // Starts ShowPrompt on a worker and returns once it waits.
  void StartPrompt(const char* text, int32_t mode) {
    const int32_t waits = fake.waitsBegun + 1;
    worker = std::thread([=] { answer = ShowPrompt(text, mode); });
    fake.AwaitWaits(waits);
  }
  // A fault would end the wait at once; give it the time to show.
  void ExpectStillWaiting() {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_TRUE(fake.Waiting());
  }
  int32_t Finish() {
    worker.join();
    return answer;
  }
  std::thread worker;
  int32_t answer = -1;
};

TEST_F(PromptThreadsTest, PressWhileNothingWaitsDoesNotAnswerTheNextPrompt) {
  EXPECT_TRUE(UpdateDialogCommand(0, IDOK));
  StartPrompt("update?", PromptConfirm);
  ExpectStillWaiting();
  UpdateDialogCommand(0, IDCANCEL);
  EXPECT_EQ(Finish(), ChoiceCancel);
  EXPECT_EQ(fake.MessageText(), "");
}

TEST_F(PromptThreadsTest, CloseDuringQuestionIsCancel) {
  StartPrompt("update?", PromptConfirm);
  EXPECT_TRUE(CloseUpdateDialog(fake.CancelEnabled()));
  EXPECT_EQ(Finish(), ChoiceCancel);
  EXPECT_EQ(fake.MessageText(), "");
}

TEST_F(PromptThreadsTest, CloseDuringAcknowledgementDoesNothing) {
  StartPrompt("done", PromptAcknowledge);
  EXPECT_FALSE(CloseUpdateDialog(fake.CancelEnabled()));
  ExpectStillWaiting();
  EXPECT_EQ(fake.MessageText(), "done");
  UpdateDialogCommand(0, IDOK);
  EXPECT_EQ(Finish(), ChoiceOk);
  EXPECT_EQ(fake.MessageText(), "");
}

// Presses that keep coming while prompts begin and end: each prompt is
// answered, the area is empty after each, and no press ever signals a
// wait object that its prompt has already released.
TEST_F(PromptThreadsTest, PressesRacingThePromptsNeverSignalAReleasedObject) {
  constexpr int Prompts = 300;
  std::atomic<bool> done{false};
  int emptyAfter = 0;
  std::vector<int32_t> answers;
  worker = std::thread([&] {
    for (int i = 0; i < Prompts; ++i) {
      answers.push_back(ShowPrompt("again", i % 2 == 0 ? PromptAcknowledge : PromptConfirm));
      if (fake.MessageText().empty()) ++emptyAfter;
    }
    done = true;
  });
  while (!done) UpdateDialogCommand(0, IDOK);
  worker.join();
  EXPECT_EQ(emptyAfter, Prompts);
  EXPECT_EQ(answers, std::vector<int32_t>(Prompts, ChoiceOk));
  EXPECT_EQ(fake.signalsOnClosed, 0);
  EXPECT_EQ(PromptEvent, nullptr);
}

}  // namespace
