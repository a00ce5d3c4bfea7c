#include "runtime/values/queue.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "runtime/core/runtime_error.h"
#include "runtime/os/fault_plan.h"
#include "runtime/values/date_time.h"
#include "runtime/values/ufo.h"

namespace qzr {
namespace {

struct Row {
  int32_t ID;
  char NAME[8];      // STRING(8): padded with spaces
  double AMOUNT;     // REAL
  uint8_t AGE;       // BYTE
  char CODE[6];      // CSTRING(6)
  uint8_t PRICE[4];  // DECIMAL(7,2)
  void* OWNER;       // a reference
};

// Fields 1..7 in declaration order.
class RowQueue : public Queue<Row> {
 public:
  RowQueue() {
    Field("ID", &Row::ID);
    Field("NAME", &Row::NAME);
    Field("AMOUNT", &Row::AMOUNT);
    Field("AGE", &Row::AGE);
    Field("T:CODE", &Row::CODE, TypeCode::CSTRING);
    Field("PRICE", &Row::PRICE, TypeCode::DECIMAL, 2);
    Field("OWNER", &Row::OWNER);
  }

  // Sets the buffer.
  void Set(int32_t id, std::string_view name, double amount = 0, uint8_t age = 0,
           std::string_view code = "", int32_t price_cents = 0, void* owner = nullptr) {
    record.ID = id;
    std::memset(record.NAME, ' ', sizeof record.NAME);
    std::memcpy(record.NAME, name.data(), std::min(name.size(), sizeof record.NAME));
    record.AMOUNT = amount;
    record.AGE = age;
    std::memset(record.CODE, 0, sizeof record.CODE);
    std::memcpy(record.CODE, code.data(), std::min(code.size(), sizeof record.CODE - 1));
    int32_t magnitude = std::abs(price_cents);
    std::string text = (price_cents < 0 ? "-" : "") + std::to_string(magnitude / 100) + "." +
                       std::to_string(magnitude % 100 / 10) + std::to_string(magnitude % 10);
    UfoDecimal(record.PRICE, 4, 2).SetText(text);
    record.OWNER = owner;
  }
  void Add(int32_t id, std::string_view name, double amount = 0, uint8_t age = 0,
           std::string_view code = "", int32_t price_cents = 0) {
    Set(id, name, amount, age, code, price_cents);
    ADD(this);
  }

  // The IDs in the current order, read by position.
  std::vector<int32_t> Ids() {
    std::vector<int32_t> ids;
    for (int32_t i = 1; i <= RECORDS(this); ++i) {
      GET(this, i);
      ids.push_back(record.ID);
    }
    return ids;
  }
};

TEST(QueueTest, DeclaredFieldsGetNumbersAndOffsets) {
  RowQueue q;
  ASSERT_EQ(q.fields().size(), 7u);
  EXPECT_EQ(q.fields()[1].type, TypeCode::STRING);
  EXPECT_EQ(q.fields()[1].size, 8u);
  EXPECT_EQ(q.fields()[1].offset, offsetof(Row, NAME));
  EXPECT_EQ(q.fields()[6].type, kQueueReference);
  EXPECT_EQ(q.FieldNumber(&Row::AGE), 4);
  EXPECT_EQ(q.FieldNumber("age"), 4);
  EXPECT_EQ(q.FieldNumber("CODE"), 5);  // the part after the prefix
  EXPECT_EQ(q.FieldNumber("t:code"), 5);
  EXPECT_EQ(q.FieldNumber("NOPE"), 0);
}

TEST(QueueTest, FieldObjectsReadAndWriteTheBuffer) {
  RowQueue q;
  UfoSlot slot;
  for (int n : {0, 7, 8}) EXPECT_EQ(q.FieldUfo(n, &slot), nullptr) << n;
  q.FieldUfo(2, &slot)->SetText("pear");
  q.FieldUfo(6, &slot)->SetText("-12.5");
  q.FieldUfo(1, &slot)->SetLong(42);
  ADD(&q);
  q.Set(0, "");
  GET(&q, 1);
  EXPECT_EQ(q.record.ID, 42);
  EXPECT_EQ(std::string(q.record.NAME, 8), "pear    ");
  EXPECT_EQ(q.FieldUfo(6, &slot)->Text(), "-12.5");
}

TEST(QueueTest, FieldsThatDoNotFitTheRecordAreRefused) {
  uint8_t buffer[16];
  QUEUE q(buffer, sizeof buffer);
  struct Case {
    QueueField field;
    bool accepted;
  } cases[] = {
      {{"A", TypeCode::LONG, 12, 4, 0}, true},
      {{"B", TypeCode::LONG, 13, 4, 0}, false},  // past the end
      {{"C", TypeCode::LONG, 0, 2, 0}, false},   // wrong size for its type
      {{"D", TypeCode::STRING, 0, 16, 0}, true},
      {{"E", TypeCode::STRING, 0, 0, 0}, false},
      {{"F", TypeCode::DECIMAL, 0, 4, 7}, true},
      {{"G", TypeCode::DECIMAL, 0, 4, 8}, false},  // more places than digits
      {{"H", TypeCode::MEMO, 0, 4, 0}, false},
      {{"I", TypeCode::QUEUE, 0, 4, 0}, false},
      {{"J", TypeCode::GROUP, 4, 12, 0}, true},
      {{"K", TypeCode::STRING, 0xFFFFFFF0u, 0x20, 0}, false},  // offset + size wraps 32 bits
  };
  int expected_count = 0;
  for (const Case& c : cases) {
    ClearError();
    int n = q.AddField(c.field);
    if (c.accepted) {
      EXPECT_EQ(n, ++expected_count) << c.field.name;
      EXPECT_EQ(ERRORCODE(), 0);
    } else {
      EXPECT_EQ(n, 0) << c.field.name;
      EXPECT_EQ(ERRORCODE(), kInvalidFieldType) << c.field.name;
    }
  }
}

TEST(QueueTest, GetByPositionChecksTheRange) {
  RowQueue q;
  for (int i = 1; i <= 5; ++i) q.Add(i * 10, "x");
  ASSERT_EQ(RECORDS(&q), 5);
  struct Case {
    int32_t position;
    int error;
    int32_t id;  // the buffer's ID afterwards
  } cases[] = {
      {0, 30, -1}, {-1, 30, -1}, {6, 30, -1}, {1, 0, 10}, {5, 0, 50}, {3, 0, 30},
  };
  for (const Case& c : cases) {
    q.record.ID = -1;
    GET(&q, c.position);
    EXPECT_EQ(ERRORCODE(), c.error) << c.position;
    EXPECT_EQ(q.record.ID, c.id) << c.position;
    if (c.error == 0) {
      EXPECT_EQ(POINTER(&q), c.position);
    }
  }
  EXPECT_EQ(ERROR(), "");
  GET(&q, 99);
  EXPECT_EQ(ERROR(), "Entry Not Found");
}

TEST(QueueTest, AddPutsTheEntryAtTheEndAtAPositionOrByKey) {
  RowQueue q;
  q.Add(1, "b");
  q.Add(2, "d");
  EXPECT_EQ(POINTER(&q), 2);  // the new entry is current
  q.Set(3, "a");
  ADD(&q, 1);
  q.Set(4, "z");
  ADD(&q, 4);  // RECORDS + 1 appends
  EXPECT_EQ(ERRORCODE(), 0);
  EXPECT_EQ(q.Ids(), (std::vector<int32_t>{3, 1, 2, 4}));
  for (int32_t bad : {0, -3, 6}) {
    q.Set(99, "q");
    ADD(&q, bad);
    EXPECT_EQ(ERRORCODE(), kEntryNotFound) << bad;
  }
  EXPECT_EQ(RECORDS(&q), 4);

  // By key: a binary search by NAME in the current order, after equal names.
  RowQueue k;
  for (auto [id, name] : {std::pair{1, "m"}, {2, "c"}, {3, "x"}, {4, "c"}}) {
    k.Set(id, name);
    ADD(&k, "NAME");
  }
  EXPECT_EQ(k.Ids(), (std::vector<int32_t>{2, 4, 1, 3}));
}

// --- Sorting against std::stable_sort ------------------------------------

struct Model {
  int32_t id;
  std::string name;  // without padding
  double amount;
  uint8_t age;
  std::string code;
  int32_t price_cents;
};

int Sign(int v) {
  return (v > 0) - (v < 0);
}
template <typename T>
int Cmp(const T& a, const T& b) {
  return (a > b) - (a < b);
}

// Text compared as if the shorter one went on with spaces.
int TextCmp(std::string a, std::string b) {
  size_t n = std::max(a.size(), b.size());
  a.resize(n, ' ');
  b.resize(n, ' ');
  return Sign(a.compare(b));
}

int ModelField(const Model& a, const Model& b, int field) {
  switch (field) {
    case 1:
      return Cmp(a.id, b.id);
    case 2:
      return TextCmp(a.name, b.name);
    case 3:
      return Cmp(a.amount, b.amount);
    case 4:
      return Cmp(a.age, b.age);
    case 5:
      return TextCmp(a.code, b.code);
    case 6:
      return Cmp(a.price_cents, b.price_cents);
  }
  return 0;
}

std::vector<Model> RandomModels(size_t n, std::mt19937& rng) {
  std::uniform_int_distribution<int> len(0, 5), letter(0, 3), small(0, 6), cents(-99999, 99999);
  std::vector<Model> rows;
  for (size_t i = 0; i < n; ++i) {
    Model m;
    m.id = static_cast<int32_t>(i + 1);
    for (int k = len(rng); k > 0; --k) m.name += static_cast<char>('A' + letter(rng));
    m.amount = small(rng) * 0.5 - 1.5;
    m.age = static_cast<uint8_t>(small(rng) * 40);
    for (int k = len(rng); k > 0; --k) m.code += static_cast<char>('a' + letter(rng));
    m.price_cents = small(rng) == 0 ? cents(rng) : small(rng) * 100 - 300;
    rows.push_back(m);
  }
  return rows;
}

std::vector<int32_t> StableSorted(std::vector<Model> rows, const std::vector<int>& key) {
  std::stable_sort(rows.begin(), rows.end(), [&](const Model& a, const Model& b) {
    for (int f : key) {
      int r = ModelField(a, b, std::abs(f));
      if (r != 0) return (f < 0 ? -r : r) < 0;
    }
    return false;
  });
  std::vector<int32_t> ids;
  for (const Model& m : rows) ids.push_back(m.id);
  return ids;
}

void Fill(RowQueue& q, const std::vector<Model>& rows) {
  for (const Model& m : rows) q.Add(m.id, m.name, m.amount, m.age, m.code, m.price_cents);
}

const std::vector<std::vector<int>> kKeys = {
    {2}, {-2}, {3}, {-3}, {6}, {-6}, {5}, {4, -2}, {-4, 5, 3}, {2, -6, 1}, {-5, -4}, {3, 2, 4, 6},
};

TEST(QueueOrderTest, SortAgreesWithStableSortForManyKeysAndSizes) {
  std::mt19937 rng(12345);
  for (size_t n : {0u, 1u, 2u, 9u, 10u, 11u, 37u, 300u}) {
    std::vector<Model> rows = RandomModels(n, rng);
    RowQueue q;
    Fill(q, rows);
    for (const std::vector<int>& key : kKeys) {
      SORT(&q, QueueKey(key));
      ASSERT_EQ(ERRORCODE(), 0);
      EXPECT_EQ(q.Ids(), StableSorted(rows, key)) << "n=" << n << " key[0]=" << key[0];
    }
    SORT(&q, QueueKey());
    std::vector<int32_t> insertion;
    for (const Model& m : rows) insertion.push_back(m.id);
    EXPECT_EQ(q.Ids(), insertion);
  }
}

TEST(QueueOrderTest, KeyTextNamesFieldsWithDirections) {
  std::mt19937 rng(7);
  std::vector<Model> rows = RandomModels(200, rng);
  RowQueue q;
  Fill(q, rows);
  struct Case {
    const char* text;
    std::vector<int> key;
  } cases[] = {
      {"NAME", {2}},
      {"-name", {-2}},
      {" +AGE , -NAME ", {4, -2}},
      {"-CODE,AMOUNT,ID", {-5, 3, 1}},
      {"t:code", {5}},
  };
  for (const Case& c : cases) {
    SORT(&q, c.text);
    ASSERT_EQ(ERRORCODE(), 0) << c.text;
    EXPECT_EQ(q.Ids(), StableSorted(rows, c.key)) << c.text;
  }
  for (const char* bad : {"NOPE", "NAME,,AGE", "-", "NAME,"}) {
    SORT(&q, bad);
    EXPECT_EQ(ERRORCODE(), kInvalidIndexString) << bad;
  }
  for (std::vector<int> bad : std::vector<std::vector<int>>{{0}, {8}, {-8}, {2, 99}}) {
    SORT(&q, QueueKey(bad));
    EXPECT_EQ(ERRORCODE(), kInvalidIndexString);
  }
  // A failed SORT leaves the last good order in force.
  EXPECT_EQ(q.Ids(), StableSorted(rows, {5}));
}

// Every change is carried into every cached order: after a mix of ADD, PUT
// and DELETE each order still equals a fresh stable sort of the contents.
TEST(QueueOrderTest, CachedOrdersStayCorrectThroughChanges) {
  std::mt19937 rng(99);
  std::vector<Model> rows = RandomModels(60, rng);
  RowQueue q;
  Fill(q, rows);
  for (const std::vector<int>& key : kKeys) SORT(&q, QueueKey(key));  // cache them all

  std::vector<Model> more = RandomModels(200, rng);
  std::uniform_int_distribution<int> op(0, 3);
  int32_t next_id = 1000;
  for (int step = 0; step < 200; ++step) {
    SORT(&q, QueueKey(kKeys[static_cast<size_t>(step) % kKeys.size()]));
    Model m = more[static_cast<size_t>(step)];
    int32_t count = RECORDS(&q);
    switch (op(rng)) {
      case 0:
      case 1:
        m.id = next_id++;
        q.Add(m.id, m.name, m.amount, m.age, m.code, m.price_cents);
        rows.push_back(m);
        break;
      case 2: {  // PUT: change everything but the ID
        if (count == 0) break;
        GET(&q, 1 + step % count);
        m.id = q.record.ID;
        q.Set(m.id, m.name, m.amount, m.age, m.code, m.price_cents);
        PUT(&q);
        ASSERT_EQ(ERRORCODE(), 0);
        auto it =
            std::find_if(rows.begin(), rows.end(), [&](const Model& r) { return r.id == m.id; });
        *it = m;
        break;
      }
      case 3: {
        if (count == 0) break;
        GET(&q, 1 + (step * 7) % count);
        int32_t id = q.record.ID;
        DELETE(&q);
        ASSERT_EQ(ERRORCODE(), 0);
        std::erase_if(rows, [&](const Model& r) { return r.id == id; });
        break;
      }
    }
  }
  // The orders are compared as sets of equal-key runs: PUT may move an
  // entry among its equals, so only the key sequence is fixed.
  for (const std::vector<int>& key : kKeys) {
    SORT(&q, QueueKey(key));
    std::vector<int32_t> got = q.Ids();
    std::vector<int32_t> want = StableSorted(rows, key);
    ASSERT_EQ(got.size(), want.size());
    auto by_id = [&](int32_t id) {
      return *std::find_if(rows.begin(), rows.end(), [&](const Model& r) { return r.id == id; });
    };
    for (size_t i = 0; i < got.size(); ++i) {
      for (int f : key) {
        ASSERT_EQ(ModelField(by_id(got[i]), by_id(want[i]), std::abs(f)), 0)
            << "key[0]=" << key[0] << " at " << i;
      }
    }
  }
}

TEST(QueueOrderTest, SeventeenthOrderReplacesTheLeastRecentlyUsed) {
  std::mt19937 rng(3);
  std::vector<Model> rows = RandomModels(40, rng);
  RowQueue q;
  Fill(q, rows);
  // Twenty distinct keys cycle through the 15 keyed slots several times.
  std::vector<std::vector<int>> keys;
  for (int a = 1; a <= 6; ++a) {
    keys.push_back({a});
    keys.push_back({-a});
  }
  for (int a = 2; a <= 6; ++a) keys.push_back({a, -1});
  for (int a = 3; a <= 5; ++a) keys.push_back({-a, 2});
  for (int round = 0; round < 3; ++round) {
    for (const std::vector<int>& key : keys) {
      SORT(&q, QueueKey(key));
      ASSERT_EQ(ERRORCODE(), 0);
      ASSERT_EQ(q.Ids(), StableSorted(rows, key));
      q.Add(static_cast<int32_t>(rows.size() + 1), "N", 0.5, 40, "b", 100);
      rows.push_back({static_cast<int32_t>(rows.size() + 1), "N", 0.5, 40, "b", 100});
    }
  }
}

// Keys compare values, not bytes: a DATE is stored day first, a PSTRING
// behind its length byte, a SHORT little-endian with a sign.
TEST(QueueOrderTest, KeysCompareValuesNotStoredBytes) {
  struct Event {
    uint8_t WHEN[4];  // DATE
    char TAG[6];      // PSTRING(6)
    int16_t DELTA;    // SHORT
    int32_t ID;
  };
  Queue<Event> q;
  q.Field("WHEN", &Event::WHEN, TypeCode::DATE);
  q.Field("TAG", &Event::TAG, TypeCode::PSTRING);
  q.Field("DELTA", &Event::DELTA);
  q.Field("ID", &Event::ID);
  struct Row {
    int day, month, year;
    const char* tag;
    int16_t delta;
  } rows[] = {{31, 1, 2024, "bb", 300},
              {1, 2, 2024, "a", -1},
              {15, 12, 2023, "ab", -300},
              {2, 1, 2025, "c", 2}};
  int32_t id = 0;
  for (const Row& r : rows) {
    q.record.WHEN[0] = static_cast<uint8_t>(r.day);
    q.record.WHEN[1] = static_cast<uint8_t>(r.month);
    q.record.WHEN[2] = static_cast<uint8_t>(r.year & 0xFF);
    q.record.WHEN[3] = static_cast<uint8_t>(r.year >> 8);
    std::memset(q.record.TAG, 0, sizeof q.record.TAG);
    q.record.TAG[0] = static_cast<char>(std::strlen(r.tag));
    std::memcpy(q.record.TAG + 1, r.tag, std::strlen(r.tag));
    q.record.DELTA = r.delta;
    q.record.ID = ++id;
    ADD(&q);
  }
  auto ids = [&q] {
    std::vector<int32_t> v;
    for (int32_t i = 1; i <= RECORDS(&q); ++i) {
      GET(&q, i);
      v.push_back(q.record.ID);
    }
    return v;
  };
  SORT(&q, "WHEN");
  EXPECT_EQ(ids(), (std::vector<int32_t>{3, 1, 2, 4}));
  SORT(&q, "TAG");
  EXPECT_EQ(ids(), (std::vector<int32_t>{2, 3, 1, 4}));
  SORT(&q, "DELTA");
  EXPECT_EQ(ids(), (std::vector<int32_t>{3, 2, 4, 1}));
}

TEST(QueueOrderTest, DescendingFieldPutsLargerValuesFirst) {
  RowQueue q;
  for (int32_t v : {5, -2, 40, 0, 7}) q.Add(v, "");
  SORT(&q, "-ID");
  EXPECT_EQ(q.Ids(), (std::vector<int32_t>{40, 7, 5, 0, -2}));
}

// ADD at a position is honoured even when it breaks the key order in force;
// the order is then sorted again the next time it is asked for, and the
// other orders are not disturbed.
TEST(QueueOrderTest, PositionalAddInASortedOrderIsKeptUntilTheNextSort) {
  RowQueue q;
  for (auto [id, name] : {std::pair{1, "c"}, {2, "a"}, {3, "b"}}) q.Add(id, name);
  SORT(&q, "NAME");
  q.Set(4, "z");
  ADD(&q, 1);
  q.Add(5, "0");  // plain ADD while the order is out of key order: at its end
  EXPECT_EQ(q.Ids(), (std::vector<int32_t>{4, 2, 3, 1, 5}));
  q.Set(0, "b");
  GET(&q, "NAME");  // found by scanning, not by a binary search
  EXPECT_EQ(q.record.ID, 3);
  SORT(&q, "-ID");
  EXPECT_EQ(q.Ids(), (std::vector<int32_t>{5, 4, 3, 2, 1}));
  SORT(&q, "NAME");
  EXPECT_EQ(q.Ids(), (std::vector<int32_t>{5, 2, 3, 1, 4}));
  SORT(&q, "");
  EXPECT_EQ(q.Ids(), (std::vector<int32_t>{1, 2, 3, 4, 5}));
}

TEST(QueueOrderTest, SortKeepsTheCurrentEntry) {
  RowQueue q;
  for (auto [id, name] : {std::pair{1, "d"}, {2, "a"}, {3, "c"}, {4, "b"}}) q.Add(id, name);
  GET(&q, 1);  // "d"
  SORT(&q, "NAME");
  EXPECT_EQ(POINTER(&q), 4);
  q.Set(1, "0");
  PUT(&q);  // still the entry read before the SORT
  EXPECT_EQ(q.Ids(), (std::vector<int32_t>{1, 2, 4, 3}));
}

// --- Lookup by key -------------------------------------------------------

TEST(QueueTest, GetByKeyFindsTheFirstEqualEntrySortedOrNot) {
  RowQueue q;
  // Duplicated names; IDs tell the entries apart.
  const std::pair<int, const char*> data[] = {{1, "pear"}, {2, "fig"},  {3, "kiwi"},
                                              {4, "fig"},  {5, "lime"}, {6, "kiwi"}};
  for (auto [id, name] : data) q.Add(id, name, id * 1.5, static_cast<uint8_t>(id % 2));
  struct Case {
    const char* key;   // order in force ("" = insertion)
    const char* name;  // looked for
    int32_t id;        // found (0: error 30)
    int32_t pointer;
  } cases[] = {
      {"", "fig", 2, 2},         {"", "kiwi", 3, 3},     {"", "plum", 0, 0},
      {"NAME", "fig", 2, 1},     {"NAME", "kiwi", 3, 3}, {"NAME", "pear", 1, 6},
      {"NAME", "apple", 0, 0},   {"NAME", "zzz", 0, 0},  {"-NAME", "kiwi", 3, 3},
      {"NAME,-ID", "fig", 4, 1},  // a prefix of the order's key: binary search
      {"-AMOUNT", "kiwi", 6, 1},  // not sorted by NAME: the first in this order
  };
  for (const Case& c : cases) {
    SORT(&q, c.key);
    GET(&q, 1);
    q.Set(-1, c.name);
    GET(&q, "NAME");
    if (c.id == 0) {
      EXPECT_EQ(ERRORCODE(), kEntryNotFound) << c.key << " " << c.name;
      EXPECT_EQ(q.record.ID, -1) << "the buffer is left as it was";
    } else {
      EXPECT_EQ(ERRORCODE(), 0) << c.key << " " << c.name;
      EXPECT_EQ(q.record.ID, c.id) << c.key << " " << c.name;
      EXPECT_EQ(POINTER(&q), c.pointer) << c.key << " " << c.name;
    }
  }
  // Several fields: name and odd age.
  SORT(&q, "");
  q.Set(0, "kiwi", 0, 0);
  GET(&q, "NAME,AGE");
  EXPECT_EQ(q.record.ID, 6);
  // By a reference: the entry for an object.
  int a = 0, b = 0;
  RowQueue refs;
  refs.Set(1, "a", 0, 0, "", 0, &a);
  ADD(&refs);
  refs.Set(2, "b", 0, 0, "", 0, &b);
  ADD(&refs);
  refs.record.OWNER = &b;
  GET(&refs, QueueKey{7});
  EXPECT_EQ(refs.record.ID, 2);
}

TEST(QueueTest, PositionGivesWhereAKeyIsOrWouldGo) {
  RowQueue q;
  for (auto [id, name] : {std::pair{1, "m"}, {2, "c"}, {3, "x"}, {4, "c"}}) q.Add(id, name);
  struct Case {
    const char* order;
    const char* name;
    int32_t position;
  } cases[] = {
      {"NAME", "c", 1}, {"NAME", "m", 3},  {"NAME", "a", 1}, {"NAME", "n", 4},
      {"NAME", "z", 5}, {"-NAME", "n", 2}, {"", "x", 3},     {"", "n", 0},
  };
  for (const Case& c : cases) {
    SORT(&q, c.order);
    q.Set(0, c.name);
    EXPECT_EQ(POSITION(&q, "NAME"), c.position) << c.order << " " << c.name;
    EXPECT_EQ(ERRORCODE(), 0);
  }
}

// --- Changes -------------------------------------------------------------

TEST(QueueTest, PutReplacesTheCurrentEntryAndKeepsSortedOrdersSorted) {
  RowQueue q;
  PUT(&q);
  EXPECT_EQ(ERRORCODE(), kEntryNotFound);  // nothing read yet
  for (auto [id, name] : {std::pair{1, "b"}, {2, "d"}, {3, "f"}}) q.Add(id, name);
  SORT(&q, "NAME");
  GET(&q, 1);
  q.Set(1, "e");
  PUT(&q);
  EXPECT_EQ(ERRORCODE(), 0);
  EXPECT_EQ(POINTER(&q), 2);  // followed the entry to its new place
  EXPECT_EQ(q.Ids(), (std::vector<int32_t>{2, 1, 3}));
  SORT(&q, "");
  EXPECT_EQ(q.Ids(), (std::vector<int32_t>{1, 2, 3}));
}

TEST(QueueTest, DeleteRemovesFromEveryOrder) {
  RowQueue q;
  for (auto [id, name] : {std::pair{1, "c"}, {2, "a"}, {3, "b"}, {4, "d"}}) q.Add(id, name);
  SORT(&q, "NAME");
  SORT(&q, "-ID");
  GET(&q, 2);  // ID 3
  DELETE(&q);
  EXPECT_EQ(ERRORCODE(), 0);
  EXPECT_EQ(POINTER(&q), 0);  // nothing current afterwards
  DELETE(&q);
  EXPECT_EQ(ERRORCODE(), kEntryNotFound);
  for (int32_t bad : {0, 4, -1}) {
    DELETE(&q, bad);
    EXPECT_EQ(ERRORCODE(), kEntryNotFound) << bad;
  }
  GET(&q, 1);  // ID 4 stays current through deleting another entry
  DELETE(&q, 3);
  EXPECT_EQ(POINTER(&q), 1);
  EXPECT_EQ(q.Ids(), (std::vector<int32_t>{4, 2}));
  SORT(&q, "NAME");
  EXPECT_EQ(q.Ids(), (std::vector<int32_t>{2, 4}));
  SORT(&q, "");
  EXPECT_EQ(q.Ids(), (std::vector<int32_t>{2, 4}));
}

TEST(QueueTest, FreeEmptiesTheQueueAndDropsItsOrders) {
  RowQueue q;
  FREE(&q);  // on an empty queue too
  EXPECT_EQ(RECORDS(&q), 0);
  for (int i = 0; i < 20; ++i) q.Add(i, "n");
  SORT(&q, "-ID");
  FREE(&q);
  EXPECT_EQ(RECORDS(&q), 0);
  EXPECT_EQ(POINTER(&q), 0);
  q.Add(1, "b");
  q.Add(2, "a");
  EXPECT_EQ(q.Ids(), (std::vector<int32_t>{1, 2}));  // the insertion sequence is in force again
}

TEST(QueueTest, ChangeCounterStartsFromTheClock) {
  // 10:20:30.45 is the standard time 3723046; times 25781083 it wraps.
  FaultPlan clock;
  clock.local_clock = [] { return LocalDateTime{2026, 3, 4, 10, 20, 30, 450}; };
  ScopedFaultPlan at_ten(&clock);
  RowQueue q;
  EXPECT_EQ(CHANGES(&q), 3723046u * 25781083u);
}

TEST(QueueTest, ChangeCounterStartsFromTheTimeTheQueueWasMadeNotFirstRead) {
  // Given a queue made at 10:20:30.45 and changed once,
  // when the clock has moved on before its counter is first read,
  // then the counter still starts from the time it was made.
  LocalDateTime now{2026, 3, 4, 10, 20, 30, 450};
  FaultPlan clock;
  clock.local_clock = [&now] { return now; };
  ScopedFaultPlan fake(&clock);
  RowQueue q;
  q.Add(1, "a");
  now = LocalDateTime{2026, 3, 4, 11, 0, 0, 0};
  EXPECT_EQ(CHANGES(&q), 3723046u * 25781083u + 1u);
  // A queue made now starts from the new time.
  RowQueue r;
  EXPECT_EQ(CHANGES(&r), 3960001u * 25781083u);
}

TEST(QueueTest, ChangeCounterCountsChangesOnly) {
  RowQueue q;
  uint32_t c = CHANGES(&q);
  struct Step {
    std::function<void()> op;
    uint32_t delta;
  } steps[] = {
      {[&] { FREE(&q); }, 1},  // even on an empty queue
      {[&] { q.Add(1, "a"); }, 1}, {[&] { q.Add(2, "b"); }, 1},
      {[&] { GET(&q, 1); }, 0},    {[&] { SORT(&q, "-NAME"); }, 0},
      {[&] { PUT(&q); }, 1},       {[&] { GET(&q, 5); }, 0},  // failed: no change
      {[&] { DELETE(&q, 1); }, 1}, {[&] { RECORDS(&q); }, 0},
      {[&] { FREE(&q); }, 1},
  };
  for (const Step& s : steps) {
    s.op();
    c += s.delta;
    EXPECT_EQ(CHANGES(&q), c);
  }
}

// --- Errors --------------------------------------------------------------

TEST(QueueTest, MissingDescriptorPostsAndDoesNothing) {
  ADD(nullptr);
  EXPECT_EQ(ERRORCODE(), kInvalidRecordDeclaration);
  ClearError();
  EXPECT_EQ(RECORDS(nullptr), 0);
  EXPECT_EQ(ERRORCODE(), kInvalidRecordDeclaration);
  GET(nullptr, 1);
  EXPECT_EQ(ERRORCODE(), kInvalidRecordDeclaration);
}

// Every operation, with its allocations failing after each possible count,
// either succeeds or posts 8 and leaves the queue exactly as it was.
TEST(QueueTest, OutOfMemoryPostsEightAndChangesNothing) {
  std::mt19937 rng(5);
  std::vector<Model> base = RandomModels(30, rng);
  struct Op {
    const char* name;
    std::function<void(RowQueue&)> run;
  } ops[] = {
      {"ADD", [](RowQueue& q) { q.Add(500, "new", 1, 2, "c", 3); }},
      {"ADD key",
       [](RowQueue& q) {
         q.Set(500, "new");
         ADD(&q, "-AGE,NAME");
       }},
      {"ADD at",
       [](RowQueue& q) {
         q.Set(500, "new");
         ADD(&q, 3);
       }},
      {"SORT", [](RowQueue& q) { SORT(&q, "-PRICE,CODE"); }},
      {"GET key",
       [&base](RowQueue& q) {
         q.Set(0, base[5].name, 0, 0, base[5].code);
         GET(&q, "CODE,NAME");
       }},
  };
  for (const Op& op : ops) {
    bool succeeded = false;
    for (int64_t budget = 0; budget < 40 && !succeeded; ++budget) {
      RowQueue q;
      Fill(q, base);
      SORT(&q, "NAME");
      SORT(&q, "-AMOUNT");
      std::vector<int32_t> before = q.Ids();
      int32_t pointer = POINTER(&q);
      uint32_t changes = CHANGES(&q);
      SetQueueAllocationFailure(budget);
      op.run(q);
      int error = ERRORCODE();
      SetQueueAllocationFailure(-1);
      if (error == 0) {
        succeeded = true;
        continue;
      }
      ASSERT_EQ(error, kInsufficientMemory) << op.name << " budget " << budget;
      EXPECT_EQ(ERROR(), "Insufficient Memory");
      EXPECT_EQ(CHANGES(&q), changes) << op.name << " budget " << budget;
      EXPECT_EQ(POINTER(&q), pointer) << op.name << " budget " << budget;
      EXPECT_EQ(q.Ids(), before) << op.name << " budget " << budget;
      SORT(&q, "NAME");
      EXPECT_EQ(RECORDS(&q), 30);
      EXPECT_EQ(ERRORCODE(), 0);
    }
    EXPECT_TRUE(succeeded) << op.name;
  }
  // No memory for the internal list itself: every operation posts 8.
  RowQueue fresh;
  SetQueueAllocationFailure(0);
  ADD(&fresh);
  EXPECT_EQ(ERRORCODE(), kInsufficientMemory);
  EXPECT_EQ(RECORDS(&fresh), 0);
  EXPECT_EQ(ERRORCODE(), kInsufficientMemory);
  SetQueueAllocationFailure(-1);
  ADD(&fresh);
  EXPECT_EQ(RECORDS(&fresh), 1);
}

TEST(QueueTest, KeyHashCombinesFieldsAndAgreesWithEquality) {
  RowQueue q;
  q.Set(7, "ab", 0.0, 3, "x");
  uint32_t id_hash = KeyHash(&q, "ID");
  uint32_t age_hash = KeyHash(&q, "AGE");
  EXPECT_EQ(id_hash, 7u);
  EXPECT_EQ(age_hash, 3u);
  auto rotr = [](uint32_t v) { return (v >> 1) | (v << 31); };
  EXPECT_EQ(KeyHash(&q, "ID,AGE"), age_hash ^ rotr(id_hash));
  EXPECT_EQ(KeyHash(&q, "AGE,ID"), id_hash ^ rotr(age_hash));

  // Values that compare equal hash alike.
  uint32_t name_hash = KeyHash(&q, "NAME");
  uint32_t code_hash = KeyHash(&q, "CODE");
  q.Set(7, "ab      ", -0.0, 3, "x    ");
  EXPECT_EQ(KeyHash(&q, "NAME"), name_hash);
  EXPECT_EQ(KeyHash(&q, "CODE"), code_hash);
  uint32_t zero_hash = KeyHash(&q, "AMOUNT");
  q.Set(7, "ab", 0.0, 3);
  EXPECT_EQ(KeyHash(&q, "AMOUNT"), zero_hash);
  q.Set(7, "ac");
  EXPECT_NE(KeyHash(&q, "NAME"), name_hash);
}

}  // namespace
}  // namespace qzr
