// Tests of the relation manager over three related Palisade files in a
// temporary directory: a parent, its children and their grandchildren.
//
//   PAR (ID)  --PAR:ID = CHI:PARENTID-->  CHI (ID, PARENTID)
//   CHI       --CHI:PARENTID, CHI:ID = GRA:PARENTID, GRA:CHILDID-->  GRA
//
// A grandchild links to its child by two fields, so a parent's new ID
// travels two levels down. The managers log every delete (by their
// trigger hook) and every command sent to a driver. Messages are read from
// the headless backend; the error manager's halt hook keeps the process
// alive.

// clang-format off
#include "framework/file_manager_internal.h"  // first: see there
// clang-format on

#include "framework/relation_manager.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <string>
#include <tuple>
#include <vector>

#include "drivers/palisade/driver.h"
#include "drivers/palisade/key_encoding.h"
#include "drivers/palisade/test_support.h"
#include "drivers/palisade/transaction.h"
#include "runtime/settings/locale_data.h"
#include "runtime/values/ufo.h"
#include "ui/headless_backend.h"
#include "ui/message.h"

namespace qzr {
namespace {

using palisade::test::TempDir;

UFO* Field(UfoSlot& s, FileDescriptor& f, const char* label) {
  int i = f.FieldIndex(label);
  const FieldDesc& d = f.fields[static_cast<size_t>(i)];
  return s.Make(d.type, f.FieldData(i), d.size, d.places);
}
int32_t GetLong(FileDescriptor& f, const char* label) {
  UfoSlot s;
  return Field(s, f, label)->GetLong();
}
void SetLong(FileDescriptor& f, const char* label, int32_t v) {
  UfoSlot s;
  Field(s, f, label)->SetLong(v);
}

void SetText(FileDescriptor& f, const char* label, const std::string& v) {
  UfoSlot s;
  int i = f.FieldIndex(label);
  const FieldDesc& d = f.fields[static_cast<size_t>(i)];
  s.Make(d.type, f.FieldData(i), d.size)->SetText(v);
}
std::string GetText(FileDescriptor& f, const char* label) {
  UfoSlot s;
  int i = f.FieldIndex(label);
  const FieldDesc& d = f.fields[static_cast<size_t>(i)];
  return s.Make(d.type, f.FieldData(i), d.size)->Text();
}

// A file manager that logs the records it deletes and the commands it
// sends, and can be told to fail its next deletes.
class LoggingFileManager : public FileManager {
 public:
  explicit LoggingFileManager(std::vector<std::string>* log) : log_(log) {}

  Severity BeforeDelete() override {
    log_->push_back(FILE->prefix + ":" + std::to_string(GetLong(*FILE, "ID")));
    return SeverityNone;
  }
  void FunctionCalled(FileOp op, FileDescriptor& file, FileArgs& args) override {
    if (op == FileOp::SEND) sends.push_back(args.driver_string);
    FileManager::FunctionCalled(op, file, args);
  }
  Severity Delete(bool ask) override {
    if (fail_deletes > 0) {
      --fail_deletes;
      PostError(kAccessDenied);
      RecordError(kErrRecordDelete);
      return SeverityInform;
    }
    return FileManager::Delete(ask);
  }

  std::vector<std::string> sends;
  int fail_deletes = 0;

 private:
  std::vector<std::string>* log_;
};

class RelationManagerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    RegisterPalisadeDriver();
    FileStatus().Clear();
    ClearError();
    errors_.SetHaltHook([this](int code) { halts_.push_back(code); });
    errors_.Init();

    par_file_ = FileDeclaration("PARENT", "PAR")
                    .Driver("PALISADE")
                    .Name(dir_.File("PARENT.PLX"))
                    .Attributes(kFileCreate)
                    .Field("ID", TypeCode::LONG)
                    .String("NAME", TypeCode::CSTRING, 20)
                    .Key("P_ID", {{"ID"}}, kKeyPrimary)
                    .Build();
    chi_file_ = FileDeclaration("CHILD", "CHI")
                    .Driver("PALISADE")
                    .Name(dir_.File("CHILD.PLX"))
                    .Attributes(kFileCreate)
                    .Field("ID", TypeCode::LONG)
                    .Field("PARENTID", TypeCode::LONG)
                    .Key("P_ID", {{"ID"}}, kKeyPrimary)
                    .Key("K_PARENT", {{"PARENTID"}, {"ID"}})
                    .Build();
    gra_file_ = FileDeclaration("GRAND", "GRA")
                    .Driver("PALISADE")
                    .Name(dir_.File("GRAND.PLX"))
                    .Attributes(kFileCreate)
                    .Field("ID", TypeCode::LONG)
                    .Field("PARENTID", TypeCode::LONG)
                    .Field("CHILDID", TypeCode::LONG)
                    .Key("P_ID", {{"ID"}}, kKeyPrimary)
                    .Key("K_CHILD", {{"PARENTID"}, {"CHILDID"}, {"ID"}})
                    .Build();
    for (auto [fm, file, rm] :
         {std::tuple{&par_, &par_file_, &par_rel_}, std::tuple{&chi_, &chi_file_, &chi_rel_},
          std::tuple{&gra_, &gra_file_, &gra_rel_}}) {
      fm->Init(file, &errors_);
      fm->RegisterKey("P_ID");
      rm->Init(fm);
    }
  }

  void TearDown() override {
    for (FileManager* m : {&par_, &chi_, &gra_}) {
      while (m->OPENED > 0) m->Close();
    }
    EXPECT_FALSE(palisade::TransactionActive());
    for (RelationManager* r : {&par_rel_, &chi_rel_, &gra_rel_}) r->Kill();
    for (FileManager* m : {&par_, &chi_, &gra_}) m->Kill();
    errors_.Kill();
    FileStatus().Clear();
  }

  // The relations of the picture above, with the given modes.
  void Relate(uint8_t update1, uint8_t delete1, uint8_t update2, uint8_t delete2) {
    ASSERT_EQ(
        par_rel_.AddRelation(&chi_rel_, update1, delete1, "K_PARENT", {{"PAR:ID", "CHI:PARENTID"}}),
        1);
    ASSERT_EQ(chi_rel_.AddRelation(&gra_rel_, update2, delete2, "K_CHILD",
                                   {{"CHI:PARENTID", "GRA:PARENTID"}, {"CHI:ID", "GRA:CHILDID"}}),
              1);
  }

  // Parents 1 and 2; children 10 and 11 of parent 1, 20 of parent 2;
  // grandchildren 100 and 101 of child 10, 110 of child 11, 200 of child 20.
  void Fill() {
    ASSERT_EQ(par_rel_.Open(), SeverityNone);
    ASSERT_EQ(chi_.Open(), SeverityNone);
    ASSERT_EQ(gra_.Open(), SeverityNone);
    for (int id : {1, 2}) Add(par_, {{"ID", id}});
    for (auto [id, parent] : {std::pair{10, 1}, {11, 1}, {20, 2}})
      Add(chi_, {{"ID", id}, {"PARENTID", parent}});
    for (auto [id, child] : {std::pair{100, 10}, {101, 10}, {110, 11}, {200, 20}})
      Add(gra_, {{"ID", id}, {"PARENTID", child / 10}, {"CHILDID", child}});
    ASSERT_EQ(chi_.Close(), SeverityNone);
    ASSERT_EQ(gra_.Close(), SeverityNone);
  }

  void Add(FileManager& m, std::initializer_list<std::pair<const char*, int32_t>> values) {
    internal::ClearRecord(m.FILE);
    for (auto [label, v] : values) SetLong(*m.FILE, label, v);
    ASSERT_EQ(m.Insert(), SeverityNone) << ERROR();
  }

  // Reads the record with primary key `id` into the buffer.
  void FetchById(FileManager& m, int32_t id) {
    SetLong(*m.FILE, "ID", id);
    ASSERT_EQ(m.Fetch(m.FILE->KeyIndex("P_ID")), SeverityNone) << m.FILE->label << " " << id;
  }

  // "ID" or "ID/linking field values" of every record, in ID order, read
  // through a descriptor of its own (another station's view of the file).
  std::vector<std::string> Rows(const FileDescriptor& declared) {
    FileDescriptor f = declared.CopyDeclaration();
    f.open_mode = kOpenReadWriteDenyNone;
    std::vector<std::string> rows;
    EXPECT_EQ(DoFileOp(FileOp::OPEN, f), 0) << ERROR();
    FileArgs a;
    a.key = f.KeyIndex("P_ID");
    DoFileOp(FileOp::SETkey, f, a);
    while (DoFileOp(FileOp::NEXT, f) == 0) {
      std::string row = std::to_string(GetLong(f, "ID"));
      for (const char* link : {"PARENTID", "CHILDID"}) {
        if (f.FieldIndex(link) >= 0) row += "/" + std::to_string(GetLong(f, link));
      }
      rows.push_back(row);
    }
    DoFileOp(FileOp::CLOSE, f);
    return rows;
  }

  std::vector<std::string> Texts() {
    std::vector<std::string> out;
    for (const auto& m : backend_.Messages()) out.push_back(m.request.text);
    return out;
  }

  TempDir dir_;
  HeadlessBackend backend_;
  ScopedBackend scope_{&backend_};
  ErrorManager errors_;
  std::vector<int> halts_;
  std::vector<std::string> deleted_;
  FileDescriptor par_file_, chi_file_, gra_file_;
  LoggingFileManager par_{&deleted_}, chi_{&deleted_}, gra_{&deleted_};
  RelationManager par_rel_, chi_rel_, gra_rel_;
};

const std::vector<std::string> kAllParents = {"1", "2"};
const std::vector<std::string> kAllChildren = {"10/1", "11/1", "20/2"};
const std::vector<std::string> kAllGrandchildren = {"100/1/10", "101/1/10", "110/1/11", "200/2/20"};

// ---------------------------------------------------------------------------
// Linking fields.

TEST(LinkingFieldsTest, ValuesMoveAndCompareAcrossTypes) {
  FileDescriptor left = FileDeclaration("L", "L")
                            .Field("NUM", TypeCode::LONG)
                            .String("CODE", TypeCode::CSTRING, 10)
                            .Build();
  FileDescriptor right = FileDeclaration("R", "R")
                             .Decimal("NUM", TypeCode::DECIMAL, 9, 0)
                             .String("CODE", TypeCode::STRING, 6)
                             .Build();
  LinkingFields links;
  ASSERT_TRUE(links.AddPair(&left, 0, &right, 0));
  ASSERT_TRUE(links.AddPair(&left, 1, &right, 1));
  EXPECT_FALSE(links.AddPair(&left, 2, &right, 0));
  EXPECT_FALSE(links.AddPair(&left, 0, &right, -1));
  EXPECT_EQ(links.Count(), 2u);

  SetLong(left, "NUM", 42);
  SetText(left, "CODE", "ab");
  links.SaveLeft();
  links.AssignLeftToRight();
  EXPECT_EQ(GetLong(right, "NUM"), 42);
  EXPECT_EQ(GetText(right, "CODE"), "ab    ");  // a STRING is blank-padded
  EXPECT_TRUE(links.LeftEqualsRight());

  SetText(right, "CODE", "AB");
  EXPECT_FALSE(links.LeftEqualsRight());
  EXPECT_TRUE(links.LeftEqualsRight(/*nocase=*/true));

  // A changed left value: the buffer remembers the old one.
  SetLong(left, "NUM", 43);
  EXPECT_FALSE(links.Unchanged());
  links.AssignBufferToRight();
  EXPECT_EQ(GetLong(right, "NUM"), 42);
  EXPECT_TRUE(links.BufferEqualsRight(true));
  links.RestoreLeft();
  EXPECT_EQ(GetLong(left, "NUM"), 42);
  EXPECT_TRUE(links.Unchanged());

  links.ClearRight();
  EXPECT_EQ(GetLong(right, "NUM"), 0);
  EXPECT_EQ(GetText(right, "CODE"), "      ");

  // Never noted: nothing counts as changed.
  links.ForgetBuffers();
  SetLong(left, "NUM", 7);
  EXPECT_TRUE(links.Unchanged());
}

// A NOCASE link over GROUP fields folds case as the key's encoding does:
// through the locale's upper-case table, letters above 127 included.
TEST(LinkingFieldsTest, ANocaseLinkOverGroupsFoldsAsTheKeyEncodes) {
  const std::string env = ::testing::TempDir() + "links_case_" + std::to_string(getpid()) + ".ENV";
  {
    std::ofstream out(env, std::ios::binary);
    out << "MORCASE=\xC9,\xE9\r\n";  // É and é are a pair
  }
  InitLocaleForTesting(IntlSettings{}, env);
  FileDescriptor left =
      FileDeclaration("L", "L").Group("G", 1).String("S", TypeCode::STRING, 4).Build();
  FileDescriptor right =
      FileDeclaration("R", "R").Group("G", 1).String("S", TypeCode::STRING, 4).Build();
  LinkingFields links;
  ASSERT_TRUE(links.AddPair(&left, 0, &right, 0));
  const struct {
    const char* left;
    const char* right;
    bool exact, folded;
  } cases[] = {
      {"ab", "ab", true, true},
      {"ab", "AB", false, true},
      {"\xE9"
       "a",
       "\xC9"
       "A",
       false, true},
      {"ab", "ac", false, false},
  };
  const palisade::KeyCollation collation = palisade::CollationFromLocale(Locale());
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.left) + " / " + c.right);
    SetText(left, "S", c.left);
    SetText(right, "S", c.right);
    EXPECT_EQ(links.LeftEqualsRight(), c.exact);
    EXPECT_EQ(links.LeftEqualsRight(/*nocase=*/true), c.folded);
    // The key's encoding folds the same pairs together.
    std::string l = c.left, r = c.right;
    for (char& ch : l) ch = static_cast<char>(collation.upper[static_cast<uint8_t>(ch)]);
    for (char& ch : r) ch = static_cast<char>(collation.upper[static_cast<uint8_t>(ch)]);
    EXPECT_EQ(l == r, c.folded);
  }
  InitLocaleForTesting(IntlSettings{}, "/nonexistent/none.ENV");
  std::remove(env.c_str());
}

// ---------------------------------------------------------------------------
// Relations.

TEST_F(RelationManagerTest, AddRelationRefusesWhatAWalkCouldNotFollow) {
  struct Case {
    const char* why;
    RelationManager* related;
    std::string key;
    std::vector<std::pair<std::string, std::string>> fields;
  };
  RelationManager uninitialised;
  const std::vector<Case> cases = {
      {"no related manager", nullptr, "K_PARENT", {{"PAR:ID", "CHI:PARENTID"}}},
      {"related manager without a file", &uninitialised, "K_PARENT", {{"PAR:ID", "CHI:PARENTID"}}},
      {"no such key", &chi_rel_, "K_NONE", {{"PAR:ID", "CHI:PARENTID"}}},
      {"no such field here", &chi_rel_, "K_PARENT", {{"PAR:NONE", "CHI:PARENTID"}}},
      {"no such field there", &chi_rel_, "K_PARENT", {{"PAR:ID", "CHI:NONE"}}},
      {"not the key's leading component", &chi_rel_, "K_PARENT", {{"PAR:ID", "CHI:ID"}}},
      {"more fields than the key has",
       &chi_rel_,
       "P_ID",
       {{"PAR:ID", "CHI:ID"}, {"PAR:NAME", "CHI:PARENTID"}}},
      {"no fields", &chi_rel_, "K_PARENT", {}},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(par_rel_.AddRelation(c.related, kRelationCascade, kRelationCascade, c.key, c.fields),
              0)
        << c.why;
  }
  EXPECT_TRUE(par_rel_.RELATIONS.empty());
  EXPECT_EQ(par_rel_.AddRelation(&chi_rel_, kRelationCascade, kRelationRestrict, "K_PARENT",
                                 {{"PAR:ID", "CHI:PARENTID"}}),
            1);
  ASSERT_EQ(par_rel_.RELATIONS.size(), 1u);
  EXPECT_EQ(par_rel_.RELATIONS[0].FILE, &chi_rel_);
  EXPECT_EQ(par_rel_.RELATIONS[0].HISKEY, chi_file_.KeyIndex("K_PARENT"));
  EXPECT_EQ(par_rel_.RELATIONS[0].UPDATEMODE, kRelationCascade);
  EXPECT_EQ(par_rel_.RELATIONS[0].DELETEMODE, kRelationRestrict);
  EXPECT_EQ(FileRegistry::Instance().GetRelationManager(&par_file_), &par_rel_);
}

class DeferredRelations : public RelationManager {
 public:
  void AddDeferredRelations() override {
    ++runs;
    AddRelation(child, kRelationCascade, kRelationCascade, "K_PARENT",
                {{"PAR:ID", "CHI:PARENTID"}});
  }
  RelationManager* child = nullptr;
  int runs = 0;
};

TEST_F(RelationManagerTest, DeferredRelationsAreAddedOnceOnFirstOpen) {
  DeferredRelations rel;
  rel.child = &chi_rel_;
  par_rel_.Kill();
  rel.Init(&par_);
  EXPECT_EQ(rel.runs, 0);
  ASSERT_EQ(rel.Open(), SeverityNone);
  EXPECT_EQ(rel.runs, 1);
  EXPECT_EQ(rel.RELATIONS.size(), 1u);
  EXPECT_EQ(chi_.OPENED, 1);  // the related file is opened with it
  EXPECT_TRUE(chi_file_.IsOpen());
  rel.Close();
  ASSERT_EQ(rel.Open(), SeverityNone);
  rel.Close();
  EXPECT_EQ(rel.runs, 1);
  EXPECT_EQ(rel.RELATIONS.size(), 1u);
  EXPECT_FALSE(chi_file_.IsOpen());
}

// ---------------------------------------------------------------------------
// Opening and closing.

TEST_F(RelationManagerTest, ACycleOfRelationsOpensAndClosesEachFileOnce) {
  // PAR -> CHI -> GRA -> PAR: every traversal comes back to where it began.
  Relate(kRelationCascade, kRelationCascade, kRelationCascade, kRelationCascade);
  ASSERT_EQ(gra_rel_.AddRelation(&par_rel_, kRelationNone, kRelationNone, "P_ID",
                                 {{"GRA:PARENTID", "PAR:ID"}}),
            1);

  for (int round = 0; round < 2; ++round) {
    ASSERT_EQ(par_rel_.Open(), SeverityNone);
    EXPECT_EQ(par_.OPENED, 1);
    EXPECT_EQ(chi_.OPENED, 1);
    EXPECT_EQ(gra_.OPENED, 1);
    EXPECT_EQ(par_rel_.RELATIONS[0].OPENED, 1);
    EXPECT_EQ(chi_rel_.RELATIONS[0].OPENED, 1);
    EXPECT_EQ(gra_rel_.RELATIONS[0].OPENED, 0);  // the parent was opened by the traversal's start
    for (const FileDescriptor* f : {&par_file_, &chi_file_, &gra_file_}) EXPECT_TRUE(f->IsOpen());

    EXPECT_EQ(par_rel_.Close(), SeverityNone);
    for (FileManager* m : {&par_, &chi_, &gra_}) EXPECT_EQ(m->OPENED, 0);
    for (RelationManager* r : {&par_rel_, &chi_rel_, &gra_rel_})
      EXPECT_EQ(r->RELATIONS[0].OPENED, 0);
    for (const FileDescriptor* f : {&par_file_, &chi_file_, &gra_file_}) EXPECT_FALSE(f->IsOpen());
  }

  // Opened from the middle of the cycle, the same.
  ASSERT_EQ(chi_rel_.Open(), SeverityNone);
  for (FileManager* m : {&par_, &chi_, &gra_}) EXPECT_EQ(m->OPENED, 1);
  chi_rel_.Close();
  for (FileManager* m : {&par_, &chi_, &gra_}) EXPECT_EQ(m->OPENED, 0);
}

TEST_F(RelationManagerTest, OpensOfAFileAlreadyOpenAreBalancedByTheClose) {
  Relate(kRelationCascade, kRelationCascade, kRelationCascade, kRelationCascade);
  ASSERT_EQ(chi_.Open(), SeverityNone);  // a procedure that uses the child on its own
  ASSERT_EQ(par_rel_.Open(), SeverityNone);
  ASSERT_EQ(par_rel_.Open(), SeverityNone);
  EXPECT_EQ(chi_.OPENED, 3);
  EXPECT_EQ(par_rel_.RELATIONS[0].OPENED, 2);
  par_rel_.Close();
  par_rel_.Close();
  EXPECT_EQ(chi_.OPENED, 1);
  EXPECT_TRUE(chi_file_.IsOpen());
  EXPECT_EQ(par_.OPENED, 0);
  EXPECT_EQ(gra_.OPENED, 0);
}

TEST_F(RelationManagerTest, ARelatedFileThatCannotBeOpenedUndoesTheOpen) {
  Relate(kRelationCascade, kRelationCascade, kRelationCascade, kRelationCascade);
  // The grandchildren's file is missing and may not be made.
  gra_file_.attributes &= ~kFileCreate;
  gra_.CREATE = 0;
  Severity s = par_rel_.Open();
  EXPECT_NE(s, SeverityNone);
  ASSERT_FALSE(Texts().empty());
  EXPECT_NE(Texts().back().find("could not be opened"), std::string::npos) << Texts().back();
  for (FileManager* m : {&par_, &chi_, &gra_}) EXPECT_EQ(m->OPENED, 0) << m->FILE->label;
  for (const FileDescriptor* f : {&par_file_, &chi_file_, &gra_file_}) EXPECT_FALSE(f->IsOpen());
  EXPECT_EQ(par_rel_.RELATIONS[0].OPENED, 0);
  EXPECT_EQ(chi_rel_.RELATIONS[0].OPENED, 0);
}

// ---------------------------------------------------------------------------
// Delete.

TEST_F(RelationManagerTest, CascadeDeleteRemovesGrandchildrenBeforeChildrenBeforeTheParent) {
  for (uint8_t logout : {0, 1}) {
    SCOPED_TRACE(logout ? "in a transaction" : "without a transaction");
    TearDown();
    for (const char* name : {"PARENT.PLX", "CHILD.PLX", "GRAND.PLX"})
      std::remove(dir_.File(name).c_str());
    deleted_.clear();
    SetUp();
    backend_.Clear();
    Relate(kRelationCascade, kRelationCascade, kRelationCascade, kRelationCascade);
    Fill();
    par_rel_.USELOGOUT = logout;
    FetchById(par_, 1);

    EXPECT_EQ(par_rel_.Delete(false), SeverityNone);
    EXPECT_EQ(deleted_, (std::vector<std::string>{"GRA:100", "GRA:101", "CHI:10", "GRA:110",
                                                  "CHI:11", "PAR:1"}));
    EXPECT_EQ(Rows(par_file_), std::vector<std::string>{"2"});
    EXPECT_EQ(Rows(chi_file_), std::vector<std::string>{"20/2"});
    EXPECT_EQ(Rows(gra_file_), std::vector<std::string>{"200/2/20"});
    EXPECT_TRUE(Texts().empty());
    std::vector<int> cursors = backend_.Cursors();
    EXPECT_NE(std::find(cursors.begin(), cursors.end(), kCursorWait), cursors.end());
    EXPECT_EQ(par_.OPENED, 1);  // the procedure's open; the delete's own is closed
    EXPECT_EQ(chi_.OPENED, 1);
    EXPECT_EQ(gra_.OPENED, 1);
    EXPECT_EQ(par_rel_.USELOGOUT, logout);
  }
}

TEST_F(RelationManagerTest, RestrictAnywhereInTheTreeRefusesTheDeleteAndChangesNothing) {
  struct Case {
    const char* why;
    uint8_t delete1, delete2;
    uint8_t logout;
    const char* referenced_from;
  };
  const Case cases[] = {
      {"restrict on the children", kRelationRestrict, kRelationCascade, 0, "CHILD.PLX"},
      {"restrict on the children, in a transaction", kRelationRestrict, kRelationCascade, 1,
       "CHILD.PLX"},
      {"restrict on the grandchildren", kRelationCascade, kRelationRestrict, 0, "GRAND.PLX"},
      {"restrict on the grandchildren, in a transaction", kRelationCascade, kRelationRestrict, 1,
       "GRAND.PLX"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.why);
    TearDown();
    for (const char* name : {"PARENT.PLX", "CHILD.PLX", "GRAND.PLX"})
      std::remove(dir_.File(name).c_str());
    deleted_.clear();
    SetUp();
    backend_.Clear();
    Relate(kRelationNone, c.delete1, kRelationNone, c.delete2);
    Fill();
    par_rel_.USELOGOUT = c.logout;
    FetchById(par_, 1);
    backend_.QueueAnswers({kButtonOk, kButtonNo});  // the refusal; "try to delete it again?"

    EXPECT_EQ(par_rel_.Delete(false), SeverityDeclined);
    std::vector<std::string> texts = Texts();
    ASSERT_EQ(texts.size(), 2u);
    EXPECT_EQ(texts[0], "This record is referenced from the file " + dir_.File(c.referenced_from) +
                            ". This record cannot be deleted while these references exist.");
    EXPECT_EQ(
        texts[1],
        "An error was experienced deleting this record. Do you want to try to delete it again?");
    EXPECT_TRUE(deleted_.empty());
    EXPECT_EQ(Rows(par_file_), kAllParents);
    EXPECT_EQ(Rows(chi_file_), kAllChildren);
    EXPECT_EQ(Rows(gra_file_), kAllGrandchildren);
    EXPECT_FALSE(palisade::TransactionActive());
    EXPECT_EQ(GetLong(par_file_, "ID"), 1);  // the record is still the current one
  }
}

TEST_F(RelationManagerTest, AFailedDeleteOffersToTryAgainAndRepeatsEverything) {
  struct Case {
    int answer;
    Severity result;
    bool deleted;
  };
  for (const Case& c :
       {Case{kButtonYes, SeverityNone, true}, Case{kButtonNo, SeverityDeclined, false}}) {
    SCOPED_TRACE(c.answer == kButtonYes ? "Yes" : "No");
    TearDown();
    for (const char* name : {"PARENT.PLX", "CHILD.PLX", "GRAND.PLX"})
      std::remove(dir_.File(name).c_str());
    deleted_.clear();
    SetUp();
    backend_.Clear();
    Relate(kRelationCascade, kRelationCascade, kRelationCascade, kRelationCascade);
    Fill();
    par_rel_.USELOGOUT = 1;
    FetchById(par_, 1);
    chi_.fail_deletes = 1;  // child 10 cannot be deleted the first time
    backend_.QueueAnswers({kButtonOk, c.answer});

    EXPECT_EQ(par_rel_.Delete(false), c.result);
    std::vector<std::string> texts = Texts();
    ASSERT_EQ(texts.size(), 2u);
    EXPECT_NE(texts[0].find("was experienced when deleting a record from the " +
                            dir_.File("CHILD.PLX") + " file."),
              std::string::npos)
        << texts[0];
    EXPECT_EQ(
        texts[1],
        "An error was experienced deleting this record. Do you want to try to delete it again?");
    // The grandchildren of the first try were deleted, then rolled back.
    if (c.deleted) {
      EXPECT_EQ(Rows(chi_file_), std::vector<std::string>{"20/2"});
      EXPECT_EQ(deleted_, (std::vector<std::string>{"GRA:100", "GRA:101", "GRA:100", "GRA:101",
                                                    "CHI:10", "GRA:110", "CHI:11", "PAR:1"}));
      EXPECT_EQ(Rows(par_file_), std::vector<std::string>{"2"});
      EXPECT_EQ(Rows(gra_file_), std::vector<std::string>{"200/2/20"});
    } else {
      EXPECT_EQ(Rows(par_file_), kAllParents);
      EXPECT_EQ(Rows(chi_file_), kAllChildren);
      EXPECT_EQ(Rows(gra_file_), kAllGrandchildren);
    }
    EXPECT_FALSE(palisade::TransactionActive());
  }
}

TEST_F(RelationManagerTest, ConfirmationDeclinedDeletesNothing) {
  Relate(kRelationCascade, kRelationCascade, kRelationCascade, kRelationCascade);
  Fill();
  FetchById(par_, 1);
  backend_.QueueAnswer(kButtonNo);
  EXPECT_EQ(par_rel_.Delete(true), SeverityDeclined);
  EXPECT_EQ(Texts(),
            std::vector<std::string>{"Are you sure you want to delete the highlighted record?"});
  EXPECT_TRUE(deleted_.empty());
  EXPECT_EQ(Rows(par_file_), kAllParents);
}

TEST_F(RelationManagerTest, ClearOnDeleteBlanksTheChildrensLinksAndTheirsFollow) {
  // Deleting the parent blanks the children's PARENTID; their grandchildren
  // follow the children's changed link by its update cascade.
  Relate(kRelationNone, kRelationClear, kRelationCascade, kRelationNone);
  Fill();
  par_rel_.USELOGOUT = 1;
  FetchById(par_, 1);
  EXPECT_EQ(par_rel_.Delete(false), SeverityNone);
  EXPECT_EQ(deleted_, std::vector<std::string>{"PAR:1"});
  EXPECT_EQ(Rows(par_file_), std::vector<std::string>{"2"});
  EXPECT_EQ(Rows(chi_file_), (std::vector<std::string>{"10/0", "11/0", "20/2"}));
  EXPECT_EQ(Rows(gra_file_),
            (std::vector<std::string>{"100/0/10", "101/0/10", "110/0/11", "200/2/20"}));
}

TEST_F(RelationManagerTest, CascadingBothWaysDeletesEachRecordOnce) {
  // The children cascade back to their parent: the parent being deleted is
  // not found again through its children.
  Relate(kRelationCascade, kRelationCascade, kRelationCascade, kRelationCascade);
  ASSERT_EQ(chi_rel_.AddRelation(&par_rel_, kRelationCascade, kRelationCascade, "P_ID",
                                 {{"CHI:PARENTID", "PAR:ID"}}),
            2);
  Fill();
  FetchById(par_, 1);
  EXPECT_EQ(par_rel_.Delete(false), SeverityNone);
  EXPECT_EQ(deleted_, (std::vector<std::string>{"GRA:100", "GRA:101", "CHI:10", "GRA:110", "CHI:11",
                                                "PAR:1"}));
  EXPECT_EQ(Rows(par_file_), std::vector<std::string>{"2"});
  EXPECT_TRUE(Texts().empty());
}

TEST_F(RelationManagerTest, CancellingAReservedNumberDeletesTheRecordWithItsRelatedRecords) {
  Relate(kRelationCascade, kRelationCascade, kRelationCascade, kRelationCascade);
  Fill();
  par_.KEYS.clear();
  par_.RegisterKey("P_ID", "", 1);  // numbered automatically
  ASSERT_EQ(par_.StartNewRecord(), SeverityNone);
  ASSERT_EQ(par_.AUTOINCDONE, 1);
  EXPECT_EQ(GetLong(par_file_, "ID"), 3);
  Add(chi_, {{"ID", 30}, {"PARENTID", 3}});  // entered before the insert was abandoned

  EXPECT_EQ(par_rel_.CancelAutoNumber(), SeverityNone);
  EXPECT_EQ(par_.AUTOINCDONE, 0);
  EXPECT_EQ(deleted_, (std::vector<std::string>{"CHI:30", "PAR:3"}));
  EXPECT_EQ(Rows(par_file_), kAllParents);
  EXPECT_EQ(Rows(chi_file_), kAllChildren);
}

// ---------------------------------------------------------------------------
// Update.

TEST_F(RelationManagerTest, UpdateCarriesAChangedLinkingValueDownTwoLevels) {
  for (uint8_t logout : {0, 1}) {
    SCOPED_TRACE(logout ? "in a transaction" : "without a transaction");
    TearDown();
    for (const char* name : {"PARENT.PLX", "CHILD.PLX", "GRAND.PLX"})
      std::remove(dir_.File(name).c_str());
    SetUp();
    Relate(kRelationCascade, kRelationNone, kRelationCascade, kRelationNone);
    Fill();
    par_rel_.USELOGOUT = logout;
    FetchById(par_, 1);
    par_rel_.SaveLinkingValues();  // as a form does when it takes the record
    SetLong(par_file_, "ID", 5);

    EXPECT_EQ(par_rel_.Update(true), SeverityNone);
    EXPECT_EQ(Rows(par_file_), (std::vector<std::string>{"2", "5"}));
    EXPECT_EQ(Rows(chi_file_), (std::vector<std::string>{"10/5", "11/5", "20/2"}));
    EXPECT_EQ(Rows(gra_file_),
              (std::vector<std::string>{"100/5/10", "101/5/10", "110/5/11", "200/2/20"}));
    EXPECT_TRUE(Texts().empty());
    EXPECT_FALSE(palisade::TransactionActive());
  }
}

TEST_F(RelationManagerTest, UpdateFindsTheOldLinkingValuesWithoutBeingTold) {
  Relate(kRelationCascade, kRelationNone, kRelationNone, kRelationNone);
  Fill();
  FetchById(par_, 2);
  SetLong(par_file_, "ID", 7);
  EXPECT_EQ(par_rel_.Update(false), SeverityNone);
  EXPECT_EQ(Rows(chi_file_), (std::vector<std::string>{"10/1", "11/1", "20/7"}));
}

TEST_F(RelationManagerTest, ClearOnUpdateBlanksTheLinks) {
  Relate(kRelationClear, kRelationNone, kRelationCascade, kRelationNone);
  Fill();
  FetchById(par_, 1);
  SetLong(par_file_, "ID", 9);
  EXPECT_EQ(par_rel_.Update(false), SeverityNone);
  EXPECT_EQ(Rows(chi_file_), (std::vector<std::string>{"10/0", "11/0", "20/2"}));
  EXPECT_EQ(Rows(gra_file_),
            (std::vector<std::string>{"100/0/10", "101/0/10", "110/0/11", "200/2/20"}));
}

TEST_F(RelationManagerTest, RestrictOnUpdateResetsTheLinkAndWritesNothing) {
  struct Case {
    const char* why;
    uint8_t update1, update2;
    uint8_t logout;
  };
  const Case cases[] = {
      {"restrict on the children", kRelationRestrict, kRelationCascade, 0},
      {"restrict on the children, in a transaction", kRelationRestrict, kRelationCascade, 1},
      {"restrict on the grandchildren", kRelationCascade, kRelationRestrict, 0},
      {"restrict on the grandchildren, in a transaction", kRelationCascade, kRelationRestrict, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.why);
    TearDown();
    for (const char* name : {"PARENT.PLX", "CHILD.PLX", "GRAND.PLX"})
      std::remove(dir_.File(name).c_str());
    SetUp();
    backend_.Clear();
    Relate(c.update1, kRelationNone, c.update2, kRelationNone);
    Fill();
    par_rel_.USELOGOUT = c.logout;
    FetchById(par_, 1);
    SetLong(par_file_, "ID", 5);

    EXPECT_EQ(par_rel_.Update(true), SeverityInform);
    ASSERT_EQ(Texts().size(), 1u);
    EXPECT_NE(Texts()[0].find("Linking field(s) have been restricted from change and have been "
                              "reset to original values."),
              std::string::npos);
    EXPECT_EQ(GetLong(par_file_, "ID"), 1);  // the user sees the old value again
    EXPECT_EQ(Rows(par_file_), kAllParents);
    EXPECT_EQ(Rows(chi_file_), kAllChildren);
    EXPECT_EQ(Rows(gra_file_), kAllGrandchildren);
    EXPECT_FALSE(palisade::TransactionActive());

    // The record is still the one being edited: saving it again works.
    SetText(par_file_, "NAME", "again");
    EXPECT_EQ(par_rel_.Update(true), SeverityNone);
    EXPECT_EQ(Texts().size(), 1u);
  }
}

TEST_F(RelationManagerTest, AnUnchangedLinkTouchesNoRelatedRecord) {
  Relate(kRelationRestrict, kRelationNone, kRelationNone, kRelationNone);
  Fill();
  FetchById(par_, 1);
  SetText(par_file_, "NAME", "renamed");
  EXPECT_EQ(par_rel_.Update(false), SeverityNone);
  EXPECT_TRUE(Texts().empty());
  FetchById(par_, 1);
  EXPECT_EQ(GetText(par_file_, "NAME"), "renamed");
}

TEST_F(RelationManagerTest, ARecordChangedByAnotherStationIsReportedToTheForm) {
  struct Case {
    bool fromForm;
    const char* text;
  };
  for (const Case& c :
       {Case{false, "This record was changed by another station."},
        Case{true,
             "This record was changed by another station. Those changes will now be "
             "displayed. Use the Ditto Button or Ctrl+H to recall your changes."}}) {
    SCOPED_TRACE(c.fromForm);
    TearDown();
    for (const char* name : {"PARENT.PLX", "CHILD.PLX", "GRAND.PLX"})
      std::remove(dir_.File(name).c_str());
    SetUp();
    backend_.Clear();
    Relate(kRelationCascade, kRelationNone, kRelationNone, kRelationNone);
    Fill();
    ASSERT_EQ(CallFileOp(FileOp::WATCH, par_file_), 0);
    FetchById(par_, 1);
    {
      // Another station renames parent 1.
      FileDescriptor other = par_file_.CopyDeclaration();
      other.open_mode = kOpenReadWriteDenyNone;
      ASSERT_EQ(DoFileOp(FileOp::OPEN, other), 0);
      SetLong(other, "ID", 1);
      FileArgs a;
      a.key = other.KeyIndex("P_ID");
      ASSERT_EQ(DoFileOp(FileOp::GETfilekey, other, a), 0);
      SetText(other, "NAME", "theirs");
      ASSERT_EQ(DoFileOp(FileOp::PUT, other), 0);
      DoFileOp(FileOp::CLOSE, other);
    }
    SetText(par_file_, "NAME", "mine");
    SetLong(par_file_, "ID", 5);

    EXPECT_EQ(par_rel_.Update(c.fromForm), SeverityInform);
    EXPECT_EQ(Texts(), std::vector<std::string>{c.text});
    EXPECT_EQ(par_.LASTERROR, c.fromForm ? kErrChangedByOtherShown : kErrChangedByOther);
    EXPECT_EQ(GetText(par_file_, "NAME"), "theirs");
    EXPECT_EQ(Rows(chi_file_), kAllChildren);
  }
}

// ---------------------------------------------------------------------------
// Transactions and quick scan.

TEST_F(RelationManagerTest, AFileThatCannotJoinTheTransactionCancelsTheOperation) {
  Relate(kRelationCascade, kRelationCascade, kRelationCascade, kRelationCascade);
  Fill();
  ASSERT_EQ(gra_.OPENED, 1);
  gra_.Close();
  gra_.OPENMODE = 0x40;  // read-only: a file that cannot take part
  ASSERT_EQ(gra_.Open(), SeverityNone);
  par_rel_.USELOGOUT = 1;
  FetchById(par_, 1);
  backend_.QueueAnswers({kButtonOk, kButtonNo});

  EXPECT_EQ(par_rel_.Delete(false), SeverityDeclined);
  ASSERT_FALSE(Texts().empty());
  EXPECT_NE(Texts()[0].find("attempting to frame the transaction on " + dir_.File("GRAND.PLX")),
            std::string::npos)
      << Texts()[0];
  EXPECT_FALSE(palisade::TransactionActive());
  EXPECT_TRUE(deleted_.empty());
  EXPECT_EQ(Rows(par_file_), kAllParents);
  EXPECT_EQ(Rows(gra_file_), kAllGrandchildren);
}

TEST_F(RelationManagerTest, QuickScanIsSentToEveryFileOfTheTreeOnce) {
  Relate(kRelationCascade, kRelationCascade, kRelationCascade, kRelationCascade);
  ASSERT_EQ(gra_rel_.AddRelation(&par_rel_, kRelationNone, kRelationNone, "P_ID",
                                 {{"GRA:PARENTID", "PAR:ID"}}),
            1);
  PostError(kRecordNotAvailable);
  EXPECT_EQ(par_rel_.SwitchQuickScan(true, true), SeverityNone);
  EXPECT_EQ(ERRORCODE(), kRecordNotAvailable);  // the caller's error is left alone
  for (LoggingFileManager* m : {&par_, &chi_, &gra_})
    EXPECT_EQ(m->sends, std::vector<std::string>{"QUICKSCAN=on"});
  EXPECT_EQ(par_rel_.SwitchQuickScan(false, false), SeverityNone);
  EXPECT_EQ(par_.sends, (std::vector<std::string>{"QUICKSCAN=on", "QUICKSCAN=off"}));
  EXPECT_EQ(chi_.sends.size(), 1u);
}

}  // namespace
}  // namespace qzr
