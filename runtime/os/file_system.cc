// Name questions and the file output stream, behind the fault plan.

#include "runtime/os/file_system.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <filesystem>
#include <system_error>

#include "runtime/os/fault_plan.h"

namespace qzr {
namespace {

int EnterStat(const std::string& path) {
  OsCallInfo info(OsCall::kStat);
  info.path = path;
  return os_internal::Enter(ProcessFaultPlan(), info);
}

}  // namespace

OsStatus StatPath(const std::string& path, OsPathInfo* info) {
  if (int err = EnterStat(path)) return OsStatus::Error(err);
  struct stat st;
  if (::stat(path.c_str(), &st) != 0) return OsStatus::Last();
  info->kind = S_ISREG(st.st_mode)   ? OsFileKind::kRegular
               : S_ISDIR(st.st_mode) ? OsFileKind::kDirectory
                                     : OsFileKind::kOther;
  info->size = static_cast<uint64_t>(st.st_size);
  info->mode = static_cast<unsigned>(st.st_mode & 07777);
  info->id = {static_cast<uint64_t>(st.st_dev), static_cast<uint64_t>(st.st_ino)};
  return OsStatus::Ok();
}

bool PathExists(const std::string& path) {
  OsPathInfo info;
  return StatPath(path, &info).ok();
}

bool IsDirectory(const std::string& path) {
  OsPathInfo info;
  return StatPath(path, &info).ok() && info.kind == OsFileKind::kDirectory;
}

bool IsSymbolicLink(const std::string& path) {
  if (EnterStat(path) != 0) return false;
  struct stat st;
  return ::lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode);
}

OsStatus CheckWritable(const std::string& path) {
  if (int err = EnterStat(path)) return OsStatus::Error(err);
  return ::access(path.c_str(), W_OK) == 0 ? OsStatus::Ok() : OsStatus::Last();
}

OsStatus ResolvePath(const std::string& path, std::string* resolved) {
  if (int err = EnterStat(path)) return OsStatus::Error(err);
  char buf[PATH_MAX];
  if (::realpath(path.c_str(), buf) == nullptr) return OsStatus::Last();
  *resolved = buf;
  return OsStatus::Ok();
}

OsStatus CanonicalPath(const std::string& path, std::string* canonical) {
  if (int err = EnterStat(path)) return OsStatus::Error(err);
  std::error_code ec;
  std::filesystem::path p = std::filesystem::absolute(path, ec);
  if (!ec) p = std::filesystem::weakly_canonical(p, ec);
  if (ec) return OsStatus::Error(ec.value());
  *canonical = p.string();
  return OsStatus::Ok();
}

OsStatus AbsolutePath(const std::string& path, std::string* absolute) {
  if (!path.empty() && path[0] == '/') {
    *absolute = path;
    return OsStatus::Ok();
  }
  std::string cwd;
  if (OsStatus s = CurrentDirectory(&cwd); !s.ok()) return s;
  *absolute = (std::filesystem::path(cwd) / path).string();
  return OsStatus::Ok();
}

OsStatus CurrentDirectory(std::string* directory) {
  if (int err = EnterStat(".")) return OsStatus::Error(err);
  std::error_code ec;
  std::filesystem::path p = std::filesystem::current_path(ec);
  if (ec) return OsStatus::Error(ec.value());
  *directory = p.string();
  return OsStatus::Ok();
}

OsStatus ExecutablePath(std::string* path) {
  static const char kSelf[] = "/proc/self/exe";
  if (int err = EnterStat(kSelf)) return OsStatus::Error(err);
  std::string exe(PATH_MAX, '\0');
  const ssize_t n = ::readlink(kSelf, exe.data(), exe.size());
  if (n < 0) return OsStatus::Last();
  if (n == 0 || static_cast<size_t>(n) >= exe.size()) return OsStatus::Error(ENAMETOOLONG);
  exe.resize(static_cast<size_t>(n));
  *path = std::move(exe);
  return OsStatus::Ok();
}

// ---- OsOutputStream

OsOutputStream::Buffer::Buffer(OsFile* file) : file_(file) {
  setp(data_, data_ + sizeof data_);
}

bool OsOutputStream::Buffer::Drain() {
  const size_t n = static_cast<size_t>(pptr() - pbase());
  if (n == 0) return status_.ok();
  setp(data_, data_ + sizeof data_);
  // After a failure nothing more is written: a file with a hole in the
  // middle is worse than one that stops.
  if (!status_.ok()) return false;
  status_ = file_->WriteAt(offset_, data_, n);
  if (!status_.ok()) return false;
  offset_ += n;
  return true;
}

OsOutputStream::Buffer::int_type OsOutputStream::Buffer::overflow(int_type c) {
  if (!Drain()) return traits_type::eof();
  if (traits_type::eq_int_type(c, traits_type::eof())) return traits_type::not_eof(c);
  *pptr() = traits_type::to_char_type(c);
  pbump(1);
  return c;
}

int OsOutputStream::Buffer::sync() {
  return Drain() ? 0 : -1;
}

OsOutputStream::OsOutputStream(OsFile* file) : std::ostream(nullptr), buffer_(file) {
  rdbuf(&buffer_);
}

OsOutputStream::~OsOutputStream() {
  buffer_.pubsync();
}

}  // namespace qzr
