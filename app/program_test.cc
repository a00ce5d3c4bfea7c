// Tests of the program's start and end: the module table's passes, the
// main procedure's steps (globals, file objects, the drag setting), and the
// per-thread objects of a second thread.

#include "app/program.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "app/app_globals.h"
#include "app/drag_setting.h"
#include "app/func_file.h"
#include "app/func_managers.h"
#include "app/module_table.h"

namespace qzr {
namespace {

std::vector<std::string> g_log;

template <int N>
void Early() {
  g_log.push_back("early" + std::to_string(N));
}
template <int N>
void Files() {
  g_log.push_back("files" + std::to_string(N));
}
template <int N>
void Global() {
  g_log.push_back("global" + std::to_string(N));
}
template <int N>
void Thread() {
  g_log.push_back("thread" + std::to_string(N));
}
template <int N>
void ThreadEnd() {
  g_log.push_back("~thread" + std::to_string(N));
}
template <int N>
void GlobalEnd() {
  g_log.push_back("~global" + std::to_string(N));
}

template <int N>
constexpr ModuleInitRecord Module(uint8_t priority) {
  return {"m", priority, Early<N>, Files<N>, Global<N>, GlobalEnd<N>, Thread<N>, ThreadEnd<N>};
}

TEST(ModuleTableTest, PassesVisitPrioritiesDownwardsAndTableOrderWithin) {
  // Module 1 (priority 5) comes before module 3 of the same priority; the
  // others by priority.
  static constexpr ModuleInitRecord table[] = {Module<1>(5), Module<2>(200), Module<3>(5),
                                               Module<4>(30)};
  g_log.clear();
  ASSERT_TRUE(ModuleRuntime::Init(table));
  ModuleRuntime::StartUp();
  ModuleRuntime::Halt(7);
  EXPECT_EQ(ModuleRuntime::ExitCode(), 7);
  const std::vector<std::string> expected = {
      "early2",   "early4",   "early1",   "early3",                          // pass 1
      "files2",   "global2",  "thread2",  "files4",   "global4", "thread4",  // pass 2
      "files1",   "global1",  "thread1",  "files3",   "global3", "thread3",
      "~thread3", "~global3", "~thread1", "~global1",  // shut-down
      "~thread4", "~global4", "~thread2", "~global2"};
  EXPECT_EQ(g_log, expected);
}

TEST(ModuleTableTest, AnEmptyTableDoesNotStartAndGivesAnExitCode) {
  EXPECT_FALSE(ModuleRuntime::Init({}));
  EXPECT_NE(ModuleRuntime::ExitCode(), 0);
  EXPECT_FALSE(ModuleRuntime::Running());
}

TEST(ModuleTableTest, TheApplicationModuleIsTheFirstOfPriorityFiveAndComesLast) {
  auto modules = ProgramModules();
  ASSERT_FALSE(modules.empty());
  EXPECT_EQ(modules.back().priority, kAppModulePriority);
  for (size_t i = 0; i + 1 < modules.size(); ++i) EXPECT_GT(modules[i].priority, 5);
}

class FakeDrag : public DragSetting {
 public:
  explicit FakeDrag(bool on) : on_(on) {}
  bool FullWindowDragging() override { return on_; }
  void SetFullWindowDragging(bool on) override {
    on_ = on;
    changes_.push_back(on);
  }
  bool on_;
  std::vector<bool> changes_;
};

class ProgramTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/qzr_program_XXXXXX";
    dir_ = mkdtemp(tmpl);
    old_ = std::filesystem::current_path();
    std::filesystem::current_path(dir_);
  }
  void TearDown() override {
    std::filesystem::current_path(old_);
    std::filesystem::remove_all(dir_);
  }
  std::string dir_;
  std::filesystem::path old_;
};

TEST_F(ProgramTest, MainProcedureSetsUpTheGlobalsAndFileObjectsThenTearsThemDown) {
  FakeDrag drag(false);
  DragSetting* previous = InstallDragSetting(&drag);
  bool ran = false;
  int code = RunProgram([&] {
    ran = true;
    ASSERT_NE(AppErrors, nullptr);
    ASSERT_NE(AppIni, nullptr);
    ASSERT_NE(AppMatcher, nullptr);
    EXPECT_EQ(AppMatcher->NOCASE, 1);
    EXPECT_EQ(AppMatcher->WORDONLY, 0);
    EXPECT_EQ(AppIni->FILENAME, "qzrfunctions.INI");
    EXPECT_EQ(AppIni->NVTYPE, kIniFile);
    EXPECT_EQ(DefaultWindowIcon(), "AutoformatDoc.ico");
    EXPECT_EQ(PendingRequest, 0);
    EXPECT_EQ(LastResponse, 0);
    EXPECT_EQ(NavRequest, 0);

    ASSERT_NE(FuncAccess, nullptr);
    ASSERT_NE(FuncRelate, nullptr);
    EXPECT_EQ(FuncRelate->ME, FuncAccess);
    EXPECT_TRUE(FuncRelate->RELATIONS.empty());
    EXPECT_EQ(FuncAccess->FILE, &FUNC());
    EXPECT_EQ(FuncAccess->ERRORS, AppErrors);
    EXPECT_EQ(FuncAccess->FILENAMEVALUE, "func");
    EXPECT_EQ(FuncAccess->CREATE, 1);
    EXPECT_EQ(FuncAccess->LOCKRECOVER, 10);
    EXPECT_EQ(FuncAccess->HASAUTOINC, 1);
    EXPECT_EQ(FuncAccess->PRIMARYKEY, 1);
    ASSERT_EQ(FuncAccess->KEYS.size(), 1u);
    EXPECT_EQ(FuncAccess->KEYS[0].PDESCRIPTION, "FUN:P_ID");
    EXPECT_EQ(FuncAccess->KEYS[0].AUTOINC, 1);
    // Nothing opens FUNC before a procedure needs it.
    EXPECT_FALSE(FUNC().IsOpen());
    EXPECT_FALSE(std::filesystem::exists("FUNC.PLX"));
    EXPECT_TRUE(drag.changes_.empty());
  });
  EXPECT_TRUE(ran);
  EXPECT_EQ(code, 0);
  EXPECT_EQ(AppErrors, nullptr);
  EXPECT_EQ(AppIni, nullptr);
  EXPECT_EQ(AppMatcher, nullptr);
  EXPECT_EQ(FuncAccess, nullptr);
  EXPECT_EQ(FuncRelate, nullptr);
  EXPECT_FALSE(HasFuncFile());
  // Dragging was off: never touched.
  EXPECT_TRUE(drag.changes_.empty());
  InstallDragSetting(previous);
}

TEST_F(ProgramTest, FullWindowDraggingIsOffWhileTheProgramRunsAndOnAgainAfter) {
  FakeDrag drag(true);
  DragSetting* previous = InstallDragSetting(&drag);
  bool during = true;
  RunProgram([&] { during = drag.on_; });
  EXPECT_FALSE(during);
  EXPECT_TRUE(drag.on_);
  EXPECT_EQ(drag.changes_, (std::vector<bool>{false, true}));
  InstallDragSetting(previous);
}

TEST_F(ProgramTest, TheTopProcedureSetsTheExitCode) {
  EXPECT_EQ(RunProgram([] { SetProgramExitCode(3); }), 3);
  EXPECT_EQ(RunProgram([] {}), 0);
}

TEST_F(ProgramTest, AnotherThreadGetsItsOwnFileAndManagers) {
  RunProgram([&] {
    FileDescriptor* main_file = &FUNC();
    FuncFileManager* main_access = FuncAccess;
    std::thread other([&] {
      ModuleRuntime::StartThread();
      EXPECT_NE(&FUNC(), main_file);
      ASSERT_NE(FuncAccess, nullptr);
      EXPECT_NE(FuncAccess, main_access);
      EXPECT_EQ(FuncAccess->FILE, &FUNC());
      EXPECT_EQ(FuncRelate->ME, FuncAccess);
      EXPECT_EQ(PendingRequest, 0);
      ModuleRuntime::EndThread();
      EXPECT_EQ(FuncAccess, nullptr);
      EXPECT_FALSE(HasFuncFile());
    });
    other.join();
    EXPECT_EQ(FuncAccess, main_access);
  });
}

}  // namespace
}  // namespace qzr
