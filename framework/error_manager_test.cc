#include "framework/error_manager.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "framework/message_table.h"
#include "runtime/core/runtime_error.h"
#include "runtime/evaluator/date_builtins.h"
#include "runtime/os/fault_plan.h"
#include "runtime/pictures/picture.h"
#include "runtime/settings/locale_data.h"
#include "runtime/values/date_time.h"
#include "ui/headless_backend.h"
#include "ui/message.h"
#include "ui/window_backend.h"

namespace qzr {
namespace {

namespace fs = std::filesystem;

LocalDateTime FixedClock() {
  return LocalDateTime{2026, 7, 4, 13, 5, 9, 0};
}

// Runs in a fresh working directory (the log goes there) with a fixed clock,
// a scripted message backend and a halt hook that records instead of ending
// the process.
class ErrorManagerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/qzr_errmgr_XXXXXX";
    ASSERT_NE(::mkdtemp(tmpl), nullptr);
    dir_ = tmpl;
    old_cwd_ = fs::current_path();
    fs::current_path(dir_);
    clock_.local_clock = &FixedClock;
    previous_plan_ = SetProcessFaultPlan(&clock_);
    FileStatus().Clear();
    ClearRuntimeStatusText();
    ClearError();
    errors_.SetHaltHook([this](int code) {
      halts_.push_back(code);
      log_at_halt_ = LogContents();
    });
    errors_.Init();
  }
  void TearDown() override {
    errors_.Kill();
    SetProcessFaultPlan(previous_plan_);
    fs::current_path(old_cwd_);
    fs::remove_all(dir_);
    FileStatus().Clear();
  }

  static std::string LogContents() {
    std::ifstream in(kErrorLogFileName, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
  }
  static std::string LogPrefix() {
    return FormatDate(CompilePicture("@D17"), TODAY()) + "@" +
           FormatTime(CompilePicture("@T8"), CLOCK()) + " --> ";
  }

  // Appends one entry of our own.
  void AddEntry(uint16_t id, uint8_t severity, std::string_view title, std::string_view message) {
    std::vector<MessageTableEntry> entries = {{id, severity, title, message}};
    std::vector<uint8_t> bytes;
    ASSERT_TRUE(EncodeMessageTable(entries, &bytes));
    ASSERT_TRUE(errors_.AppendMessages(bytes));
  }

  std::vector<HeadlessBackend::ShownMessage> Shown() { return backend_.Messages(); }

  std::string dir_;
  fs::path old_cwd_;
  FaultPlan clock_;
  FaultPlan* previous_plan_ = nullptr;
  HeadlessBackend backend_;
  ScopedBackend scope_{&backend_};
  ErrorManager errors_;
  std::vector<int> halts_;
  std::string log_at_halt_;
};

TEST_F(ErrorManagerTest, InitLoadsTheWholeBuiltInTable) {
  EXPECT_EQ(RECORDS(errors_.ERRORS.get()), 52);
  for (int id = 1; id <= 53; ++id)
    EXPECT_EQ(errors_.GetMessageCategory(id), id == 32 ? "" : "KFW") << id;
  EXPECT_EQ(errors_.DEFAULTCATEGORY, "KFW");
  EXPECT_EQ(errors_.HISTORYTHRESHOLD.load(), 0);
  EXPECT_EQ(errors_.HISTORYVIEWLEVEL.load(), 3);
  EXPECT_EQ(errors_.HISTORYRESETONVIEW.load(), 0);
  EXPECT_EQ(errors_.ERRORLOG, errors_.STDERRORLOG.get());

  // A second Init starts over rather than doubling the table.
  errors_.Init();
  EXPECT_EQ(RECORDS(errors_.ERRORS.get()), 52);
}

TEST_F(ErrorManagerTest, PlaceholdersAreSubstitutedLongestFirst) {
  ErrorStatus& st = FileStatus();
  st.SAVEFILEERRORCODE = "FEC";
  st.SAVEFILEERROR = "FE";
  st.FILENAME = "F";
  st.KEYNAME = "K";
  st.SAVEERRORCODE = 35;
  st.SAVEERROR = "E";
  st.MESSAGETEXT = "M";
  st.FIELDNAME = "D";
  struct Case {
    std::string_view message;
    std::string_view shown;
  } cases[] = {
      {"no placeholders at all", "no placeholders at all"},
      {"%FileErrorCode", "FEC"},
      {"%FileError", "FE"},
      {"%File", "F"},
      {"%FileErrorCode/%FileError/%File", "FEC/FE/F"},
      {"%FileErrorCodes", "FECs"},
      {"%Key", "K"},
      {"%ErrorCode", "35"},
      {"%ErrorText", "E (35)"},
      {"%Error", "E"},
      {"%ErrorText.%ErrorCode.%Error", "E (35).35.E"},
      {"%Message", "M"},
      {"%Field", "D"},
      {"%Category", "KFW"},
      {"[%Previous]", "[]"},
      {"[%Procedure]", "[%Procedure]"},
      {"100% sure, %Unknown %", "100% sure, %Unknown %"},
      {"%%File", "%F"},
  };
  for (const Case& c : cases) EXPECT_EQ(errors_.Substitute(c.message), c.shown) << c.message;
}

TEST_F(ErrorManagerTest, SubstitutedValuesAreNeverScannedAgain) {
  ErrorStatus& st = FileStatus();
  st.FILENAME = "%Field";
  st.MESSAGETEXT = "%Procedure %Previous %Category";
  st.FIELDNAME = "name";
  EXPECT_EQ(errors_.Substitute("%File|%Message|%Field"),
            "%Field|%Procedure %Previous %Category|name");
}

TEST_F(ErrorManagerTest, SubstitutionNeverExceedsItsBuffer) {
  // 254-byte values a hundred times over: far beyond the buffer.
  std::string name(253, 'n');
  name += "\xC3\xA9";  // a two-byte character at the end of each value
  errors_.SetFile(name);
  std::string message;
  for (int i = 0; i < 100; ++i) message += "%File";
  std::string shown = errors_.Substitute(message);
  EXPECT_LE(shown.size(), kMessageBufferSize);
  EXPECT_GE(shown.size(), kMessageBufferSize - 1);
  // Never cut inside the two-byte character.
  EXPECT_NE(static_cast<uint8_t>(shown.back()), 0xC3);
}

TEST_F(ErrorManagerTest, DriverReportedErrorsShowTheDriversTextAndCode) {
  PostOsError(5);  // runtime error 90, the system's "Access Denied"
  errors_.SetFile("func");
  EXPECT_EQ(errors_.CaptureAndThrow(1), SeverityInform);
  ASSERT_EQ(Shown().size(), 1u);
  EXPECT_EQ(Shown()[0].request.text,
            "Error: (Access Denied (5)) attempting to access a record from the func file.  "
            "Returning to previous window.");
  EXPECT_EQ(Shown()[0].request.caption, "Record Retrieval Error");
  EXPECT_EQ(Shown()[0].request.icon, kIconAsterisk);
  EXPECT_EQ(Shown()[0].request.buttons, kButtonOk);

  // Code 100 is driver-reported too; other codes show the runtime's text.
  ErrorStatus& st = FileStatus();
  st.SAVEERRORCODE = 100;
  st.SAVEFILEERROR = "Server refused";
  st.SAVEFILEERRORCODE = "X7";
  EXPECT_EQ(errors_.Substitute("%ErrorText"), "Server refused (X7)");
  PostError(35);
  errors_.CaptureRuntimeError();
  EXPECT_EQ(errors_.Substitute("%ErrorText"), "Record Not Found (35)");
  EXPECT_EQ(st.SAVEFILEERRORCODE, "");
}

TEST_F(ErrorManagerTest, QuestionsAskYesOrNo) {
  backend_.QueueAnswers({kButtonYes, kButtonNo});
  EXPECT_EQ(errors_.Throw(11), SeverityNone);
  EXPECT_EQ(errors_.Throw(11), SeverityDeclined);
  const std::vector<HeadlessBackend::ShownMessage> shown = Shown();
  ASSERT_EQ(shown.size(), 2u);
  const MessageRequest& r = shown[0].request;
  EXPECT_EQ(r.text, "Are you sure you want to delete the highlighted record?");
  EXPECT_EQ(r.caption, "Confirm Delete");
  EXPECT_EQ(r.icon, kIconExclamation);
  EXPECT_EQ(r.buttons, kButtonYes | kButtonNo);
  EXPECT_EQ(r.default_button, kButtonYes);
  EXPECT_TRUE(halts_.empty());
}

TEST_F(ErrorManagerTest, SilentQuestionTakesYesAndIsStillLogged) {
  errors_.SILENT = 1;
  errors_.LOGERRORS = 1;
  EXPECT_EQ(errors_.Throw(38), SeverityNone);
  EXPECT_TRUE(Shown().empty());
  EXPECT_EQ(LogContents(), LogPrefix() + "Do you want to save the changes to this record?\n");
  EXPECT_EQ(RuntimeStatusText(), "");
}

TEST_F(ErrorManagerTest, LogLineIsDateAtTimeArrowText) {
  InitLocaleForTesting(IntlSettings{}, "/nonexistent/error_manager_test.ENV");
  errors_.LOGERRORS = 1;
  errors_.Throw(25);
  errors_.Throw(7);
  EXPECT_EQ(LogContents(),
            "07/04/26@01:05:09 PM --> There are no records available to process.\n"
            "07/04/26@01:05:09 PM --> This record was changed by another station.\n");
  ResetLocaleForTesting();
}

TEST_F(ErrorManagerTest, HaltLogsShowsThenEndsTheProgram) {
  errors_.LOGERRORS = 1;
  PostError(2);
  errors_.SetFile("func");
  EXPECT_EQ(errors_.CaptureAndThrow(26), SeverityHalt);  // the hook returned
  ASSERT_EQ(halts_.size(), 1u);
  EXPECT_EQ(halts_[0], kHaltExitCode);
  const std::string text =
      "File func could not be opened.  Error: File Not Found (2).  Press OK to end this "
      "application";
  ASSERT_EQ(Shown().size(), 1u);
  EXPECT_EQ(Shown()[0].request.text, text);
  EXPECT_EQ(Shown()[0].request.caption, "File Access Error");
  EXPECT_EQ(Shown()[0].request.buttons, kButtonOk);
  // The line was in the log when the program was ended.
  EXPECT_EQ(log_at_halt_, LogPrefix() + text + "\n");
}

TEST_F(ErrorManagerTest, InternalAndUnknownSeveritiesHaltLikeHalt) {
  AddEntry(300, 9, "Odd", "odd severity");
  struct Case {
    int id;
    std::string_view caption;
  } cases[] = {{42, "File Usage Error"}, {300, "Odd"}};
  for (const Case& c : cases) {
    halts_.clear();
    EXPECT_EQ(errors_.Throw(c.id), SeverityHalt) << c.id;
    EXPECT_EQ(halts_.size(), 1u) << c.id;
    EXPECT_EQ(Shown().back().request.caption, c.caption);
  }
  // Severity 0 shows nothing and halts nothing.
  AddEntry(301, 0, "Quiet", "quiet");
  backend_.Clear();
  halts_.clear();
  EXPECT_EQ(errors_.Throw(301), SeverityNone);
  EXPECT_TRUE(Shown().empty());
  EXPECT_TRUE(halts_.empty());
}

TEST_F(ErrorManagerTest, UnknownNumberInformsInsteadOfEnding) {
  EXPECT_EQ(errors_.Throw(32), SeverityInform);
  ASSERT_EQ(Shown().size(), 1u);
  EXPECT_EQ(Shown()[0].request.caption, "Unknown Error");
  EXPECT_EQ(Shown()[0].request.text, "Unknown error number 32.");
  EXPECT_TRUE(halts_.empty());
}

TEST_F(ErrorManagerTest, ThresholdThreeKeepsTheLastThree) {
  errors_.HISTORYTHRESHOLD = 3;
  errors_.HISTORYVIEWLEVEL = 3;  // information is kept, not shown
  for (int i = 1; i <= 5; ++i) {
    errors_.SetMessageText("m" + std::to_string(i));
    EXPECT_EQ(errors_.Throw(27), SeverityInform);
  }
  EXPECT_TRUE(Shown().empty());
  QUEUE* h = errors_.HISTORY.get();
  ASSERT_EQ(RECORDS(h), 3);
  for (int i = 1; i <= 3; ++i) {
    GET(h, i);
    EXPECT_EQ(std::string(errors_.HISTORY->record.TXT),
              "The Procedure m" + std::to_string(i + 2) + " has not been defined.");
    EXPECT_EQ(errors_.HISTORY->record.ID, 27);
    EXPECT_EQ(std::string(errors_.HISTORY->record.CATEGORY), "KFW");
  }
}

// A backend without windows: the error window's place is taken by the
// message box, the history appended to the text.
class MessageOnlyBackend : public WindowBackend {
 public:
  int ShowMessage(const MessageRequest& request) override {
    shown.push_back(request);
    return request.default_button;
  }
  void SetCursor(int) override {}
  void Beep(int) override {}
  std::vector<MessageRequest> shown;
};

TEST_F(ErrorManagerTest, HistoryShowsTheViewLevelAndQuestionsAndResetsOnView) {
  MessageOnlyBackend plain;
  ScopedBackend use(&plain);
  errors_.HISTORYTHRESHOLD = -1;  // keep all
  errors_.HISTORYVIEWLEVEL = SeverityHalt;
  errors_.HISTORYRESETONVIEW = 1;
  // Below the view level: kept, not shown.
  EXPECT_EQ(errors_.Throw(2), SeverityInform);
  EXPECT_EQ(errors_.Throw(25), SeverityInform);
  EXPECT_TRUE(plain.shown.empty());
  EXPECT_EQ(RECORDS(errors_.HISTORY.get()), 2);
  // A question is asked whatever the view level: nobody answers it unasked.
  EXPECT_EQ(errors_.Throw(10), SeverityNone);  // the backend takes the default, Yes
  ASSERT_EQ(plain.shown.size(), 1u);
  EXPECT_EQ(plain.shown[0].text,
            "Are you sure you want to cancel?||"
            "Could not get write access to  so trying read-only.  [KFW]|"
            "There are no records available to process.  [KFW]|"
            "Are you sure you want to cancel?  [KFW]");
  EXPECT_EQ(RECORDS(errors_.HISTORY.get()), 0);  // shown, so reset
  // Information at the view level is shown with the history.
  errors_.HISTORYVIEWLEVEL = SeverityInform;
  EXPECT_EQ(errors_.Throw(25), SeverityInform);
  ASSERT_EQ(plain.shown.size(), 2u);
  EXPECT_EQ(plain.shown[1].text,
            "There are no records available to process.||"
            "There are no records available to process.  [KFW]");
  EXPECT_EQ(RECORDS(errors_.HISTORY.get()), 0);
}

TEST_F(ErrorManagerTest, ShowHistoryListsTheKeptMessages) {
  errors_.HISTORYTHRESHOLD = -1;
  errors_.HISTORYVIEWLEVEL = 99;
  errors_.SetMessageCategory(25, "APP");
  errors_.Throw(25);
  errors_.Throw(4);
  errors_.ShowHistory();
  ASSERT_EQ(Shown().size(), 1u);
  EXPECT_EQ(Shown()[0].request.caption, kHistoryCaption);
  // A message's own line breaks become blanks: one entry a line.
  EXPECT_EQ(Shown()[0].request.text,
            "There are no records available to process.  [APP]|"
            "An error was experienced during the creation of a record. File:  Error:  (0).  [KFW]");
  EXPECT_EQ(RECORDS(errors_.HISTORY.get()), 2);
}

TEST_F(ErrorManagerTest, ProcedureNamesArePerThread) {
  AddEntry(400, 5, "Where", "In %Procedure");
  EXPECT_EQ(errors_.Substitute("In %Procedure"), "In %Procedure");
  errors_.PushProcedureName("Main");
  errors_.PushProcedureName("update_functions");
  EXPECT_EQ(errors_.Substitute("In %Procedure"), "In update_functions");

  std::string other;
  std::thread t([&] { other = errors_.Substitute("In %Procedure"); });
  t.join();
  EXPECT_EQ(other, "In %Procedure");

  errors_.PopProcedureName();
  errors_.Throw(400);
  EXPECT_EQ(Shown().back().request.text, "In Main");
  errors_.PopProcedureName();
  errors_.PopProcedureName();  // nothing left: no effect
  EXPECT_EQ(errors_.Substitute("%Procedure"), "%Procedure");
}

TEST_F(ErrorManagerTest, PreviousIsThePreviousErrorsRawMessage) {
  AddEntry(401, 5, "Chain", "Now: %Message. Before: %Previous");
  errors_.SetMessageText("x");
  errors_.Throw(27);
  errors_.Throw(401);
  EXPECT_EQ(FileStatus().PREVERRORID, 27);
  EXPECT_EQ(Shown().back().request.text,
            "Now: x. Before: The Procedure %Message has not been defined.");
}

TEST_F(ErrorManagerTest, CategoriesDefaultAndPerEntry) {
  AddEntry(402, 5, "Cat", "%Category");
  errors_.Throw(402);
  EXPECT_EQ(Shown().back().request.text, "KFW");
  errors_.SetMessageCategory(kDefaultCategoryId, "APP");
  EXPECT_EQ(errors_.GetMessageCategory(kDefaultCategoryId), "APP");
  EXPECT_EQ(errors_.GetMessageCategory(402), "APP");
  errors_.SetMessageCategory(402, "Mine");
  EXPECT_EQ(errors_.GetMessageCategory(402), "Mine");
  errors_.Throw(402);
  EXPECT_EQ(Shown().back().request.text, "Mine");
  errors_.SetMessageCategory(32, "nobody");  // no such entry: nothing happens
  EXPECT_EQ(errors_.GetMessageCategory(32), "");
}

TEST_F(ErrorManagerTest, AppendedTablesAddAndReplaceNumbers) {
  AddEntry(1, 1, "Reworded", "Try again?");
  EXPECT_EQ(RECORDS(errors_.ERRORS.get()), 52);
  backend_.QueueAnswer(kButtonNo);
  EXPECT_EQ(errors_.Throw(1), SeverityDeclined);
  EXPECT_EQ(Shown().back().request.caption, "Reworded");
  // 32 is the one number the built-in table leaves out: a new entry in the
  // middle of the number order the start-up filled.
  AddEntry(32, 1, "Thirty-two", "Go on?");
  EXPECT_EQ(RECORDS(errors_.ERRORS.get()), 53);
  backend_.QueueAnswer(kButtonNo);
  EXPECT_EQ(errors_.Throw(32), SeverityDeclined);
  EXPECT_EQ(Shown().back().request.caption, "Thirty-two");
  for (int id = 1; id <= 53; ++id) EXPECT_EQ(errors_.GetMessageCategory(id), "KFW") << id;

  const std::vector<uint8_t> broken = {1, 0, 5, 0, 5, 10, 'a'};
  EXPECT_FALSE(errors_.AppendMessages(broken));
  EXPECT_EQ(RECORDS(errors_.ERRORS.get()), 53);
}

TEST_F(ErrorManagerTest, ContextSettersCutAt254Bytes) {
  const std::string long_text(400, 'a');
  errors_.SetField(long_text);
  errors_.SetFile(long_text);
  errors_.SetKey(long_text);
  errors_.SetMessageText(long_text);
  const ErrorStatus& st = FileStatus();
  for (const std::string* s : {&st.FIELDNAME, &st.FILENAME, &st.KEYNAME, &st.MESSAGETEXT})
    EXPECT_EQ(s->size(), 254u);
}

TEST_F(ErrorManagerTest, LoggingKeepsTheCallersRuntimeError) {
  errors_.LOGERRORS = 1;
  PostError(35, "detail");
  errors_.Throw(25);
  EXPECT_EQ(ERRORCODE(), 35);
  EXPECT_EQ(ERRORDETAIL(), "detail");
  PostOsError(39);
  errors_.Throw(25);
  EXPECT_EQ(ERRORCODE(), kFileSystemError);
  EXPECT_EQ(FILEERRORCODE(), "39");
  EXPECT_EQ(FILEERROR(), RuntimeString(339));
  EXPECT_EQ(LogContents(), LogPrefix() + "There are no records available to process.\n" +
                               LogPrefix() + "There are no records available to process.\n");
}

TEST_F(ErrorManagerTest, LogFailuresAreNotedNotShown) {
  // A folder where the log file should be: the log cannot be opened.
  fs::create_directory(kErrorLogFileName);
  errors_.LOGERRORS = 1;
  EXPECT_EQ(errors_.Throw(25), SeverityInform);
  ASSERT_EQ(Shown().size(), 1u);  // only the message itself
  EXPECT_EQ(RuntimeStatusText(), "Unable to Open error log; ");
  // The note is cut at 255 bytes however often it fails.
  for (int i = 0; i < 20; ++i) errors_.Throw(25);
  EXPECT_EQ(RuntimeStatusText().size(), 255u);
}

TEST_F(ErrorManagerTest, ThreadsKeepTheirOwnContextAndEveryLine) {
  errors_.SILENT = 1;
  errors_.LOGERRORS = 1;
  constexpr int kThreads = 4;
  constexpr int kEach = 25;
  std::vector<std::thread> threads;
  std::vector<int> mixed(kThreads, 0);
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      const std::string mine = "file" + std::to_string(t);
      for (int i = 0; i < kEach; ++i) {
        errors_.SetFile(mine);
        errors_.Throw(30);
        if (errors_.SubstitutedMessage() != mine + " key file is invalid. Key must be rebuilt.")
          ++mixed[t];
      }
    });
  }
  for (std::thread& t : threads) t.join();
  for (int t = 0; t < kThreads; ++t) EXPECT_EQ(mixed[t], 0);
  std::string log = LogContents();
  EXPECT_EQ(std::count(log.begin(), log.end(), '\n'), kThreads * kEach);
}

}  // namespace
}  // namespace qzr
