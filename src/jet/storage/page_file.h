// The database file on disk: positioned reads and writes, syncing, and the
// locks that let processes share it. The bytes go through a FileSystem (the
// operating system's unless a test gives its own).
//
// Locks are byte-range locks far past any real database's data (Jet files
// end below 2 GiB), so they never cover bytes other tools lock themselves:
//   0x7FFFFF00  pending   written by a writer waiting for readers to leave;
//                         a reader read-locks it for a moment to get in
//   0x7FFFFF01  reserved  written by the one writer for as long as it may change the file
//   0x7FFFFF02  shared    254 bytes, read-locked by every reader and writer;
//                         written by the writer while it writes pages
// The levels, each holding the ones before it:
//   shared     the file may be read; no page of it changes meanwhile
//   reserved   this opening is the one that may change it; readers go on
//   exclusive  pages are being written (a spill or a commit); nobody reads
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>

#include "jet/storage/file_system.h"

namespace jet {

// Called between attempts while a lock is waited for, so that a program with
// windows can keep them painted meanwhile. One for the process; none unless set.
void SetLockWaitHandler(std::function<void()> handler);

class PageFile {
 public:
  PageFile() = default;
  // Opens an existing file. Throws jet::Error: missing file, not readable,
  // read-only when `writable`.
  PageFile(const std::string& path, bool writable, FileSystem& fs = FileSystem::Default());
  // Creates the file, or empties it, for reading and writing.
  static PageFile Replace(const std::string& path, FileSystem& fs = FileSystem::Default());
  ~PageFile();
  PageFile(PageFile&& o) noexcept = default;
  PageFile& operator=(PageFile&& o) noexcept;
  PageFile(const PageFile&) = delete;
  PageFile& operator=(const PageFile&) = delete;

  const std::string& path() const { return path_; }
  bool writable() const { return writable_; }
  FileSystem& file_system() const { return *fs_; }
  uint64_t Size() const { return file_->Size(); }
  // Reads exactly buf.size() bytes, or fewer at the end of the file; returns
  // how many were read.
  size_t ReadAt(uint64_t offset, std::span<uint8_t> buf) const;
  // Reads the bytes from `offset` on into each buffer in turn, with one
  // system call when it can; returns how many bytes were read, fewer only at
  // the end of the file.
  size_t ReadAt(uint64_t offset, std::span<const std::span<uint8_t>> bufs) const {
    return file_->ReadAt(offset, bufs);
  }
  void WriteAt(uint64_t offset, std::span<const uint8_t> buf) { file_->WriteAt(offset, buf); }
  void WriteAt(uint64_t offset, std::span<const std::span<const uint8_t>> bufs) {
    file_->WriteAt(offset, bufs);
  }
  void Sync() { file_->Sync(); }
  void Truncate(uint64_t size) { file_->Truncate(size); }
  enum class LockLevel { kNone, kShared, kReserved, kExclusive };
  // One attempt to rise to `level` (from any lower level); false when another
  // opening is in the way. A failed attempt at exclusive keeps the pending
  // lock, so that readers stop coming while the writer waits; Release or a
  // lower level drops it.
  bool TryLock(LockLevel level);
  // Tries until `timeout_ms` has passed.
  bool WaitLock(LockLevel level, int timeout_ms);
  // Down to `level` (or no lower than it was).
  void Release(LockLevel level);
  LockLevel lock_level() const { return level_; }
  // Whether some other opening may change the file (holds the reserved lock).
  bool OtherWriter();
  // The writer lock of earlier callers: shared and reserved.
  bool TryLockWriter() { return TryLock(LockLevel::kReserved); }
  void UnlockWriter() { Release(LockLevel::kNone); }
  // Device and inode, to recognise the same file opened twice.
  std::pair<dev_t, ino_t> Identity() const { return file_->Identity(); }

 private:
  std::unique_ptr<File> file_;
  FileSystem* fs_ = &FileSystem::Default();
  bool writable_ = false;
  LockLevel level_ = LockLevel::kNone;
  bool pending_ = false;
  std::string path_;
};

}  // namespace jet
