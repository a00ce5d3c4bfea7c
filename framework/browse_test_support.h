// Test support for the browse's tests: a Palisade file of the catalogue's
// shape made by the test in a temporary directory, with entries numbered 10,
// 20, 30 ..., read through a driver that counts the records read; the view
// over it, and a list queue of the entry's number and title.
//
// The primary key is OPT, as the catalogue's is, which no view reads in key
// order; a second key K_ID serves the number order.
//
// Threads: one fixture per test, on the test's thread.

#ifndef QZR_FRAMEWORK_BROWSE_TEST_SUPPORT_H_
#define QZR_FRAMEWORK_BROWSE_TEST_SUPPORT_H_

#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "data/file_driver.h"
#include "data/view.h"
#include "data/view_engine.h"
#include "drivers/palisade/driver.h"
#include "drivers/palisade/test_support.h"
#include "framework/browse_list.h"
#include "framework/counting_driver.h"
#include "framework/error_manager.h"
#include "framework/file_manager.h"
#include "framework/func_test_declaration.h"
#include "framework/relation_manager.h"
#include "runtime/core/runtime_error.h"
#include "runtime/evaluator/evaluator.h"
#include "runtime/values/queue.h"
#include "runtime/values/ufo.h"

namespace qzr {

inline FileDescriptor BrowseTestFile(const std::string& path) {
  return FuncTestDeclaration(path, kPalisadeDriverName).Key("K_ID", {{"ID"}}, kKeyNocase).Build();
}

struct BrowseTestRow {
  int32_t ID;
  char NAME[100];
  char POSITION[1024];
};

class BrowseFixture {
 public:
  BrowseFixture() {
    RegisterPalisadeDriver();
    counter = CountingDriver::Install(kPalisadeDriverName);
    CreateEvaluator();
    FileStatus().Clear();
    ClearError();
    errors.SetHaltHook([](int) {});
    errors.Init();
    file = BrowseTestFile(path());
    fm.Init(&file, &errors);
    fm.RegisterKey("P_ID", "FUN:P_ID", 1);
    rm.Init(&fm);
    EXPECT_EQ(fm.Open(), SeverityNone);
    EXPECT_EQ(ViewBuilder(&file).Build(&view), 0);
    engine = std::make_unique<ViewEngine>(&view);
    queue.Field("ID", &BrowseTestRow::ID);
    queue.Field("NAME", &BrowseTestRow::NAME, TypeCode::CSTRING);
    const int position = queue.Field("POSITION", &BrowseTestRow::POSITION);
    rows = std::make_unique<BrowseListRows>(&queue, position, std::vector<FileDescriptor*>{&file});
    rows->AddField(&file, 0, 1);
    rows->AddField(&file, 1, 2);
  }
  ~BrowseFixture() {
    engine.reset();
    rm.Kill();
    fm.Close();
    fm.Kill();
    errors.Kill();
    FileStatus().Clear();
  }
  BrowseFixture(const BrowseFixture&) = delete;
  BrowseFixture& operator=(const BrowseFixture&) = delete;

  std::string path() const { return dir.File("FUNC.PLX"); }

  // Stores entry `id` into `f`'s buffer: a title that sorts as the numbers
  // do, and a line of code.
  static void Compose(FileDescriptor& f, int32_t id) {
    std::fill(f.record.begin(), f.record.end(), 0);
    UfoLong(f.FieldData(0)).SetLong(id);
    char name[32];
    std::snprintf(name, sizeof name, "Entry %06d", id);
    UfoCString(f.FieldData(1), 100).SetText(name);
    f.memo_values[0] = "code of " + std::to_string(id);
  }
  void Add(int32_t id) {
    Compose(file, id);
    ASSERT_EQ(DoFileOp(FileOp::ADD, file), 0);
  }
  void Fill(int32_t n) {
    for (int32_t i = 1; i <= n; ++i) Add(10 * i);
  }
  void Remove(int32_t id) {
    UfoLong(file.FieldData(0)).SetLong(id);
    FileArgs args;
    args.key = 0;
    ASSERT_EQ(DoFileOp(FileOp::GETfilekey, file, args), 0);
    ASSERT_EQ(DoFileOp(FileOp::DELETE, file), 0);
  }
  // Adds entry `id` through a second opener of the file, as another
  // program sharing the catalogue would.
  void AddThroughAnotherOpener(int32_t id) {
    FileDescriptor other = BrowseTestFile(path());
    other.open_mode = kOpenReadWriteDenyNone;
    ASSERT_EQ(DoFileOp(FileOp::OPEN, other), 0);
    Compose(other, id);
    ASSERT_EQ(DoFileOp(FileOp::ADD, other), 0);
    DoFileOp(FileOp::CLOSE, other);
  }
  // The entry in the file's buffer (the selected record).
  int32_t Current() { return UfoLong(file.FieldData(0)).GetLong(); }

  palisade::test::TempDir dir;
  CountingDriver* counter = nullptr;
  ErrorManager errors;
  FileDescriptor file;
  FileManager fm;
  RelationManager rm;
  View view;
  std::unique_ptr<ViewEngine> engine;
  Queue<BrowseTestRow> queue;
  std::unique_ptr<BrowseListRows> rows;
};

}  // namespace qzr

#endif  // QZR_FRAMEWORK_BROWSE_TEST_SUPPORT_H_
