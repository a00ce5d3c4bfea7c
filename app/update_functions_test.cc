// The update form, driven by the scripted user over a real catalogue file in
// a fresh folder.

#include "app/update_functions.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include "app/app_globals.h"
#include "app/func_file.h"
#include "app/func_managers.h"
#include "app/program.h"
#include "drivers/palisade/test_support.h"
#include "framework/window_manager.h"
#include "runtime/os/launch.h"
#include "runtime/settings/registry.h"
#include "ui/headless_backend.h"
#include "ui/keycodes.h"
#include "ui/message.h"
#include "ui/toolkit.h"
#include "ui/window.h"

namespace qzr {
namespace {

class UpdateFunctionsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    old_ = std::filesystem::current_path();
    std::filesystem::current_path(dir_.path());
    ui_.SetFailureHandler([](const std::string& f) { ADD_FAILURE() << f; });
    SetLaunchHook([this](const std::vector<std::string>& argv, std::string*) {
      starts_.push_back(argv);
      return 0;
    });
  }
  void TearDown() override {
    SetLaunchHook({});
    std::filesystem::current_path(old_);
  }

  // Runs `body` inside the program (globals, FUNC and its managers set up).
  void InProgram(const std::function<void()>& body) {
    RunProgram([&] {
      ScopedBackend scope(&ui_);
      // The test's own use of the file keeps it open (and the record buffer
      // as read) between the forms.
      ASSERT_EQ(FuncAccess->Open(), SeverityNone);
      body();
      FuncAccess->Close();
    });
  }

  // Adds an entry; returns its number.
  static int32_t Add(const std::string& title, const std::string& code = "x = 1") {
    FuncEntry e;
    e.title = title;
    e.code = code;
    e.link = "www.example.org/forum";
    WriteFuncEntry(&FUNC(), e, false);
    EXPECT_EQ(FuncAccess->Insert(), SeverityNone);
    return ReadFuncEntry(FUNC()).id;
  }
  // Reads entry `id` into the record buffer; false when it is gone.
  static bool Load(int32_t id) {
    FuncEntry key;
    key.id = id;
    WriteFuncEntry(&FUNC(), key, true);
    return FuncAccess->Fetch(kFunPId) == SeverityNone;
  }
  static std::vector<FuncEntry> All() {
    std::vector<FuncEntry> out;
    for (int32_t id = 1; id < 50; ++id) {
      FuncEntry key;
      key.id = id;
      WriteFuncEntry(&FUNC(), key, true);
      if (FuncAccess->Fetch(kFunPId) == SeverityNone) out.push_back(ReadFuncEntry(FUNC()));
    }
    return out;
  }
  static int Call(uint8_t request) {
    PendingRequest = request;
    update_functions();
    return LastResponse;
  }

  // Runs the program itself with `args` in the test's folder, as another
  // process working on the same catalogue would; its exit status.
  static int OtherProcess(const std::vector<std::string>& args) {
    const pid_t pid = ::fork();
    if (pid == 0) {
      std::vector<char*> argv = {const_cast<char*>(QZR_FUNCTIONS_EXE)};
      for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
      argv.push_back(nullptr);
      ::execv(QZR_FUNCTIONS_EXE, argv.data());
      ::_exit(127);
    }
    int status = 0;
    if (pid < 0 || ::waitpid(pid, &status, 0) != pid || !WIFEXITED(status)) return -1;
    return WEXITSTATUS(status);
  }

  palisade::test::TempDir dir_;
  std::filesystem::path old_;
  HeadlessBackend ui_;
  std::vector<std::vector<std::string>> starts_;
};

TEST_F(UpdateFunctionsTest, ViewShowsViewRecordEverythingReadOnlyAndSaveCloses) {
  InProgram([&] {
    int32_t id = Add("Quick sort", "def qs(a): ...");
    ASSERT_TRUE(Load(id));
    uint64_t launches = LaunchCount();
    ui_.Then([&](HeadlessWindow& w) {
      EXPECT_EQ(w.caption, kCaptionView);
      for (int c : {kUfName, kUfDescription, kUfForumLink, kUfExampleCode, kUfFullCode}) {
        EXPECT_TRUE(w.ReadOnly(c)) << c;
      }
      EXPECT_TRUE(w.Enabled(kUfGotoWeb));
      EXPECT_EQ(w.Text(kUfExampleCode), "def qs(a): ...");
      // Opening the form started nothing.
      EXPECT_EQ(LaunchCount(), launches);
    });
    ui_.Click(kUfGotoWeb);
    ui_.Click(kUfOk);
    EXPECT_EQ(Call(kViewRecord), kRequestCancelled);
    EXPECT_TRUE(ui_.Messages().empty());
  });
  ASSERT_EQ(starts_.size(), 1u);
  EXPECT_EQ(starts_[0], (std::vector<std::string>{"xdg-open", "http://www.example.org/forum"}));
}

TEST_F(UpdateFunctionsTest, InsertNumbersTheEntryAndCtrlHRecallsItsTitleInTheNext) {
  InProgram([&] {
    ui_.Then([](HeadlessWindow& w) { EXPECT_EQ(w.caption, kCaptionInsert); });
    ui_.Type(kUfName, "Binary search");
    ui_.Type(kUfExampleCode, "int bs() { return 0; }");
    ui_.Click(kUfOk);
    EXPECT_EQ(Call(kInsertRecord), kRequestCompleted);

    ui_.Focus(kUfName);
    ui_.Key(kKeyCtrlH, kUfName);
    ui_.Then([](HeadlessWindow& w) { EXPECT_EQ(w.Text(kUfName), "Binary search"); });
    ui_.Click(kUfCancel);
    ui_.AnswerMessage(kButtonYes);  // "Changes will be lost!"
    EXPECT_EQ(Call(kInsertRecord), kRequestCancelled);

    std::vector<FuncEntry> all = All();
    ASSERT_EQ(all.size(), 1u);
    EXPECT_EQ(all[0].title, "Binary search");
    EXPECT_EQ(all[0].code, "int bs() { return 0; }");
    EXPECT_GT(all[0].id, 0);
  });
}

TEST_F(UpdateFunctionsTest, ClosingAsksOnlyWhenSomethingChanged) {
  InProgram([&] {
    int32_t id = Add("Hash map");
    ASSERT_TRUE(Load(id));
    ui_.Then([](HeadlessWindow& w) { EXPECT_EQ(w.caption, kCaptionChange); });
    ui_.Close();
    EXPECT_EQ(Call(kChangeRecord), kRequestCancelled);
    EXPECT_TRUE(ui_.Messages().empty());

    ASSERT_TRUE(Load(id));
    ui_.Type(kUfName, "Hash map (open addressing)");
    ui_.Close();
    ui_.AnswerMessage(kButtonNo);  // keeps it open
    ui_.Then([](HeadlessWindow& w) { EXPECT_EQ(w.caption, kCaptionChange); });
    ui_.Close();
    ui_.AnswerMessage(kButtonYes);
    EXPECT_EQ(Call(kChangeRecord), kRequestCancelled);
    auto shown = ui_.Messages();
    ASSERT_EQ(shown.size(), 2u);
    EXPECT_EQ(shown[0].request.caption, "Changes will be lost!");
    ASSERT_TRUE(Load(id));
    EXPECT_EQ(ReadFuncEntry(FUNC()).title, "Hash map");
  });
}

TEST_F(UpdateFunctionsTest, AnEditOnlyToTheCodeIsSaved) {
  InProgram([&] {
    int32_t id = Add("Trie", "old code");
    ASSERT_TRUE(Load(id));
    ui_.Type(kUfExampleCode, "new code\n  indented\n");
    ui_.Click(kUfOk);
    EXPECT_EQ(Call(kChangeRecord), kRequestCompleted);
    ASSERT_TRUE(Load(id));
    EXPECT_EQ(ReadFuncEntry(FUNC()).code, "new code\n  indented\n");
    EXPECT_EQ(ReadFuncEntry(FUNC()).title, "Trie");
  });
}

TEST_F(UpdateFunctionsTest, AnEntryChangedByAnotherProcessShowsTheirsAndCtrlHRecallsOurs) {
  InProgram([&] {
    int32_t id = Add("mine", "old code");
    ASSERT_TRUE(Load(id));
    ui_.Type(kUfName, "ours");
    ui_.Type(kUfExampleCode, "our code");
    ui_.Then([&](HeadlessWindow&) {
      EXPECT_EQ(OtherProcess({"update", std::to_string(id), "--title", "theirs"}), 0);
    });
    ui_.Click(kUfOk);
    ui_.AnswerMessage(kButtonOk);  // "Record Was Not Updated"
    ui_.Then([](HeadlessWindow& w) {
      EXPECT_EQ(w.caption, kCaptionChange);
      EXPECT_EQ(w.Text(kUfName), "theirs");
      EXPECT_EQ(w.Text(kUfExampleCode), "old code");
    });
    ui_.Focus(kUfName);
    ui_.Key(kKeyCtrlH, kUfName);
    ui_.Focus(kUfExampleCode);
    ui_.Key(kKeyCtrlH, kUfExampleCode);
    ui_.Then([](HeadlessWindow& w) {
      EXPECT_EQ(w.Text(kUfName), "ours");
      EXPECT_EQ(w.Text(kUfExampleCode), "our code");
    });
    ui_.Click(kUfOk);
    EXPECT_EQ(Call(kChangeRecord), kRequestCompleted);
    auto shown = ui_.Messages();
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0].request.caption, "Record Was Not Updated");
    ASSERT_TRUE(Load(id));
    EXPECT_EQ(ReadFuncEntry(FUNC()).title, "ours");
    EXPECT_EQ(ReadFuncEntry(FUNC()).code, "our code");
  });
}

TEST_F(UpdateFunctionsTest, AnEntryDeletedByAnotherProcessKeepsOurTextForCtrlH) {
  InProgram([&] {
    int32_t id = Add("mine", "old code");
    ASSERT_TRUE(Load(id));
    ui_.Type(kUfName, "ours");
    ui_.Type(kUfExampleCode, "our code");
    ui_.Then([&](HeadlessWindow&) {
      EXPECT_EQ(OtherProcess({"delete", std::to_string(id), "--yes"}), 0);
    });
    ui_.Click(kUfOk);
    ui_.AnswerMessage(kButtonOk);  // "Record Was Not Updated": the form stays
    ui_.Then([](HeadlessWindow& w) {
      EXPECT_EQ(w.caption, kCaptionChange);
      EXPECT_EQ(w.Text(kUfName), "ours");
      EXPECT_EQ(w.Text(kUfExampleCode), "our code");
    });
    ui_.Click(kUfCancel);
    ui_.AnswerMessage(kButtonYes);  // "Changes will be lost!"
    EXPECT_EQ(Call(kChangeRecord), kRequestCancelled);
    std::vector<std::string> captions;
    for (const auto& m : ui_.Messages()) captions.push_back(m.request.caption);
    EXPECT_EQ(captions,
              (std::vector<std::string>{"Record Was Not Updated", "Changes will be lost!"}));

    // A new entry takes our text back with Ctrl+H.
    ui_.Focus(kUfName);
    ui_.Key(kKeyCtrlH, kUfName);
    ui_.Focus(kUfExampleCode);
    ui_.Key(kKeyCtrlH, kUfExampleCode);
    ui_.Click(kUfOk);
    EXPECT_EQ(Call(kInsertRecord), kRequestCompleted);
    std::vector<FuncEntry> all = All();
    ASSERT_EQ(all.size(), 1u);
    EXPECT_EQ(all[0].title, "ours");
    EXPECT_EQ(all[0].code, "our code");
  });
}

TEST_F(UpdateFunctionsTest, TextBeyondAFieldsCapacityCannotBeTyped) {
  InProgram([&] {
    // Each text ends with a character that would cross its field's end.
    const std::string title = std::string(98, 't') + "\xC3\xA9";              // 100 bytes
    const std::string description = std::string(1022, 'd') + "\xE2\x82\xAC";  // 1,025
    const std::string code = std::string(63999, 'c') + "\xC3\xA9";            // 64,001
    ui_.Type(kUfName, title);
    ui_.Type(kUfDescription, description);
    ui_.Type(kUfExampleCode, code);
    ui_.Append(kUfExampleCode, "\xC3\xA9");  // one byte left: refused whole
    ui_.Then([](HeadlessWindow& w) {
      EXPECT_EQ(w.Control(kUfName)->text_capacity, 99u);
      EXPECT_EQ(w.Control(kUfDescription)->text_capacity, 1023u);
      EXPECT_EQ(w.Control(kUfForumLink)->text_capacity, 254u);
      EXPECT_EQ(w.Control(kUfExampleCode)->text_capacity, 64000u);
      EXPECT_EQ(w.Text(kUfName), std::string(98, 't'));
      EXPECT_TRUE(w.Text(kUfDescription) == std::string(1022, 'd'));
      EXPECT_TRUE(w.Text(kUfExampleCode) == std::string(63999, 'c'));
    });
    ui_.Click(kUfOk);
    EXPECT_EQ(Call(kInsertRecord), kRequestCompleted);
    EXPECT_TRUE(ui_.Messages().empty());  // nothing too long to save
    EXPECT_EQ(ui_.Beeps(), std::vector<int>(4, kBeepStandard));
    std::vector<FuncEntry> all = All();
    ASSERT_EQ(all.size(), 1u);
    EXPECT_EQ(all[0].title, std::string(98, 't'));
    EXPECT_TRUE(all[0].description == std::string(1022, 'd'));
    EXPECT_TRUE(all[0].code == std::string(63999, 'c'));
  });
}

TEST_F(UpdateFunctionsTest, AnOverlongTextIsNeverCutAtSave) {
  InProgram([&] {
    // A window system that does not limit typing hands over 100 bytes.
    const std::string title = std::string(99, 't') + "u";
    ui_.Then([&](HeadlessWindow& w) {
      InputSink::FocusMoved(w.id, kUfName);
      InputSink::TextChanged(w.id, kUfName, title);
    });
    ui_.Click(kUfOk);
    ui_.AnswerMessage(kButtonOk);  // "Text Too Long"
    ui_.Then([&](HeadlessWindow& w) {
      EXPECT_EQ(w.caption, kCaptionInsert);  // still open, nothing saved
      EXPECT_EQ(w.focus, kUfName);
    });
    ui_.Type(kUfName, "short");
    ui_.Click(kUfOk);
    EXPECT_EQ(Call(kInsertRecord), kRequestCompleted);
    ASSERT_EQ(ui_.Messages().size(), 1u);
    EXPECT_EQ(ui_.Messages()[0].request.caption, kTooLongCaption);
    EXPECT_EQ(ui_.Messages()[0].request.text,
              "The title is 100 bytes long; it holds at most 99 bytes.|Shorten it before saving: "
              "nothing has been cut.");
    std::vector<FuncEntry> all = All();
    ASSERT_EQ(all.size(), 1u);
    EXPECT_EQ(all[0].title, "short");
  });
}

TEST_F(UpdateFunctionsTest, OpeningStartsNoProcessTouchesNoRegistryAndEachResizeIsOneBatch) {
  InProgram([&] {
    const int32_t id = Add("Heap sort");
    for (uint8_t request : {kInsertRecord, kChangeRecord, kViewRecord}) {
      SCOPED_TRACE(request);
      ASSERT_TRUE(Load(id));
      ui_.Clear();
      const uint64_t launches = LaunchCount();
      const uint64_t registry = RegistryCallCount();
      std::vector<int> batches;
      ui_.Then([&](HeadlessWindow& w) {
        EXPECT_EQ(LaunchCount(), launches);
        EXPECT_EQ(RegistryCallCount(), registry);
        batches.push_back(w.move_batches);
      });
      ui_.Resize(600, 450);
      ui_.Then([&](HeadlessWindow& w) { batches.push_back(w.move_batches); });
      ui_.Resize(500, 400);
      ui_.Then([&](HeadlessWindow& w) { batches.push_back(w.move_batches); });
      ui_.Click(kUfCancel);
      Call(request);
      // Each pass that moved controls moved them in one batch.
      EXPECT_EQ(batches, (std::vector<int>{batches[0], batches[0] + 1, batches[0] + 2}));
    }
    EXPECT_TRUE(starts_.empty());
  });
}

TEST_F(UpdateFunctionsTest, DeleteNeverOpensTheForm) {
  InProgram([&] {
    int32_t id = Add("Bubble sort");
    ASSERT_TRUE(Load(id));
    ui_.AnswerMessage(kButtonYes);  // "Confirm Delete"
    EXPECT_EQ(Call(kDeleteRecord), kRequestCompleted);
    EXPECT_TRUE(ui_.WindowsOpened().empty());
    EXPECT_FALSE(Load(id));
  });
}

}  // namespace
}  // namespace qzr
namespace qzr {
namespace {
TEST_F(UpdateFunctionsTest, TheFirstEntrysCodeReadsBack) {
  InProgram([&] {
    int32_t id = Add("A", "some code");
    EXPECT_EQ(ReadFuncEntry(FUNC()).code, "some code");
    ASSERT_TRUE(Load(id));
    EXPECT_EQ(ReadFuncEntry(FUNC()).code, "some code");
    FuncEntry e = ReadFuncEntry(FUNC());
    e.code = "changed";
    WriteFuncEntry(&FUNC(), e, true);
    EXPECT_EQ(FuncAccess->Update(), SeverityNone);
    ASSERT_TRUE(Load(id));
    EXPECT_EQ(ReadFuncEntry(FUNC()).code, "changed");
  });
}
}  // namespace
}  // namespace qzr
