// Tests of the command line's text streams.

#include "app/text_stream.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <ostream>
#include <string>

namespace qzr {
namespace {

TEST(TextStreamTest, WritesTextsCharactersAndNumbersAsTheyRead) {
  StringTextOut out;
  out << "id " << 42 << ' ' << -7 << ' ' << std::string("s") << std::string_view("v") << ' ' << 0u
      << ' ' << size_t{18446744073709551615u} << ' ' << LLONG_MIN;
  EXPECT_EQ(out.str(), "id 42 -7 sv 0 18446744073709551615 -9223372036854775808");
  EXPECT_TRUE(out.good());
}

// The ends of a pipe, closed when done.
struct Pipe {
  Pipe() { EXPECT_EQ(pipe(fds), 0); }
  ~Pipe() {
    for (int fd : fds) {
      if (fd >= 0) close(fd);
    }
  }
  int fds[2] = {-1, -1};
};

TEST(TextStreamTest, BufferedOutputIsWrittenOnFlushOrWhenFull) {
  char name[] = "/tmp/qzr_text_stream_XXXXXX";
  const int fd = mkstemp(name);
  ASSERT_GE(fd, 0);
  unlink(name);
  auto written = [fd] { return static_cast<size_t>(lseek(fd, 0, SEEK_CUR)); };
  const std::string big(70000, 'x');
  {
    FdTextOut out(fd, false);
    out << "a";
    EXPECT_EQ(written(), 0u);  // held back
    out << big << "b";         // more than the buffer holds
    EXPECT_GE(written(), big.size());
    EXPECT_TRUE(out.Flush());
    EXPECT_EQ(written(), big.size() + 2);
    out << "tail";  // written when the stream ends
  }
  std::string all(big.size() + 6, '\0');
  EXPECT_EQ(pread(fd, all.data(), all.size(), 0), static_cast<ssize_t>(all.size()));
  EXPECT_EQ(all, "a" + big + "btail");
  close(fd);
}

TEST(TextStreamTest, AFailedWriteIsKeptAndNothingMoreIsWritten) {
  const int full = open("/dev/full", O_WRONLY | O_CLOEXEC);
  ASSERT_GE(full, 0);
  for (bool through : {false, true}) {
    SCOPED_TRACE(through);
    FdTextOut out(full, through);
    out << "lost";
    EXPECT_FALSE(out.Flush());
    EXPECT_FALSE(out.good());
    EXPECT_EQ(out.error(), ENOSPC);
    out << "more";
    EXPECT_EQ(out.error(), ENOSPC);
  }
  close(full);
}

TEST(TextStreamTest, InputIsReadWholeFromADescriptorOrAString) {
  Pipe p;
  const std::string text(100000, 'y');
  // The pipe holds 64 KiB: write from a child so that the read drains it.
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    close(p.fds[0]);
    const ssize_t n = write(p.fds[1], text.data(), text.size());
    _exit(n == static_cast<ssize_t>(text.size()) ? 0 : 1);
  }
  close(p.fds[1]);
  p.fds[1] = -1;
  FdTextIn in(p.fds[0]);
  std::string got = "kept:";
  in.ReadAll(&got);
  EXPECT_EQ(got, "kept:" + text);
  int status = 0;
  waitpid(child, &status, 0);
  EXPECT_EQ(status, 0);

  StringTextIn s("abc");
  std::string all;
  s.ReadAll(&all);
  EXPECT_EQ(all, "abc");
}

TEST(TextStreamTest, ACppStreamWritesThroughTextOutBuf) {
  StringTextOut out;
  TextOutBuf buf(&out);
  std::ostream stream(&buf);
  stream << "n=" << 5 << '\n';
  stream.flush();
  EXPECT_TRUE(stream.good());
  EXPECT_EQ(out.str(), "n=5\n");

  const int full = open("/dev/full", O_WRONLY | O_CLOEXEC);
  ASSERT_GE(full, 0);
  FdTextOut failing(full, true);
  TextOutBuf bad(&failing);
  std::ostream lost(&bad);
  lost << "x";
  EXPECT_FALSE(lost.good());
  close(full);
}

}  // namespace
}  // namespace qzr
