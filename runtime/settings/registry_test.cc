#include "runtime/settings/registry.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "runtime/os/atomic_file.h"

namespace qzr {
namespace {

namespace fs = std::filesystem;

class RegistryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/qzr_registry_XXXXXX";
    ASSERT_NE(::mkdtemp(tmpl), nullptr);
    dir_ = tmpl;
    ::setenv("QZR_CONFIG_DIR", (dir_ + "/cfg").c_str(), 1);
    file_ = dir_ + "/cfg/registry.txt";
  }
  void TearDown() override {
    EXPECT_EQ(OpenRegistryHandleCount(), 0u) << "a test left a handle open";
    SetProcessFaultPlan(nullptr);
    ::unsetenv("QZR_CONFIG_DIR");
    fs::remove_all(dir_);
  }
  std::string FileText() {
    std::string s;
    ReadWholeFile(file_, &s).IgnoreError();  // a missing file reads as ""
    return s;
  }
  // Replaces the file as another process would; the next call re-reads it.
  void PutFile(const std::string& text) {
    ASSERT_TRUE(MakeDirectories(dir_ + "/cfg").ok());
    ASSERT_TRUE(WriteFileAtomically(file_, text).ok());
  }

  std::string dir_;
  std::string file_;
};

TEST_F(RegistryTest, CreateSetQueryAndPersist) {
  HKEY key = 0;
  std::uint32_t disposition = 0;
  ASSERT_EQ(RegCreateKeyEx(HKEY_CURRENT_USER, "Software\\QZR\\Main", 0, 0, KEY_ALL_ACCESS, &key,
                           &disposition),
            ERROR_SUCCESS);
  EXPECT_EQ(disposition, REG_CREATED_NEW_KEY);
  EXPECT_NE(key, 0u);
  EXPECT_FALSE(IsRegistryRoot(key));

  const char kText[] = "+FUN:NAME,-FUN:ID";
  ASSERT_EQ(RegSetValueEx(key, "SortHeader_3", 0, REG_SZ, kText, sizeof kText), ERROR_SUCCESS);
  const unsigned char kCount[4] = {0x2a, 0, 0, 0};
  ASSERT_EQ(RegSetValueEx(key, "Count", 0, REG_DWORD, kCount, 4), ERROR_SUCCESS);
  const char kDefault[] = "main list";
  ASSERT_EQ(RegSetValueEx(key, "", 0, REG_SZ, kDefault, sizeof kDefault), ERROR_SUCCESS);
  const char kRaw[] = {1, 0, '%'};
  ASSERT_EQ(RegSetValueEx(key, "Raw", 0, REG_BINARY, kRaw, 3), ERROR_SUCCESS);
  ASSERT_EQ(RegCloseKey(key), ERROR_SUCCESS);

  EXPECT_EQ(FileText(),
            "QZR-REGISTRY 1\n"
            "[HKEY_CURRENT_USER\\Software]\n"
            "[HKEY_CURRENT_USER\\Software\\QZR]\n"
            "[HKEY_CURRENT_USER\\Software\\QZR\\Main]\n"
            "@=sz:main list\n"
            "\"Count\"=dword:0000002a\n"
            "\"Raw\"=hex(3):010025\n"
            "\"SortHeader_3\"=sz:+FUN:NAME,-FUN:ID\n");

  // Given the file re-read from disk, the values come back with their types,
  // by names in any case.
  PutFile(FileText());
  ASSERT_EQ(RegOpenKeyEx(HKEY_CURRENT_USER, "software\\qzr\\MAIN\\", 0, KEY_READ, &key),
            ERROR_SUCCESS);
  std::uint32_t type = 0;
  std::uint32_t size = 0;
  ASSERT_EQ(RegQueryValueEx(key, "sortheader_3", nullptr, &type, nullptr, &size), ERROR_SUCCESS);
  EXPECT_EQ(type, REG_SZ);
  EXPECT_EQ(size, sizeof kText);
  char buffer[64];
  size = 4;
  EXPECT_EQ(RegQueryValueEx(key, "SortHeader_3", nullptr, &type, buffer, &size), ERROR_MORE_DATA);
  EXPECT_EQ(size, sizeof kText);
  size = sizeof buffer;
  ASSERT_EQ(RegQueryValueEx(key, "SortHeader_3", nullptr, &type, buffer, &size), ERROR_SUCCESS);
  EXPECT_STREQ(buffer, kText);
  size = sizeof buffer;
  ASSERT_EQ(RegQueryValueEx(key, "Raw", nullptr, &type, buffer, &size), ERROR_SUCCESS);
  EXPECT_EQ(type, REG_BINARY);
  EXPECT_EQ(std::string(buffer, size), std::string(kRaw, 3));
  EXPECT_EQ(RegCloseKey(key), ERROR_SUCCESS);

  EXPECT_EQ(RegGetDword(HKEY_CURRENT_USER, "Software\\QZR\\Main", "count"), 42u);
  EXPECT_EQ(RegGetString(HKEY_CURRENT_USER, "Software\\QZR\\Main", ""), "main list");
  EXPECT_EQ(RegGetString(HKEY_CURRENT_USER, "Software\\QZR\\Main", "Count"), std::nullopt);
  EXPECT_EQ(RegGetString(HKEY_LOCAL_MACHINE, "Software\\QZR\\Main", ""), std::nullopt);

  ASSERT_EQ(
      RegCreateKeyEx(HKEY_CURRENT_USER, "SOFTWARE\\qzr", 0, 0, KEY_ALL_ACCESS, &key, &disposition),
      ERROR_SUCCESS);
  EXPECT_EQ(disposition, REG_OPENED_EXISTING_KEY);
  RegCloseKey(key);
}

TEST_F(RegistryTest, ErrorCodesFollowTheSystemConventions) {
  HKEY key = 0;
  ASSERT_EQ(RegPutString(HKEY_CURRENT_USER, "A\\B", "v", "x"), ERROR_SUCCESS);
  char buffer[4];
  const std::string kLongName(256, 'k');
  struct Case {
    const char* what;
    long got;
    long expected;
  } cases[] = {
      {"open missing", RegOpenKeyEx(HKEY_CURRENT_USER, "Nope", 0, KEY_READ, &key),
       ERROR_FILE_NOT_FOUND},
      {"open through unknown handle", RegOpenKeyEx(0x1234567, "A", 0, KEY_READ, &key),
       ERROR_INVALID_HANDLE},
      {"open empty element", RegOpenKeyEx(HKEY_CURRENT_USER, "A\\\\B", 0, KEY_READ, &key),
       ERROR_BAD_PATHNAME},
      {"create leading separator",
       RegCreateKeyEx(HKEY_CURRENT_USER, "\\X", 0, 0, KEY_WRITE, &key, nullptr),
       ERROR_BAD_PATHNAME},
      {"create long name",
       RegCreateKeyEx(HKEY_CURRENT_USER, kLongName, 0, 0, KEY_WRITE, &key, nullptr),
       ERROR_INVALID_PARAMETER},
      {"open without result", RegOpenKeyEx(HKEY_CURRENT_USER, "A", 0, KEY_READ, nullptr),
       ERROR_INVALID_PARAMETER},
      {"query missing value",
       RegQueryValueEx(HKEY_CURRENT_USER, "v", nullptr, nullptr, nullptr, nullptr),
       ERROR_FILE_NOT_FOUND},
      {"query data without size",
       RegQueryValueEx(HKEY_CURRENT_USER, "v", nullptr, nullptr, buffer, nullptr),
       ERROR_INVALID_PARAMETER},
      {"set data null with size", RegSetValueEx(HKEY_CURRENT_USER, "v", 0, REG_SZ, nullptr, 3),
       ERROR_INVALID_PARAMETER},
      {"delete missing value", RegDeleteValue(HKEY_CURRENT_USER, "v"), ERROR_FILE_NOT_FOUND},
      {"delete missing key", SHDeleteKey(HKEY_CURRENT_USER, "A\\Nope"), ERROR_FILE_NOT_FOUND},
      {"delete a root", SHDeleteKey(HKEY_CURRENT_USER, ""), ERROR_ACCESS_DENIED},
      {"close a root", RegCloseKey(HKEY_LOCAL_MACHINE), ERROR_SUCCESS},
      {"close unknown", RegCloseKey(0x1234567), ERROR_INVALID_HANDLE},
  };
  for (const Case& c : cases) EXPECT_EQ(c.got, c.expected) << c.what;
  EXPECT_EQ(key, 0u);  // failed opens leave no handle behind
  EXPECT_EQ(OpenRegistryHandleCount(), 0u);
  // Nothing was created by the failed creates.
  ASSERT_EQ(RegOpenKeyEx(HKEY_CURRENT_USER, "", 0, KEY_READ, &key), ERROR_SUCCESS);
  HKEY probe = 0;
  EXPECT_EQ(RegOpenKeyEx(key, "X", 0, KEY_READ, &probe), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(RegCloseKey(key), ERROR_SUCCESS);
  EXPECT_EQ(RegCloseKey(key), ERROR_INVALID_HANDLE);
}

TEST_F(RegistryTest, DeleteValueAndKeyTree) {
  ASSERT_EQ(RegPutString(HKEY_CURRENT_USER, "App\\Sort\\Deep", "a", "1"), ERROR_SUCCESS);
  ASSERT_EQ(RegPutDword(HKEY_CURRENT_USER, "App\\Sort", "b", 2), ERROR_SUCCESS);
  ASSERT_EQ(RegPutDword(HKEY_CURRENT_USER, "App", "keep", 3), ERROR_SUCCESS);
  HKEY sort = 0;
  HKEY deep = 0;
  ASSERT_EQ(RegOpenKeyEx(HKEY_CURRENT_USER, "App\\Sort", 0, KEY_ALL_ACCESS, &sort), 0);
  ASSERT_EQ(RegOpenKeyEx(sort, "DEEP", 0, KEY_ALL_ACCESS, &deep), 0);

  EXPECT_EQ(RegDeleteValue(sort, "B"), ERROR_SUCCESS);
  EXPECT_EQ(RegGetDword(HKEY_CURRENT_USER, "App\\Sort", "b"), std::nullopt);

  // When the tree is deleted, handles into it answer ERROR_KEY_DELETED.
  EXPECT_EQ(SHDeleteKey(HKEY_CURRENT_USER, "app\\sort"), ERROR_SUCCESS);
  std::uint32_t size = 0;
  EXPECT_EQ(RegQueryValueEx(deep, "a", nullptr, nullptr, nullptr, &size), ERROR_KEY_DELETED);
  EXPECT_EQ(RegSetValueEx(sort, "x", 0, REG_NONE, nullptr, 0), ERROR_KEY_DELETED);
  EXPECT_EQ(RegGetDword(HKEY_CURRENT_USER, "App", "keep"), 3u);
  EXPECT_EQ(RegCloseKey(deep), ERROR_SUCCESS);
  EXPECT_EQ(RegCloseKey(sort), ERROR_SUCCESS);

  // An opened key can delete itself with an empty sub-key.
  HKEY app = 0;
  ASSERT_EQ(RegOpenKeyEx(HKEY_CURRENT_USER, "App", 0, KEY_ALL_ACCESS, &app), 0);
  EXPECT_EQ(SHDeleteKey(app, ""), ERROR_SUCCESS);
  EXPECT_EQ(RegCloseKey(app), ERROR_SUCCESS);
  EXPECT_EQ(FileText(), "QZR-REGISTRY 1\n");
}

TEST_F(RegistryTest, EveryCallIsCounted) {
  const uint64_t before = RegistryCallCount();
  HKEY key = 0;
  ASSERT_EQ(RegCreateKeyEx(HKEY_CURRENT_USER, "Counted", 0, 0, KEY_ALL_ACCESS, &key, nullptr), 0);
  ASSERT_EQ(RegSetValueEx(key, "v", 0, REG_DWORD, "\1\0\0\0", 4), ERROR_SUCCESS);
  std::uint32_t size = 0;
  EXPECT_EQ(RegQueryValueEx(key, "v", nullptr, nullptr, nullptr, &size), ERROR_SUCCESS);
  EXPECT_EQ(RegDeleteValue(key, "v"), ERROR_SUCCESS);
  EXPECT_EQ(RegCloseKey(key), ERROR_SUCCESS);
  EXPECT_EQ(RegistryCallCount() - before, 5u);
  // A convenience opens, queries and closes.
  EXPECT_EQ(RegGetString(HKEY_CURRENT_USER, "Counted", "none"), std::nullopt);
  EXPECT_GE(RegistryCallCount() - before, 7u);
}

// The lookups the link handler makes: default values under the classes root.
TEST_F(RegistryTest, DefaultValuesThroughRegQueryValue) {
  ASSERT_EQ(RegPutString(HKEY_CLASSES_ROOT, ".htm", "", "htmlfile"), 0);
  ASSERT_EQ(RegPutString(HKEY_CLASSES_ROOT, "htmlfile\\shell\\open\\command", "",
                         "\"/usr/bin/browser\" %1"),
            0);
  ASSERT_EQ(RegPutDword(HKEY_CLASSES_ROOT, "numeric", "", 7), 0);
  HKEY empty = 0;
  ASSERT_EQ(RegCreateKeyEx(HKEY_CLASSES_ROOT, "mailto\\shell\\open\\command", 0, 0, KEY_WRITE,
                           &empty, nullptr),
            0);
  RegCloseKey(empty);

  char buffer[200];
  std::int32_t size = sizeof buffer;
  ASSERT_EQ(RegQueryValue(HKEY_CLASSES_ROOT, ".htm", buffer, &size), ERROR_SUCCESS);
  EXPECT_STREQ(buffer, "htmlfile");
  EXPECT_EQ(size, 9);
  size = sizeof buffer;
  ASSERT_EQ(RegQueryValue(HKEY_CLASSES_ROOT, "HTMLFILE\\shell\\open\\command", buffer, &size), 0);
  EXPECT_STREQ(buffer, "\"/usr/bin/browser\" %1");
  size = sizeof buffer;
  ASSERT_EQ(RegQueryValue(HKEY_CLASSES_ROOT, "mailto\\shell\\open\\command", buffer, &size), 0);
  EXPECT_STREQ(buffer, "");
  size = 3;
  EXPECT_EQ(RegQueryValue(HKEY_CLASSES_ROOT, ".htm", buffer, &size), ERROR_MORE_DATA);
  EXPECT_EQ(size, 9);
  size = sizeof buffer;
  EXPECT_EQ(RegQueryValue(HKEY_CLASSES_ROOT, ".pdf", buffer, &size), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(RegQueryValue(HKEY_CLASSES_ROOT, "numeric", buffer, &size), ERROR_INVALID_DATA);
  EXPECT_EQ(RegQueryValue(HKEY_CLASSES_ROOT, ".htm", nullptr, &size), ERROR_SUCCESS);
  EXPECT_EQ(size, 9);
}

TEST_F(RegistryTest, AwkwardNamesAndDataSurviveTheFile) {
  const std::string kKey = "a]b=c\"d%e\x01 f";
  const std::string kName = "x\\y\"=]%\n";
  const std::string kData = std::string("line1\nline2\t%20]\"=") + '\0';
  HKEY key = 0;
  ASSERT_EQ(RegCreateKeyEx(HKEY_USERS, kKey, 0, 0, KEY_WRITE, &key, nullptr), 0);
  ASSERT_EQ(
      RegSetValueEx(key, kName, 0, REG_SZ, kData.data(), static_cast<std::uint32_t>(kData.size())),
      0);
  const std::string kEmbedded("a\0b", 3);  // REG_SZ with an inner NUL and no final one
  ASSERT_EQ(RegSetValueEx(key, "odd", 0, REG_SZ, kEmbedded.data(), 3), 0);
  ASSERT_EQ(RegSetValueEx(key, "none", 0, REG_NONE, nullptr, 0), 0);
  ASSERT_EQ(RegSetValueEx(key, "big", 0, 0xFFFFFFFFu, "z", 1), 0);
  RegCloseKey(key);
  PutFile(FileText());  // forces a re-read from the text

  ASSERT_EQ(RegOpenKeyEx(HKEY_USERS, kKey, 0, KEY_READ, &key), 0);
  struct Case {
    std::string name;
    std::uint32_t type;
    std::string data;
  } cases[] = {{kName, REG_SZ, kData},
               {"odd", REG_SZ, kEmbedded},
               {"none", REG_NONE, ""},
               {"big", 0xFFFFFFFFu, "z"}};
  for (const Case& c : cases) {
    char buffer[64];
    std::uint32_t size = sizeof buffer;
    std::uint32_t type = 0;
    ASSERT_EQ(RegQueryValueEx(key, c.name, nullptr, &type, buffer, &size), 0) << c.name;
    EXPECT_EQ(type, c.type);
    EXPECT_EQ(std::string(buffer, size), c.data);
  }
  RegCloseKey(key);
}

TEST_F(RegistryTest, ChangesByAnotherProcessAreSeen) {
  ASSERT_EQ(RegPutString(HKEY_CURRENT_USER, "S", "v", "mine"), 0);
  std::string text = FileText();
  text.replace(text.find("mine"), 4, "theirs");
  PutFile(text);
  EXPECT_EQ(RegGetString(HKEY_CURRENT_USER, "S", "v"), "theirs");
  // A change made now keeps their value too.
  ASSERT_EQ(RegPutString(HKEY_CURRENT_USER, "S", "w", "new"), 0);
  EXPECT_NE(FileText().find("theirs"), std::string::npos);
  // A rewrite of the same size straight after is seen too.
  text = FileText();
  text.replace(text.find("theirs"), 6, "THEIRS");
  PutFile(text);
  EXPECT_EQ(RegGetString(HKEY_CURRENT_USER, "S", "v"), "THEIRS");
  ::unlink(file_.c_str());
  EXPECT_EQ(RegGetString(HKEY_CURRENT_USER, "S", "v"), std::nullopt);
}

// Real child processes change the registry at once; the folder lock and the
// re-read before each change keep every one of their values.
TEST_F(RegistryTest, ProcessesDoNotLoseEachOthersChanges) {
  constexpr int kChildren = 3;
  constexpr int kValues = 10;
  std::vector<pid_t> children;
  for (int c = 0; c < kChildren; ++c) {
    pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      bool ok = true;
      for (int i = 0; i < kValues; ++i) {
        ok &= RegPutDword(HKEY_CURRENT_USER, "Shared",
                          "c" + std::to_string(c) + "_" + std::to_string(i), 1) == ERROR_SUCCESS;
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
    for (int i = 0; i < kValues; ++i) {
      EXPECT_EQ(RegGetDword(HKEY_CURRENT_USER, "Shared",
                            "c" + std::to_string(c) + "_" + std::to_string(i)),
                1u);
    }
  }
}

TEST_F(RegistryTest, DamagedFileIsKeptBeforeTheFirstRewrite) {
  const std::string kDamaged =
      "QZR-REGISTRY 1\n"
      "\"orphan\"=sz:before any key\n"
      "[HKEY_CURRENT_USER\\Good]\n"
      "\"v\"=sz:ok\n"
      "\"w\"=dword:12\n"
      "\"x\"=sz:bad%zz escape\n"
      "[HKEY_NOWHERE\\Lost]\n"
      "[HKEY_CURRENT_USER\\Good\\\\Empty]\n"
      "garbage\n";
  PutFile(kDamaged);
  EXPECT_EQ(RegGetString(HKEY_CURRENT_USER, "Good", "v"), "ok");
  EXPECT_FALSE(fs::exists(file_ + ".bad"));  // reading changes nothing
  ASSERT_EQ(RegPutString(HKEY_CURRENT_USER, "Good", "y", "new"), 0);
  std::string kept;
  ASSERT_TRUE(ReadWholeFile(file_ + ".bad", &kept).ok());
  EXPECT_EQ(kept, kDamaged);
  EXPECT_EQ(FileText(),
            "QZR-REGISTRY 1\n"
            "[HKEY_CURRENT_USER\\Good]\n"
            "\"v\"=sz:ok\n"
            "\"y\"=sz:new\n");
}

TEST_F(RegistryTest, FailedWriteChangesNothing) {
  ASSERT_EQ(RegPutString(HKEY_CURRENT_USER, "S", "v", "old"), 0);
  FaultPlan disk_full;
  disk_full.FailFrom(OsCall::kWrite, 1, ENOSPC);
  SetProcessFaultPlan(&disk_full);
  EXPECT_EQ(RegPutString(HKEY_CURRENT_USER, "S", "v", "new"), ERROR_DISK_FULL);
  EXPECT_EQ(SHDeleteKey(HKEY_CURRENT_USER, "S"), ERROR_DISK_FULL);
  FaultPlan rename_fails;
  rename_fails.FailFrom(OsCall::kRename, 1, EIO);
  SetProcessFaultPlan(&rename_fails);
  EXPECT_EQ(RegPutString(HKEY_CURRENT_USER, "T", "v", "new"), ERROR_WRITE_FAULT);
  SetProcessFaultPlan(nullptr);
  EXPECT_EQ(RegGetString(HKEY_CURRENT_USER, "S", "v"), "old");
  HKEY t = 0;
  EXPECT_EQ(RegOpenKeyEx(HKEY_CURRENT_USER, "T", 0, KEY_READ, &t), ERROR_FILE_NOT_FOUND);
}

TEST_F(RegistryTest, ThreadsShareOneTree) {
  constexpr int kThreads = 4;
  constexpr int kValues = 15;
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([t] {
      std::string sub = "Threads\\T" + std::to_string(t);
      for (int i = 0; i < kValues; ++i) {
        EXPECT_EQ(RegPutDword(HKEY_CURRENT_USER, sub, "v" + std::to_string(i),
                              static_cast<std::uint32_t>(i)),
                  ERROR_SUCCESS);
      }
    });
  }
  for (auto& th : threads) th.join();
  PutFile(FileText());
  for (int t = 0; t < kThreads; ++t) {
    for (int i = 0; i < kValues; ++i) {
      EXPECT_EQ(
          RegGetDword(HKEY_CURRENT_USER, "Threads\\T" + std::to_string(t), "v" + std::to_string(i)),
          static_cast<std::uint32_t>(i));
    }
  }
}

}  // namespace
}  // namespace qzr
