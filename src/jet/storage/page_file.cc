#include "jet/storage/page_file.h"

#include <algorithm>
#include <chrono>
#include <thread>

namespace jet {

namespace {

constexpr uint64_t kPendingByte = 0x7FFFFF00;
constexpr uint64_t kReservedByte = 0x7FFFFF01;
constexpr uint64_t kSharedFirst = 0x7FFFFF02;
constexpr uint64_t kSharedBytes = 254;
using LockType = File::LockType;

std::function<void()>& WaitHandler() {
  static std::function<void()> handler;
  return handler;
}

}  // namespace

void SetLockWaitHandler(std::function<void()> handler) { WaitHandler() = std::move(handler); }

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
    level_ = o.level_;
    pending_ = o.pending_;
    path_ = std::move(o.path_);
    o.level_ = LockLevel::kNone;
    o.pending_ = false;
  }
  return *this;
}

size_t PageFile::ReadAt(uint64_t offset, std::span<uint8_t> buf) const {
  const std::span<uint8_t> one[1] = {buf};
  return file_->ReadAt(offset, one);
}

bool PageFile::TryLock(LockLevel level) {
  if (level_ >= level) return true;
  if (level_ == LockLevel::kNone) {
    // Through the pending byte, so that a waiting writer keeps new readers out.
    if (!file_->Lock(kPendingByte, 1, LockType::kRead)) return false;
    const bool got = file_->Lock(kSharedFirst, kSharedBytes, LockType::kRead);
    file_->Lock(kPendingByte, 1, LockType::kUnlock);
    if (!got) return false;
    level_ = LockLevel::kShared;
  }
  if (level == LockLevel::kShared) return true;
  if (level_ == LockLevel::kShared) {
    if (!writable_ || !file_->Lock(kReservedByte, 1, LockType::kWrite)) return false;
    level_ = LockLevel::kReserved;
  }
  if (level == LockLevel::kReserved) return true;
  if (!pending_) {
    if (!file_->Lock(kPendingByte, 1, LockType::kWrite)) return false;
    pending_ = true;
  }
  if (!file_->Lock(kSharedFirst, kSharedBytes, LockType::kWrite)) return false;
  level_ = LockLevel::kExclusive;
  return true;
}

bool PageFile::WaitLock(LockLevel level, int timeout_ms) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
  std::chrono::milliseconds pause(1);
  for (;;) {
    if (TryLock(level)) return true;
    if (std::chrono::steady_clock::now() >= deadline) break;
    if (WaitHandler()) WaitHandler()();
    std::this_thread::sleep_for(pause);
    pause = std::min(pause * 2, std::chrono::milliseconds(50));
  }
  if (pending_ && level_ < LockLevel::kExclusive) {
    file_->Lock(kPendingByte, 1, LockType::kUnlock);
    pending_ = false;
  }
  return false;
}

void PageFile::Release(LockLevel level) {
  if (!file_) return;
  if (level_ == LockLevel::kExclusive && level < LockLevel::kExclusive) {
    file_->Lock(kSharedFirst, kSharedBytes, LockType::kRead);  // readers may come again
    level_ = LockLevel::kReserved;
  }
  if (pending_ && level < LockLevel::kExclusive) {
    file_->Lock(kPendingByte, 1, LockType::kUnlock);
    pending_ = false;
  }
  if (level_ == LockLevel::kReserved && level < LockLevel::kReserved) {
    file_->Lock(kReservedByte, 1, LockType::kUnlock);
    level_ = LockLevel::kShared;
  }
  if (level_ == LockLevel::kShared && level == LockLevel::kNone) {
    file_->Lock(kSharedFirst, kSharedBytes, LockType::kUnlock);
    level_ = LockLevel::kNone;
  }
}

bool PageFile::OtherWriter() {
  if (level_ >= LockLevel::kReserved) return false;
  return file_->LockedByOther(kReservedByte, 1);
}

}  // namespace jet
