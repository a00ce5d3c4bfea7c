// Tests of the qzrfunctions commands as a user meets them: each test works
// in a fresh directory, runs commands (in this process with captured
// streams, or the built program itself where another process or a damaged
// file is the point) and checks what they print, their exit codes and what
// the catalogue holds afterwards.

#include "app/commands.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>
#include <nlohmann/json.hpp>
#include <set>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "drivers/palisade/check.h"
#include "drivers/palisade/file_io.h"
#include "drivers/palisade/format.h"
#include "drivers/palisade/plx_file.h"
#include "ui/headless_backend.h"
#include "ui/message.h"

namespace qzr {
namespace {

struct Result {
  int code = -1;
  std::string out;
  std::string err;
  bool signaled = false;
};

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream all;
  all << in.rdbuf();
  return all.str();
}

void WriteFile(const std::string& path, const std::string& text) {
  std::ofstream(path, std::ios::binary) << text;
}

class CommandsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/qzr_commands_XXXXXX";
    dir_ = mkdtemp(tmpl);
    // Open to the unprivileged user of the read-only tests.
    chmod(dir_.c_str(), 0777);
    old_ = std::filesystem::current_path();
    std::filesystem::current_path(dir_);
  }
  void TearDown() override {
    std::filesystem::current_path(old_);
    std::filesystem::remove_all(dir_);
  }

  // The command in this process.
  Result Run(const std::vector<std::string>& args, const std::string& input = "",
             WindowBackend* backend = nullptr) {
    StringTextIn in(input);
    StringTextOut out, err;
    CommandIo io;
    io.in = &in;
    io.out = &out;
    io.err = &err;
    io.backend = backend;
    Result r;
    r.code = RunCommandLine(args, io);
    r.out = out.str();
    r.err = err.str();
    return r;
  }

  // The built program, in the current directory, standard input from
  // /dev/null. With `other_user`, a superuser's run becomes the unprivileged
  // user's, so that file permissions apply to it.
  // `program` another copy of the program; `env` variables set for it.
  static Result Exe(const std::vector<std::string>& args, const std::string& tag = "exe",
                    bool other_user = false, const char* program = QZR_FUNCTIONS_EXE,
                    const std::vector<std::pair<std::string, std::string>>& env = {}) {
    std::string out_path = tag + ".out", err_path = tag + ".err";
    pid_t pid = fork();
    if (pid == 0) {
      for (const auto& [name, value] : env) setenv(name.c_str(), value.c_str(), 1);
      int in = open("/dev/null", O_RDONLY);
      int out = open(out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
      int err = open(err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
      dup2(in, 0);
      dup2(out, 1);
      dup2(err, 2);
      if (other_user && geteuid() == 0 && (setgid(kNobody) != 0 || setuid(kNobody) != 0)) {
        _exit(126);
      }
      std::vector<char*> argv;
      argv.push_back(const_cast<char*>(program));
      for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
      argv.push_back(nullptr);
      execv(program, argv.data());
      _exit(127);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    Result r;
    r.signaled = WIFSIGNALED(status);
    r.code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    r.out = ReadFile(out_path);
    r.err = ReadFile(err_path);
    std::filesystem::remove(out_path);
    std::filesystem::remove(err_path);
    return r;
  }

  std::vector<nlohmann::json> ListJson() {
    Result r = Run({"list", "--json"});
    EXPECT_EQ(r.code, 0) << r.err;
    std::vector<nlohmann::json> rows;
    std::istringstream lines(r.out);
    for (std::string line; std::getline(lines, line);) rows.push_back(nlohmann::json::parse(line));
    return rows;
  }

  int Add(const std::string& title, const std::vector<std::string>& more = {}) {
    std::vector<std::string> args = {"add", "--title", title};
    args.insert(args.end(), more.begin(), more.end());
    Result r = Run(args);
    EXPECT_EQ(r.code, 0) << r.err;
    return std::atoi(r.out.c_str());
  }

  // Leaves the catalogue with an add that stopped in its commit window:
  // its shadow pages and the mark are on disk, the update is not applied.
  void AddStoppedBeforeApply(const std::string& title) {
    FaultPlan plan;
    plan.stop_at = "before-apply";
    SetProcessFaultPlan(&plan);
    Run({"add", "--title", title});
    SetProcessFaultPlan(nullptr);
    ASSERT_TRUE(plan.stopped);
    ASSERT_NE(palisade::CheckFile("FUNC.PLX").problems, std::vector<std::string>());
  }

  static constexpr uid_t kNobody = 65534;

  std::string dir_;
  std::filesystem::path old_;
};

TEST_F(CommandsTest, FirstRunInAnEmptyDirectoryCreatesTheFileAndListsNothing) {
  Result r = Run({"list"});
  EXPECT_EQ(r.code, 0) << r.err;
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err, "");
  EXPECT_TRUE(std::filesystem::exists("FUNC.PLX"));
  EXPECT_EQ(Run({"list", "--json"}).out, "");
  EXPECT_EQ(Run({"export"}).out, "[]\n");
}

TEST_F(CommandsTest, AddedEntriesGetDistinctIncreasingNumbers) {
  int a = Add("first"), b = Add("second"), c = Add("third");
  EXPECT_EQ(a, 1);
  EXPECT_LT(a, b);
  EXPECT_LT(b, c);
  ASSERT_EQ(Run({"delete", std::to_string(b), "--yes"}).code, 0);
  int d = Add("fourth");
  EXPECT_GT(d, c);
  std::vector<nlohmann::json> rows = ListJson();
  ASSERT_EQ(rows.size(), 3u);
  EXPECT_EQ(rows[0]["id"], a);
  EXPECT_EQ(rows[1]["id"], c);
  EXPECT_EQ(rows[2]["id"], d);
  EXPECT_EQ(rows[2]["title"], "fourth");
}

TEST_F(CommandsTest, TheTableFitsTitlesToTheirColumnCuttingWithATilde) {
  // The title column is 50 columns wide: a title that fits is padded, a
  // longer one keeps 49 columns and a "~"; a character past ASCII takes a
  // column as a letter does, a control character shows escaped.
  const std::string e_acute = "\xC3\xA9";  // two bytes, one column
  std::string wide49;
  for (int i = 0; i < 49; ++i) wide49 += e_acute;
  const std::string wide51 = std::string(48, 'x') + e_acute + e_acute + e_acute;
  struct Case {
    std::string title;
    std::string cell;
  } cases[] = {
      {std::string(49, 'a'), std::string(49, 'a') + " "},
      {std::string(50, 'b'), std::string(50, 'b')},
      {std::string(51, 'c'), std::string(49, 'c') + "~"},
      {wide49, wide49 + " "},
      {wide51, std::string(48, 'x') + e_acute + "~"},
      {"tab\there", "tab\\there" + std::string(41, ' ')},
  };
  for (const Case& c : cases) Add(c.title);
  Result r = Run({"list"});
  ASSERT_EQ(r.code, 0) << r.err;
  std::istringstream lines(r.out);
  std::string line;
  std::getline(lines, line);  // the header
  for (const Case& c : cases) {
    ASSERT_TRUE(std::getline(lines, line));
    EXPECT_EQ(line.substr(11, c.cell.size()), c.cell) << line;
    EXPECT_EQ(line.substr(11 + c.cell.size()), "  ") << line;
  }
}

TEST_F(CommandsTest, ATitleOf99CharactersIsStoredWholeAndALongerOneIsRefusedOrCut) {
  const std::string t99(99, 'x');
  int id = Add(t99);
  Result shown = Run({"show", std::to_string(id), "--json"});
  EXPECT_EQ(nlohmann::json::parse(shown.out)["title"], t99);

  Result refused = Run({"add", "--title", std::string(100, 'y')});
  EXPECT_EQ(refused.code, 1);
  EXPECT_NE(refused.err.find("title is 100 bytes long; the field holds at most 99"),
            std::string::npos)
      << refused.err;
  EXPECT_EQ(ListJson().size(), 1u);

  Result cut = Run({"add", "--title", std::string(120, 'z'), "--truncate"});
  ASSERT_EQ(cut.code, 0) << cut.err;
  EXPECT_EQ(nlohmann::json::parse(Run({"show", "2", "--json"}).out)["title"], std::string(99, 'z'));
}

TEST_F(CommandsTest, AddUpdateAndShowCarryEveryField) {
  WriteFile("code.c", "int add(int a, int b) {\n  return a + b;\n}\n");
  int id = Add("adder", {"--description", "adds two numbers", "--code-file", "code.c", "--complete",
                         "--link", "http://forum/t=1", "--user", "ann"});
  nlohmann::json e = nlohmann::json::parse(Run({"show", std::to_string(id), "--json"}).out);
  EXPECT_EQ(e["description"], "adds two numbers");
  EXPECT_EQ(e["code"], "int add(int a, int b) {\n  return a + b;\n}\n");
  EXPECT_EQ(e["complete"], 1);
  EXPECT_EQ(e["link"], "http://forum/t=1");
  EXPECT_EQ(e["postedBy"], "ann");

  // An update changes what it names and keeps the rest.
  Result u = Run({"update", std::to_string(id), "--not-complete", "--user", "bob"});
  ASSERT_EQ(u.code, 0) << u.err;
  EXPECT_EQ(u.out, "entry 1 changed\n");
  e = nlohmann::json::parse(Run({"show", "1", "--json"}).out);
  EXPECT_EQ(e["complete"], 0);
  EXPECT_EQ(e["postedBy"], "bob");
  EXPECT_EQ(e["title"], "adder");

  Result json = Run({"update", "1", "--json"}, R"({"title":"adder2","code":"x"})");
  ASSERT_EQ(json.code, 0) << json.err;
  e = nlohmann::json::parse(Run({"show", "1", "--json"}).out);
  EXPECT_EQ(e["title"], "adder2");
  EXPECT_EQ(e["code"], "x");
  EXPECT_EQ(e["postedBy"], "bob");
  EXPECT_EQ(Run({"update", "1", "--user", "bob"}).out, "entry 1 unchanged\n");

  Result added = Run({"add", "--json"}, R"({"title":"from json","complete":true})");
  ASSERT_EQ(added.code, 0) << added.err;
  EXPECT_EQ(added.out, "2\n");

  Result table = Run({"show", "1"});
  EXPECT_NE(table.out.find("Title:       adder2"), std::string::npos) << table.out;

  Result missing = Run({"update", "99", "--title", "x"});
  EXPECT_EQ(missing.code, 1);
  EXPECT_EQ(missing.err, "qzrfunctions: no entry 99\n");
}

TEST_F(CommandsTest, FindMatchesTheRecordAndTheCodeByCaseAndMemoSettings) {
  int a = Add("Read XML", {"--description", "reads", "--code-file", "-"});
  (void)a;
  // The code of entry 1 was read from (empty) standard input; set it now.
  ASSERT_EQ(Run({"update", "1", "--json"}, R"({"code":"return parse_json(text);"})").code, 0);
  Add("json writer");
  Add("other", {"--description", "nothing here"});

  auto ids = [&](const std::vector<std::string>& args) {
    Result r = Run(args);
    EXPECT_EQ(r.code, 0) << r.err;
    std::vector<int> out;
    std::istringstream lines(r.out);
    for (std::string line; std::getline(lines, line);) {
      out.push_back(nlohmann::json::parse(line)["id"].get<int>());
    }
    return out;
  };
  EXPECT_EQ(ids({"find", "JSON", "--json"}), (std::vector<int>{1, 2}));
  EXPECT_EQ(ids({"find", "json", "--no-memo", "--json"}), (std::vector<int>{2}));
  EXPECT_EQ(ids({"find", "JSON", "--case-sensitive", "--json"}), (std::vector<int>{}));
  EXPECT_EQ(ids({"find", "parse_json", "--case-sensitive", "--json"}), (std::vector<int>{1}));
  EXPECT_EQ(ids({"find", "HERE", "--json"}), (std::vector<int>{3}));
  EXPECT_EQ(ids({"find", "nowhere at all", "--json"}), (std::vector<int>{}));

  Result table = Run({"find", "writer"});
  EXPECT_NE(table.out.find("json writer"), std::string::npos);
  EXPECT_EQ(table.out.find("Read XML"), std::string::npos);

  // A find that does not look into the code still gives each entry it finds
  // whole, code and all (the code is read once the entry has passed).
  Result whole = Run({"find", "XML", "--no-memo", "--json"});
  ASSERT_EQ(whole.code, 0) << whole.err;
  EXPECT_EQ(nlohmann::json::parse(whole.out)["code"], "return parse_json(text);");
}

TEST_F(CommandsTest, ExportThenImportIntoANewDirectoryGivesTheSameEntries) {
  Add("quotes \"and\", commas",
      {"--description", "line one\nline two", "--complete", "--user", "Zoë"});
  ASSERT_EQ(Run({"update", "1", "--json"}, R"({"code":"a,b\r\n\"c\"\n\ttab"})").code, 0);
  Add("plain");
  std::vector<nlohmann::json> before = ListJson();

  for (const std::string format : {"json", "csv"}) {
    SCOPED_TRACE(format);
    std::string file = dir_ + "/export." + format;
    Result ex = Run({"export", "--format", format, "--output", file});
    ASSERT_EQ(ex.code, 0) << ex.err;
    std::string sub = dir_ + "/into_" + format;
    std::filesystem::create_directory(sub);
    std::filesystem::current_path(sub);
    Result im = Run({"import", file});
    ASSERT_EQ(im.code, 0) << im.err;
    EXPECT_EQ(im.out, "imported 2 entries (1..2)\n");
    EXPECT_EQ(ListJson(), before);
    std::filesystem::current_path(dir_);
  }
  Result md = Run({"export", "--format", "markdown"});
  EXPECT_EQ(md.code, 0);
  EXPECT_NE(md.out.find("## 2. plain"), std::string::npos);
}

TEST_F(CommandsTest, ABadImportChangesNothing) {
  Add("keep me");
  std::vector<nlohmann::json> before = ListJson();
  struct Case {
    std::string text;
    std::string reason;
  };
  const Case cases[] = {
      {R"([{"title":"a"},{"title":"b"},{"title":")" + std::string(150, 'c') + R"("}])",
       "entry 3: the title is 150 bytes long"},
      {"{\"title\":\"a\"}\n{\"title\":\n", "line 2: not valid JSON"},
      {R"([{"title":"a"},{"user":"b"}])", "entry 2: unknown field \"user\""},
      {R"([{"title":"a","link":")" + std::string(300, 'l') + R"("}])",
       "entry 1: the link is 300 bytes long"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.reason);
    WriteFile("bad.json", c.text);
    Result r = Run({"import", "bad.json"});
    EXPECT_EQ(r.code, 1);
    EXPECT_NE(r.err.find(c.reason), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("nothing was imported"), std::string::npos) << r.err;
    EXPECT_EQ(ListJson(), before);
  }
  Result missing = Run({"import", "no-such-file.json"});
  EXPECT_EQ(missing.code, 1);
  EXPECT_EQ(ListJson(), before);

  // Cut instead of refused when asked.
  WriteFile("long.json", cases[0].text);
  Result cut = Run({"import", "long.json", "--truncate"});
  ASSERT_EQ(cut.code, 0) << cut.err;
  EXPECT_EQ(ListJson().size(), 4u);
}

TEST_F(CommandsTest, ImportReadsOneObjectPerLineAndCsvFromStandardInput) {
  Result lines = Run({"import", "-"}, "{\"title\":\"a\"}\n{\"title\":\"b\",\"complete\":1}\n");
  ASSERT_EQ(lines.code, 0) << lines.err;
  Result csv = Run({"import", "-", "--format", "csv"}, "title,postedBy\r\nc,me\r\n");
  ASSERT_EQ(csv.code, 0) << csv.err;
  std::vector<nlohmann::json> rows = ListJson();
  ASSERT_EQ(rows.size(), 3u);
  EXPECT_EQ(rows[1]["complete"], 1);
  EXPECT_EQ(rows[2]["postedBy"], "me");
}

TEST_F(CommandsTest, DeleteAsksConfirmDeleteAndNoKeepsTheEntry) {
  Add("victim");
  HeadlessBackend backend;
  backend.QueueAnswer(kButtonNo);
  Result no = Run({"delete", "1"}, "", &backend);
  EXPECT_EQ(no.code, 1);
  ASSERT_EQ(backend.Messages().size(), 1u);
  EXPECT_EQ(backend.Messages()[0].request.caption, "Confirm Delete");
  EXPECT_EQ(backend.Messages()[0].request.text,
            "Are you sure you want to delete the highlighted record?");
  EXPECT_EQ(ListJson().size(), 1u);

  backend.Clear();
  backend.QueueAnswer(kButtonYes);
  Result yes = Run({"delete", "1"}, "", &backend);
  EXPECT_EQ(yes.code, 0) << yes.err;
  EXPECT_EQ(ListJson().size(), 0u);

  // Without a terminal and without --yes nobody confirms: nothing is deleted.
  int survivor = Add("survivor");
  Result unasked = Run({"delete", std::to_string(survivor)});
  EXPECT_EQ(unasked.code, 1);
  EXPECT_NE(unasked.err.find("Confirm Delete"), std::string::npos) << unasked.err;
  EXPECT_EQ(ListJson().size(), 1u);
  EXPECT_EQ(Run({"delete", "7", "--yes"}).err, "qzrfunctions: no entry 7\n");
}

TEST_F(CommandsTest, EvalPrintsTheValueOrTheErrorWithItsCode) {
  Result ok = Run({"eval", "1 + 2 * 3"});
  EXPECT_EQ(ok.code, 0);
  EXPECT_EQ(ok.out, "7\n");
  Result bad = Run({"eval", "1 +"});
  EXPECT_EQ(bad.code, 1);
  EXPECT_EQ(bad.out, "");
  EXPECT_EQ(bad.err.rfind("error 1010: ", 0), 0u) << bad.err;
  Result unknown = Run({"eval", "nosuchname"});
  EXPECT_EQ(unknown.code, 1);
  EXPECT_NE(unknown.err.find("error 1011: "), std::string::npos);
  EXPECT_NE(unknown.err.find(": nosuchname"), std::string::npos) << unknown.err;
}

TEST_F(CommandsTest, WrongUsageExitsWithTwoAndTouchesNothing) {
  const std::vector<std::vector<std::string>> cases = {
      {"bogus"},
      {"show"},
      {"show", "x"},
      {"show", "0"},
      {"show", "1", "2"},
      {"find", "  "},
      {"find", std::string(300, 'a')},
      {"list", "--nope"},
      {"list", "--json=1"},
      {"add", "--json", "--title", "x"},
      {"add", "--complete", "--not-complete"},
      {"add", "--title"},
      {"update", "1"},
      {"export", "--format", "xml"},
      {"import", "f", "--format", "markdown"},
  };
  for (const auto& args : cases) {
    SCOPED_TRACE(args[0] + (args.size() > 1 ? " " + args[1] : ""));
    Result r = Run(args);
    EXPECT_EQ(r.code, 2);
    EXPECT_EQ(r.out, "");
    EXPECT_NE(r.err.find("Try 'qzrfunctions --help'."), std::string::npos) << r.err;
  }
  EXPECT_FALSE(std::filesystem::exists("FUNC.PLX"));
  Result help = Run({"--help"});
  EXPECT_EQ(help.code, 0);
  EXPECT_NE(help.out.find("Usage: qzrfunctions"), std::string::npos);
  // Without a command and without windows to open: one line, the usage,
  // and nothing touched.
  Result bare = Run({});
  EXPECT_EQ(bare.code, 2);
  EXPECT_EQ(bare.out, "");
  EXPECT_NE(bare.err.find("\n\n" + help.out), std::string::npos) << bare.err;
  EXPECT_FALSE(std::filesystem::exists("FUNC.PLX"));
}

TEST_F(CommandsTest, AnUnknownExportFormatIsAUsageErrorAndWritesNothing) {
  ASSERT_EQ(Run({"add", "--title", "kept"}).code, 0);
  for (const std::string format : {"xml", "JSON", "md", ""}) {
    SCOPED_TRACE(format);
    Result r = Run({"export", "--format=" + format, "--output", "out.txt"});
    EXPECT_EQ(r.code, 2);
    EXPECT_EQ(r.out, "");
    EXPECT_NE(r.err.find("export: unknown format '" + format + "' (json, csv or markdown)"),
              std::string::npos)
        << r.err;
    EXPECT_FALSE(std::filesystem::exists("out.txt"));
  }
  // Each known format is taken, and the usage lists them.
  for (const char* format : {"json", "csv", "markdown"}) {
    EXPECT_EQ(Run({"export", "--format", format}).code, 0) << format;
  }
  EXPECT_NE(Run({"--help"}).out.find("export [--format json|csv|markdown] [--output FILE]"),
            std::string::npos);
}

TEST_F(CommandsTest, WithoutADisplayTheProgramSaysSoAndShowsItsUsage) {
  // Given the real program and an environment without any display, when it
  // is started without a command, then it explains in one line and exits 2.
  std::vector<std::pair<std::string, std::string>> saved;
  for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"}) {
    if (const char* v = std::getenv(name)) saved.emplace_back(name, v);
    unsetenv(name);
  }
  EXPECT_FALSE(HasDisplay());
  Result r = Exe({});
  for (const auto& [name, value] : saved) setenv(name.c_str(), value.c_str(), 1);
  EXPECT_EQ(r.code, 2);
  EXPECT_EQ(r.out, "");
  std::string first = r.err.substr(0, r.err.find('\n'));
  EXPECT_EQ(first,
            "qzrfunctions: no display to open the window on (neither DISPLAY nor "
            "WAYLAND_DISPLAY is set); the commands below work without one.");
  EXPECT_NE(r.err.find(UsageText()), std::string::npos);
  EXPECT_FALSE(std::filesystem::exists("FUNC.PLX"));
}

TEST_F(CommandsTest, TheProgramStartsWithoutTheWindowLibraries) {
  // The dynamic loader's own listing of what the program needs at start:
  // the C++ runtime, no Qt (the desktop module brings it, when windows open).
  Result r = Exe({}, "ldd", false, QZR_FUNCTIONS_EXE, {{"LD_TRACE_LOADED_OBJECTS", "1"}});
  ASSERT_EQ(r.code, 0) << r.err;
  EXPECT_NE(r.out.find("libstdc++"), std::string::npos) << r.out;
  EXPECT_EQ(r.out.find("libQt"), std::string::npos) << r.out;
  EXPECT_EQ(r.out.find("qscintilla"), std::string::npos) << r.out;
}

TEST_F(CommandsTest, AProgramWithoutItsDesktopModuleSaysSoWhenWindowsOpen) {
  // Given a copy of the program in a folder without the desktop module,
  // when it is started without a command on a display, then it names the
  // module it could not load in one line and exits 1; commands still work.
  std::filesystem::create_directory("lone");
  const std::string copy = (std::filesystem::canonical("lone") / "qzrfunctions").string();
  std::filesystem::copy_file(QZR_FUNCTIONS_EXE, copy);
  Result r = Exe({}, "lone", false, copy.c_str(), {{"QT_QPA_PLATFORM", "offscreen"}});
  EXPECT_EQ(r.code, 1);
  EXPECT_EQ(r.out, "");
  const std::string first =
      "qzrfunctions: cannot open the windows: " + std::filesystem::canonical("lone").string() +
      "/qzrfunctions_desktop.so: ";
  EXPECT_EQ(r.err.substr(0, first.size()), first) << r.err;
  EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
  EXPECT_EQ(Exe({"list"}, "lone", false, copy.c_str()).code, 0);
}

TEST_F(CommandsTest, TwoProcessesAddingAtOnceBothSucceedWithDistinctNumbers) {
  ASSERT_EQ(Run({"list"}).code, 0);  // the file exists before the race
  constexpr int kPerProcess = 12;
  pid_t children[2];
  for (int p = 0; p < 2; ++p) {
    children[p] = fork();
    if (children[p] == 0) {
      int failures = 0;
      for (int i = 0; i < kPerProcess; ++i) {
        std::string title = "p" + std::to_string(p) + "-" + std::to_string(i);
        Result r = Exe({"add", "--title", title}, "child" + std::to_string(p));
        if (r.code != 0) ++failures;
      }
      _exit(failures);
    }
  }
  for (pid_t child : children) {
    int status = 0;
    waitpid(child, &status, 0);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0) << "adds that failed in one process";
  }
  std::vector<nlohmann::json> rows = ListJson();
  ASSERT_EQ(rows.size(), 2u * kPerProcess);
  std::set<int> ids;
  std::set<std::string> titles;
  for (const auto& row : rows) {
    ids.insert(row["id"].get<int>());
    titles.insert(row["title"].get<std::string>());
  }
  EXPECT_EQ(ids.size(), rows.size());
  EXPECT_EQ(titles.size(), rows.size());
  Result check = Exe({"check"});
  EXPECT_EQ(check.code, 0) << check.out << check.err;
}

TEST_F(CommandsTest, ADamagedFileIsReportedNotCrashedOn) {
  std::string code(3000, 'c');
  WriteFile("code.txt", code);
  for (int i = 0; i < 30; ++i) Add("entry " + std::to_string(i), {"--code-file", "code.txt"});
  Result sound = Exe({"check"});
  ASSERT_EQ(sound.code, 0) << sound.out << sound.err;
  EXPECT_EQ(sound.out, "FUNC.PLX: no problems found\n");

  const auto size = std::filesystem::file_size("FUNC.PLX");
  const std::string original = ReadFile("FUNC.PLX");
  struct Damage {
    const char* what;
    std::function<void()> apply;
  };
  const std::vector<Damage> damages = {
      {"garbage in the middle",
       [&] {
         std::string bytes = original;
         for (size_t i = size / 3; i < size / 3 + 512 && i < bytes.size(); ++i) bytes[i] = '\x5A';
         WriteFile("FUNC.PLX", bytes);
       }},
      {"cut in half", [&] { WriteFile("FUNC.PLX", original.substr(0, size / 2)); }},
      {"header overwritten",
       [&] {
         std::string bytes = original;
         for (size_t i = 0; i < 64 && i < bytes.size(); ++i) bytes[i] = '\xFF';
         WriteFile("FUNC.PLX", bytes);
       }},
  };
  for (const Damage& d : damages) {
    SCOPED_TRACE(d.what);
    d.apply();
    Result check = Exe({"check"});
    EXPECT_FALSE(check.signaled);
    EXPECT_EQ(check.code, 1);
    EXPECT_NE(check.err.find("FUNC.PLX is damaged"), std::string::npos) << check.err;
    for (const std::vector<std::string>& args : {std::vector<std::string>{"list"},
                                                 {"find", "entry"},
                                                 {"show", "5"},
                                                 {"add", "--title", "x"}}) {
      Result r = Exe(args);
      EXPECT_FALSE(r.signaled) << args[0];
      EXPECT_TRUE(r.code == 0 || r.code == 1) << args[0] << " exit " << r.code;
      if (r.code != 0) {
        EXPECT_NE(r.err, "") << args[0];
      }
      EXPECT_EQ(r.err.find("AddressSanitizer"), std::string::npos) << r.err;
      EXPECT_EQ(r.err.find("runtime error:"), std::string::npos) << r.err;
    }
  }
  std::filesystem::remove("FUNC.PLX");
  Result none = Exe({"check"});
  EXPECT_EQ(none.code, 1);
  EXPECT_NE(none.err.find("no catalogue file FUNC.PLX"), std::string::npos) << none.err;
}

TEST_F(CommandsTest, CheckCompletesAnUpdateAKilledProcessLeftInItsCommitWindow) {
  Add("first");
  AddStoppedBeforeApply("second");
  Result check = Exe({"check"});
  EXPECT_EQ(check.code, 0) << check.out << check.err;
  EXPECT_EQ(check.out, "FUNC.PLX: no problems found\n");
  EXPECT_EQ(check.err, "");
  EXPECT_EQ(ListJson().size(), 2u);

  // A file this process may not write keeps its pending update: that is
  // reported, with the reason it stays.
  AddStoppedBeforeApply("third");
  chmod("FUNC.PLX", 0444);
  Result read_only = Exe({"check"}, "ro", true);
  EXPECT_EQ(read_only.code, 1);
  EXPECT_NE(read_only.out.find("an interrupted update is pending and cannot be completed here "
                               "(the file is read-only)"),
            std::string::npos)
      << read_only.out << read_only.err;
  chmod("FUNC.PLX", 0644);
  EXPECT_EQ(Exe({"check"}).code, 0);
  EXPECT_EQ(ListJson().size(), 3u);
}

// Drops one memo piece of the entry stored in row `nth` (0-based, in row
// order): that entry's code can no longer be read.
void DamageMemoOfRow(size_t nth) {
  palisade::PlxOpenOptions options;
  std::unique_ptr<palisade::PlxFile> file;
  ASSERT_EQ(palisade::PlxFile::Open("FUNC.PLX", options, &file), 0);
  std::vector<std::string> names = file->tables()->ListTables();
  ASSERT_EQ(names.size(), 1u);
  uint32_t table = *file->tables()->FindTable(names[0]);
  std::vector<uint8_t> prefix = palisade::KindPrefix(table, palisade::kKindRow);
  palisade::TreeCursor rows(file->tree());
  ASSERT_TRUE(rows.Seek(palisade::Bytes(prefix.data(), prefix.size())));
  for (size_t i = 0; i < nth; ++i) ASSERT_TRUE(rows.Next());
  uint32_t row = palisade::LoadBigU32(rows.key().data() + 5);
  std::vector<uint8_t> piece = palisade::MemoKey(table, row, 0, 1);
  ASSERT_TRUE(file->tree()->Delete(palisade::Bytes(piece.data(), piece.size())));
  ASSERT_EQ(file->WriteOut(), 0);
}

TEST_F(CommandsTest, AReadErrorEndsListFindAndExportWithTheEntryNamed) {
  WriteFile("code.txt", std::string(600, 'c'));
  for (int i = 1; i <= 6; ++i) Add("entry " + std::to_string(i), {"--code-file", "code.txt"});
  Result good = Run({"export", "--output", "backup.json"});
  ASSERT_EQ(good.code, 0) << good.err;
  const std::string backup = ReadFile("backup.json");
  DamageMemoOfRow(3);  // entry 4: reading stops there, naming it
  Result damaged = Exe({"check"});
  ASSERT_EQ(damaged.code, 1) << damaged.out;
  EXPECT_NE(damaged.out.find("memo 1 cannot be read"), std::string::npos) << damaged.out;
  for (const std::vector<std::string>& args : {std::vector<std::string>{"list"},
                                               {"list", "--json"},
                                               {"find", "entry"},
                                               {"export"},
                                               {"export", "--format", "csv"}}) {
    SCOPED_TRACE(args[0] + " " + args.back());
    Result r = Exe(args);
    EXPECT_EQ(r.code, 1) << r.out.substr(0, 200);
    EXPECT_NE(r.err.find("stopped: entry 4 could not be read"), std::string::npos) << r.err;
    EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
  }
  // A file export is never left as if complete: the earlier backup stays.
  Result ex = Exe({"export", "--output", "backup.json"});
  EXPECT_EQ(ex.code, 1);
  EXPECT_EQ(ReadFile("backup.json"), backup);
  for (const auto& entry : std::filesystem::directory_iterator(".")) {
    EXPECT_EQ(entry.path().filename().string().find(".tmp"), std::string::npos) << entry.path();
  }
}

TEST_F(CommandsTest, AFullDiskIsSaidWithTheFileName) {
  Add("first");
  const std::string before = ReadFile("FUNC.PLX");
  WriteFile("two.json", R"([{"title":"a"},{"title":"b"}])");
  const std::vector<std::vector<std::string>> commands = {
      {"add", "--title", "x"}, {"update", "1", "--title", "y"}, {"import", "two.json"}};
  for (const auto& args : commands) {
    SCOPED_TRACE(args[0]);
    FaultPlan plan;
    plan.FailFrom(OsCall::kWrite, 1, ENOSPC);
    SetProcessFaultPlan(&plan);
    Result r = Run(args);
    SetProcessFaultPlan(nullptr);
    EXPECT_EQ(r.code, 1);
    EXPECT_NE(r.err.find("disk full"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("FUNC.PLX"), std::string::npos) << r.err;
    EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
    EXPECT_EQ(ListJson().size(), 1u);
  }
  EXPECT_EQ(Exe({"check"}).code, 0);
}

// A file export that cannot be written (the disk fills at its first or a
// later write, or its sync fails) says so and leaves the earlier file and
// no temporary beside it.
TEST_F(CommandsTest, AnExportThatCannotBeWrittenLeavesTheEarlierFile) {
  WriteFile("code.txt", std::string(3000, 'c'));
  for (int i = 1; i <= 12; ++i) Add("entry " + std::to_string(i), {"--code-file", "code.txt"});
  ASSERT_EQ(Run({"export", "--output", "backup.json"}).code, 0);
  const std::string backup = ReadFile("backup.json");
  ASSERT_GT(backup.size(), 32768u);  // more than one buffer's worth
  Add("one more");
  struct Case {
    const char* what;
    OsCall call;
    int at;
  } cases[] = {{"first write", OsCall::kWrite, 1},
               {"second write", OsCall::kWrite, 2},
               {"sync", OsCall::kSync, 1}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    FaultPlan plan;
    plan.FailFrom(c.call, c.at, ENOSPC);
    SetProcessFaultPlan(&plan);
    Result r = Run({"export", "--output", "backup.json"});
    SetProcessFaultPlan(nullptr);
    EXPECT_EQ(r.code, 1);
    EXPECT_NE(r.err.find("export: cannot write backup.json: No space left on device"),
              std::string::npos)
        << r.err;
    EXPECT_EQ(ReadFile("backup.json"), backup);
    for (const auto& entry : std::filesystem::directory_iterator(".")) {
      EXPECT_EQ(entry.path().filename().string().find(".tmp"), std::string::npos) << entry.path();
    }
  }
}

TEST_F(CommandsTest, AReadOnlyCatalogueIsSaidOnceAndReadingItIsQuiet) {
  Add("keep");
  WriteFile("one.json", R"([{"title":"a"}])");
  chmod("FUNC.PLX", 0444);
  const std::vector<std::vector<std::string>> writes = {{"delete", "1", "--yes"},
                                                        {"add", "--title", "x"},
                                                        {"update", "1", "--title", "y"},
                                                        {"import", "one.json"}};
  for (const auto& args : writes) {
    SCOPED_TRACE(args[0]);
    Result r = Exe(args, "ro", true);
    EXPECT_EQ(r.code, 1);
    EXPECT_EQ(r.err, "qzrfunctions: the catalogue file FUNC.PLX is read-only\n");
  }
  for (const std::vector<std::string>& args :
       {std::vector<std::string>{"list"}, {"show", "1"}, {"find", "keep"}, {"export"}, {"check"}}) {
    SCOPED_TRACE(args[0]);
    Result r = Exe(args, "ro", true);
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(r.err, "");
  }
  chmod("FUNC.PLX", 0644);
  EXPECT_EQ(ListJson().size(), 1u);
}

TEST_F(CommandsTest, ExportNeverWritesOntoTheCatalogue) {
  Add("precious");
  const std::string before = ReadFile("FUNC.PLX");
  std::filesystem::create_symlink("FUNC.PLX", "link.json");
  for (const std::string& target :
       std::vector<std::string>{"FUNC.PLX", "./FUNC.PLX", dir_ + "/FUNC.PLX", "link.json"}) {
    SCOPED_TRACE(target);
    Result r = Run({"export", "--output", target});
    EXPECT_EQ(r.code, 1);
    EXPECT_NE(r.err.find("is the catalogue file"), std::string::npos) << r.err;
    EXPECT_EQ(ReadFile("FUNC.PLX"), before);
  }
  EXPECT_EQ(ListJson().size(), 1u);
  // A symbolic link to another file: that file is replaced, the link stays.
  WriteFile("old.json", "old");
  std::filesystem::create_symlink("old.json", "backup.json");
  ASSERT_EQ(Run({"export", "--output", "backup.json"}).code, 0);
  EXPECT_TRUE(std::filesystem::is_symlink("backup.json"));
  EXPECT_NE(ReadFile("old.json").find("precious"), std::string::npos);
}

TEST_F(CommandsTest, ManyProcessesAddingAtOnceAllSucceed) {
  ASSERT_EQ(Run({"list"}).code, 0);
  constexpr int kProcesses = 6, kPerProcess = 10;
  std::vector<pid_t> children;
  for (int p = 0; p < kProcesses; ++p) {
    pid_t child = fork();
    if (child == 0) {
      int failures = 0;
      for (int i = 0; i < kPerProcess; ++i) {
        Result r = Exe({"add", "--title", "p" + std::to_string(p) + "-" + std::to_string(i)},
                       "many" + std::to_string(p));
        if (r.code != 0) ++failures;
      }
      _exit(failures);
    }
    children.push_back(child);
  }
  for (pid_t child : children) {
    int status = 0;
    waitpid(child, &status, 0);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0) << "adds that failed in one process";
  }
  std::vector<nlohmann::json> rows = ListJson();
  std::set<int> ids;
  for (const auto& row : rows) ids.insert(row["id"].get<int>());
  EXPECT_EQ(rows.size(), static_cast<size_t>(kProcesses * kPerProcess));
  EXPECT_EQ(ids.size(), rows.size());
}

TEST_F(CommandsTest, AddAndUpdateRefuseTextThatIsNotUtf8) {
  int id = Add("good");
  WriteFile("bad.c", "int x; // \xFF\xFE\n");
  const std::vector<std::vector<std::string>> cases = {
      {"add", "--title", "caf\xE9"},
      {"add", "--title", "ok", "--code-file", "bad.c"},
      {"update", std::to_string(id), "--user", "\xC3"},
      {"update", std::to_string(id), "--description", "a\xED\xA0\x80"},
  };
  for (const auto& args : cases) {
    SCOPED_TRACE(args[0] + " " + args[1]);
    Result r = Run(args);
    EXPECT_EQ(r.code, 1);
    EXPECT_NE(r.err.find("is not valid UTF-8"), std::string::npos) << r.err;
  }
  std::vector<nlohmann::json> rows = ListJson();
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_EQ(rows[0]["title"], "good");
  EXPECT_EQ(rows[0]["postedBy"], "");
}

TEST_F(CommandsTest, ADirectoryGivenAsAFileIsRefused) {
  std::filesystem::create_directory("somedir");
  Result add = Run({"add", "--title", "x", "--code-file", "somedir"});
  EXPECT_EQ(add.code, 1);
  EXPECT_NE(add.err.find("somedir: Is a directory"), std::string::npos) << add.err;
  Result import = Run({"import", "somedir"});
  EXPECT_EQ(import.code, 1);
  EXPECT_NE(import.err.find("somedir: Is a directory"), std::string::npos) << import.err;
  EXPECT_EQ(ListJson().size(), 0u);
}

TEST_F(CommandsTest, OutputThatCannotBeWrittenIsAFailure) {
  Add("one");
  for (const std::vector<std::string>& args : {std::vector<std::string>{"show", "1"},
                                               {"eval", "1+1"},
                                               {"check"},
                                               {"list"},
                                               {"add", "--title", "two"}}) {
    SCOPED_TRACE(args[0]);
    std::string out_path = "full.out";
    pid_t pid = fork();
    if (pid == 0) {
      int full = open("/dev/full", O_WRONLY);
      int err = open("full.err", O_WRONLY | O_CREAT | O_TRUNC, 0644);
      dup2(full, 1);
      dup2(err, 2);
      std::vector<char*> argv = {const_cast<char*>(QZR_FUNCTIONS_EXE)};
      for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
      argv.push_back(nullptr);
      execv(QZR_FUNCTIONS_EXE, argv.data());
      _exit(127);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 1);
    EXPECT_NE(ReadFile("full.err").find("cannot write the output: No space left on device"),
              std::string::npos)
        << ReadFile("full.err");
  }
}

TEST_F(CommandsTest, ImportKeepsGivenIdsAndRefusesTakenOnesUnlessRenumbered) {
  WriteFile("gaps.json", R"([{"id":3,"title":"three"},{"id":7,"title":"seven"},{"title":"new"}])");
  Result first = Run({"import", "gaps.json"});
  ASSERT_EQ(first.code, 0) << first.err;
  std::vector<nlohmann::json> rows = ListJson();
  ASSERT_EQ(rows.size(), 3u);
  EXPECT_EQ(rows[0]["id"], 3);
  EXPECT_EQ(rows[1]["id"], 7);
  EXPECT_EQ(rows[2]["id"], 8);
  EXPECT_EQ(rows[2]["title"], "new");

  // A restore of an export gives the same numbers.
  ASSERT_EQ(Run({"export", "--output", "backup.json"}).code, 0);
  std::filesystem::create_directory("restore");
  std::filesystem::current_path("restore");
  ASSERT_EQ(Run({"import", "../backup.json"}).code, 0);
  EXPECT_EQ(ListJson(), rows);
  std::filesystem::current_path(dir_);

  WriteFile("taken.json", R"([{"id":5,"title":"five"},{"id":7,"title":"again"}])");
  Result taken = Run({"import", "taken.json"});
  EXPECT_EQ(taken.code, 1);
  EXPECT_NE(taken.err.find("entry 2: id 7 is taken"), std::string::npos) << taken.err;
  EXPECT_EQ(ListJson(), rows);
  Result renumbered = Run({"import", "taken.json", "--renumber"});
  ASSERT_EQ(renumbered.code, 0) << renumbered.err;
  rows = ListJson();
  ASSERT_EQ(rows.size(), 5u);
  EXPECT_EQ(rows[1]["id"], 5);
  EXPECT_EQ(rows[4]["id"], 9);
  EXPECT_EQ(rows[4]["title"], "again");

  WriteFile("twice.json", R"([{"id":20,"title":"a"},{"id":20,"title":"b"}])");
  EXPECT_NE(Run({"import", "twice.json"}).err.find("the id 20 is given twice"), std::string::npos);
  WriteFile("zero.json", R"([{"id":0,"title":"a"}])");
  EXPECT_NE(Run({"import", "zero.json"}).err.find("is not an entry number"), std::string::npos);
  EXPECT_EQ(ListJson().size(), 5u);
}

TEST_F(CommandsTest, ImportNumbersNewEntriesInTurnAfterTheHighestUpToTheLargestNumber) {
  Add("one");
  WriteFile("mixed.json",
            R"([{"title":"x"},{"id":50,"title":"fifty"},{"title":"y"},{"id":9,"title":"z"}])");
  Result mixed = Run({"import", "mixed.json"});
  ASSERT_EQ(mixed.code, 0) << mixed.err;
  EXPECT_EQ(mixed.out, "imported 4 entries (9..52)\n");
  std::vector<nlohmann::json> rows = ListJson();
  ASSERT_EQ(rows.size(), 5u);
  EXPECT_EQ(rows[3]["id"], 51);
  EXPECT_EQ(rows[3]["title"], "x");
  EXPECT_EQ(rows[4]["id"], 52);
  EXPECT_EQ(rows[4]["title"], "y");

  // Past the largest entry number there is none to give: all or nothing.
  WriteFile("top.json",
            R"([{"id":2147483645,"title":"top"},{"title":"a"},{"title":"b"},{"title":"c"}])");
  Result full = Run({"import", "top.json"});
  EXPECT_EQ(full.code, 1);
  EXPECT_NE(full.err.find("Auto Increment Error"), std::string::npos) << full.err;
  EXPECT_EQ(ListJson(), rows);
  WriteFile("fits.json", R"([{"id":2147483645,"title":"top"},{"title":"a"},{"title":"b"}])");
  Result fits = Run({"import", "fits.json"});
  ASSERT_EQ(fits.code, 0) << fits.err;
  rows = ListJson();
  ASSERT_EQ(rows.size(), 8u);
  EXPECT_EQ(rows[7]["id"], 2147483647);
  EXPECT_EQ(rows[7]["title"], "b");
}

// The cipher library is loaded only for a file with a password: reading a
// plain catalogue never maps it (the dynamic loader's own list of the files
// it loads says so).
TEST_F(CommandsTest, ReadingAPlainCatalogueDoesNotLoadTheCipherLibrary) {
  Add("one");
  for (const std::vector<std::string>& args :
       {std::vector<std::string>{"show", "1"}, {"find", "one"}, {"list"}}) {
    SCOPED_TRACE(args[0]);
    Result r = Exe(args, "libs", false, QZR_FUNCTIONS_EXE, {{"LD_DEBUG", "files"}});
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_NE(r.out.find("one"), std::string::npos) << r.out;
    ASSERT_NE(r.err.find("libstdc++"), std::string::npos) << "no loader trace: " << r.err;
    EXPECT_EQ(r.err.find("libcrypto"), std::string::npos) << r.err;
  }
}

TEST_F(CommandsTest, ALockedCatalogueIsSaidAfterAFewSeconds) {
  Add("one");
  palisade::PlxOpenOptions options;
  std::unique_ptr<palisade::PlxFile> holder;
  ASSERT_EQ(palisade::PlxFile::Open("FUNC.PLX", options, &holder), 0);
  // A writer stopped in the middle of writing holds the writer byte and
  // every reader slot.
  ASSERT_EQ(holder->BeginOperation(true), 0);
  ASSERT_EQ(holder->locks()->BeginWriteOut(), 0);
  for (const std::vector<std::string>& args :
       {std::vector<std::string>{"list"}, {"add", "--title", "two"}}) {
    SCOPED_TRACE(args[0]);
    Result r = Exe(args);
    EXPECT_EQ(r.code, 1);
    EXPECT_EQ(r.err, "qzrfunctions: the catalogue is locked by another process\n");
  }
  holder->locks()->EndWriteOut();
  holder->EndOperation();
  holder.reset();
  EXPECT_EQ(ListJson().size(), 1u);
}

TEST_F(CommandsTest, MessagesSpeakOfTheCommandLine) {
  int id = Add("victim");
  Result unasked = Run({"delete", std::to_string(id)});
  EXPECT_EQ(unasked.code, 1);
  EXPECT_NE(unasked.err.find("Delete entry 1 \"victim\"?"), std::string::npos) << unasked.err;
  EXPECT_EQ(unasked.err.find("highlighted"), std::string::npos) << unasked.err;
  // A file in the catalogue's place that is a directory, or encrypted.
  std::filesystem::rename("FUNC.PLX", "saved.plx");
  std::filesystem::create_directory("FUNC.PLX");
  Result dir = Run({"list"});
  EXPECT_EQ(dir.code, 1);
  EXPECT_EQ(dir.err, "qzrfunctions: FUNC.PLX is a directory, not a catalogue file\n");
  std::filesystem::remove("FUNC.PLX");
  std::string noise(4096, '\0');
  for (size_t i = 0; i < noise.size(); ++i) noise[i] = static_cast<char>((i * 167 + 13) % 251 + 3);
  WriteFile("FUNC.PLX", noise);
  Result encrypted = Run({"list"});
  EXPECT_EQ(encrypted.code, 1);
  EXPECT_NE(encrypted.err.find("FUNC.PLX is encrypted"), std::string::npos) << encrypted.err;
  EXPECT_EQ(encrypted.err.find("(36)"), std::string::npos) << encrypted.err;
}

TEST_F(CommandsTest, ListAndShowEscapeControlsAndKeepColumnsByDisplayWidth) {
  ASSERT_EQ(
      Run({"add", "--json"},
          R"({"title":"evil\u001b]0;pwned\u0007 title","description":"line\u001b[2J\nnext","code":"a\u0085b"})")
          .code,
      0);
  Add("漢字のタイトル", {"--user", "🙂 me"});
  Add("plain", {"--user", "ann"});
  Result list = Run({"list"});
  ASSERT_EQ(list.code, 0) << list.err;
  EXPECT_EQ(list.out.find('\x1b'), std::string::npos);
  EXPECT_EQ(list.out.find('\x07'), std::string::npos);
  EXPECT_NE(list.out.find("evil\\x1B]0;pwned\\x07 title"), std::string::npos) << list.out;
  // The poster column starts at the same display column on every row.
  std::istringstream lines(list.out);
  std::string header, evil, wide, plain;
  std::getline(lines, header);
  std::getline(lines, evil);
  std::getline(lines, wide);
  std::getline(lines, plain);
  EXPECT_NE(wide.find("漢字のタイトル" + std::string(50 - 14, ' ') + "  🙂 me"),
            std::string::npos)
      << wide;
  EXPECT_NE(plain.find("plain" + std::string(45, ' ') + "  ann"), std::string::npos) << plain;
  Result show = Run({"show", "1"});
  EXPECT_EQ(show.out.find('\x1b'), std::string::npos);
  EXPECT_NE(show.out.find("line\\x1B[2J\nnext"), std::string::npos) << show.out;
  EXPECT_NE(show.out.find("a\\u0085b"), std::string::npos) << show.out;
}

TEST_F(CommandsTest, TheTerminalDeleteQuestionDefaultsToNo) {
  int id = Add("keep");
  auto ask = [&](const std::string& typed) {
    int answers[2], shown[2];
    EXPECT_EQ(pipe(answers), 0);
    EXPECT_EQ(pipe(shown), 0);
    EXPECT_EQ(write(answers[1], typed.data(), typed.size()), static_cast<ssize_t>(typed.size()));
    close(answers[1]);
    StringTextIn in;
    StringTextOut out, err;
    CommandIo io;
    io.in = &in;
    io.out = &out;
    io.err = &err;
    io.interactive = true;
    io.question_in_fd = answers[0];
    io.question_out_fd = shown[1];
    int code = RunCommandLine({"delete", std::to_string(id)}, io);
    close(answers[0]);
    close(shown[1]);
    char buf[4096];
    ssize_t n = read(shown[0], buf, sizeof buf);
    close(shown[0]);
    EXPECT_GT(n, 0);
    EXPECT_NE(std::string(buf, n > 0 ? n : 0).find("Delete entry"), std::string::npos);
    return code;
  };
  EXPECT_EQ(ask("\n"), 1);
  EXPECT_EQ(ListJson().size(), 1u);
  EXPECT_EQ(ask(""), 1);  // end of input
  EXPECT_EQ(ListJson().size(), 1u);
  EXPECT_EQ(ask("y\n"), 0);
  EXPECT_EQ(ListJson().size(), 0u);
}

TEST_F(CommandsTest, AddWithoutATitleIsAUsageError) {
  for (const std::vector<std::string>& args :
       {std::vector<std::string>{"add"}, {"add", "--user", "me"}, {"add", "--title", "  "}}) {
    Result r = Run(args);
    EXPECT_EQ(r.code, 2);
    EXPECT_NE(r.err.find("a title is required"), std::string::npos) << r.err;
  }
  Result json = Run({"add", "--json"}, R"({"user":"x"})");
  EXPECT_EQ(json.code, 1);
  Result no_title = Run({"add", "--json"}, R"({"postedBy":"x"})");
  EXPECT_EQ(no_title.code, 1);
  EXPECT_NE(no_title.err.find("a title is required"), std::string::npos) << no_title.err;
  EXPECT_NE(std::string(UsageText()).find("FUNC.PLX"), std::string::npos);
  EXPECT_EQ(ListJson().size(), 0u);
}

TEST_F(CommandsTest, ALoweredRowCounterNeverLetsAddReplaceAnEntry) {
  Add("first");
  Add("second");
  // LastIssued (big-endian, header bytes 20..23) set back below the rows.
  std::string bytes = ReadFile("FUNC.PLX");
  bytes[20] = bytes[21] = bytes[22] = 0;
  bytes[23] = 2;
  WriteFile("FUNC.PLX", bytes);
  Result check = Exe({"check"});
  EXPECT_EQ(check.code, 1);
  EXPECT_NE(check.out.find("above the file's last issued number 2"), std::string::npos)
      << check.out;
  Result add = Exe({"add", "--title", "third"});
  EXPECT_EQ(add.code, 1);
  EXPECT_NE(add.err.find("(1175)"), std::string::npos) << add.err;
  EXPECT_EQ(ReadFile("FUNC.PLX"), bytes);
}

}  // namespace
}  // namespace qzr
