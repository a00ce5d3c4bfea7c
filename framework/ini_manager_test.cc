#include "framework/ini_manager.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "runtime/settings/profile.h"
#include "runtime/settings/registry.h"

namespace qzr {
namespace {

namespace fs = std::filesystem;

// A fresh configuration folder (INI files with bare names, the user profile
// and the registry live there) and a fresh working directory.
class IniManagerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/qzr_ini_XXXXXX";
    ASSERT_NE(::mkdtemp(tmpl), nullptr);
    dir_ = tmpl;
    ::setenv("QZR_CONFIG_DIR", (dir_ + "/cfg").c_str(), 1);
    old_cwd_ = fs::current_path();
    fs::create_directory(dir_ + "/work");
    fs::current_path(dir_ + "/work");
  }
  void TearDown() override {
    fs::current_path(old_cwd_);
    ::unsetenv("QZR_CONFIG_DIR");
    fs::remove_all(dir_);
  }

  std::string IniPath() { return ProfilePath("qzrfunctions.INI"); }
  std::string IniText() {
    std::ifstream in(IniPath(), std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
  }

  std::string dir_;
  fs::path old_cwd_;
};

struct Row {
  char NAME[40];
  int32_t COUNT;
  char NOTE[60];
  uint8_t FLAG;
  int32_t EXTRA;
};

// A queue of Rows with its five fields.
struct RowQueue : Queue<Row> {
  RowQueue() {
    Field("NAME", &Row::NAME, TypeCode::CSTRING);
    Field("COUNT", &Row::COUNT);
    Field("NOTE", &Row::NOTE);  // STRING: blank padded
    Field("FLAG", &Row::FLAG);
    Field("EXTRA", &Row::EXTRA);
  }
  void Add(const char* name, int32_t count, const char* note, uint8_t flag) {
    record = Row{};
    std::strcpy(record.NAME, name);
    record.COUNT = count;
    std::memset(record.NOTE, ' ', sizeof record.NOTE);
    std::memcpy(record.NOTE, note, std::strlen(note));
    record.FLAG = flag;
    ADD(this);
  }
};

std::string Note(const Row& r) {
  std::string s(r.NOTE, sizeof r.NOTE);
  return s.substr(0, s.find_last_not_of(' ') + 1);
}

TEST_F(IniManagerTest, FetchUpdateDeleteInAnIniFile) {
  IniManager ini;
  ini.Init("qzrfunctions.INI");
  EXPECT_EQ(ini.Fetch("Main", "Order", "none"), "none");
  EXPECT_EQ(ini.Update("Main", "Order", "2"), SeverityNone);
  EXPECT_EQ(ini.Fetch("Main", "Order", "none"), "2");
  EXPECT_EQ(IniText(), "[Main]\nOrder=2\n");
  EXPECT_EQ(ini.Delete("Main", "Order"), SeverityNone);
  EXPECT_EQ(ini.Fetch("Main", "Order", "none"), "none");
  // What the file cannot hold is refused, not mangled.
  EXPECT_EQ(ini.Update("Bad]", "x", "1"), SeverityInform);
  EXPECT_EQ(ini.Update("S", "x", "two\nlines"), SeverityInform);
  // Long values come back cut at 1024 bytes.
  ASSERT_EQ(ini.Update("S", "long", std::string(3000, 'v')), SeverityNone);
  EXPECT_EQ(ini.Fetch("S", "long").size(), kMaxIniValue);
  // Whole sections go with an empty entry.
  ASSERT_EQ(ini.Update("S", "a", "1"), SeverityNone);
  EXPECT_EQ(ini.Delete("S", ""), SeverityNone);
  EXPECT_EQ(ini.Fetch("S", "a", "gone"), "gone");
}

TEST_F(IniManagerTest, NothingIsCachedBetweenCalls) {
  IniManager a;
  IniManager b;
  a.Init("qzrfunctions.INI");
  b.Init("qzrfunctions.INI");
  ASSERT_EQ(a.Update("S", "k", "from a"), SeverityNone);
  EXPECT_EQ(b.Fetch("S", "k"), "from a");
}

TEST_F(IniManagerTest, QueuesRoundTripInEveryStoringMode) {
  const struct {
    const char* what;
    int32_t nv_type;
    const char* file;
  } modes[] = {
      {"INI file", kIniFile, "qzrfunctions.INI"},
      {"user profile", kIniFile, ""},
      {"registry", kIniRegistry, "Software\\QZR\\Functions"},
      {"registry without a path", kIniRegistry, ""},
  };
  for (const auto& mode : modes) {
    SCOPED_TRACE(mode.what);
    IniManager ini;
    ini.Init(mode.file, mode.nv_type, 0);
    RowQueue out;
    out.Add("plain", 1, "note", 1);
    out.Add("with, comma", -20, "  lead and trail  ", 0);
    out.Add("100% \"quoted\"", 3, "'single'", 255);
    out.Add("", 0, "", 0);
    // The caller's buffer and current entry survive the store.
    GET(&out, 2);
    std::strcpy(out.record.NAME, "edited, not stored");
    ASSERT_EQ(ini.StoreQueue(&out, "Rows", "List", {1, 2, 3, 4}), SeverityNone);
    EXPECT_STREQ(out.record.NAME, "edited, not stored");
    EXPECT_EQ(POINTER(&out), 2);

    RowQueue in;
    in.record.EXTRA = 77;  // not loaded: keeps its value in every record
    ini.LoadQueue(&in, "Rows", "List", {1, 2, 3, 4});
    ASSERT_EQ(RECORDS(&in), 4);
    for (int i = 1; i <= 4; ++i) {
      GET(&out, i);
      GET(&in, i);
      EXPECT_STREQ(in.record.NAME, out.record.NAME) << i;
      EXPECT_EQ(in.record.COUNT, out.record.COUNT) << i;
      EXPECT_EQ(Note(in.record), Note(out.record)) << i;
      EXPECT_EQ(in.record.FLAG, out.record.FLAG) << i;
      EXPECT_EQ(in.record.EXTRA, 77) << i;
    }

    // A shorter queue stored over it leaves no stale records behind.
    RowQueue shorter;
    shorter.Add("only", 9, "x", 1);
    ASSERT_EQ(ini.StoreQueue(&shorter, "Rows", "List", {1, 2}), SeverityNone);
    EXPECT_EQ(ini.Fetch("Rows", "List"), "1");
    EXPECT_EQ(ini.Fetch("Rows", "List_1"), "only,9");
    EXPECT_EQ(ini.Fetch("Rows", "List_2", "gone"), "gone");
    EXPECT_EQ(ini.Fetch("Rows", "List_4", "gone"), "gone");
    ini.Kill();
  }
  EXPECT_EQ(OpenRegistryHandleCount(), 0u);
}

TEST_F(IniManagerTest, MissingCountLoadsNothingAndMissingLinesReadUnknown) {
  IniManager ini;
  ini.Init("qzrfunctions.INI");
  RowQueue q;
  ini.LoadQueue(&q, "Rows", "List", {1, 2});
  EXPECT_EQ(RECORDS(&q), 0);

  // A count with a line missing: the record reads "---Unknown---".
  ASSERT_EQ(ini.Update("Rows", "List", "2"), SeverityNone);
  ASSERT_EQ(ini.Update("Rows", "List_1", "a,5"), SeverityNone);
  ini.LoadQueue(&q, "Rows", "List", {1, 2});
  ASSERT_EQ(RECORDS(&q), 2);
  GET(&q, 2);
  EXPECT_STREQ(q.record.NAME, "---Unknown---");
  EXPECT_EQ(q.record.COUNT, 0);

  // A damaged count does not make the load run away.
  FREE(&q);
  ASSERT_EQ(ini.Update("Rows", "List", "99999999999"), SeverityNone);
  ini.LoadQueue(&q, "Rows", "List", {1});
  EXPECT_EQ(RECORDS(&q), kMaxQueueRecordsLoaded);
}

TEST_F(IniManagerTest, LoadFieldSplitsAtCommas) {
  IniManager ini;
  ini.Init("qzrfunctions.INI");
  ASSERT_EQ(ini.Update("S", "three", "a,b%2Cc,"), SeverityNone);
  ASSERT_EQ(ini.Update("S", "one", "whole value"), SeverityNone);
  const struct {
    const char* entry;
    int n;
    const char* part;
  } cases[] = {
      {"three", 1, "a"},
      {"three", 2, "b,c"},
      {"three", 3, ""},
      {"three", 4, ""},
      {"one", 1, "whole value"},
      {"one", 2, ""},
      {"missing", 1, "---Unknown---"},
      {"missing", 2, ""},
      {"one", 0, ""},
  };
  for (const auto& c : cases) EXPECT_EQ(ini.LoadField("S", c.entry, c.n), c.part) << c.entry << c.n;
}

TEST_F(IniManagerTest, QueueFieldEscapingRoundTrips) {
  const char* values[] = {"",      "plain", "a,b",  "50%",   "%2C literal", " lead", "trail ",
                          "\"q\"", "'s'",   "x\ny", "tab\t", "%",           "%%41"};
  for (const char* v : values) {
    std::string escaped = EscapeQueueField(v);
    EXPECT_EQ(escaped.find(','), std::string::npos) << v;
    EXPECT_EQ(UnescapeQueueField(escaped), v) << v;
  }
  // Values stored without escapes read back as they are.
  EXPECT_EQ(UnescapeQueueField("C:\\dir 100%"), "C:\\dir 100%");
  EXPECT_EQ(UnescapeQueueField("%41%zz"), "%41%zz");
}

TEST_F(IniManagerTest, SectionNamesSplitBackIntoTheirParts) {
  const struct {
    const char* family;
    const char* item;
    const char* type;
  } cases[] = {
      {"Query", "My query", "Main:BRW1"},
      {"Query", "cost $5", "Main"},
      {"Query", "ends with $", "T"},
      {"Query", "$$$", "$"},
      {"Fam$ily", "50% off]", "a\\b"},
      {" spaced ", " item ", " type "},
      {"", "", ""},
  };
  for (const auto& c : cases) {
    std::string name = IniManager::MakeSectionName(c.family, c.item, c.type);
    SectionNameParts parts = IniManager::SplitSectionName(name);
    EXPECT_EQ(parts.family, c.family) << name;
    EXPECT_EQ(parts.item, c.item) << name;
    EXPECT_EQ(parts.type, c.type) << name;
  }
  EXPECT_EQ(IniManager::MakeSectionName("Query", "Mine", "Main"), "Query$Mine$$Main");

  // Names written without escapes split by the first "$" and the "$$" not
  // followed by a further "$".
  SectionNameParts old = IniManager::SplitSectionName("F$it$$$T");
  EXPECT_EQ(old.family, "F");
  EXPECT_EQ(old.item, "it$");
  EXPECT_EQ(old.type, "T");
  old = IniManager::SplitSectionName("NoDollar");
  EXPECT_EQ(old.family, "NoDollar");
  EXPECT_EQ(old.item, "");

  // A name with a "$" in its item is a valid section of the file.
  IniManager ini;
  ini.Init("qzrfunctions.INI");
  std::string name = IniManager::MakeSectionName("Query", "a]$b", "T");
  EXPECT_EQ(ini.Update(name, "tsMRU", "1"), SeverityNone);
  EXPECT_EQ(ini.Fetch(name, "tsMRU"), "1");
}

TEST_F(IniManagerTest, TheRegisterIsSavedByKillAndLoadedByInit) {
  {
    IniManager ini;
    ini.Init("qzrfunctions.INI");
    EXPECT_EQ(RECORDS(ini.SECTORS.get()), 0);
    SectorEntry& r = ini.SECTORS->record;
    std::strcpy(r.FAMILY, "Query");
    std::strcpy(r.ITEM, "mine, too");
    std::strcpy(r.TYPE, "Main");
    ADD(ini.SECTORS.get());
    ini.Kill();
    EXPECT_FALSE(ini.SECTORS);
    EXPECT_EQ(ini.Fetch(kSectorsSection, kSectorsEntry), "1");
    EXPECT_EQ(ini.Fetch(kSectorsSection, "Sectors_1"), "Query,mine%2C too,Main");
  }
  IniManager again;
  again.Init("qzrfunctions.INI");
  ASSERT_EQ(RECORDS(again.SECTORS.get()), 1);
  GET(again.SECTORS.get(), 1);
  EXPECT_STREQ(again.SECTORS->record.ITEM, "mine, too");
}

TEST_F(IniManagerTest, InitAgainSavesTheRegisterItHad) {
  IniManager ini;
  ini.Init("first.INI");
  std::strcpy(ini.SECTORS->record.FAMILY, "Query");
  ADD(ini.SECTORS.get());
  ini.Init("second.INI");
  EXPECT_EQ(RECORDS(ini.SECTORS.get()), 0);
  EXPECT_EQ(GetPrivateProfileString(kSectorsSection, kSectorsEntry, "", "first.INI"), "1");
}

TEST_F(IniManagerTest, AnEmptyRegisterCreatesNoFile) {
  {
    IniManager ini;
    ini.Init("qzrfunctions.INI");
  }
  EXPECT_FALSE(fs::exists(IniPath()));
}

TEST_F(IniManagerTest, ModeTwoReadsEmptyAndWritesNothing) {
  IniManager ini;
  ini.Init("qzrfunctions.INI", kIniNone, 0);
  EXPECT_EQ(ini.Update("S", "k", "v"), SeverityNone);
  EXPECT_EQ(ini.Fetch("S", "k", "default"), "");
  EXPECT_EQ(ini.LoadField("S", "k", 1), "");
  RowQueue q;
  q.Add("a", 1, "n", 1);
  EXPECT_EQ(ini.StoreQueue(&q, "S", "Q", {1}), SeverityNone);
  ini.LoadQueue(&q, "S", "Q", {1});
  EXPECT_EQ(RECORDS(&q), 1);
  ADD(ini.SECTORS.get());
  ini.Kill();
  EXPECT_FALSE(fs::exists(IniPath()));
  EXPECT_FALSE(fs::exists(dir_ + "/cfg"));
}

TEST_F(IniManagerTest, RegistryModeUsesTheKeyBelowTheRoot) {
  IniManager ini;
  ini.Init("Software\\QZR", kIniRegistry, static_cast<int32_t>(HKEY_LOCAL_MACHINE));
  ASSERT_EQ(ini.Update("Sort", "Main", "3"), SeverityNone);
  EXPECT_EQ(RegGetString(HKEY_LOCAL_MACHINE, "Software\\QZR\\Sort", "Main"), "3");
  EXPECT_EQ(ini.Fetch("Sort", "Main", "x"), "3");
  EXPECT_EQ(ini.Fetch("Sort", "Other", "x"), "x");
  EXPECT_EQ(ini.Fetch("NoSuchKey", "Main", "x"), "x");
  // DWORD values read as their number.
  ASSERT_EQ(RegPutDword(HKEY_LOCAL_MACHINE, "Software\\QZR\\Sort", "Width", 42), ERROR_SUCCESS);
  EXPECT_EQ(ini.Fetch("Sort", "Width"), "42");
  EXPECT_EQ(ini.Delete("Sort", "Main"), SeverityNone);
  EXPECT_EQ(ini.Fetch("Sort", "Main", "gone"), "gone");
  EXPECT_EQ(ini.Delete("Sort", "Main"), SeverityNone);  // already gone
  EXPECT_EQ(ini.Delete("Sort", ""), SeverityNone);
  EXPECT_EQ(ini.Fetch("Sort", "Width", "gone"), "gone");
  ini.Kill();
  EXPECT_EQ(OpenRegistryHandleCount(), 0u);
}

TEST_F(IniManagerTest, ThreadsShareOneManager) {
  IniManager ini;
  ini.Init("qzrfunctions.INI");
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&ini, t] {
      for (int i = 0; i < 10; ++i)
        ini.Update("T" + std::to_string(t), "k" + std::to_string(i), std::to_string(t * 100 + i));
    });
  }
  for (std::thread& t : threads) t.join();
  for (int t = 0; t < 4; ++t) {
    for (int i = 0; i < 10; ++i)
      EXPECT_EQ(ini.Fetch("T" + std::to_string(t), "k" + std::to_string(i)),
                std::to_string(t * 100 + i));
  }
}

}  // namespace
}  // namespace qzr
