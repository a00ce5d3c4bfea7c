// The command line's text streams: output appended through TextOut and
// input read whole through TextIn, over a file descriptor (the program's
// standard streams) or a string (tests, benchmarks).
//
// They stand in for the C++ stream library on the command line's path: the
// first C++ stream a process makes sets up the library's locale (every
// facet of two character types), which cost a short command such as show
// more than its own work. A command that needs a C++ stream (export's
// entry writer) makes one over a TextOut with TextOutBuf and pays for it
// itself.
//
// Threads: one stream is used by one thread at a time.

#ifndef QZR_APP_TEXT_STREAM_H_
#define QZR_APP_TEXT_STREAM_H_

#include <cstddef>
#include <cstdint>
#include <streambuf>
#include <string>
#include <string_view>
#include <utility>

namespace qzr {

// Text output. After a failed write good() is false and nothing more is
// written.
class TextOut {
 public:
  virtual ~TextOut() = default;

  TextOut& operator<<(std::string_view text) {
    Put(text.data(), text.size());
    return *this;
  }
  TextOut& operator<<(const char* text) { return *this << std::string_view(text); }
  TextOut& operator<<(char c) {
    Put(&c, 1);
    return *this;
  }
  TextOut& operator<<(int v) { return PutSigned(v); }
  TextOut& operator<<(long v) { return PutSigned(v); }
  TextOut& operator<<(long long v) { return PutSigned(v); }
  TextOut& operator<<(unsigned v) { return PutUnsigned(v); }
  TextOut& operator<<(unsigned long v) { return PutUnsigned(v); }
  TextOut& operator<<(unsigned long long v) { return PutUnsigned(v); }

  // Writes out what is held back; false when output has failed.
  bool Flush();
  bool good() const { return good_; }

 protected:
  // Takes `size` bytes; false when they cannot be written.
  virtual bool Write(const char* data, size_t size) = 0;
  // Writes out what Write held back; false on failure.
  virtual bool Drain() { return true; }

 private:
  void Put(const char* data, size_t size);
  TextOut& PutSigned(long long v);
  TextOut& PutUnsigned(unsigned long long v);

  bool good_ = true;
};

// Output kept in a string.
class StringTextOut final : public TextOut {
 public:
  const std::string& str() const { return text_; }

 protected:
  bool Write(const char* data, size_t size) override;

 private:
  std::string text_;
};

// Output to a file descriptor through a buffer of 64 KiB, or written
// through at once after each output (`write_through`, as an error stream
// is). error() is the errno of the first failed write, 0 when none.
class FdTextOut final : public TextOut {
 public:
  FdTextOut(int fd, bool write_through);
  ~FdTextOut() override;
  FdTextOut(const FdTextOut&) = delete;
  FdTextOut& operator=(const FdTextOut&) = delete;
  int error() const { return error_; }

 protected:
  bool Write(const char* data, size_t size) override;
  bool Drain() override;

 private:
  int fd_;
  bool write_through_;
  int error_ = 0;
  std::string buffer_;
};

// Input read whole.
class TextIn {
 public:
  virtual ~TextIn() = default;
  // Everything there is to read (to the end of input, or up to a failed
  // read) appended to *out.
  virtual void ReadAll(std::string* out) = 0;
};

class StringTextIn final : public TextIn {
 public:
  explicit StringTextIn(std::string text = "") : text_(std::move(text)) {}
  void ReadAll(std::string* out) override;

 private:
  std::string text_;
};

class FdTextIn final : public TextIn {
 public:
  explicit FdTextIn(int fd) : fd_(fd) {}
  void ReadAll(std::string* out) override;

 private:
  int fd_;
};

// A C++ stream buffer writing into a TextOut, for code that writes to a
// std::ostream. A failed write fails the stream.
class TextOutBuf final : public std::streambuf {
 public:
  explicit TextOutBuf(TextOut* out) : out_(out) {}

 protected:
  int_type overflow(int_type c) override;
  std::streamsize xsputn(const char* data, std::streamsize size) override;
  int sync() override;

 private:
  TextOut* out_;
};

}  // namespace qzr

#endif  // QZR_APP_TEXT_STREAM_H_
