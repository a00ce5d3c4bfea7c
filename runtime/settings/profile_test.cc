#include "runtime/settings/profile.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "runtime/os/atomic_file.h"

namespace qzr {
namespace {

namespace fs = std::filesystem;

// A private configuration folder per test, named by QZR_CONFIG_DIR.
class ProfileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/qzr_profile_XXXXXX";
    ASSERT_NE(::mkdtemp(tmpl), nullptr);
    dir_ = tmpl;
    ::setenv("QZR_CONFIG_DIR", (dir_ + "/config").c_str(), 1);
    file_ = dir_ + "/test.ini";
  }
  void TearDown() override {
    ::unsetenv("QZR_CONFIG_DIR");
    SetProcessFaultPlan(nullptr);
    fs::remove_all(dir_);
  }
  void Put(const std::string& contents) { ASSERT_TRUE(WriteFileAtomically(file_, contents).ok()); }
  std::string Contents() {
    std::string s;
    ReadWholeFile(file_, &s).IgnoreError();  // a missing file reads as ""
    return s;
  }

  std::string dir_;
  std::string file_;
};

TEST_F(ProfileTest, ReadsFollowProfileRules) {
  const std::string kFile =
      "\xEF\xBB\xBF[Main]\r\n"
      "; Name=commented out\r\n"
      "Name = Alice  \r\n"
      "Quoted=\"  padded  \"\r\n"
      "Single='x'\r\n"
      "Mismatch=\"x'\r\n"
      "Empty=\r\n"
      "not an entry\r\n"
      "[ other ]\n"
      "name=Bob\n"
      "Equals=a=b\n"
      "[MAIN]\n"
      "Late=found in a later occurrence\n"
      "[Unclosed\n"
      "k=v";  // no final newline
  Put(kFile);
  struct Case {
    const char* section;
    const char* key;
    const char* expected;
  } cases[] = {
      {"main", "NAME", "Alice"},
      {"Main", "Quoted", "  padded  "},
      {"Main", "Single", "x"},
      {"Main", "Mismatch", "\"x'"},
      {"Main", "Empty", ""},
      {"Main", "; Name", "default"},
      {"Main", "not an entry", "default"},
      {"Other", "name", "Bob"},
      {" other ", " NAME ", "Bob"},
      {"other", "equals", "a=b"},
      {"main", "late", "found in a later occurrence"},
      {"Unclosed", "k", "v"},
      {"Missing", "Name", "default"},
      {"Main", "Missing", "default"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(GetPrivateProfileString(c.section, c.key, "default", file_), c.expected)
        << c.section << "/" << c.key;
  }
  EXPECT_EQ(GetPrivateProfileString("Main", "Missing", "trailing   ", file_), "trailing");
  EXPECT_EQ(GetPrivateProfileString("Main", "Name", "d", dir_ + "/absent.ini"), "d");
  EXPECT_EQ(GetPrivateProfileString("Main", "Name", "d", ""), "d");
  EXPECT_EQ(Contents(), kFile);  // reading never writes

  // A byte-order mark before an entry on the first line (outside any
  // section) shifts nothing else.
  Put("\xEF\xBB\xBFme= x\n[S]\nk= y \n");
  EXPECT_EQ(GetPrivateProfileString("S", "k", "d", file_), "y");
  ASSERT_TRUE(WritePrivateProfileString("S", "k", "z", file_));
  EXPECT_EQ(Contents(), "\xEF\xBB\xBFme= x\n[S]\nk= z\n");
}

TEST_F(ProfileTest, WritesEditOnlyTheirLine) {
  struct Case {
    const char* name;
    const char* before;  // nullptr: no file
    const char* section;
    std::optional<std::string_view> key;
    std::optional<std::string_view> value;
    const char* after;  // nullptr: still no file
  } cases[] = {
      {"new file", nullptr, "S", "k", "v", "[S]\nk=v\n"},
      {"replace keeps spelling and spacing", "; c\n[s]\n  Key = old  \n#x\n", "S", "KEY", "new",
       "; c\n[s]\n  Key = new\n#x\n"},
      {"replace keeps CRLF", "[S]\r\nk=1\r\n", "s", "K", "2", "[S]\r\nk=2\r\n"},
      {"add after last entry", "[S]\na=1\n\n; next\n[T]\n", "S", "b", "2",
       "[S]\na=1\nb=2\n\n; next\n[T]\n"},
      {"add to empty section", "[S]\n[T]\n", "S", "b", "2", "[S]\nb=2\n[T]\n"},
      {"new section after blank line", "[S]\na=1", "T", "b", "2", "[S]\na=1\n\n[T]\nb=2\n"},
      {"new section uses CRLF", "[S]\r\na=1\r\n", "T", "b", "2",
       "[S]\r\na=1\r\n\r\n[T]\r\nb=2\r\n"},
      {"delete key and its duplicates", "[S]\na=1\nb=2\na=3\n", "s", "A", std::nullopt,
       "[S]\nb=2\n"},
      {"delete section keeps comment above next", "x\n[S]\na=1\n; about T\n[T]\nb=2\n[s]\nc=3\n",
       "S", std::nullopt, std::nullopt, "x\n[T]\nb=2\n"},
      {"delete missing key", "[S]\na=1\n", "S", "zz", std::nullopt, "[S]\na=1\n"},
      {"delete from missing file", nullptr, "S", "a", std::nullopt, nullptr},
      {"delete section of missing file", nullptr, "S", std::nullopt, std::nullopt, nullptr},
      {"empty value is kept", "[S]\na=1\n", "S", "a", "", "[S]\na=\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ::unlink(file_.c_str());
    if (c.before) Put(c.before);
    EXPECT_TRUE(WritePrivateProfileString(c.section, c.key, c.value, file_));
    if (c.after) {
      EXPECT_EQ(Contents(), c.after);
    } else {
      EXPECT_FALSE(fs::exists(file_));
    }
  }
}

TEST_F(ProfileTest, RefusesWhatCannotBeReadBack) {
  using std::nullopt;
  struct Case {
    std::string_view section;
    std::optional<std::string_view> key;
    std::optional<std::string_view> value;
  } cases[] = {
      {"", "k", "v"},
      {"  ", "k", "v"},
      {"a]b", "k", "v"},
      {"a\nb", "k", "v"},
      {"S", "", "v"},
      {"S", "a=b", "v"},
      {"S", "[k", "v"},
      {"S", ";k", "v"},
      {"S", "#k", "v"},
      {"S", "k\r", "v"},
      {"S", "k", "line\nbreak"},
      {"S", "k", std::string_view("a\0b", 3)},
      {"S\n[T]", nullopt, nullopt},
  };
  Put("[S]\nk=1\n");
  for (const Case& c : cases) {
    EXPECT_FALSE(WritePrivateProfileString(c.section, c.key, c.value, file_)) << c.section;
  }
  EXPECT_FALSE(WritePrivateProfileString("S", "k", "v", ""));
  EXPECT_EQ(Contents(), "[S]\nk=1\n");
}

TEST_F(ProfileTest, IntegersParseLikeTheSystem) {
  Put("[N]\na=42\nb=-7\nc= 12ab\nd=abc\ne=\nf=0x1F\ng=99999999999\nh=-99999999999\ni=+3\n");
  struct Case {
    const char* key;
    int expected;
  } cases[] = {{"a", 42}, {"b", -7},      {"c", 12},      {"d", 0}, {"e", 5},
               {"f", 31}, {"g", INT_MAX}, {"h", INT_MIN}, {"i", 3}, {"missing", 5}};
  for (const Case& c : cases) {
    EXPECT_EQ(GetPrivateProfileInt("N", c.key, 5, file_), c.expected) << c.key;
  }
}

TEST_F(ProfileTest, BareNamesAndTheUserProfileLiveInTheConfigFolder) {
  const std::string config = dir_ + "/config";
  EXPECT_EQ(ConfigDirectory(), config);
  EXPECT_EQ(ProfilePath("qzrfunctions.INI"), config + "/qzrfunctions.INI");
  EXPECT_EQ(ProfilePath("./here.ini"), "./here.ini");

  ASSERT_TRUE(WritePrivateProfileString("Sort", "Main", "+FUN:NAME", "qzrfunctions.INI"));
  EXPECT_TRUE(fs::exists(config + "/qzrfunctions.INI"));
  EXPECT_EQ(GetPrivateProfileString("sort", "main", "", "qzrfunctions.INI"), "+FUN:NAME");
  EXPECT_EQ(fs::status(config).permissions() & fs::perms::all, fs::perms::owner_all);

  ASSERT_TRUE(WriteProfileString("intl", "sTime", "."));
  ASSERT_TRUE(WriteProfileString("intl", "iTime", "1"));
  EXPECT_EQ(GetProfileString("INTL", "stime", ":"), ".");
  EXPECT_EQ(GetProfileInt("intl", "iTime", 0), 1);
  EXPECT_EQ(GetProfileInt("intl", "iTLZero", 1), 1);
  std::string text;
  ASSERT_TRUE(ReadWholeFile(config + "/profile.ini", &text).ok());
  EXPECT_EQ(text, "[intl]\nsTime=.\niTime=1\n");
  ASSERT_TRUE(WriteProfileString("intl", std::nullopt, std::nullopt));
  EXPECT_EQ(GetProfileString("intl", "sTime", ":"), ":");
}

TEST_F(ProfileTest, ConfigFolderFollowsTheEnvironment) {
  ::unsetenv("QZR_CONFIG_DIR");
  const char* old_xdg = std::getenv("XDG_CONFIG_HOME");
  std::string saved = old_xdg ? old_xdg : "";
  ::setenv("XDG_CONFIG_HOME", "/x/cfg", 1);
  EXPECT_EQ(ConfigDirectory(), "/x/cfg/qzrfunctions");
  ::setenv("XDG_CONFIG_HOME", "relative", 1);  // ignored
  if (const char* home = std::getenv("HOME"); home && *home) {
    EXPECT_EQ(ConfigDirectory(), std::string(home) + "/.config/qzrfunctions");
  }
  if (old_xdg) {
    ::setenv("XDG_CONFIG_HOME", saved.c_str(), 1);
  } else {
    ::unsetenv("XDG_CONFIG_HOME");
  }
}

// Given a settings file, when any step of the atomic rewrite fails, then the
// write reports failure, the old contents stay and no temporary is left.
TEST_F(ProfileTest, FailedWriteLeavesTheOldFile) {
  // The rewrite reads the file (open 1), then opens its temporary (open 2),
  // writes, syncs and renames it.
  struct Step {
    OsCall call;
    int n;
  } steps[] = {{OsCall::kOpen, 2}, {OsCall::kWrite, 1}, {OsCall::kSync, 1}, {OsCall::kRename, 1}};
  for (const Step& step : steps) {
    SCOPED_TRACE(static_cast<int>(step.call));
    Put("[S]\nk=old\n");
    FaultPlan plan;
    plan.FailAt(step.call, step.n, ENOSPC);
    SetProcessFaultPlan(&plan);
    EXPECT_FALSE(WritePrivateProfileString("S", "k", "new", file_));
    SetProcessFaultPlan(nullptr);
    EXPECT_EQ(plan.count(step.call), step.n);
    EXPECT_EQ(Contents(), "[S]\nk=old\n");
    int entries = 0;
    for (const auto& e : fs::directory_iterator(dir_)) entries += e.is_regular_file();
    EXPECT_EQ(entries, 1);
  }
}

TEST_F(ProfileTest, WriteThroughSymlinkKeepsTheLinkAndMode) {
  const std::string real = dir_ + "/real.ini";
  ASSERT_TRUE(WriteFileAtomically(real, "[S]\nk=1\n").ok());
  ASSERT_EQ(::chmod(real.c_str(), 0600), 0);
  ASSERT_EQ(::symlink(real.c_str(), file_.c_str()), 0);
  ASSERT_TRUE(WritePrivateProfileString("S", "k", "2", file_));
  EXPECT_TRUE(fs::is_symlink(file_));
  EXPECT_EQ(GetPrivateProfileString("S", "k", "", real), "2");
  struct stat st;
  ASSERT_EQ(::stat(real.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
}

TEST_F(ProfileTest, UnreadableFileIsNotOverwritten) {
  // A folder where the file should be: it cannot be read, so it is not
  // replaced, and reads give the default.
  ASSERT_TRUE(fs::create_directory(file_));
  EXPECT_FALSE(WritePrivateProfileString("S", "k", "v", file_));
  EXPECT_EQ(GetPrivateProfileString("S", "k", "d", file_), "d");
  EXPECT_TRUE(fs::is_directory(file_));
  EXPECT_FALSE(WritePrivateProfileString("S", "k", "v", dir_ + "/no/such/folder.ini"));
}

TEST_F(ProfileTest, ConcurrentWritersLoseNoUpdate) {
  constexpr int kThreads = 4;
  constexpr int kWrites = 25;
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([this, t] {
      for (int i = 0; i < kWrites; ++i) {
        std::string key = "t" + std::to_string(t) + "_" + std::to_string(i);
        EXPECT_TRUE(WritePrivateProfileString("S", key, std::to_string(i), file_));
      }
    });
  }
  for (auto& t : threads) t.join();
  for (int t = 0; t < kThreads; ++t) {
    for (int i = 0; i < kWrites; ++i) {
      std::string key = "t" + std::to_string(t) + "_" + std::to_string(i);
      EXPECT_EQ(GetPrivateProfileInt("S", key, -1, file_), i) << key;
    }
  }
}

// Real child processes: the folder lock keeps their read-modify-write cycles
// apart, so every key each of them wrote is there at the end.
TEST_F(ProfileTest, WritersInSeveralProcessesLoseNoUpdate) {
  constexpr int kChildren = 3;
  constexpr int kWrites = 20;
  std::vector<pid_t> children;
  for (int c = 0; c < kChildren; ++c) {
    pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      bool ok = true;
      for (int i = 0; i < kWrites; ++i) {
        ok &= WritePrivateProfileString("P", "c" + std::to_string(c) + "_" + std::to_string(i), "1",
                                        file_);
      }
      ::_exit(ok ? 0 : 1);
    }
    children.push_back(pid);
  }
  for (pid_t pid : children) {
    int status = 0;
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  }
  for (int c = 0; c < kChildren; ++c) {
    for (int i = 0; i < kWrites; ++i) {
      EXPECT_EQ(
          GetPrivateProfileInt("P", "c" + std::to_string(c) + "_" + std::to_string(i), 0, file_),
          1);
    }
  }
}

}  // namespace
}  // namespace qzr
