// The command line's text streams.

#include "app/text_stream.h"

#include <charconv>

#include "runtime/os/file_io.h"

namespace qzr {
namespace {

constexpr size_t kFdBufferSize = 1 << 16;

}  // namespace

void TextOut::Put(const char* data, size_t size) {
  if (good_ && size > 0 && !Write(data, size)) good_ = false;
}

TextOut& TextOut::PutSigned(long long v) {
  char digits[24];  // room for any 64-bit number and its sign
  const auto [end, ec] = std::to_chars(digits, digits + sizeof digits, v);
  Put(digits, static_cast<size_t>(end - digits));
  return *this;
}

TextOut& TextOut::PutUnsigned(unsigned long long v) {
  char digits[24];
  const auto [end, ec] = std::to_chars(digits, digits + sizeof digits, v);
  Put(digits, static_cast<size_t>(end - digits));
  return *this;
}

bool TextOut::Flush() {
  if (good_ && !Drain()) good_ = false;
  return good_;
}

bool StringTextOut::Write(const char* data, size_t size) {
  text_.append(data, size);
  return true;
}

FdTextOut::FdTextOut(int fd, bool write_through) : fd_(fd), write_through_(write_through) {}

FdTextOut::~FdTextOut() {
  Flush();
}

bool FdTextOut::Write(const char* data, size_t size) {
  if (write_through_) {
    const OsStatus s = WriteToDescriptor(fd_, data, size);
    error_ = s.error();
    return s.ok();
  }
  if (buffer_.size() + size > kFdBufferSize && !Drain()) return false;
  if (size >= kFdBufferSize) {
    const OsStatus s = WriteToDescriptor(fd_, data, size);
    error_ = s.error();
    return s.ok();
  }
  if (buffer_.capacity() == 0) buffer_.reserve(kFdBufferSize);
  buffer_.append(data, size);
  return true;
}

bool FdTextOut::Drain() {
  if (buffer_.empty()) return error_ == 0;
  const OsStatus s = WriteToDescriptor(fd_, buffer_.data(), buffer_.size());
  buffer_.clear();
  error_ = s.error();
  return s.ok();
}

void StringTextIn::ReadAll(std::string* out) {
  out->append(text_);
  text_.clear();
}

void FdTextIn::ReadAll(std::string* out) {
  char buffer[1 << 16];
  for (;;) {
    size_t got = 0;
    if (!ReadFromDescriptor(fd_, buffer, sizeof buffer, &got).ok() || got == 0) return;
    out->append(buffer, got);
  }
}

TextOutBuf::int_type TextOutBuf::overflow(int_type c) {
  if (traits_type::eq_int_type(c, traits_type::eof())) return traits_type::not_eof(c);
  *out_ << traits_type::to_char_type(c);
  return out_->good() ? c : traits_type::eof();
}

std::streamsize TextOutBuf::xsputn(const char* data, std::streamsize size) {
  *out_ << std::string_view(data, static_cast<size_t>(size));
  return out_->good() ? size : 0;
}

int TextOutBuf::sync() {
  return out_->Flush() ? 0 : -1;
}

}  // namespace qzr
