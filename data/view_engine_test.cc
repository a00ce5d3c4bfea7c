// Tests of the view engine over an in-memory driver: key order forwards and
// backwards, orders served by the sorted list (and its rebuild after a
// change), filters, joins by key and by expression with and without INNER,
// positioning at a row's view position, and the errors.

#include "data/view_engine.h"

#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "data/file_driver.h"
#include "runtime/core/runtime_error.h"
#include "runtime/core/string_compare.h"
#include "runtime/evaluator/evaluator.h"
#include "runtime/values/ufo.h"

namespace qzr {
namespace {

// ---------------------------------------------------------------------------
// An in-memory driver: rows by record number, each key an ordered set of
// (component values, record number). Positions as the engine expects them.

int CompareComponent(const FieldDesc& f, const uint8_t* a, const uint8_t* b, bool nocase) {
  UfoSlot sa, sb;
  UFO* ua = sa.Make(f.type, const_cast<uint8_t*>(a + f.offset), f.size, f.places);
  UFO* ub = sb.Make(f.type, const_cast<uint8_t*>(b + f.offset), f.size, f.places);
  if (ua->ComputeClass() != ValueClass::String) return ua->Compare(*ub);
  std::string ta = ua->Text(), tb = ub->Text();
  if (nocase) {
    for (char& c : ta) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    for (char& c : tb) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  }
  return CompareText(ta, tb);
}

struct Entry {
  std::vector<uint8_t> image;
  uint32_t row = 0;
};

struct EntryLess {
  const FileDescriptor* file;
  const KeyDesc* key;
  bool operator()(const Entry& a, const Entry& b) const {
    for (const KeyComponent& c : key->components) {
      int r = CompareComponent(file->fields[static_cast<size_t>(c.field)], a.image.data(),
                               b.image.data(), (key->flags & kKeyNocase) != 0);
      if (c.descending) r = -r;
      if (r != 0) return r < 0;
    }
    return a.row < b.row;
  }
};

struct Table {
  std::map<uint32_t, std::vector<uint8_t>> rows;
  std::vector<std::set<Entry, EntryLess>> keys;
  uint32_t next_row = 1;
  int64_t changes = 0;
};

struct Cursor : DriverFileState {
  Table* table = nullptr;
  enum Kind { kStart, kSeek, kOn } kind = kStart;
  int key = -1;
  Entry at;               // kSeek and kOn: the entry (or row) of the position
  uint32_t prev_row = 0;  // kSeek: PREVIOUS reads the last entry <= (value, prev_row)
  uint32_t last_read = 0;
};

class MemoryDriver : public FileDriver {
 public:
  MemoryDriver() {
    info_.name = "MEMVIEW";
    info_.display_name = "Memory (views)";
    info_.capabilities.types =
        TypeMask({TypeCode::BYTE, TypeCode::SHORT, TypeCode::LONG, TypeCode::STRING,
                  TypeCode::CSTRING, TypeCode::DATE, TypeCode::REAL, TypeCode::DECIMAL});
    info_.capabilities.descending_keys = true;
    info_.capabilities.mixed_keys = true;
  }
  const DriverInfo& Info() const override { return info_; }

  int Call(FileOp op, FileDescriptor& file, FileArgs& args) override {
    ++calls[op];
    if (op == FileOp::OPEN) {
      Table& t = tables_[file.PhysicalName()];
      if (t.keys.empty()) {
        for (const KeyDesc& k : file.keys) t.keys.emplace_back(EntryLess{&file, &k});
      }
      auto c = std::make_unique<Cursor>();
      c->table = &t;
      file.state = std::move(c);
      return 0;
    }
    auto* c = static_cast<Cursor*>(file.state.get());
    if (c == nullptr) return kFileNotOpen;
    Table& t = *c->table;
    switch (op) {
      case FileOp::CLOSE:
        file.state.reset();
        return 0;
      case FileOp::ADD: {
        const uint32_t row = t.next_row++;
        Insert(t, row, file.record);
        c->last_read = row;
        return 0;
      }
      case FileOp::PUT:
      case FileOp::DELETE: {
        auto it = t.rows.find(c->last_read);
        if (it == t.rows.end()) return kRecordNotFound;
        for (auto& key : t.keys) key.erase(Entry{it->second, it->first});
        t.rows.erase(it);
        ++t.changes;
        if (op == FileOp::PUT) Insert(t, c->last_read, file.record);
        return 0;
      }
      case FileOp::GETfileptr: {
        auto it = t.rows.find(args.position);
        if (it == t.rows.end()) return kRecordNotFound;
        Load(file, it->second);
        c->last_read = args.position;
        return 0;
      }
      case FileOp::POINTERfile:
        args.result = c->last_read;
        return 0;
      case FileOp::SETfile:
      case FileOp::SETkey:
        c->kind = Cursor::kStart;
        c->key = op == FileOp::SETfile ? -1 : args.key;
        return 0;
      case FileOp::SETfileptr:
        c->kind = Cursor::kSeek;
        c->key = -1;
        c->at = Entry{{}, args.position};
        c->prev_row = args.position;
        return 0;
      case FileOp::SETkeykey:
      case FileOp::SETkeykeyptr: {
        const bool ptr = op == FileOp::SETkeykeyptr;
        c->kind = Cursor::kSeek;
        c->key = args.key;
        c->at = Entry{file.record, ptr ? args.position : 0};
        c->prev_row = ptr ? args.position : UINT32_MAX;
        return 0;
      }
      case FileOp::NEXT:
      case FileOp::PREVIOUS: {
        const int rc = Step(file, c, op == FileOp::NEXT);
        if (rc == 0 && tell_position) args.result = c->last_read;
        return rc;
      }
      case FileOp::GET_PROPERTY:
        if (args.property == kPropertyChangeCount && report_changes) {
          args.value = std::to_string(t.changes);
          return 0;
        }
        return kUnsupportedFunction;
      case FileOp::SET_PROPERTY:
        if (args.property == kPropertyReadAhead) read_ahead = args.value;
        if (args.property == kPropertyPageRows) page_rows = args.value;
        return 0;
      case FileOp::QUERY_VIEW:
        return 0;
      case FileOp::RECORDSfile:
      case FileOp::RECORDSkey:
        if (!count_records) return kUnsupportedFunction;
        args.result = op == FileOp::RECORDSfile
                          ? static_cast<int64_t>(t.rows.size())
                          : static_cast<int64_t>(t.keys[static_cast<size_t>(args.key)].size());
        return 0;
      default:
        return kUnsupportedFunction;
    }
  }

  std::map<FileOp, int> calls;
  bool report_changes = true;
  bool replace_buffers = false;
  bool count_records = true;
  bool tell_position = false;  // NEXT and PREVIOUS answer the row in args.result
  std::string read_ahead;
  std::string page_rows;

  void Drop() { tables_.clear(); }

 private:
  static void Insert(Table& t, uint32_t row, const std::vector<uint8_t>& image) {
    t.rows[row] = image;
    for (auto& key : t.keys) {
      if (!Blank(key.key_comp(), image)) key.insert(Entry{image, row});
    }
    ++t.changes;
  }

  // An OPT key leaves out rows whose key fields are all zeros or spaces.
  static bool Blank(const EntryLess& less, const std::vector<uint8_t>& image) {
    if ((less.key->flags & kKeyOpt) == 0) return false;
    for (const KeyComponent& c : less.key->components) {
      const FieldDesc& f = less.file->fields[static_cast<size_t>(c.field)];
      for (uint32_t i = 0; i < f.size; ++i) {
        const uint8_t b = image[f.offset + i];
        if (b != 0 && b != ' ') return false;
      }
    }
    return true;
  }

  // With replace_buffers, a read gives the buffer new storage, as a driver
  // that swaps in a decoded record might.
  void Load(FileDescriptor& file, const std::vector<uint8_t>& image) {
    if (replace_buffers) {
      file.record = std::vector<uint8_t>(image);
    } else {
      file.record = image;
    }
  }

  int Step(FileDescriptor& file, Cursor* c, bool forward) {
    Table& t = *c->table;
    uint32_t row = 0;
    if (c->key < 0) {
      auto& rows = t.rows;
      std::map<uint32_t, std::vector<uint8_t>>::iterator it;
      if (c->kind == Cursor::kStart) {
        it = forward ? rows.begin() : rows.end();
      } else if (forward) {
        it = c->kind == Cursor::kSeek ? rows.lower_bound(c->at.row) : rows.upper_bound(c->at.row);
      } else {
        it = c->kind == Cursor::kSeek ? rows.upper_bound(c->prev_row) : rows.lower_bound(c->at.row);
      }
      if (!forward) {
        if (it == rows.begin()) return kRecordNotAvailable;
        --it;
      }
      if (it == rows.end()) return kRecordNotAvailable;
      row = it->first;
      c->at = Entry{{}, row};
    } else {
      auto& set = t.keys[static_cast<size_t>(c->key)];
      std::set<Entry, EntryLess>::iterator it;
      if (c->kind == Cursor::kStart) {
        it = forward ? set.begin() : set.end();
      } else if (forward) {
        it = c->kind == Cursor::kSeek ? set.lower_bound(c->at) : set.upper_bound(c->at);
      } else if (c->kind == Cursor::kSeek) {
        it = set.upper_bound(Entry{c->at.image, c->prev_row});
      } else {
        it = set.lower_bound(c->at);
      }
      if (!forward) {
        if (it == set.begin()) return kRecordNotAvailable;
        --it;
      }
      if (it == set.end()) return kRecordNotAvailable;
      row = it->row;
      c->at = *it;
    }
    c->kind = Cursor::kOn;
    c->last_read = row;
    Load(file, t.rows[row]);
    return 0;
  }

  DriverInfo info_;
  std::map<std::string, Table> tables_;
};

MemoryDriver* TheDriver() {
  static MemoryDriver* driver = [] {
    auto d = std::make_unique<MemoryDriver>();
    MemoryDriver* raw = d.get();
    RegisterDriver(std::move(d));
    return raw;
  }();
  return driver;
}

// ---------------------------------------------------------------------------
// Fixture: PEOPLE (primary) and PETS (joined by owner).

class ViewEngineTest : public ::testing::Test {
 protected:
  void SetUp() override {
    TheDriver()->Drop();
    TheDriver()->report_changes = true;
    TheDriver()->replace_buffers = false;
    TheDriver()->count_records = true;
    TheDriver()->tell_position = false;
    CreateEvaluator();
    people_ = FileDeclaration("PEOPLE", "PEO")
                  .Driver("MEMVIEW")
                  .Field("ID", TypeCode::LONG)
                  .String("NAME", TypeCode::CSTRING, 20)
                  .String("CITY", TypeCode::STRING, 10)
                  .Field("AGE", TypeCode::LONG)
                  .Key("BYID", {{"ID"}}, kKeyPrimary)
                  .Key("BYNAME", {{"NAME"}, {"ID"}})
                  .Key("BYAGE", {{"AGE", true}, {"ID"}}, kKeyDup)
                  .Key("BYCITY", {{"CITY"}}, kKeyDup | kKeyOpt)
                  .Build();
    pets_ = FileDeclaration("PETS", "PET")
                .Driver("MEMVIEW")
                .Field("OWNER", TypeCode::LONG)
                .String("PETNAME", TypeCode::CSTRING, 20)
                .Key("BYOWNER", {{"OWNER"}, {"PETNAME"}}, kKeyDup)
                .Build();
    ASSERT_EQ(DoFileOp(FileOp::OPEN, people_), 0);
    ASSERT_EQ(DoFileOp(FileOp::OPEN, pets_), 0);
  }
  void TearDown() override {
    engine_.reset();
    DoFileOp(FileOp::CLOSE, people_);
    DoFileOp(FileOp::CLOSE, pets_);
  }

  void AddPerson(int32_t id, const std::string& name, const std::string& city, int32_t age) {
    UfoLong(people_.FieldData(0)).SetLong(id);
    UfoCString(people_.FieldData(1), 20).SetText(name);
    UfoString(people_.FieldData(2), 10).SetText(city);
    UfoLong(people_.FieldData(3)).SetLong(age);
    ASSERT_EQ(DoFileOp(FileOp::ADD, people_), 0);
  }
  void AddPet(int32_t owner, const std::string& name) {
    UfoLong(pets_.FieldData(0)).SetLong(owner);
    UfoCString(pets_.FieldData(1), 20).SetText(name);
    ASSERT_EQ(DoFileOp(FileOp::ADD, pets_), 0);
  }
  int32_t Id() { return UfoLong(people_.FieldData(0)).GetLong(); }
  std::string Name() { return UfoCString(people_.FieldData(1), 20).Text(); }
  int32_t Owner() { return UfoLong(pets_.FieldData(0)).GetLong(); }
  std::string PetName() { return UfoCString(pets_.FieldData(1), 20).Text(); }

  // A view of PEOPLE alone.
  ViewEngine* Single() {
    EXPECT_EQ(ViewBuilder(&people_).Build(&view_), 0);
    engine_ = std::make_unique<ViewEngine>(&view_);
    EXPECT_EQ(engine_->Open(), 0);
    return engine_.get();
  }
  // PEOPLE joined with PETS by key or by expression.
  ViewEngine* Joined(bool inner, bool by_expression) {
    ViewBuilder b(&people_);
    if (by_expression) {
      b.JoinExpression(&pets_, "PET:OWNER = PEO:ID");
    } else {
      b.Join(&pets_, "PET:BYOWNER", {"PEO:ID"});
    }
    if (inner) b.Inner();
    EXPECT_EQ(b.EndJoin().Build(&view_), 0);
    engine_ = std::make_unique<ViewEngine>(&view_);
    EXPECT_EQ(engine_->Open(), 0);
    return engine_.get();
  }

  // Reads every row forwards (or backwards) and returns f() of each.
  template <typename F>
  std::vector<std::string> ReadAll(F f, bool forward = true, int limit = 100000) {
    std::vector<std::string> out;
    for (int i = 0; i < limit; ++i) {
      const int rc = forward ? engine_->Next() : engine_->Previous();
      if (rc != 0) {
        EXPECT_EQ(rc, kRecordNotAvailable);
        EXPECT_EQ(ERRORCODE(), kRecordNotAvailable);
        break;
      }
      out.push_back(f());
    }
    return out;
  }
  std::vector<std::string> Ids(bool forward = true) {
    return ReadAll([this] { return std::to_string(Id()); }, forward);
  }
  std::vector<std::string> Names(bool forward = true) {
    return ReadAll([this] { return Name(); }, forward);
  }

  FileDescriptor people_;
  FileDescriptor pets_;
  View view_;
  std::unique_ptr<ViewEngine> engine_;
};

using Strings = std::vector<std::string>;

TEST_F(ViewEngineTest, KeyOrdersReadThroughTheKeyInBothDirections) {
  AddPerson(3, "carol", "Oslo", 40);
  AddPerson(1, "Alice", "Rome", 30);
  AddPerson(2, "bob", "", 30);
  ViewEngine* v = Single();
  struct Case {
    const char* order;
    ViewEngine::Access access;
    Strings ids;
  };
  const std::vector<Case> cases = {
      {"", ViewEngine::Access::kRecordOrder, {"3", "1", "2"}},
      {"+PEO:ID", ViewEngine::Access::kKey, {"1", "2", "3"}},
      {" - PEO:ID ", ViewEngine::Access::kKeyReversed, {"3", "2", "1"}},
      {"ID", ViewEngine::Access::kKey, {"1", "2", "3"}},
      // The AGE key is descending with ID ascending: read as it stands...
      {"-PEO:AGE,+PEO:ID", ViewEngine::Access::kKey, {"3", "1", "2"}},
      // ... or backwards for the opposite directions.
      {"+PEO:AGE,-PEO:ID", ViewEngine::Access::kKeyReversed, {"2", "1", "3"}},
      // Case-sensitive key, plain order: uppercase sorts first.
      {"+PEO:NAME", ViewEngine::Access::kKey, {"1", "2", "3"}},
  };
  for (const Case& c : cases) {
    ASSERT_EQ(v->SetOrder(c.order), 0) << c.order;
    EXPECT_EQ(v->access(), c.access) << c.order;
    EXPECT_EQ(Ids(), c.ids) << c.order;
    // Past the end, Previous comes back over the rows in reverse.
    Strings reversed(c.ids.rbegin(), c.ids.rend());
    EXPECT_EQ(Ids(false), reversed) << c.order;
    // Before the start, Previous stays at the end of the data.
    EXPECT_EQ(v->Previous(), kRecordNotAvailable);
    ASSERT_EQ(v->Set(), 0);
    EXPECT_EQ(Ids(false), reversed) << c.order;
  }
  EXPECT_EQ(v->sorted_list_builds(), 0);
}

TEST_F(ViewEngineTest, OrdersNoKeyServesComeFromOneSortedList) {
  const char* names[] = {"delta", "Bravo", "alpha", "Charlie", "echo", "ALPHA2"};
  for (int id = 1; id <= 6; ++id) AddPerson(id, names[id - 1], id % 2 == 1 ? "Oslo" : "", id);
  ViewEngine* v = Single();
  // UPPER needs a NOCASE key; BYNAME is case-sensitive. CITY's key is OPT, so
  // it would leave out the rows without a city.
  ASSERT_EQ(v->SetOrder("+UPPER(PEO:NAME)"), 0);
  EXPECT_EQ(v->access(), ViewEngine::Access::kSortedList);
  const Strings ascending = {"alpha", "ALPHA2", "Bravo", "Charlie", "delta", "echo"};
  EXPECT_EQ(Names(), ascending);
  EXPECT_EQ(Names(false), Strings(ascending.rbegin(), ascending.rend()));
  for (int i = 0; i < 5; ++i) {
    ASSERT_EQ(v->Set(), 0);
    ASSERT_EQ(v->Next(), 0);
  }
  EXPECT_EQ(v->sorted_list_builds(), 1);

  ASSERT_EQ(v->SetOrder("-LOWER(PEO:NAME)"), 0);
  EXPECT_EQ(Names(), Strings(ascending.rbegin(), ascending.rend()));
  ASSERT_EQ(v->SetOrder("+PEO:CITY,-PEO:ID"), 0);
  EXPECT_EQ(v->access(), ViewEngine::Access::kSortedList);
  EXPECT_EQ(Ids(), (Strings{"6", "4", "2", "5", "3", "1"}));
  EXPECT_EQ(v->sorted_list_builds(), 3);
}

// An OPT key serves its order while every row has a value in it, asked
// anew at each pass from the start; a row left out of it, or a driver that
// cannot count, makes the order a sorted list that shows every row.
TEST_F(ViewEngineTest, AnOptKeyServesTheOrderWhileItHoldsEveryRow) {
  AddPerson(1, "ann", "Rome", 30);
  AddPerson(2, "bob", "Oslo", 40);
  AddPerson(3, "cy", "Bonn", 50);
  ViewEngine* v = Single();
  ASSERT_EQ(v->SetOrder("+PEO:CITY"), 0);
  EXPECT_EQ(v->access(), ViewEngine::Access::kKey);
  EXPECT_EQ(Ids(), (Strings{"3", "2", "1"}));
  AddPerson(4, "dee", "", 60);
  ASSERT_EQ(v->Set(), 0);
  EXPECT_EQ(v->access(), ViewEngine::Access::kSortedList);
  EXPECT_EQ(Ids(), (Strings{"4", "3", "2", "1"}));
  // Given a city, the row is in the key again.
  ASSERT_EQ(v->SetOrder("+PEO:ID"), 0);
  ASSERT_EQ(v->Next(), 0);
  ASSERT_EQ(v->Next(), 0);
  ASSERT_EQ(v->Next(), 0);
  ASSERT_EQ(v->Next(), 0);
  ASSERT_EQ(Id(), 4);
  UfoString(people_.FieldData(2), 10).SetText("Aden");
  ASSERT_EQ(DoFileOp(FileOp::PUT, people_), 0);
  ASSERT_EQ(v->SetOrder("-PEO:CITY"), 0);
  EXPECT_EQ(v->access(), ViewEngine::Access::kKeyReversed);
  EXPECT_EQ(Ids(), (Strings{"1", "2", "3", "4"}));
  TheDriver()->count_records = false;
  ASSERT_EQ(v->Set(), 0);
  EXPECT_EQ(v->access(), ViewEngine::Access::kSortedList);
  EXPECT_EQ(Ids(), (Strings{"1", "2", "3", "4"}));
}

TEST_F(ViewEngineTest, SortedListIsRebuiltOnlyWhenTheFileChanged) {
  AddPerson(1, "b", "", 1);
  AddPerson(2, "d", "", 1);
  ViewEngine* v = Single();
  ASSERT_EQ(v->SetOrder("+UPPER(PEO:NAME)"), 0);
  EXPECT_EQ(Names(), (Strings{"b", "d"}));
  ASSERT_EQ(v->Set(), 0);
  EXPECT_EQ(v->sorted_list_builds(), 1);

  // Given a new record, when the view is positioned again, then the list is
  // built anew and the record is in its place.
  AddPerson(3, "c", "", 1);
  ASSERT_EQ(v->Set(), 0);
  EXPECT_EQ(v->sorted_list_builds(), 2);
  EXPECT_EQ(Names(), (Strings{"b", "c", "d"}));
  ASSERT_EQ(v->Set(), 0);
  EXPECT_EQ(v->sorted_list_builds(), 2);

  // A driver that cannot count changes: the list lives for the buffering
  // time-out, and Flush drops it at once.
  TheDriver()->report_changes = false;
  ASSERT_EQ(v->Set(), 0);
  const int builds = v->sorted_list_builds();
  AddPerson(4, "a", "", 1);
  ASSERT_EQ(v->Set(), 0);
  EXPECT_EQ(v->sorted_list_builds(), builds);
  EXPECT_EQ(Names(), (Strings{"b", "c", "d"}));
  v->Flush();
  ASSERT_EQ(v->Set(), 0);
  EXPECT_EQ(Names(), (Strings{"a", "b", "c", "d"}));
  v->SetBuffering({20, 2, 0, 0});
  ASSERT_EQ(v->Set(), 0);
  EXPECT_EQ(v->sorted_list_builds(), builds + 2);
}

TEST_F(ViewEngineTest, FilterIsParsedOnceAndSkipsRows) {
  for (int i = 1; i <= 1000; ++i) AddPerson(i, "n" + std::to_string(i % 7), "", i % 50);
  ViewEngine* v = Single();
  ASSERT_EQ(v->SetFilter("PEO:ID % 100 = 0"), 0);
  ASSERT_EQ(v->SetOrder("-PEO:ID"), 0);
  Strings expected;
  for (int i = 1000; i >= 100; i -= 100) expected.push_back(std::to_string(i));
  EXPECT_EQ(Ids(), expected);
  // The same filter over the sorted list keeps only the matching records.
  ASSERT_EQ(v->SetOrder("+UPPER(PEO:NAME),+PEO:ID"), 0);
  const Strings listed = Ids();
  EXPECT_EQ(listed.size(), 10u);
  EXPECT_EQ(listed.front(), "700");  // name "n0" sorts first
  // A driver that gives the record buffer new storage on each read: the
  // filter follows the buffer.
  TheDriver()->replace_buffers = true;
  ASSERT_EQ(v->SetOrder("+PEO:ID"), 0);
  EXPECT_EQ(Ids().size(), 10u);
  TheDriver()->replace_buffers = false;
  ASSERT_EQ(v->SetFilter(""), 0);
  EXPECT_EQ(Ids().size(), 1000u);
}

TEST_F(ViewEngineTest, JoinsFillEveryBufferAndInnerDropsParentsWithoutMatches) {
  for (int i = 1; i <= 5; ++i) AddPerson(i, "p" + std::to_string(i), "", 20);
  AddPet(3, "rex");
  AddPet(1, "tom");
  AddPet(1, "ada");
  AddPet(9, "stray");
  auto row = [this] {
    return std::to_string(Id()) + ":" + PetName() + ":" + std::to_string(Owner());
  };
  for (bool by_expression : {false, true}) {
    for (bool inner : {false, true}) {
      ViewEngine* v = Joined(inner, by_expression);
      ASSERT_EQ(v->SetOrder("+PEO:ID"), 0);
      // A key join reads the pets in key order; an expression join in record
      // order.
      const Strings one =
          by_expression ? Strings{"1:tom:1", "1:ada:1"} : Strings{"1:ada:1", "1:tom:1"};
      Strings expected = one;
      if (!inner) expected.push_back("2::0");
      expected.push_back("3:rex:3");
      if (!inner) expected.insert(expected.end(), {"4::0", "5::0"});
      EXPECT_EQ(ReadAll(row), expected) << inner << by_expression;
      EXPECT_EQ(ReadAll(row, false), Strings(expected.rbegin(), expected.rend()))
          << inner << by_expression;
      // The filter sees the joined file's fields.
      ASSERT_EQ(v->SetFilter("PET:PETNAME = 'tom' OR PEO:ID = 4"), 0);
      const Strings filtered = inner ? Strings{"1:tom:1"} : Strings{"1:tom:1", "4::0"};
      EXPECT_EQ(ReadAll(row), filtered);
    }
  }
}

// Rows dropped at the end (by INNER, by the filter): the read that reports
// 33 leaves every buffer holding the last row handed out, in both
// directions, as a file's read past its end leaves its last record.
TEST_F(ViewEngineTest, AtTheEndEveryBufferHoldsTheLastRowHandedOut) {
  for (int i = 1; i <= 6; ++i) AddPerson(i, "p" + std::to_string(i), "", 20);
  AddPet(2, "rex");
  AddPet(3, "tom");
  AddPet(5, "ada");
  auto row = [this] {
    return std::to_string(Id()) + ":" + PetName() + ":" + std::to_string(Owner());
  };
  const struct {
    bool inner;
    bool by_expression;
    const char* order;
    const char* filter;
    bool forward;
    const char* last;
  } cases[] = {
      {true, false, "+PEO:ID", "", true, "5:ada:5"},
      {true, false, "+PEO:ID", "", false, "2:rex:2"},
      {true, true, "+PEO:ID", "", true, "5:ada:5"},
      {true, false, "+PEO:NAME", "", true, "5:ada:5"},  // the sorted list
      {false, false, "+PEO:ID", "PEO:ID < 4", true, "3:tom:3"},
      {false, false, "+PEO:ID", "PEO:ID > 1 AND PEO:ID < 4", false, "2:rex:2"},
      {false, true, "", "PET:PETNAME = 'rex'", true, "2:rex:2"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.order) + " " + c.filter + (c.inner ? " inner" : "") +
                 (c.by_expression ? " by expression" : "") + (c.forward ? "" : " backwards"));
    ViewEngine* v = Joined(c.inner, c.by_expression);
    ASSERT_EQ(v->SetOrder(c.order), 0);
    ASSERT_EQ(v->SetFilter(c.filter), 0);
    const Strings rows = ReadAll(row, c.forward);
    ASSERT_FALSE(rows.empty());
    EXPECT_EQ(rows.back(), c.last);
    EXPECT_EQ(row(), c.last);
    // A second read past the end changes nothing either.
    EXPECT_EQ(c.forward ? v->Next() : v->Previous(), kRecordNotAvailable);
    EXPECT_EQ(row(), c.last);
  }
  // No row at all: the buffers keep what they held.
  ViewEngine* v = Joined(true, false);
  ASSERT_EQ(v->SetFilter("PEO:ID > 100"), 0);
  UfoLong(people_.FieldData(0)).SetLong(77);
  UfoCString(pets_.FieldData(1), 20).SetText("kept");
  UfoLong(pets_.FieldData(0)).SetLong(78);
  EXPECT_EQ(v->Next(), kRecordNotAvailable);
  EXPECT_EQ(row(), "77:kept:78");
}

TEST_F(ViewEngineTest, ResetReturnsToARowInEveryAccessMode) {
  for (int i = 1; i <= 8; ++i)
    AddPerson(i, std::string(1, static_cast<char>('a' + (i * 3) % 8)), "", i);
  ViewEngine* v = Single();
  for (const char* order : {"", "+PEO:ID", "-PEO:ID", "+UPPER(PEO:NAME)"}) {
    ASSERT_EQ(v->SetOrder(order), 0);
    const Strings all = Ids();
    ASSERT_EQ(all.size(), 8u);
    ASSERT_EQ(v->Set(), 0);
    ASSERT_EQ(v->Next(), 0);
    ASSERT_EQ(v->Next(), 0);
    ASSERT_EQ(v->Next(), 0);
    const std::string third = v->Position();
    ASSERT_FALSE(third.empty());
    ASSERT_EQ(v->Next(), 0);
    // Both directions start from the row itself.
    ASSERT_EQ(v->Reset(third), 0);
    EXPECT_EQ(Ids(), Strings(all.begin() + 2, all.end())) << order;
    ASSERT_EQ(v->Reset(third), 0);
    EXPECT_EQ(Ids(false), (Strings{all[2], all[1], all[0]})) << order;
  }
}

TEST_F(ViewEngineTest, ResetPlacesTheViewWithoutReadingTheRow) {
  for (int i = 1; i <= 6; ++i) AddPerson(i, std::string(1, static_cast<char>('f' - i)), "", i);
  ViewEngine* v = Single();
  for (const char* order : {"", "+PEO:ID", "-PEO:ID", "+UPPER(PEO:NAME)"}) {
    ASSERT_EQ(v->SetOrder(order), 0);
    ASSERT_EQ(v->Set(), 0);
    ASSERT_EQ(v->Next(), 0);
    ASSERT_EQ(v->Next(), 0);
    const std::string second = v->Position();
    ASSERT_EQ(v->Next(), 0);
    TheDriver()->calls.clear();
    ASSERT_EQ(v->Reset(second), 0) << order;
    EXPECT_EQ(TheDriver()->calls[FileOp::GETfileptr], 0) << order;
    ASSERT_EQ(v->Next(), 0);
    EXPECT_EQ(v->Position(), second) << order;
  }
}

TEST_F(ViewEngineTest, RegetReadsARowAgainWithoutMovingTheView) {
  for (int i = 1; i <= 4; ++i) AddPerson(i, "p", "", i);
  ViewEngine* v = Single();
  ASSERT_EQ(v->SetOrder("+PEO:ID"), 0);
  ASSERT_EQ(v->Next(), 0);
  const std::string first = v->Position();
  ASSERT_EQ(v->Next(), 0);
  ASSERT_EQ(v->Reget(first), 0);
  EXPECT_EQ(UfoLong(people_.FieldData(0)).GetLong(), 1);
  ASSERT_EQ(v->Next(), 0);
  EXPECT_EQ(UfoLong(people_.FieldData(0)).GetLong(), 3);
  // Gone, or not a position at all.
  FileArgs args;
  args.position = 1;
  ASSERT_EQ(DoFileOp(FileOp::GETfileptr, people_, args), 0);
  ASSERT_EQ(DoFileOp(FileOp::DELETE, people_), 0);
  EXPECT_EQ(v->Reget(first), kRecordNotFound);
  EXPECT_EQ(v->Reget("garbage"), kRecordNotFound);
  v->Close();
  EXPECT_EQ(v->Reget(first), kFileNotOpen);
}

TEST_F(ViewEngineTest, TheRecordJustAddedPlacesTheViewInEveryOrder) {
  for (int i = 1; i <= 5; ++i) AddPerson(i * 10, std::string(1, static_cast<char>('a' + i)), "", i);
  ViewEngine* v = Single();
  for (const char* order : {"", "+PEO:ID", "-PEO:ID", "+UPPER(PEO:NAME)"}) {
    ASSERT_EQ(v->SetOrder(order), 0);
    ASSERT_EQ(v->Set(), 0);
    ASSERT_EQ(v->Next(), 0);
    AddPerson(25, "cc", "", 1);  // between 20 and 30 in every order but the file's
    const std::string position = v->CurrentRecordPosition();
    ASSERT_FALSE(position.empty()) << order;
    ASSERT_EQ(v->Reset(position), 0) << order;
    ASSERT_EQ(v->Next(), 0) << order;
    EXPECT_EQ(UfoLong(people_.FieldData(0)).GetLong(), 25) << order;
    // Out again for the next order.
    FileArgs args;
    ASSERT_EQ(DoFileOp(FileOp::POINTERfile, people_, args), 0);
    ASSERT_EQ(DoFileOp(FileOp::DELETE, people_), 0);
  }
  v->Close();
  EXPECT_EQ(v->CurrentRecordPosition(), "");
}

TEST_F(ViewEngineTest, ResetAtADeletedRowGoesOnFromWhereItStood) {
  for (int i = 1; i <= 5; ++i) AddPerson(i * 10, "x", "", i);
  ViewEngine* v = Single();
  for (const char* order : {"+PEO:ID", "-PEO:ID", "+UPPER(PEO:NAME),+PEO:ID"}) {
    TheDriver()->Drop();
    DoFileOp(FileOp::CLOSE, people_);
    ASSERT_EQ(DoFileOp(FileOp::OPEN, people_), 0);
    for (int i = 1; i <= 5; ++i) AddPerson(i * 10, "x", "", i);
    ASSERT_EQ(v->SetOrder(order), 0);
    ASSERT_EQ(v->Next(), 0);
    ASSERT_EQ(v->Next(), 0);
    ASSERT_EQ(v->Next(), 0);  // 30 in both directions
    const std::string position = v->Position();
    const Strings after = order[0] == '-' ? Strings{"20", "10"} : Strings{"40", "50"};
    // Delete the row read.
    FileArgs args;
    args.position = 3;
    ASSERT_EQ(DoFileOp(FileOp::GETfileptr, people_, args), 0);
    ASSERT_EQ(DoFileOp(FileOp::DELETE, people_), 0);
    ASSERT_EQ(v->Reset(position), 0) << order;
    EXPECT_EQ(Ids(), after) << order;
  }
}

TEST_F(ViewEngineTest, PositionsFitAListRowEvenForLongOrderFields) {
  FileDescriptor notes = FileDeclaration("NOTES", "NOT")
                             .Driver("MEMVIEW")
                             .Field("ID", TypeCode::LONG)
                             .String("BODY", TypeCode::CSTRING, 2000)
                             .Build();
  ASSERT_EQ(DoFileOp(FileOp::OPEN, notes), 0);
  for (int i = 1; i <= 3; ++i) {
    UfoLong(notes.FieldData(0)).SetLong(i);
    UfoCString(notes.FieldData(1), 2000).SetText(std::string(1500, static_cast<char>('d' - i)));
    ASSERT_EQ(DoFileOp(FileOp::ADD, notes), 0);
  }
  View view;
  ASSERT_EQ(ViewBuilder(&notes).Build(&view), 0);
  ViewEngine v(&view);
  ASSERT_EQ(v.Open(), 0);
  ASSERT_EQ(v.SetOrder("+NOT:BODY"), 0);
  ASSERT_EQ(v.Next(), 0);
  ASSERT_EQ(v.Next(), 0);
  const std::string position = v.Position();
  EXPECT_LE(position.size(), kMaxViewPosition);
  ASSERT_EQ(v.Reset(position), 0);
  ASSERT_EQ(v.Next(), 0);
  EXPECT_EQ(UfoLong(notes.FieldData(0)).GetLong(), 2);
  v.Close();
  DoFileOp(FileOp::CLOSE, notes);
}

TEST_F(ViewEngineTest, ResetKeepsTheJoinedRecordOfTheRow) {
  AddPerson(1, "a", "", 1);
  AddPerson(2, "b", "", 1);
  AddPet(1, "x");
  AddPet(1, "y");
  AddPet(1, "z");
  ViewEngine* v = Joined(true, false);
  ASSERT_EQ(v->Next(), 0);
  ASSERT_EQ(v->Next(), 0);
  EXPECT_EQ(PetName(), "y");
  const std::string position = v->Position();
  ASSERT_EQ(v->Next(), 0);
  ASSERT_EQ(v->Reset(position), 0);
  ASSERT_EQ(v->Next(), 0);
  EXPECT_EQ(PetName(), "y");
  ASSERT_EQ(v->Next(), 0);
  EXPECT_EQ(PetName(), "z");
  EXPECT_EQ(v->Next(), kRecordNotAvailable);  // person 2 has no pet
}

TEST_F(ViewEngineTest, BadInputGivesErrorsAndKeepsWhatWasInForce) {
  AddPerson(1, "a", "", 1);
  View view;
  ASSERT_EQ(ViewBuilder(&people_).Join(&pets_, "PET:BYOWNER", {"PEO:ID"}).EndJoin().Build(&view),
            0);
  ViewEngine v(&view);
  EXPECT_EQ(v.Next(), kFileNotOpen);
  ASSERT_EQ(v.Open(), 0);
  EXPECT_EQ(v.Open(), kFileAlreadyOpen);
  ASSERT_EQ(v.SetOrder("+PEO:ID"), 0);
  const struct {
    const char* text;
  } bad_orders[] = {{"+PEO:NOPE"},     {"+PEO:ID,"},      {"*PEO:ID"},
                    {"+TRIM(PEO:ID)"}, {"+UPPER(PEO:ID"}, {"+PET:PETNAME"}};
  for (const auto& c : bad_orders) {
    EXPECT_EQ(v.SetOrder(c.text), kInvalidOrderText) << c.text;
    EXPECT_EQ(ERRORCODE(), kInvalidOrderText);
    EXPECT_EQ(v.OrderText(), "+PEO:ID");
  }
  EXPECT_EQ(v.SetFilter("PEO:ID = "), 1010);
  EXPECT_EQ(v.SetFilter("NOSUCH = 1"), 1011);
  EXPECT_EQ(ERRORDETAIL(), "NOSUCH");
  EXPECT_EQ(v.FilterText(), "");
  EXPECT_EQ(v.Reset("garbage"), kRecordNotFound);
  EXPECT_EQ(v.Reset(""), kRecordNotFound);
  ASSERT_EQ(v.Next(), 0);
  std::string position = v.Position();
  position.pop_back();
  EXPECT_EQ(v.Reset(position), kRecordNotFound);

  ViewEngine closed_file(&view);
  DoFileOp(FileOp::CLOSE, pets_);
  EXPECT_EQ(closed_file.Open(), kFileNotOpen);
}

// A driver that answers the row's position with NEXT and PREVIOUS is not
// asked for it again (POINTERfile), in every access mode and for the pass
// that builds a sorted list; the rows read are the same either way.
TEST_F(ViewEngineTest, ARowPositionToldWithTheReadIsNotAskedAgain) {
  AddPerson(3, "carol", "Oslo", 40);
  AddPerson(1, "Alice", "Rome", 30);
  AddPerson(2, "bob", "Bergen", 30);
  AddPerson(4, "dave", "Oslo", 20);
  ViewEngine* v = Single();
  struct Case {
    const char* order;
    const char* filter;
    Strings ids;
  };
  const std::vector<Case> cases = {
      {"", "", {"3", "1", "2", "4"}},
      {"+PEO:ID", "", {"1", "2", "3", "4"}},
      {"-PEO:ID", "PEO:AGE = 30", {"2", "1"}},
      {"+UPPER(PEO:CITY),-PEO:ID", "", {"2", "4", "3", "1"}},
  };
  for (bool tell : {false, true}) {
    TheDriver()->tell_position = tell;
    for (const Case& c : cases) {
      SCOPED_TRACE(std::string(c.order) + (tell ? " told" : " asked"));
      ASSERT_EQ(v->SetFilter(c.filter), 0);
      ASSERT_EQ(v->SetOrder(c.order), 0);
      TheDriver()->calls.clear();
      v->Flush();
      ASSERT_EQ(v->Set(), 0);
      EXPECT_EQ(Ids(), c.ids);
      EXPECT_EQ(Ids(false), Strings(c.ids.rbegin(), c.ids.rend()));
      EXPECT_EQ(TheDriver()->calls[FileOp::POINTERfile] > 0, !tell);
    }
  }
}

TEST_F(ViewEngineTest, ReadAheadIsHandedToThePrimaryDriverWithinItsLimit) {
  ViewEngine* v = Single();
  // The page (and the row a page starts from) is announced at Open.
  EXPECT_EQ(TheDriver()->page_rows, "21");
  v->SetBuffering({20, 2, 1, 60});
  EXPECT_EQ(TheDriver()->read_ahead, "20");
  v->SetBuffering({50, 2, 0, 60});
  EXPECT_EQ(TheDriver()->page_rows, "51");
  v->SetReadAhead(500);
  EXPECT_EQ(v->ReadAhead(), kMaxReadAhead);
  EXPECT_EQ(TheDriver()->read_ahead, "60");
}

}  // namespace
}  // namespace qzr
