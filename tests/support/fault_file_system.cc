#include "support/fault_file_system.h"

#include <cerrno>
#include <cstring>

#include "jet/storage/error.h"

namespace testing_support {

class FaultFileSystem::FaultFile : public jet::File {
 public:
  FaultFile(FaultFileSystem& fs, std::unique_ptr<jet::File> file, std::string path)
      : fs_(fs), file_(std::move(file)), path_(std::move(path)) {}

  using jet::File::WriteAt;  // several buffers: one counted write each
  uint64_t Size() override { return file_->Size(); }
  size_t ReadAt(uint64_t offset, std::span<const std::span<uint8_t>> bufs) override {
    return file_->ReadAt(offset, bufs);
  }
  void WriteAt(uint64_t offset, std::span<const uint8_t> buf) override {
    if (!fs_.Counts(path_)) return file_->WriteAt(offset, buf);
    const int n = ++fs_.writes_;
    if (fs_.fail_write_ && n >= fs_.fail_write_) {
      if (fs_.cut_ && n == fs_.fail_write_) file_->WriteAt(offset, buf.first(buf.size() / 2));
      Fail("Cannot write to");
    }
    file_->WriteAt(offset, buf);
    if (fs_.stop_ && n == fs_.stop_after_) fs_.stop_();
  }
  void Sync() override {
    if (fs_.Counts(path_)) {
      const int n = ++fs_.syncs_;
      if (fs_.fail_sync_ && n >= fs_.fail_sync_) Fail("Cannot sync");
    }
    file_->Sync();
  }
  void Truncate(uint64_t size) override { file_->Truncate(size); }
  bool Lock(uint64_t start, uint64_t length, LockType type) override {
    return file_->Lock(start, length, type);
  }
  bool LockedByOther(uint64_t start, uint64_t length) override {
    return file_->LockedByOther(start, length);
  }
  std::pair<dev_t, ino_t> Identity() override { return file_->Identity(); }

 private:
  [[noreturn]] void Fail(const char* what) {
    throw jet::Error(jet::errnum::kGeneric,
                     std::string(what) + " '" + path_ + "': " + std::strerror(ENOSPC) + ".");
  }
  FaultFileSystem& fs_;
  std::unique_ptr<jet::File> file_;
  std::string path_;
};

bool FaultFileSystem::Counts(const std::string& path) const {
  return suffix_.empty() ||
         (path.size() >= suffix_.size() &&
          path.compare(path.size() - suffix_.size(), suffix_.size(), suffix_) == 0);
}

std::unique_ptr<jet::File> FaultFileSystem::Open(const std::string& path, Mode mode) {
  if (mode == Mode::kReadWrite && !read_only_.empty() && path.size() >= read_only_.size() &&
      path.compare(path.size() - read_only_.size(), read_only_.size(), read_only_) == 0) {
    throw jet::Error(jet::errnum::kReadOnly,
                     "The database file '" + path + "' is read-only; it cannot be changed.");
  }
  return std::make_unique<FaultFile>(*this, base_.Open(path, mode), path);
}

}  // namespace testing_support
