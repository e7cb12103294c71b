// The database file on disk: positioned reads and writes, syncing, and the
// lock that keeps a second writing process away. The bytes go through a
// FileSystem (the operating system's unless a test gives its own).
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <memory>
#include <span>
#include <string>

#include "jet/storage/file_system.h"

namespace jet {

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
  void Sync() { file_->Sync(); }
  void Truncate(uint64_t size) { file_->Truncate(size); }
  // The writer lock: exclusive among processes, held until Unlock or close.
  // Returns false when another process holds it.
  bool TryLockWriter();
  void UnlockWriter();
  // Device and inode, to recognise the same file opened twice.
  std::pair<dev_t, ino_t> Identity() const { return file_->Identity(); }

 private:
  std::unique_ptr<File> file_;
  FileSystem* fs_ = &FileSystem::Default();
  bool writable_ = false;
  bool locked_ = false;
  std::string path_;
};

}  // namespace jet
