#include "jet/storage/page_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
#include <cstring>
#include <vector>

#include "jet/storage/error.h"

namespace jet {

namespace {

std::atomic<int> g_fail_countdown{0};

// A byte far past any real database, so the lock never covers data that
// other tools might lock themselves.
constexpr off_t kWriterLockByte = 0x7FFFFF00;

std::string SysError(const std::string& what, const std::string& path) {
  return what + " '" + path + "': " + std::strerror(errno) + ".";
}

}  // namespace

void PageFile::FailWritesAfter(int n) { g_fail_countdown = n; }

PageFile::PageFile(const std::string& path, bool writable) : writable_(writable), path_(path) {
  fd_ = ::open(path.c_str(), (writable ? O_RDWR : O_RDONLY) | O_CLOEXEC);
  if (fd_ < 0) {
    int e = errno;
    if (e == ENOENT || e == ENOTDIR) {
      throw Error(errnum::kGeneric, "Could not find file '" + path + "'.");
    }
    if (e == EISDIR) {  // opening a folder for writing fails before fstat could tell
      throw Error(errnum::kGeneric, "'" + path + "' is a folder, not a database file.");
    }
    if ((e == EACCES || e == EROFS) && writable) {
      throw Error(errnum::kReadOnly,
                  "The database file '" + path + "' is read-only; it cannot be changed.");
    }
    errno = e;
    throw Error(errnum::kGeneric, SysError("Cannot open the file", path));
  }
  struct stat st;
  if (fstat(fd_, &st) == 0 && S_ISDIR(st.st_mode)) {
    Close();
    throw Error(errnum::kGeneric, "'" + path + "' is a folder, not a database file.");
  }
}

PageFile::~PageFile() { Close(); }

PageFile::PageFile(PageFile&& o) noexcept
    : fd_(o.fd_), writable_(o.writable_), locked_(o.locked_), path_(std::move(o.path_)) {
  o.fd_ = -1;
  o.locked_ = false;
}

PageFile& PageFile::operator=(PageFile&& o) noexcept {
  if (this != &o) {
    Close();
    fd_ = o.fd_;
    writable_ = o.writable_;
    locked_ = o.locked_;
    path_ = std::move(o.path_);
    o.fd_ = -1;
    o.locked_ = false;
  }
  return *this;
}

void PageFile::Close() {
  if (fd_ >= 0) ::close(fd_);  // closing the descriptor releases its OFD lock
  fd_ = -1;
  locked_ = false;
}

uint64_t PageFile::Size() const {
  struct stat st;
  if (fstat(fd_, &st) != 0) throw Error(errnum::kGeneric, SysError("Cannot inspect", path_));
  return static_cast<uint64_t>(st.st_size);
}

size_t PageFile::ReadAt(uint64_t offset, std::span<uint8_t> buf) const {
  size_t done = 0;
  while (done < buf.size()) {
    ssize_t n = ::pread(fd_, buf.data() + done, buf.size() - done, offset + done);
    if (n < 0) {
      if (errno == EINTR) continue;
      throw Error(errnum::kGeneric, SysError("Cannot read", path_));
    }
    if (n == 0) break;
    done += static_cast<size_t>(n);
  }
  return done;
}

size_t PageFile::ReadAt(uint64_t offset, std::span<const std::span<uint8_t>> bufs) const {
  std::vector<iovec> iov;
  iov.reserve(bufs.size());
  for (const auto& b : bufs) iov.push_back(iovec{b.data(), b.size()});
  size_t done = 0;
  size_t first = 0;  // the first buffer not yet filled
  while (first < iov.size()) {
    int count = static_cast<int>(std::min<size_t>(iov.size() - first, IOV_MAX));
    ssize_t n = ::preadv(fd_, iov.data() + first, count, static_cast<off_t>(offset + done));
    if (n < 0) {
      if (errno == EINTR) continue;
      throw Error(errnum::kGeneric, SysError("Cannot read", path_));
    }
    if (n == 0) break;
    done += static_cast<size_t>(n);
    for (size_t left = static_cast<size_t>(n); left > 0 && first < iov.size();) {
      size_t take = std::min(left, iov[first].iov_len);
      iov[first].iov_base = static_cast<char*>(iov[first].iov_base) + take;
      iov[first].iov_len -= take;
      left -= take;
      if (iov[first].iov_len == 0) ++first;
    }
    while (first < iov.size() && iov[first].iov_len == 0) ++first;
  }
  return done;
}

void PageFile::WriteAt(uint64_t offset, std::span<const uint8_t> buf) {
  if (g_fail_countdown > 0 && --g_fail_countdown == 0) {
    g_fail_countdown = 1;  // stays failing, as a full disk does
    errno = ENOSPC;
    throw Error(errnum::kGeneric, SysError("Cannot write to", path_));
  }
  size_t done = 0;
  while (done < buf.size()) {
    ssize_t n = ::pwrite(fd_, buf.data() + done, buf.size() - done, offset + done);
    if (n < 0) {
      if (errno == EINTR) continue;
      throw Error(errnum::kGeneric, SysError("Cannot write to", path_));
    }
    done += static_cast<size_t>(n);
  }
}

void PageFile::Sync() {
  if (::fdatasync(fd_) != 0) throw Error(errnum::kGeneric, SysError("Cannot sync", path_));
}

void PageFile::Truncate(uint64_t size) {
  if (::ftruncate(fd_, static_cast<off_t>(size)) != 0) {
    throw Error(errnum::kGeneric, SysError("Cannot truncate", path_));
  }
}

bool PageFile::TryLockWriter() {
  if (locked_) return true;
  struct flock fl {};
  fl.l_type = F_WRLCK;
  fl.l_whence = SEEK_SET;
  fl.l_start = kWriterLockByte;
  fl.l_len = 1;
  if (::fcntl(fd_, F_OFD_SETLK, &fl) != 0) {
    if (errno == EAGAIN || errno == EACCES) return false;
    throw Error(errnum::kGeneric, SysError("Cannot lock", path_));
  }
  locked_ = true;
  return true;
}

void PageFile::UnlockWriter() {
  if (!locked_) return;
  struct flock fl {};
  fl.l_type = F_UNLCK;
  fl.l_whence = SEEK_SET;
  fl.l_start = kWriterLockByte;
  fl.l_len = 1;
  ::fcntl(fd_, F_OFD_SETLK, &fl);
  locked_ = false;
}

std::pair<dev_t, ino_t> PageFile::Identity() const {
  struct stat st;
  if (fstat(fd_, &st) != 0) throw Error(errnum::kGeneric, SysError("Cannot inspect", path_));
  return {st.st_dev, st.st_ino};
}

void SyncParentDirectory(const std::string& path) {
  std::string dir = path;
  size_t slash = dir.rfind('/');
  dir = slash == std::string::npos ? "." : (slash == 0 ? "/" : dir.substr(0, slash));
  int fd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd >= 0) {
    ::fsync(fd);
    ::close(fd);
  }
}

}  // namespace jet
