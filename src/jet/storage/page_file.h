// The database file on disk: positioned reads and writes, syncing, and the
// lock that keeps a second writing process away.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <span>
#include <string>

namespace jet {

class PageFile {
 public:
  PageFile() = default;
  // Opens an existing file. Throws jet::Error: missing file, not readable,
  // read-only when `writable`.
  PageFile(const std::string& path, bool writable);
  ~PageFile();
  PageFile(PageFile&& o) noexcept;
  PageFile& operator=(PageFile&& o) noexcept;
  PageFile(const PageFile&) = delete;
  PageFile& operator=(const PageFile&) = delete;

  const std::string& path() const { return path_; }
  bool writable() const { return writable_; }
  uint64_t Size() const;
  // Reads exactly buf.size() bytes, or fewer at the end of the file; returns
  // how many were read.
  size_t ReadAt(uint64_t offset, std::span<uint8_t> buf) const;
  // Reads the bytes from `offset` on into each buffer in turn, with one
  // system call when it can; returns how many bytes were read, fewer only at
  // the end of the file.
  size_t ReadAt(uint64_t offset, std::span<const std::span<uint8_t>> bufs) const;
  void WriteAt(uint64_t offset, std::span<const uint8_t> buf);
  void Sync();
  void Truncate(uint64_t size);
  // The writer lock: exclusive among processes, held until Unlock or close.
  // Returns false when another process holds it.
  bool TryLockWriter();
  void UnlockWriter();
  // Device and inode, to recognise the same file opened twice.
  std::pair<dev_t, ino_t> Identity() const;

  // Test hook: make the n-th following write (1-based) and every later one
  // fail as a full disk would; 0 turns it off.
  static void FailWritesAfter(int n);

 private:
  void Close();
  int fd_ = -1;
  bool writable_ = false;
  bool locked_ = false;
  std::string path_;
};

// Syncs the directory holding `path`, so that a created or removed file is
// durable too.
void SyncParentDirectory(const std::string& path);

}  // namespace jet
