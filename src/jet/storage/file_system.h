// The file operations the engine makes, behind an interface: the database,
// its journal and the copies it writes all go through a FileSystem, so that
// tests can make the Nth write or sync fail, cut a write short, or stop the
// process at an exact point without any switch in the engine itself.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <utility>

namespace jet {

class File {
 public:
  virtual ~File() = default;
  virtual uint64_t Size() = 0;
  // Reads the bytes from `offset` on into each buffer in turn; returns how
  // many were read, fewer only at the end of the file.
  virtual size_t ReadAt(uint64_t offset, std::span<const std::span<uint8_t>> bufs) = 0;
  // Writes all of `buf` or throws.
  virtual void WriteAt(uint64_t offset, std::span<const uint8_t> buf) = 0;
  // Writes the buffers one after the other from `offset` on, or throws. The
  // operating system's file does it in one call; others may write each
  // buffer as a write of its own.
  virtual void WriteAt(uint64_t offset, std::span<const std::span<const uint8_t>> bufs) {
    for (const auto& b : bufs) {
      WriteAt(offset, b);
      offset += b.size();
    }
  }
  virtual void Sync() = 0;
  virtual void Truncate(uint64_t size) = 0;
  // Locks bytes [start, start + length) among open files (each opening of a
  // file is its own owner, in one process or several), or changes or drops
  // this opening's lock on them. False when another opening holds a lock in
  // the way. A read lock needs the file open for reading, a write lock for
  // writing.
  enum class LockType { kUnlock, kRead, kWrite };
  virtual bool Lock(uint64_t start, uint64_t length, LockType type) = 0;
  // Whether another opening holds any lock on those bytes that a write lock
  // would meet (works on a file opened for reading only).
  virtual bool LockedByOther(uint64_t start, uint64_t length) = 0;
  // Device and inode, to recognise the same file opened twice.
  virtual std::pair<dev_t, ino_t> Identity() = 0;
};

class FileSystem {
 public:
  enum class Mode {
    kRead,       // an existing file, for reading
    kReadWrite,  // an existing file, for reading and writing
    kReplace,    // created or emptied, readable by its owner only
  };
  virtual ~FileSystem() = default;
  // Throws jet::Error: missing file ("Could not find file"), a folder,
  // errnum::kReadOnly for a file that cannot be written, other failures.
  virtual std::unique_ptr<File> Open(const std::string& path, Mode mode) = 0;
  virtual bool Exists(const std::string& path) = 0;
  // Removes a file; a missing one is not an error.
  virtual void Remove(const std::string& path) = 0;
  // Renames a file, replacing nothing: throws when `to` exists.
  virtual void Rename(const std::string& from, const std::string& to) = 0;
  // Syncs the folder holding `path`, so that a created or removed file is
  // durable too.
  virtual void SyncFolderOf(const std::string& path) = 0;

  // The operating system's files.
  static FileSystem& Default();
};

// The path with every symbolic link resolved, or the path as given when it
// does not name an existing file. A journal belongs beside the real file.
std::string ResolvedPath(const std::string& path);

}  // namespace jet
