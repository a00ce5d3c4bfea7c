// Tests of the file manager over the in-memory test driver: opening (create,
// read-only fall-back, lock recovery, key rebuild, lazy opening), automatic
// numbering, inserts, updates with a collision, deletes, sequential reads,
// saved buffers and file states, usage records, callbacks and threads.
// Every failure is checked as the user sees it: the message the headless
// backend was shown.

#include "framework/file_manager.h"

#include <gtest/gtest.h>

#include <barrier>
#include <string>
#include <thread>
#include <vector>

#include "framework/file_manager_internal.h"
#include "framework/file_manager_test_driver.h"
#include "ui/headless_backend.h"
#include "ui/message.h"

namespace qzr {
namespace {

using testing::TheTestDriver;

int32_t GetLong(FileDescriptor& f, const char* label) {
  UfoSlot s;
  int i = f.FieldIndex(label);
  return s.Make(f.fields[static_cast<size_t>(i)].type, f.FieldData(i))->GetLong();
}
void SetLong(FileDescriptor& f, const char* label, int32_t v) {
  UfoSlot s;
  int i = f.FieldIndex(label);
  s.Make(f.fields[static_cast<size_t>(i)].type, f.FieldData(i))->SetLong(v);
}
std::string GetText(FileDescriptor& f, const char* label) {
  UfoSlot s;
  int i = f.FieldIndex(label);
  const FieldDesc& d = f.fields[static_cast<size_t>(i)];
  char buf[256];
  size_t n = s.Make(d.type, f.FieldData(i), d.size)->GetText(buf, sizeof buf);
  return std::string(buf, std::min(n, sizeof buf));
}
void SetText(FileDescriptor& f, const char* label, const std::string& v) {
  UfoSlot s;
  int i = f.FieldIndex(label);
  const FieldDesc& d = f.fields[static_cast<size_t>(i)];
  s.Make(d.type, f.FieldData(i), d.size)->SetText(v);
}

// The catalogue's shape, small: a numbered LONG primary key, a title and a
// memo.
FileDescriptor CatalogueFile(const std::string& name, uint32_t attributes = kFileThread) {
  return FileDeclaration(name, "FUN")
      .Driver(testing::kTestDriverName)
      .Attributes(attributes)
      .Field("ID", TypeCode::LONG)
      .String("NAME", TypeCode::CSTRING, 20)
      .Memo("CODE", 200)
      .Key("P_ID", {{"ID"}}, kKeyPrimary | kKeyNocase | kKeyOpt)
      .Key("K_NAME", {{"NAME"}}, kKeyNocase)
      .Build();
}

class FileManagerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    TheTestDriver().Reset();
    FileStatus().Clear();
    ClearError();
    errors_.SetHaltHook([this](int code) { halts_.push_back(code); });
    errors_.Init();
    FileRegistry::Instance().SetErrorManager(&errors_);
  }
  void TearDown() override {
    FileRegistry::Instance().SetErrorManager(nullptr);
    errors_.Kill();
    FileStatus().Clear();
  }

  // A manager over `file` as the catalogue sets it up: "func" in messages,
  // the primary key numbered on its first component.
  void InitCatalogue(FileManager& m, FileDescriptor& file) {
    m.Init(&file, &errors_);
    m.FILENAMEVALUE = "func";
    m.RegisterKey("P_ID", "FUN:P_ID", 1);
    m.RegisterKey("K_NAME", "");
  }

  std::vector<std::string> Texts() {
    std::vector<std::string> out;
    for (const auto& m : backend_.Messages()) out.push_back(m.request.text);
    return out;
  }
  std::vector<std::string> Captions() {
    std::vector<std::string> out;
    for (const auto& m : backend_.Messages()) out.push_back(m.request.caption);
    return out;
  }

  HeadlessBackend backend_;
  ScopedBackend scope_{&backend_};
  ErrorManager errors_;
  std::vector<int> halts_;
};

// ---------------------------------------------------------------------------
// Opening.

TEST_F(FileManagerTest, InitSetsTheDefaults) {
  FileDescriptor file = CatalogueFile("F");
  FileManager m;
  m.Init(&file, &errors_);
  EXPECT_EQ(m.OPENMODE, 0x42);
  EXPECT_EQ(m.CREATE, 1);
  EXPECT_EQ(m.LOCKRECOVER, 10);
  EXPECT_EQ(m.MRPSIZE, 20);
  EXPECT_EQ(m.FILENAMEVALUE, "F");
  EXPECT_EQ(m.INITIALIZED, 1);
  EXPECT_EQ(m.KILLED, 0);
  EXPECT_EQ(m.FIELDS.size(), 2u);
  EXPECT_EQ(m.BUFFER, &file.record);
  ASSERT_NE(m.OPENER, nullptr);
  EXPECT_NE(dynamic_cast<PlainFileOpener*>(m.OPENER), nullptr);  // a THREAD file
  EXPECT_EQ(FileRegistry::Instance().GetFileManager(&file), &m);

  EXPECT_EQ(m.RegisterKey("P_ID", "FUN:P_ID", 1), 1);
  EXPECT_EQ(m.PRIMARYKEY, 1);
  EXPECT_EQ(m.HASAUTOINC, 1);
  ASSERT_EQ(m.KEYS[0].FIELDS.size(), 1u);
  EXPECT_EQ(m.KEYS[0].FIELDS[0].FIELDNAME, "UPPER(FUN:ID)");
  EXPECT_EQ(m.RegisterKey("NO_SUCH"), 0);

  m.Kill();
  EXPECT_EQ(m.KILLED, 1);
  EXPECT_EQ(m.INITIALIZED, 0);
  EXPECT_EQ(FileRegistry::Instance().GetFileManager(&file), nullptr);
  m.Kill();  // once only
}

TEST_F(FileManagerTest, AModeSetBeforeInitIsKept) {
  FileDescriptor file = CatalogueFile("F");
  FileManager m;
  m.OPENMODE = 0x40;
  m.Init(&file, &errors_);
  EXPECT_EQ(m.OPENMODE, 0x40);
  EXPECT_EQ(m.OPENMODEOVERRIDDEN, 1);
}

TEST_F(FileManagerTest, OpensOnceAndClosesWithTheLastClose) {
  TheTestDriver().MakeTable("F");
  FileDescriptor file = CatalogueFile("F");
  FileManager m;
  m.Init(&file, &errors_);
  EXPECT_EQ(m.Open(), SeverityNone);
  EXPECT_EQ(m.Open(), SeverityNone);
  EXPECT_EQ(m.OPENED, 2);
  EXPECT_EQ(m.USED, 1);
  EXPECT_TRUE(file.IsOpen());
  m.Close();
  EXPECT_TRUE(file.IsOpen());
  m.Close();
  EXPECT_FALSE(file.IsOpen());
  EXPECT_EQ(m.USED, 0);
  m.Close();  // more closes than opens change nothing
  EXPECT_EQ(m.OPENED, 0);
  EXPECT_EQ(TheTestDriver().Count(FileOp::OPEN), 1);
  EXPECT_EQ(TheTestDriver().Count(FileOp::CLOSE), 1);
  EXPECT_TRUE(backend_.Messages().empty());
}

TEST_F(FileManagerTest, AMissingFileIsCreatedOrReported) {
  // Given no file: CREATE 1 creates and opens it in the same call.
  {
    FileDescriptor file = CatalogueFile("F");
    FileManager m;
    m.Init(&file, &errors_);
    EXPECT_EQ(m.Open(), SeverityNone);
    EXPECT_TRUE(TheTestDriver().TableExists("F"));
    EXPECT_TRUE(file.IsOpen());
    m.Close();
  }
  // CREATE 0: error 26, a halt-level message naming the file and the error.
  {
    FileDescriptor file = CatalogueFile("G");
    FileManager m;
    m.Init(&file, &errors_);
    m.FILENAMEVALUE = "func";
    m.CREATE = 0;
    EXPECT_EQ(m.Open(), SeverityHalt);
    EXPECT_EQ(m.LASTERROR, 26);
    EXPECT_EQ(m.OPENED, 0);
    ASSERT_EQ(Texts().size(), 1u);
    EXPECT_EQ(Texts()[0],
              "File func could not be opened.  Error: File Not Found (2).  Press OK to end this "
              "application");
    EXPECT_EQ(halts_.size(), 1u);
    EXPECT_TRUE(FileRegistry::Instance().STATUSQ().empty());  // the failed open left no record
  }
  // Without handleErrors: nothing shown, SeverityInform.
  {
    FileDescriptor file = CatalogueFile("H");
    FileManager m;
    m.Init(&file, &errors_);
    m.CREATE = 0;
    backend_.Clear();
    EXPECT_EQ(m.Open(false), SeverityInform);
    EXPECT_EQ(m.LASTERROR, 26);
    EXPECT_EQ(errors_.STATUS().SAVEERRORCODE, 2);
    EXPECT_TRUE(backend_.Messages().empty());
  }
}

TEST_F(FileManagerTest, ACreateErrorIsError12) {
  FileDescriptor file = CatalogueFile("F");
  FileManager m;
  m.Init(&file, &errors_);
  TheTestDriver().FailNext(FileOp::CREATE, 5);
  EXPECT_EQ(m.Open(), SeverityHalt);
  EXPECT_EQ(m.LASTERROR, 12);
  ASSERT_EQ(Texts().size(), 1u);
  EXPECT_EQ(Texts()[0], "Error: (Access Denied (5)) creating F.  Press OK to end this application");
}

TEST_F(FileManagerTest, AReadOnlyMediumOpensReadOnlyAfterError2) {
  TheTestDriver().MakeTable("F");
  TheTestDriver().SetReadOnlyMedium(true);
  FileDescriptor file = CatalogueFile("F");
  FileManager m;
  m.Init(&file, &errors_);
  m.FILENAMEVALUE = "func";
  EXPECT_EQ(m.Open(), SeverityNone);
  EXPECT_EQ(m.OPENMODE, 0x40);
  EXPECT_TRUE(file.IsOpen());
  ASSERT_EQ(Texts().size(), 1u);
  EXPECT_EQ(Texts()[0], "Could not get write access to func so trying read-only.");
  EXPECT_EQ(Captions()[0], "Access Denied");
  // The lock recovery was tried first.
  ASSERT_FALSE(TheTestDriver().Sends().empty());
  EXPECT_EQ(TheTestDriver().Sends()[0], "Recover=10");
}

TEST_F(FileManagerTest, ALockedFileOpensAfterRecovery) {
  TheTestDriver().MakeTable("F");
  TheTestDriver().SetDenyUntilRecover(true);
  FileDescriptor file = CatalogueFile("F");
  FileManager m;
  m.Init(&file, &errors_);
  m.LOCKRECOVER = 3;
  EXPECT_EQ(m.Open(), SeverityNone);
  EXPECT_EQ(m.OPENMODE, 0x42);
  EXPECT_EQ(TheTestDriver().Sends(), std::vector<std::string>{"Recover=3"});
  EXPECT_TRUE(backend_.Messages().empty());
}

TEST_F(FileManagerTest, AReadOnlyOpenThatIsDeniedFails) {
  TheTestDriver().MakeTable("F");
  TheTestDriver().FailNext(FileOp::OPEN, 5, 2);
  FileDescriptor file = CatalogueFile("F");
  FileManager m;
  m.Init(&file, &errors_);
  m.OPENMODE = 0x40;
  EXPECT_EQ(m.Open(false), SeverityInform);
  EXPECT_EQ(m.LASTERROR, 26);
  EXPECT_EQ(errors_.STATUS().SAVEERRORCODE, 5);
}

TEST_F(FileManagerTest, AnInvalidKeyFileIsRebuilt) {
  TheTestDriver().MakeTable("F");
  FileDescriptor file = CatalogueFile("F");
  FileManager m;
  m.Init(&file, &errors_);
  // Without handleErrors: reported, nothing rebuilt.
  TheTestDriver().SetNeedsRebuild(true);
  EXPECT_EQ(m.Open(false), SeverityInform);
  EXPECT_EQ(m.LASTERROR, 30);
  EXPECT_EQ(TheTestDriver().Count(FileOp::BUILDfile), 0);
  EXPECT_TRUE(backend_.Messages().empty());
  // With it: error 30 shown, keys rebuilt, file open.
  EXPECT_EQ(m.Open(), SeverityNone);
  EXPECT_EQ(TheTestDriver().Count(FileOp::BUILDfile), 1);
  EXPECT_EQ(Texts(), std::vector<std::string>{"F key file is invalid. Key must be rebuilt."});
  EXPECT_TRUE(file.IsOpen());
}

TEST_F(FileManagerTest, AFailedRebuildIsError29) {
  TheTestDriver().MakeTable("F");
  TheTestDriver().SetNeedsRebuild(true);
  TheTestDriver().FailNext(FileOp::BUILDfile, 90);
  FileDescriptor file = CatalogueFile("F");
  FileManager m;
  m.Init(&file, &errors_);
  EXPECT_EQ(m.Open(), SeverityHalt);
  EXPECT_EQ(m.LASTERROR, 29);
  ASSERT_EQ(Texts().size(), 2u);
  EXPECT_EQ(Texts()[1].rfind("Error: (", 0), 0u);
  EXPECT_NE(Texts()[1].find(") repairing key for F."), std::string::npos);
}

TEST_F(FileManagerTest, LazyOpenWaitsForTheFirstUse) {
  TheTestDriver().MakeTable("F");
  FileDescriptor file = CatalogueFile("F");
  FileManager m;
  m.Init(&file, &errors_);
  m.FILENAMEVALUE = "func";
  m.LAZYOPEN = 1;
  EXPECT_EQ(m.Open(), SeverityNone);
  EXPECT_EQ(m.OPENED, 1);
  EXPECT_FALSE(file.IsOpen());
  EXPECT_EQ(TheTestDriver().Count(FileOp::OPEN), 0);

  // The first read opens the file; the buffer survives the open.
  SetText(file, "NAME", "kept");
  EXPECT_EQ(m.ReadNext(), SeverityInform);  // empty file
  EXPECT_EQ(m.ATEOF, 1);
  EXPECT_TRUE(file.IsOpen());
  EXPECT_EQ(m.USED, 1);

  m.Close();
  EXPECT_FALSE(file.IsOpen());
  // After the last Close a read is an error in the program: 42.
  EXPECT_EQ(m.ReadNext(), SeverityHalt);
  EXPECT_EQ(m.LASTERROR, 42);
  ASSERT_EQ(Texts().size(), 1u);
  EXPECT_EQ(Texts()[0],
            "Attempt to use file (func) before it was opened  Press OK to end this application");
}

// ---------------------------------------------------------------------------
// Automatic numbering and inserts.

class NumberingTest : public FileManagerTest {
 protected:
  void SetUp() override {
    FileManagerTest::SetUp();
    InitCatalogue(m_, file_);
    ASSERT_EQ(m_.Open(), SeverityNone);
  }
  void TearDown() override {
    m_.Close();
    m_.Kill();
    FileManagerTest::TearDown();
  }
  Severity InsertNamed(const std::string& name) {
    internal::ClearRecord(&file_);
    SetText(file_, "NAME", name);
    return m_.Insert();
  }

  FileDescriptor file_ = CatalogueFile("FUNC");
  FileManager m_;
};

TEST_F(NumberingTest, InsertsGetIncreasingNumbersFromOne) {
  for (int i = 1; i <= 5; ++i) {
    ASSERT_EQ(InsertNamed("f" + std::to_string(i)), SeverityNone);
    EXPECT_EQ(GetLong(file_, "ID"), i);
    EXPECT_EQ(GetText(file_, "NAME"), "f" + std::to_string(i));  // the user's entry survives
    EXPECT_EQ(m_.AUTOINCDONE, 0);
  }
  EXPECT_EQ(TheTestDriver().RowCount("FUNC"), 5u);
  EXPECT_TRUE(backend_.Messages().empty());
}

TEST_F(NumberingTest, TheMemoSurvivesNumbering) {
  ASSERT_EQ(InsertNamed("a"), SeverityNone);
  internal::ClearRecord(&file_);
  SetText(file_, "NAME", "b");
  file_.memo_values[0] = "int main() {}";
  ASSERT_EQ(m_.Insert(), SeverityNone);
  EXPECT_EQ(file_.memo_values[0], "int main() {}");
  EXPECT_EQ(GetLong(file_, "ID"), 2);
}

TEST_F(NumberingTest, StartNewRecordReservesTheNumberAndInsertWritesItBack) {
  ASSERT_EQ(InsertNamed("a"), SeverityNone);
  SetText(file_, "NAME", "left over");
  ASSERT_EQ(m_.StartNewRecord(), SeverityNone);
  EXPECT_EQ(GetText(file_, "NAME"), "");  // cleared
  EXPECT_EQ(GetLong(file_, "ID"), 2);
  EXPECT_EQ(m_.AUTOINCDONE, 1);
  EXPECT_EQ(TheTestDriver().RowCount("FUNC"), 2u);  // reserved at once

  SetText(file_, "NAME", "typed");
  TheTestDriver().ClearLog();
  ASSERT_EQ(m_.Insert(), SeverityNone);
  EXPECT_EQ(TheTestDriver().Count(FileOp::PUT), 1);
  EXPECT_EQ(TheTestDriver().Count(FileOp::ADD), 0);
  EXPECT_EQ(m_.AUTOINCDONE, 0);
  EXPECT_EQ(TheTestDriver().RowCount("FUNC"), 2u);
}

TEST_F(NumberingTest, ReleaseAutoNumberDeletesTheReservedRecord) {
  ASSERT_EQ(m_.StartNewRecord(), SeverityNone);
  EXPECT_EQ(TheTestDriver().RowCount("FUNC"), 1u);
  EXPECT_EQ(m_.ReleaseAutoNumber(), SeverityNone);
  EXPECT_EQ(m_.AUTOINCDONE, 0);
  EXPECT_EQ(TheTestDriver().RowCount("FUNC"), 0u);
  EXPECT_EQ(m_.ReleaseAutoNumber(), SeverityNone);  // nothing reserved: nothing deleted

  // Through a relation manager when one is given.
  struct Relation : RelationManagerInterface {
    explicit Relation(FileManager* m) : m_(m) {}
    Severity Delete(bool ask) override {
      asked = ask;
      ++calls;
      return m_->Delete(false);
    }
    FileManager* m_;
    bool asked = true;
    int calls = 0;
  } relation(&m_);
  ASSERT_EQ(m_.StartNewRecord(), SeverityNone);
  EXPECT_EQ(m_.ReleaseAutoNumber(&relation), SeverityNone);
  EXPECT_EQ(relation.calls, 1);
  EXPECT_FALSE(relation.asked);
  EXPECT_EQ(TheTestDriver().RowCount("FUNC"), 0u);
}

TEST_F(NumberingTest, AnAddThatKeepsFailingAsksToTryAgain) {
  // Three failed adds, then error 35 as a question; Yes numbers again.
  TheTestDriver().FailNext(FileOp::ADD, 40, 3);
  backend_.QueueAnswer(kButtonYes);
  ASSERT_EQ(InsertNamed("x"), SeverityNone);
  EXPECT_EQ(GetLong(file_, "ID"), 1);
  ASSERT_EQ(Texts().size(), 1u);
  EXPECT_EQ(Captions()[0], "Auto Increment Error");
  // The duplicate walk names the duplicated key; nothing is duplicated in
  // an empty file, so %Key is the numbered key's description.
  EXPECT_EQ(Texts()[0],
            "Attempts to automatically number this record have failed.|File: func|Key: FUN:P_ID|"
            "Error: Creates Duplicate Key (40).|Try Again?");

  // No: the insert does not happen.
  TheTestDriver().FailNext(FileOp::ADD, 90, 3);
  backend_.QueueAnswer(kButtonNo);
  EXPECT_EQ(InsertNamed("y"), SeverityInform);
  EXPECT_EQ(m_.LASTERROR, 35);
  EXPECT_EQ(TheTestDriver().RowCount("FUNC"), 1u);
}

TEST_F(NumberingTest, AnErrorManagerThatAlwaysSaysYesDoesNotLoopForEver) {
  errors_.SILENT = 1;
  TheTestDriver().FailNext(FileOp::ADD, 90, 100000);
  EXPECT_EQ(InsertNamed("x"), SeverityInform);
  EXPECT_EQ(m_.LASTERROR, 35);
}

TEST_F(NumberingTest, AReadErrorWhileNumberingIsError1) {
  TheTestDriver().FailNext(FileOp::PREVIOUS, 90);
  SetText(file_, "NAME", "mine");
  EXPECT_EQ(m_.NumberAutoIncrement(false), SeverityInform);
  EXPECT_EQ(m_.LASTERROR, 1);
  EXPECT_EQ(GetText(file_, "NAME"), "mine");  // the buffer is put back on the failing path too
  EXPECT_TRUE(backend_.Messages().empty());
}

TEST_F(NumberingTest, ADuplicateNamesTheDuplicatedKey) {
  ASSERT_EQ(InsertNamed("same"), SeverityNone);
  // The second record duplicates K_NAME (no DUP, case folded) on every
  // try: the user tries once more, then gives up.
  backend_.QueueAnswers({kButtonYes, kButtonNo});
  EXPECT_EQ(InsertNamed("SAME"), SeverityInform);
  EXPECT_EQ(Texts().size(), 2u);
  EXPECT_EQ(errors_.STATUS().KEYNAME, "FUN:K_NAME");  // empty description: the declared name
}

TEST(FileManagerNumbering, DescendingAndMultiComponentKeys) {
  TheTestDriver().Reset();
  ErrorManager errors;
  errors.SetHaltHook([](int) {});
  errors.Init();
  HeadlessBackend backend;
  ScopedBackend scope(&backend);
  FileDescriptor file = FileDeclaration("LINES", "LIN")
                            .Driver(testing::kTestDriverName)
                            .Attributes(kFileThread)
                            .String("DOC", TypeCode::CSTRING, 10)
                            .Field("LINE", TypeCode::SHORT)
                            .Field("SEQ", TypeCode::LONG)
                            .Key("K_DOC", {{"DOC"}, {"LINE"}}, kKeyNocase)
                            .Key("K_SEQ", {{"SEQ", true}})
                            .Build();
  FileManager m;
  m.Init(&file, &errors);
  m.RegisterKey("K_DOC", "", 2);
  m.RegisterKey("K_SEQ", "", 1);
  ASSERT_EQ(m.Open(), SeverityNone);
  struct Case {
    const char* doc;
    int line;
    int seq;
  };
  // Lines count per document (case folded, as the key orders them); the
  // descending SEQ still counts up from the highest.
  const Case cases[] = {{"a", 1, 1}, {"a", 2, 2}, {"b", 1, 3},
                        {"A", 3, 4}, {"c", 1, 5}, {"b", 2, 6}};
  for (const Case& c : cases) {
    internal::ClearRecord(&file);
    SetText(file, "DOC", c.doc);
    ASSERT_EQ(m.Insert(), SeverityNone) << c.doc;
    EXPECT_EQ(GetLong(file, "LINE"), c.line) << c.doc;
    EXPECT_EQ(GetLong(file, "SEQ"), c.seq) << c.doc;
    EXPECT_EQ(GetText(file, "DOC"), c.doc);
  }
  EXPECT_TRUE(backend.Messages().empty());
  m.Close();
  m.Kill();
  errors.Kill();
}

TEST(FileManagerNumbering, TheHighestValueOfTheFieldIsAFailureNotAWrap) {
  TheTestDriver().Reset();
  ErrorManager errors;
  errors.SetHaltHook([](int) {});
  errors.Init();
  HeadlessBackend backend;
  ScopedBackend scope(&backend);
  FileDescriptor file = FileDeclaration("B", "B")
                            .Driver(testing::kTestDriverName)
                            .Attributes(kFileThread)
                            .Field("N", TypeCode::BYTE)
                            .Key("K", {{"N"}})
                            .Build();
  FileManager m;
  m.Init(&file, &errors);
  m.RegisterKey("K", "", 1);
  ASSERT_EQ(m.Open(), SeverityNone);
  SetLong(file, "N", 255);
  ASSERT_EQ(DoFileOp(FileOp::ADD, file), 0);
  EXPECT_EQ(m.Insert(false), SeverityInform);
  EXPECT_EQ(m.LASTERROR, 35);
  EXPECT_EQ(TheTestDriver().RowCount("B"), 1u);
  m.Close();
  m.Kill();
  errors.Kill();
}

// ---------------------------------------------------------------------------
// Inserts without numbering, updates, deletes.

class RecordTest : public FileManagerTest {
 protected:
  void SetUp() override {
    FileManagerTest::SetUp();
    m_.Init(&file_, &errors_);
    m_.FILENAMEVALUE = "func";
    m_.RegisterKey("P_ID", "");  // no numbering: the caller gives the numbers
    ASSERT_EQ(m_.Open(), SeverityNone);
    for (int i = 1; i <= 3; ++i) Add(i, "r" + std::to_string(i));
    backend_.Clear();
  }
  void TearDown() override {
    m_.Close();
    m_.Kill();
    FileManagerTest::TearDown();
  }
  void Add(int id, const std::string& name) {
    internal::ClearRecord(&file_);
    SetLong(file_, "ID", id);
    SetText(file_, "NAME", name);
    ASSERT_EQ(m_.Insert(), SeverityNone);
  }
  Severity FetchId(int id) {
    SetLong(file_, "ID", id);
    return m_.Fetch(file_.KeyIndex("P_ID"));
  }

  FileDescriptor file_ = CatalogueFile("FUNC");
  FileManager m_;
};

TEST_F(RecordTest, ADuplicateWithAnEmptyDescriptionShowsTheDeclaredNameForKey) {
  internal::ClearRecord(&file_);
  SetLong(file_, "ID", 2);
  SetText(file_, "NAME", "dup");
  EXPECT_EQ(m_.Insert(), SeverityInform);
  EXPECT_EQ(m_.LASTERROR, 15);
  EXPECT_EQ(Texts(),
            std::vector<std::string>{"Adding this record creates a duplicate entry for the key: "});
  EXPECT_EQ(errors_.STATUS().KEYNAME, "FUN:P_ID");
  EXPECT_EQ(errors_.STATUS().SAVEERRORCODE, 40);
  EXPECT_EQ(ERRORCODE(), 40);  // the caller still sees the add's error

  // Without handleErrors: reported only.
  backend_.Clear();
  EXPECT_EQ(m_.Insert(false), SeverityInform);
  EXPECT_EQ(m_.LASTERROR, 15);
  EXPECT_TRUE(backend_.Messages().empty());
}

TEST_F(RecordTest, ADuplicateIsFoundWithoutTheDriversDuplicateCheck) {
  TheTestDriver().SetDuplicateSupported(false);
  m_.KEYS[0].PDESCRIPTION = "ID";
  internal::ClearRecord(&file_);
  SetLong(file_, "ID", 3);
  SetText(file_, "NAME", "mine");
  EXPECT_EQ(m_.Insert(), SeverityInform);
  EXPECT_EQ(Texts(), std::vector<std::string>{
                         "Adding this record creates a duplicate entry for the key: ID"});
  EXPECT_EQ(GetText(file_, "NAME"), "mine");
}

TEST_F(RecordTest, OtherInsertErrorsAreError4) {
  TheTestDriver().FailNext(FileOp::ADD, 90);
  internal::ClearRecord(&file_);
  SetLong(file_, "ID", 9);
  EXPECT_EQ(m_.Insert(), SeverityInform);
  EXPECT_EQ(m_.LASTERROR, 4);
  ASSERT_EQ(Texts().size(), 1u);
  EXPECT_EQ(Texts()[0].rfind(
                "An error was experienced during the creation of a record.|File: func|Error: ", 0),
            0u);
}

TEST_F(RecordTest, ACheckThatFailsStopsInsertAndUpdate) {
  struct Checked : FileManager {
    Severity CheckField(int number) override { return number == 2 ? SeverityInform : SeverityNone; }
  } checked;
  FileDescriptor file = CatalogueFile("C");
  checked.Init(&file, &errors_);
  ASSERT_EQ(checked.Open(), SeverityNone);
  EXPECT_EQ(checked.Insert(), SeverityInform);
  EXPECT_EQ(checked.Update(), SeverityQuestion);
  EXPECT_EQ(TheTestDriver().RowCount("C"), 0u);
  checked.Close();
}

TEST_F(RecordTest, UpdateWritesTheRecord) {
  ASSERT_EQ(FetchId(2), SeverityNone);
  SetText(file_, "NAME", "changed");
  EXPECT_EQ(m_.Update(), SeverityNone);
  ASSERT_EQ(FetchId(2), SeverityNone);
  EXPECT_EQ(GetText(file_, "NAME"), "changed");
  EXPECT_EQ(FetchId(7), SeverityInform);  // no record: silent
  EXPECT_TRUE(backend_.Messages().empty());
}

TEST_F(RecordTest, ACollisionWithAnotherStationShowsError7AndTheirVersion) {
  // Given another station on the same file.
  FileDescriptor other = CatalogueFile("FUNC");
  other.open_mode = 0x42;
  ASSERT_EQ(DoFileOp(FileOp::OPEN, other), 0);

  struct Case {
    int mode;
    int error;
    size_t messages;
  };
  const Case cases[] = {
      {kUpdateThrow, 7, 1}, {kUpdateThrowShowChanges, 8, 1}, {kUpdateReportOnly, 7, 0}};
  for (const Case& c : cases) {
    backend_.Clear();
    // We read record 2 with a watch; the other station changes it.
    ASSERT_EQ(DoFileOp(FileOp::WATCH, file_), 0);
    ASSERT_EQ(FetchId(2), SeverityNone);
    SetLong(other, "ID", 2);
    FileArgs g;
    g.key = other.KeyIndex("P_ID");
    ASSERT_EQ(DoFileOp(FileOp::GETfilekey, other, g), 0);
    SetText(other, "NAME", "theirs " + std::to_string(c.mode));
    ASSERT_EQ(DoFileOp(FileOp::PUT, other), 0);

    // When we write ours.
    SetText(file_, "NAME", "ours");
    EXPECT_EQ(m_.Update(c.mode), SeverityInform) << c.mode;
    // Then the error, and their record in our buffer.
    EXPECT_EQ(m_.LASTERROR, c.error);
    EXPECT_EQ(backend_.Messages().size(), c.messages);
    EXPECT_EQ(GetText(file_, "NAME"), "theirs " + std::to_string(c.mode));
    if (c.messages != 0) {
      EXPECT_EQ(Captions()[0], "Record Was Not Updated");
    }
  }
  DoFileOp(FileOp::CLOSE, other);
}

TEST_F(RecordTest, ShownCollisionTexts) {
  FileDescriptor other = CatalogueFile("FUNC");
  other.open_mode = 0x42;
  ASSERT_EQ(DoFileOp(FileOp::OPEN, other), 0);
  for (int mode : {kUpdateThrow, kUpdateThrowShowChanges}) {
    ASSERT_EQ(DoFileOp(FileOp::WATCH, file_), 0);
    ASSERT_EQ(FetchId(1), SeverityNone);
    SetLong(other, "ID", 1);
    FileArgs g;
    g.key = 0;
    ASSERT_EQ(DoFileOp(FileOp::GETfilekey, other, g), 0);
    ASSERT_EQ(DoFileOp(FileOp::PUT, other), 0);
    m_.Update(mode);
  }
  EXPECT_EQ(Texts(),
            (std::vector<std::string>{
                "This record was changed by another station.",
                "This record was changed by another station. Those changes will now be displayed. "
                "Use the Ditto Button or Ctrl+H to recall your changes."}));
  DoFileOp(FileOp::CLOSE, other);
}

TEST_F(RecordTest, OtherUpdateErrorsAreError28) {
  ASSERT_EQ(FetchId(1), SeverityNone);
  TheTestDriver().FailNext(FileOp::PUT, 90, 2);
  EXPECT_EQ(m_.Update(kUpdateReportOnly), SeverityInform);
  EXPECT_TRUE(backend_.Messages().empty());
  EXPECT_EQ(m_.LASTERROR, 28);
  EXPECT_EQ(m_.Update(), SeverityInform);
  ASSERT_EQ(Texts().size(), 1u);
  EXPECT_EQ(Texts()[0].rfind("An error (", 0), 0u);
  EXPECT_NE(Texts()[0].find(") was experienced when making changes to the func file."),
            std::string::npos);
}

TEST_F(RecordTest, DeleteAsksFirst) {
  ASSERT_EQ(FetchId(2), SeverityNone);
  backend_.QueueAnswer(kButtonNo);
  EXPECT_EQ(m_.Delete(), SeverityDeclined);
  EXPECT_EQ(TheTestDriver().RowCount("FUNC"), 3u);
  EXPECT_EQ(Texts(),
            std::vector<std::string>{"Are you sure you want to delete the highlighted record?"});
  backend_.QueueAnswer(kButtonYes);
  EXPECT_EQ(m_.Delete(), SeverityNone);
  EXPECT_EQ(TheTestDriver().RowCount("FUNC"), 2u);
  // A failed delete is reported for the caller to show.
  backend_.Clear();
  ASSERT_EQ(FetchId(1), SeverityNone);
  TheTestDriver().FailNext(FileOp::DELETE, 90);
  EXPECT_EQ(m_.Delete(false), SeverityInform);
  EXPECT_EQ(m_.LASTERROR, 13);
  EXPECT_TRUE(backend_.Messages().empty());
  EXPECT_EQ(m_.ThrowCurrent(), SeverityInform);
  ASSERT_EQ(Texts().size(), 1u);
  EXPECT_NE(Texts()[0].find("was experienced when deleting a record from the func file."),
            std::string::npos);
}

// ---------------------------------------------------------------------------
// Sequential reading.

TEST_F(RecordTest, ReadingToTheEndIsSilent) {
  FileArgs a;
  a.key = 0;
  ASSERT_EQ(DoFileOp(FileOp::SETkey, file_, a), 0);
  std::vector<int> ids;
  while (m_.ReadNext() == SeverityNone) ids.push_back(GetLong(file_, "ID"));
  EXPECT_EQ(ids, (std::vector<int>{1, 2, 3}));
  EXPECT_EQ(m_.ATEOF, 1);
  ASSERT_EQ(DoFileOp(FileOp::SETkey, file_, a), 0);
  EXPECT_EQ(m_.ReadPrevious(), SeverityNone);
  EXPECT_EQ(GetLong(file_, "ID"), 3);
  EXPECT_EQ(m_.ATEOF, 0);
  EXPECT_TRUE(backend_.Messages().empty());
}

TEST_F(RecordTest, HeldRecordsAreReportedOrSkipped) {
  TheTestDriver().Hold("FUNC", 2);
  FileArgs a;
  a.key = 0;
  ASSERT_EQ(DoFileOp(FileOp::SETkey, file_, a), 0);
  EXPECT_EQ(m_.ReadNext(), SeverityNone);
  EXPECT_EQ(m_.ReadNext(), SeverityInform);
  EXPECT_EQ(m_.LASTERROR, 31);
  EXPECT_EQ(Texts(),
            std::vector<std::string>{
                "A record held by another station was encountered reading from the func file."});

  m_.SKIPHELDRECORDS = 1;
  ASSERT_EQ(DoFileOp(FileOp::SETkey, file_, a), 0);
  std::vector<int> ids;
  while (m_.ReadNext() == SeverityNone) ids.push_back(GetLong(file_, "ID"));
  EXPECT_EQ(ids, (std::vector<int>{1, 3}));
  EXPECT_EQ(m_.ATEOF, 1);
}

TEST_F(RecordTest, OtherReadErrorsAreError1) {
  TheTestDriver().FailNext(FileOp::NEXT, 90, 2);
  EXPECT_EQ(m_.ReadNext(false), SeverityHalt);
  EXPECT_EQ(m_.LASTERROR, 1);
  EXPECT_TRUE(backend_.Messages().empty());
  EXPECT_EQ(m_.ReadNext(), SeverityInform);
  ASSERT_EQ(Captions().size(), 1u);
  EXPECT_EQ(Captions()[0], "Record Retrieval Error");
}

TEST_F(RecordTest, ReadAheadIsOnForReadsAndOffForWrites) {
  m_.USEMRP = 1;
  size_t before = TheTestDriver().PropertySets(kPropertyReadAhead).size();
  FileArgs a;
  a.key = 0;
  ASSERT_EQ(DoFileOp(FileOp::SETkey, file_, a), 0);
  m_.ReadNext();
  m_.ReadNext();  // already on: not set again
  internal::ClearRecord(&file_);
  SetLong(file_, "ID", 10);
  m_.Insert();
  m_.Open();
  m_.Close();  // clears USEMRP and the property
  EXPECT_EQ(m_.USEMRP, 0);
  std::vector<std::string> sets = TheTestDriver().PropertySets(kPropertyReadAhead);
  sets.erase(sets.begin(), sets.begin() + static_cast<ptrdiff_t>(before));
  EXPECT_EQ(sets, (std::vector<std::string>{"20", "0", "0"}));
}

// ---------------------------------------------------------------------------
// Saved buffers and states.

TEST_F(RecordTest, SavedBuffersCompareAndRestore) {
  ASSERT_EQ(FetchId(1), SeverityNone);
  size_t kept = m_.BUFFERS.size();  // the procedure's saved state holds one
  uint16_t h1 = m_.SaveRecordBuffer();
  uint16_t h2 = m_.SaveRecordBuffer();
  EXPECT_NE(h1, 0);
  EXPECT_NE(h1, h2);
  EXPECT_FALSE(m_.CompareToSaved(h1));

  file_.memo_values[0] = "edited code";  // a change in the memo alone counts
  EXPECT_TRUE(m_.CompareToSaved(h1));
  m_.RestoreRecordBuffer(h1, true);
  EXPECT_EQ(file_.memo_values[0], "");
  EXPECT_FALSE(m_.CompareToSaved(h2));

  SetText(file_, "NAME", "other");
  EXPECT_TRUE(m_.CompareToSaved(h2));
  m_.RestoreRecordBuffer(h2, false);  // released without restoring
  EXPECT_EQ(GetText(file_, "NAME"), "other");
  EXPECT_EQ(m_.BUFFERS.size(), kept);
  EXPECT_TRUE(m_.CompareToSaved(h2));  // unknown handle: changed

  uint16_t h3 = m_.SaveRecordBuffer();
  m_.BLOBCHANGED = 1;
  EXPECT_TRUE(m_.CompareToSaved(h3));
  FetchId(1);  // a read does not clear it, an add/put/delete does
  EXPECT_EQ(m_.BLOBCHANGED, 1);
  m_.Update();
  EXPECT_EQ(m_.BLOBCHANGED, 0);
  m_.RestoreRecordBuffer(h3, false);
}

TEST_F(RecordTest, AFileStateComesBackWithPositionAndBuffer) {
  FileArgs a;
  a.key = 0;
  ASSERT_EQ(DoFileOp(FileOp::SETkey, file_, a), 0);
  ASSERT_EQ(m_.ReadNext(), SeverityNone);  // record 1, the next read would give 2
  size_t saved = m_.SAVED.size(), buffers = m_.BUFFERS.size(), live = TheTestDriver().LiveStates();
  uint16_t state = m_.SaveFileState();
  ASSERT_EQ(FetchId(3), SeverityNone);
  SetText(file_, "NAME", "scribble");
  m_.RestoreFileState(state, true);
  EXPECT_EQ(GetLong(file_, "ID"), 1);
  EXPECT_EQ(GetText(file_, "NAME"), "r1");
  ASSERT_EQ(m_.ReadNext(), SeverityNone);
  EXPECT_EQ(GetLong(file_, "ID"), 2);
  EXPECT_EQ(m_.SAVED.size(), saved);
  EXPECT_EQ(m_.BUFFERS.size(), buffers);
  EXPECT_EQ(TheTestDriver().LiveStates(), live);
}

TEST_F(FileManagerTest, CloseRestoresTheFileAsTheProcedureFoundIt) {
  TheTestDriver().MakeTable("F");
  FileDescriptor file = CatalogueFile("F");
  FileManager m;
  m.Init(&file, &errors_);
  m.RegisterKey("P_ID", "");
  ASSERT_EQ(m.Open(), SeverityNone);  // the outer procedure
  for (int i = 1; i <= 3; ++i) {
    SetLong(file, "ID", i);
    SetText(file, "NAME", "n" + std::to_string(i));
    ASSERT_EQ(m.Insert(), SeverityNone);
  }
  FileArgs a;
  a.key = 0;
  ASSERT_EQ(DoFileOp(FileOp::SETkey, file, a), 0);
  ASSERT_EQ(m.ReadNext(), SeverityNone);
  ASSERT_EQ(m.ReadNext(), SeverityNone);  // on record 2

  // An inner procedure opens the file, reads on and closes it.
  errors_.PushProcedureName("inner");
  ASSERT_EQ(m.Open(), SeverityNone);
  ASSERT_EQ(m.ReadNext(), SeverityNone);  // first use: the state is saved before it
  EXPECT_EQ(GetLong(file, "ID"), 3);
  EXPECT_EQ(FileRegistry::Instance().STATUSQ().size(), 2u);
  m.Close();
  errors_.PopProcedureName();
  EXPECT_EQ(FileRegistry::Instance().STATUSQ().size(), 1u);
  // Then the outer procedure finds record 2 and reads on from there.
  EXPECT_EQ(GetLong(file, "ID"), 2);
  ASSERT_EQ(m.ReadNext(), SeverityNone);
  EXPECT_EQ(GetLong(file, "ID"), 3);
  m.Close();
  EXPECT_TRUE(FileRegistry::Instance().STATUSQ().empty());
  m.Kill();
}

TEST_F(FileManagerTest, ANestedOpenByTheSameProcedureIsCounted) {
  TheTestDriver().MakeTable("F");
  FileDescriptor file = CatalogueFile("F");
  FileManager m;
  m.Init(&file, &errors_);
  m.Open();
  m.Open();
  auto q = FileRegistry::Instance().STATUSQ();
  ASSERT_EQ(q.size(), 1u);
  EXPECT_EQ(q[0].NESTEDOPEN, 1);
  m.Close();
  EXPECT_EQ(FileRegistry::Instance().STATUSQ().size(), 1u);
  m.Close();
  EXPECT_TRUE(FileRegistry::Instance().STATUSQ().empty());
}

// A manager like the application's: every use first makes a use of the
// open kind, so a lazy file opens on its first use without an Open.
struct OpensOnUse : FileManager {
  Severity EnsureUsable(int useKind) override {
    if (useKind != kUseOpen) FileManager::EnsureUsable(kUseOpen);
    return FileManager::EnsureUsable(useKind);
  }
};

TEST_F(FileManagerTest, AUseBeforeAnyOpenOpensOnceThroughTheOpenPath) {
  TheTestDriver().MakeTable("F");
  FileDescriptor file = CatalogueFile("F");
  OpensOnUse m;
  m.Init(&file, &errors_);
  m.LAZYOPEN = 1;
  EXPECT_EQ(m.ReadNext(), SeverityInform);  // empty file, but open
  EXPECT_TRUE(file.IsOpen());
  EXPECT_EQ(m.OPENED, 1);
  EXPECT_EQ(TheTestDriver().Count(FileOp::OPEN), 1);
  EXPECT_EQ(m.ReadNext(), SeverityInform);
  EXPECT_EQ(TheTestDriver().Count(FileOp::OPEN), 1);
  // A forced open of a lazy file counts once too.
  EXPECT_EQ(m.Open(true, true), SeverityNone);
  EXPECT_EQ(m.OPENED, 2);
  m.Close();
  m.Close();
  EXPECT_FALSE(file.IsOpen());
  EXPECT_EQ(TheTestDriver().Count(FileOp::CLOSE), 1);
  EXPECT_TRUE(backend_.Messages().empty());
}

TEST_F(FileManagerTest, AnAliasNumbersThroughTheRealFilesManager) {
  TheTestDriver().MakeTable("F");
  FileDescriptor real_file = CatalogueFile("F");
  FileDescriptor alias_file = CatalogueFile("F");
  FileManager real, alias;
  InitCatalogue(real, real_file);
  alias.Init(&alias_file, &errors_);
  alias.ALIASEDFILE = &real;
  ASSERT_EQ(real.Open(), SeverityNone);
  ASSERT_EQ(alias.Open(), SeverityNone);
  SetText(real_file, "NAME", "real's own");
  SetText(alias_file, "NAME", "typed in the alias");
  ASSERT_EQ(alias.StartNewRecord(true), SeverityNone);
  EXPECT_EQ(GetLong(alias_file, "ID"), 1);
  EXPECT_EQ(GetText(alias_file, "NAME"), "typed in the alias");
  EXPECT_EQ(GetText(real_file, "NAME"), "real's own");  // put back
  EXPECT_EQ(TheTestDriver().RowCount("F"), 1u);
  alias.Close();
  real.Close();
}

TEST_F(FileManagerTest, KillLetsSavedStatesGo) {
  TheTestDriver().MakeTable("F");
  FileDescriptor file = CatalogueFile("F");
  FileManager m;
  m.Init(&file, &errors_);
  ASSERT_EQ(m.Open(), SeverityNone);
  m.SaveFileState();
  m.SaveFileState();
  EXPECT_EQ(TheTestDriver().LiveStates(), 2u);
  m.Kill();
  EXPECT_EQ(TheTestDriver().LiveStates(), 0u);
  EXPECT_TRUE(m.SAVED.empty());
  EXPECT_TRUE(file.IsOpen());  // Kill does not close
  DoFileOp(FileOp::CLOSE, file);
}

// ---------------------------------------------------------------------------
// Callbacks and triggers.

struct Triggered : FileManager {
  Severity BeforeInsert() override { return Note("+I"); }
  Severity AfterInsert() override { return Note("I+"); }
  Severity BeforeUpdate() override { return Note("+U"); }
  Severity AfterUpdate() override { return Note("U+"); }
  Severity BeforeDelete() override { return Note("+D"); }
  Severity AfterDelete() override { return Note("D+"); }
  Severity Note(const char* s) {
    notes += s;
    notes += ' ';
    return SeverityNone;
  }
  std::string notes;
};

TEST_F(FileManagerTest, TriggersRunAroundChanges) {
  TheTestDriver().MakeTable("F");
  FileDescriptor file = CatalogueFile("F");
  Triggered m;
  m.Init(&file, &errors_);
  m.RegisterKey("P_ID", "", 1);
  ASSERT_EQ(m.Open(), SeverityNone);
  ASSERT_EQ(m.Insert(), SeverityNone);
  ASSERT_EQ(m.Update(), SeverityNone);
  ASSERT_EQ(m.Delete(false), SeverityNone);
  EXPECT_EQ(m.notes, "+I I+ +U U+ +D D+ ");
  // A failed change runs only the "before" trigger.
  m.notes.clear();
  TheTestDriver().FailNext(FileOp::PUT, 90);
  m.Update(kUpdateReportOnly);
  EXPECT_EQ(m.notes, "+U ");
  // Calls made through the runtime's entry directly, without the framework,
  // are not seen.
  m.notes.clear();
  ASSERT_EQ(DoFileOp(FileOp::ADD, file), 0);
  EXPECT_EQ(m.notes, "");
  // Nested calls inside a view's operation run the triggers once.
  FileArgs view_op;
  view_op.view = 7;
  SetLong(file, "ID", 50);
  m.FunctionCalled(FileOp::PUT, file, view_op);
  EXPECT_EQ(m.INVIEW, 1);
  FileArgs nested;
  m.FunctionCalled(FileOp::PUT, file, nested);
  m.FunctionDone(FileOp::PUT, file, nested, 0);
  m.FunctionDone(FileOp::PUT, file, view_op, 0);
  EXPECT_EQ(m.INVIEW, 0);
  EXPECT_EQ(m.notes, "+U U+ ");
  m.Close();
}

TEST_F(FileManagerTest, ThePreviousBufferIsKeptBeforeReads) {
  TheTestDriver().MakeTable("F");
  FileDescriptor file = CatalogueFile("F");
  FileManager m;
  m.Init(&file, &errors_);
  m.RegisterKey("P_ID", "", 1);
  m.SAVEPREVIOUSBUFFER = 1;
  ASSERT_EQ(m.Open(), SeverityNone);
  SetText(file, "NAME", "one");
  ASSERT_EQ(m.Insert(), SeverityNone);  // ID 1
  SetText(file, "NAME", "two");
  ASSERT_EQ(m.Insert(), SeverityNone);  // ID 2
  SetLong(file, "ID", 1);
  SetText(file, "NAME", "typed");
  ASSERT_EQ(m.Fetch(0), SeverityNone);
  EXPECT_EQ(GetText(file, "NAME"), "one");
  FileDescriptor copy = file.CopyDeclaration();
  copy.record = m.PREVIOUSBUFFER;
  EXPECT_EQ(GetText(copy, "NAME"), "typed");  // the buffer as it was before the read
  m.Close();
}

// ---------------------------------------------------------------------------
// Threads.

TEST_F(FileManagerTest, TwoThreadsShareASharedFileThroughOneOpener) {
  TheTestDriver().MakeTable("SHARED");
  FileDescriptor file = CatalogueFile("SHARED", 0);  // not THREAD: one file for all threads
  constexpr int kThreads = 2;
  std::barrier opened(kThreads);
  std::barrier closed_first(kThreads);
  std::vector<FileOpener*> openers(kThreads);
  std::vector<int> shared(kThreads);
  std::vector<int> open_after_first_close(kThreads);
  auto run = [&](int t) {
    FileManager m;
    m.Init(&file, &errors_);
    openers[static_cast<size_t>(t)] = m.OPENER;
    shared[static_cast<size_t>(t)] = dynamic_cast<SharedFileOpener*>(m.OPENER) != nullptr;
    EXPECT_EQ(m.Open(), SeverityNone);
    opened.arrive_and_wait();
    // Thread 0 closes first; the file stays open for thread 1.
    if (t == 0) m.Close();
    closed_first.arrive_and_wait();
    open_after_first_close[static_cast<size_t>(t)] = file.IsOpen();
    closed_first.arrive_and_wait();
    if (t == 1) m.Close();
    m.Kill();
  };
  std::thread a(run, 0), b(run, 1);
  a.join();
  b.join();
  EXPECT_EQ(openers[0], openers[1]);
  EXPECT_EQ(shared, (std::vector<int>{1, 1}));
  EXPECT_EQ(open_after_first_close, (std::vector<int>{1, 1}));
  EXPECT_FALSE(file.IsOpen());
  EXPECT_EQ(TheTestDriver().Count(FileOp::OPEN), 1);
  EXPECT_EQ(TheTestDriver().Count(FileOp::CLOSE), 1);
}

}  // namespace
}  // namespace qzr
