#include "runtime/os/file_io.h"

#include <gtest/gtest.h>
#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstring>
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

class FileViewTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (std::filesystem::temp_directory_path() / "qzr_file_io_XXXXXX").string();
    std::vector<char> buf(pattern.begin(), pattern.end());
    buf.push_back('\0');
    ASSERT_NE(::mkdtemp(buf.data()), nullptr);
    dir_ = buf.data();
    path_ = (dir_ / "data.bin").string();
  }
  void TearDown() override {
    std::error_code ec;
    std::filesystem::remove_all(dir_, ec);
  }
  std::unique_ptr<OsFile> Open(bool writable) {
    std::unique_ptr<OsFile> f;
    EXPECT_TRUE(OsFile::Open(path_, writable, true, &f).ok());
    return f;
  }
  static std::vector<uint8_t> Pattern(size_t n, uint8_t seed) {
    std::vector<uint8_t> v(n);
    for (size_t i = 0; i < n; ++i) v[i] = static_cast<uint8_t>(seed + i * 7 + i / 4096);
    return v;
  }

  std::filesystem::path dir_;
  std::string path_;
};

TEST_F(FileViewTest, AViewLendsTheFilesBytesAndSeesLaterWrites) {
  auto writer = Open(true);
  const std::vector<uint8_t> data = Pattern(3 << 20, 1);  // past the first mapping
  ASSERT_TRUE(writer->WriteAt(0, data.data(), data.size()).ok());
  auto reader = Open(false);
  const uint8_t* view = nullptr;
  ASSERT_TRUE(reader->ReadView(4096, 8192, &view).ok());
  ASSERT_NE(view, nullptr);
  EXPECT_EQ(std::memcmp(view, data.data() + 4096, 8192), 0);
  ASSERT_TRUE(reader->ReadView(data.size() - 512, 512, &view).ok());
  ASSERT_NE(view, nullptr);
  EXPECT_EQ(std::memcmp(view, data.data() + data.size() - 512, 512), 0);

  // Another object's write shows through the same mapping.
  const std::vector<uint8_t> changed = Pattern(8192, 99);
  ASSERT_TRUE(writer->WriteAt(4096, changed.data(), changed.size()).ok());
  ASSERT_TRUE(reader->ReadView(4096, 8192, &view).ok());
  ASSERT_NE(view, nullptr);
  EXPECT_EQ(std::memcmp(view, changed.data(), changed.size()), 0);

  // The file's own writes extend what it may lend.
  const std::vector<uint8_t> tail = Pattern(4096, 5);
  ASSERT_TRUE(writer->WriteAt(data.size(), tail.data(), tail.size()).ok());
  ASSERT_TRUE(writer->ReadView(data.size(), tail.size(), &view).ok());
  ASSERT_NE(view, nullptr);
  EXPECT_EQ(std::memcmp(view, tail.data(), tail.size()), 0);
}

TEST_F(FileViewTest, NoViewReachesPastTheLengthLastSeen) {
  auto writer = Open(true);
  const std::vector<uint8_t> data = Pattern(64 << 10, 3);
  ASSERT_TRUE(writer->WriteAt(0, data.data(), data.size()).ok());
  auto reader = Open(false);
  const uint8_t* view = nullptr;
  ASSERT_TRUE(reader->ReadView(60 << 10, 4096, &view).ok());
  ASSERT_NE(view, nullptr);

  // Another object cuts the file. Once the reader has asked the length (as
  // it does under the lock that keeps writers out), a view of what was cut
  // is refused and the read falls back to the system, which reads short.
  ASSERT_TRUE(writer->Truncate(8192).ok());
  uint64_t size = 0;
  ASSERT_TRUE(reader->Size(&size).ok());
  EXPECT_EQ(size, 8192u);
  ASSERT_TRUE(reader->ReadView(60 << 10, 4096, &view).ok());
  EXPECT_EQ(view, nullptr);
  ASSERT_TRUE(reader->ReadView(4096, 4096, &view).ok());
  ASSERT_NE(view, nullptr);
  EXPECT_EQ(std::memcmp(view, data.data() + 4096, 4096), 0);
  uint8_t buf[4096];
  size_t got = 1;
  ASSERT_TRUE(reader->ReadAt(60 << 10, buf, sizeof buf, &got).ok());
  EXPECT_EQ(got, 0u);

  // Its own truncation needs no question.
  ASSERT_TRUE(writer->Truncate(1024).ok());
  ASSERT_TRUE(writer->ReadView(4096, 512, &view).ok());
  EXPECT_EQ(view, nullptr);
}

// Whether the page of this process's memory holding `p` has its page table
// entry made (bit 63 of its /proc/self/pagemap entry): 1 or 0, or -1 when
// the system does not say.
int PageMapped(const void* p) {
  const long page = ::sysconf(_SC_PAGESIZE);
  const int fd = ::open("/proc/self/pagemap", O_RDONLY | O_CLOEXEC);
  if (fd < 0) return -1;
  uint64_t entry = 0;
  const off_t at = static_cast<off_t>(reinterpret_cast<uintptr_t>(p) / page * sizeof entry);
  const ssize_t n = ::pread(fd, &entry, sizeof entry, at);
  ::close(fd);
  if (n != static_cast<ssize_t>(sizeof entry)) return -1;
  return (entry >> 63) != 0 ? 1 : 0;
}

// Given a view that made the page tables of its 64 KiB chunk, when the file
// is cut and written again, or grows past where it ended within that chunk,
// then a view of the chunk makes the tables of its new pages too (nothing
// touches the pages here: only a populated chunk has them mapped).
TEST_F(FileViewTest, AViewPopulatesAChunkAgainAfterTheFileWasCutOrGrew) {
  constexpr size_t kChunk = 64 << 10;
  struct Case {
    const char* what;
    size_t first_length;  // the file when the chunk is first viewed
    size_t cut_to;        // then cut to this length (first_length: not cut)
    size_t view_at;       // the view after the file is written to kChunk
  };
  const Case cases[] = {
      {"cut to nothing and written again", kChunk, 0, 0},
      {"cut inside the chunk and written again", kChunk, 8192, 32768},
      {"grown past its end inside the chunk", 8192, 8192, 32768},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::filesystem::remove(path_);
    auto file = Open(true);
    const std::vector<uint8_t> data = Pattern(kChunk, 9);
    ASSERT_TRUE(file->WriteAt(0, data.data(), c.first_length).ok());
    const uint8_t* view = nullptr;
    ASSERT_TRUE(file->ReadView(0, 4096, &view).ok());
    ASSERT_NE(view, nullptr);
    const int first = PageMapped(view + c.first_length - 4096);
    if (first != 1) {
      GTEST_SKIP() << "the system does not show or make populated mappings";
    }
    if (c.cut_to < c.first_length) {
      ASSERT_TRUE(file->Truncate(c.cut_to).ok());
    }
    ASSERT_TRUE(file->WriteAt(c.cut_to, data.data(), kChunk - c.cut_to).ok());
    ASSERT_TRUE(file->ReadView(c.view_at, 4096, &view).ok());
    ASSERT_NE(view, nullptr);
    const uint8_t* chunk = view - c.view_at;
    for (size_t at = c.cut_to; at < kChunk; at += 4096) {
      EXPECT_EQ(PageMapped(chunk + at), 1) << "page at " << at;
    }
    EXPECT_EQ(std::memcmp(chunk, data.data(), c.cut_to), 0);
    EXPECT_EQ(std::memcmp(chunk + c.cut_to, data.data(), kChunk - c.cut_to), 0);
  }
}

TEST_F(FileViewTest, TheFaultPlanCountsAndFailsViews) {
  auto writer = Open(true);
  const std::vector<uint8_t> data = Pattern(16384, 7);
  ASSERT_TRUE(writer->WriteAt(0, data.data(), data.size()).ok());
  FaultPlan plan;
  plan.FailAt(OsCall::kRead, 2, EIO);
  writer->set_fault_plan(&plan);
  const uint8_t* view = nullptr;
  ASSERT_TRUE(writer->ReadView(0, 4096, &view).ok());
  EXPECT_NE(view, nullptr);
  const OsStatus failed = writer->ReadView(4096, 4096, &view);
  EXPECT_TRUE(failed.Is(EIO));
  EXPECT_EQ(view, nullptr);
  EXPECT_EQ(plan.count(OsCall::kRead), 2);
  writer->set_fault_plan(nullptr);
}

}  // namespace
}  // namespace qzr
