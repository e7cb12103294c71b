#include "jet/storage/page_file.h"

namespace jet {

namespace {

// A byte far past any real database, so the lock never covers data that
// other tools might lock themselves.
constexpr uint64_t kWriterLockByte = 0x7FFFFF00;

}  // namespace

PageFile::PageFile(const std::string& path, bool writable, FileSystem& fs)
    : file_(fs.Open(path, writable ? FileSystem::Mode::kReadWrite : FileSystem::Mode::kRead)),
      fs_(&fs),
      writable_(writable),
      path_(path) {}

PageFile PageFile::Replace(const std::string& path, FileSystem& fs) {
  PageFile f;
  f.file_ = fs.Open(path, FileSystem::Mode::kReplace);
  f.fs_ = &fs;
  f.writable_ = true;
  f.path_ = path;
  return f;
}

PageFile::~PageFile() = default;  // closing the file releases its lock

PageFile& PageFile::operator=(PageFile&& o) noexcept {
  if (this != &o) {
    file_ = std::move(o.file_);
    fs_ = o.fs_;
    writable_ = o.writable_;
    locked_ = o.locked_;
    path_ = std::move(o.path_);
    o.locked_ = false;
  }
  return *this;
}

size_t PageFile::ReadAt(uint64_t offset, std::span<uint8_t> buf) const {
  const std::span<uint8_t> one[1] = {buf};
  return file_->ReadAt(offset, one);
}

bool PageFile::TryLockWriter() {
  if (locked_) return true;
  locked_ = file_->TryLockByte(kWriterLockByte);
  return locked_;
}

void PageFile::UnlockWriter() {
  if (!locked_) return;
  file_->UnlockByte(kWriterLockByte);
  locked_ = false;
}

}  // namespace jet
