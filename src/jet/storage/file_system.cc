#include "jet/storage/file_system.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "jet/storage/error.h"

namespace jet {

namespace {

std::string SysError(const std::string& what, const std::string& path) {
  return what + " '" + path + "': " + std::strerror(errno) + ".";
}

class PosixFile : public File {
 public:
  PosixFile(int fd, std::string path) : fd_(fd), path_(std::move(path)) {}
  ~PosixFile() override { ::close(fd_); }  // closing the descriptor releases its OFD locks
  PosixFile(const PosixFile&) = delete;
  PosixFile& operator=(const PosixFile&) = delete;

  uint64_t Size() override {
    struct stat st;
    if (fstat(fd_, &st) != 0) throw Error(errnum::kGeneric, SysError("Cannot inspect", path_));
    return static_cast<uint64_t>(st.st_size);
  }

  size_t ReadAt(uint64_t offset, std::span<const std::span<uint8_t>> bufs) override;

  void WriteAt(uint64_t offset, std::span<const uint8_t> buf) override {
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

  void WriteAt(uint64_t offset, std::span<const std::span<const uint8_t>> bufs) override;

  void Sync() override {
    if (::fdatasync(fd_) != 0) throw Error(errnum::kGeneric, SysError("Cannot sync", path_));
  }

  void Truncate(uint64_t size) override {
    if (::ftruncate(fd_, static_cast<off_t>(size)) != 0) {
      throw Error(errnum::kGeneric, SysError("Cannot truncate", path_));
    }
  }

  bool Lock(uint64_t start, uint64_t length, LockType type) override {
    struct flock fl {};
    fl.l_type = type == LockType::kUnlock ? F_UNLCK : type == LockType::kRead ? F_RDLCK : F_WRLCK;
    fl.l_whence = SEEK_SET;
    fl.l_start = static_cast<off_t>(start);
    fl.l_len = static_cast<off_t>(length);
    if (::fcntl(fd_, F_OFD_SETLK, &fl) == 0) return true;
    if (type == LockType::kUnlock) return true;
    if (errno == EAGAIN || errno == EACCES) return false;
    throw Error(errnum::kGeneric, SysError("Cannot lock", path_));
  }

  bool LockedByOther(uint64_t start, uint64_t length) override {
    struct flock fl {};
    fl.l_type = F_WRLCK;
    fl.l_whence = SEEK_SET;
    fl.l_start = static_cast<off_t>(start);
    fl.l_len = static_cast<off_t>(length);
    if (::fcntl(fd_, F_OFD_GETLK, &fl) != 0) {
      throw Error(errnum::kGeneric, SysError("Cannot inspect the locks of", path_));
    }
    return fl.l_type != F_UNLCK;
  }

  std::pair<dev_t, ino_t> Identity() override {
    struct stat st;
    if (fstat(fd_, &st) != 0) throw Error(errnum::kGeneric, SysError("Cannot inspect", path_));
    return {st.st_dev, st.st_ino};
  }

 private:
  int fd_;
  std::string path_;
};

void PosixFile::WriteAt(uint64_t offset, std::span<const std::span<const uint8_t>> bufs) {
  std::vector<iovec> iov;
  iov.reserve(bufs.size());
  size_t left = 0;
  for (const auto& b : bufs) {
    iov.push_back(iovec{const_cast<uint8_t*>(b.data()), b.size()});
    left += b.size();
  }
  size_t first = 0;
  while (left > 0) {
    const int count = static_cast<int>(std::min<size_t>(iov.size() - first, IOV_MAX));
    const ssize_t n = ::pwritev(fd_, iov.data() + first, count, static_cast<off_t>(offset));
    if (n < 0) {
      if (errno == EINTR) continue;
      throw Error(errnum::kGeneric, SysError("Cannot write to", path_));
    }
    offset += static_cast<uint64_t>(n);
    left -= static_cast<size_t>(n);
    for (size_t done = static_cast<size_t>(n); done > 0 && first < iov.size();) {
      const size_t take = std::min(done, iov[first].iov_len);
      iov[first].iov_base = static_cast<uint8_t*>(iov[first].iov_base) + take;
      iov[first].iov_len -= take;
      done -= take;
      if (iov[first].iov_len == 0) ++first;
    }
    while (first < iov.size() && iov[first].iov_len == 0) ++first;
  }
}

size_t PosixFile::ReadAt(uint64_t offset, std::span<const std::span<uint8_t>> bufs) {
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

class PosixFileSystem : public FileSystem {
 public:
  std::unique_ptr<File> Open(const std::string& path, Mode mode) override {
    int flags = O_CLOEXEC;
    if (mode == Mode::kRead) flags |= O_RDONLY;
    if (mode == Mode::kReadWrite) flags |= O_RDWR;
    if (mode == Mode::kReplace) flags |= O_RDWR | O_CREAT | O_TRUNC;
    const int fd = ::open(path.c_str(), flags, 0600);
    if (fd < 0) ThrowOpenError(path, errno, mode);
    struct stat st;
    if (fstat(fd, &st) == 0 && S_ISDIR(st.st_mode)) {
      ::close(fd);
      throw Error(errnum::kGeneric, "'" + path + "' is a folder, not a database file.");
    }
    return std::make_unique<PosixFile>(fd, path);
  }

  bool Exists(const std::string& path) override { return ::access(path.c_str(), F_OK) == 0; }

  void Remove(const std::string& path) override { ::unlink(path.c_str()); }

  void Rename(const std::string& from, const std::string& to) override {
    // A link, unlike a rename, never replaces a file that appeared meanwhile.
    if (::link(from.c_str(), to.c_str()) != 0) {
      throw Error(errnum::kGeneric, SysError("Cannot rename '" + from + "' to", to));
    }
    ::unlink(from.c_str());
  }

  void SyncFolderOf(const std::string& path) override {
    std::string dir = path;
    size_t slash = dir.rfind('/');
    dir = slash == std::string::npos ? "." : (slash == 0 ? "/" : dir.substr(0, slash));
    int fd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
      ::fsync(fd);
      ::close(fd);
    }
  }

 private:
  [[noreturn]] static void ThrowOpenError(const std::string& path, int e, Mode mode) {
    if (e == ENOENT || e == ENOTDIR) {
      throw Error(errnum::kGeneric, "Could not find file '" + path + "'.");
    }
    if (e == EISDIR) {  // opening a folder for writing fails before fstat could tell
      throw Error(errnum::kGeneric, "'" + path + "' is a folder, not a database file.");
    }
    if ((e == EACCES || e == EROFS) && mode == Mode::kReadWrite) {
      throw Error(errnum::kReadOnly,
                  "The database file '" + path + "' is read-only; it cannot be changed.");
    }
    errno = e;
    throw Error(errnum::kGeneric,
                SysError(mode == Mode::kReplace ? "Cannot create" : "Cannot open the file", path));
  }
};

}  // namespace

std::string ResolvedPath(const std::string& path) {
  char* real = ::realpath(path.c_str(), nullptr);
  if (!real) return path;
  std::string out(real);
  ::free(real);
  return out;
}

FileSystem& FileSystem::Default() {
  static PosixFileSystem fs;
  return fs;
}

}  // namespace jet
