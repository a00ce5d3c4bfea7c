#include "runtime/os/file_io.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "runtime/os/fault_plan.h"

namespace qzr {
namespace {

class OsFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/qzr_file_io_XXXXXX";
    ASSERT_NE(::mkdtemp(tmpl), nullptr);
    dir_ = tmpl;
    path_ = dir_ + "/f";
  }
  void TearDown() override { std::filesystem::remove_all(dir_); }

  std::string Contents() {
    std::unique_ptr<OsFile> file;
    EXPECT_TRUE(OsFile::Open(path_, false, false, &file).ok());
    uint64_t size = 0;
    EXPECT_TRUE(file->Size(&size).ok());
    std::string out(size, '\0');
    size_t got = 0;
    EXPECT_TRUE(file->ReadAt(0, out.data(), out.size(), &got).ok());
    out.resize(got);
    return out;
  }

  std::string dir_;
  std::string path_;
};

// Pieces of 1, 0 and many bytes (more pieces than one system call takes),
// written from an offset inside the file.
TEST_F(OsFileTest, VectoredWriteLaysThePiecesBackToBack) {
  std::unique_ptr<OsFile> file;
  ASSERT_TRUE(OsFile::Open(path_, true, true, &file).ok());
  ASSERT_TRUE(file->WriteAt(0, "0123456789", 10).ok());
  std::vector<std::string> texts = {"a", "", std::string(5000, 'b')};
  for (int i = 0; i < 3000; ++i)
    texts.push_back(std::string(1 + i % 7, static_cast<char>('c' + i % 20)));
  std::vector<OsWritePiece> pieces;
  std::string expected = "0123";
  for (const std::string& t : texts) {
    pieces.push_back({t.data(), t.size()});
    expected += t;
  }
  FaultPlan counter;
  file->set_fault_plan(&counter);
  ASSERT_TRUE(file->WriteAtv(4, pieces.data(), pieces.size()).ok());
  EXPECT_EQ(counter.count(OsCall::kWrite), static_cast<int>(pieces.size()));
  file.reset();
  EXPECT_EQ(Contents(), expected);
}

// Given a run of four pieces, when the plan fails the k-th write or stops
// the process before it, then exactly the pieces before it are on disk.
TEST_F(OsFileTest, AFaultInsideAVectoredRunKeepsOnlyThePiecesBeforeIt) {
  const std::vector<std::string> texts = {"AAAA", "BBBB", "CCCC", "DDDD"};
  std::vector<OsWritePiece> pieces;
  for (const std::string& t : texts) pieces.push_back({t.data(), t.size()});
  for (bool stop : {false, true}) {
    for (int k = 1; k <= 4; ++k) {
      std::filesystem::remove(path_);
      std::unique_ptr<OsFile> file;
      ASSERT_TRUE(OsFile::Open(path_, true, true, &file).ok());
      FaultPlan plan;
      if (stop) {
        plan.stop_before_write = k;
      } else {
        plan.FailAt(OsCall::kWrite, k, ENOSPC);
      }
      file->set_fault_plan(&plan);
      const OsStatus s = file->WriteAtv(0, pieces.data(), pieces.size());
      EXPECT_FALSE(s.ok());
      if (!stop) {
        EXPECT_EQ(s.error(), ENOSPC);
      }
      file.reset();
      std::string expected;
      for (int i = 0; i + 1 < k; ++i) expected += texts[static_cast<size_t>(i)];
      EXPECT_EQ(Contents(), expected) << (stop ? "stop" : "failure") << " at write " << k;
    }
  }
}

// The power-cut model sees each piece as a write of its own: a cut may keep
// some pieces of a run and lose others.
TEST_F(OsFileTest, APowerCutJournalsEachPieceOfARun) {
  std::unique_ptr<OsFile> file;
  ASSERT_TRUE(OsFile::Open(path_, true, true, &file).ok());
  FaultPlan plan;
  plan.lose_unsynced = true;
  file->set_fault_plan(&plan);
  const std::string a(64, 'a'), b(64, 'b'), c(64, 'c');
  const OsWritePiece pieces[] = {{a.data(), a.size()}, {b.data(), b.size()}, {c.data(), c.size()}};
  ASSERT_TRUE(file->WriteAtv(128, pieces, 3).ok());
  ASSERT_EQ(plan.pending.count(path_), 1u);
  const auto& writes = plan.pending[path_].writes;
  ASSERT_EQ(writes.size(), 3u);
  for (size_t i = 0; i < 3; ++i) {
    EXPECT_EQ(writes[i].offset, 128 + 64 * i);
    EXPECT_EQ(writes[i].data, std::vector<uint8_t>(64, static_cast<uint8_t>('a' + i)));
  }
  ASSERT_TRUE(file->Sync().ok());
  EXPECT_EQ(plan.pending.count(path_), 0u);
}

}  // namespace
}  // namespace qzr
