// A FileSystem for tests that fails on cue: the Nth write or sync from now
// (counted over every file, or only over the files whose path ends as
// given), a write cut short, or a stop (say, _exit in a child process) right
// after the Nth write. Everything else goes to the real files.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "jet/storage/file_system.h"

namespace testing_support {

class FaultFileSystem : public jet::FileSystem {
 public:
  explicit FaultFileSystem(jet::FileSystem& base = jet::FileSystem::Default()) : base_(base) {}

  // The Nth write from now fails as a full disk does, and so does every
  // later one until Reset. With `cut`, that write first puts half its bytes.
  void FailWrite(int n, bool cut = false) {
    fail_write_ = writes_ + n;
    cut_ = cut;
  }
  // The Nth sync from now fails, and every later one.
  void FailSync(int n) { fail_sync_ = syncs_ + n; }
  // Runs `stop` right after the Nth write from now has reached the file.
  void StopAfterWrite(int n, std::function<void()> stop) {
    stop_after_ = writes_ + n;
    stop_ = std::move(stop);
  }
  // Files whose path ends with `suffix` open as a read-only file does.
  void ReadOnly(std::string suffix) { read_only_ = std::move(suffix); }
  // Counts (and fails) only the files whose path ends with `suffix`.
  void OnlyFilesEndingWith(std::string suffix) { suffix_ = std::move(suffix); }
  void Reset() {
    fail_write_ = fail_sync_ = stop_after_ = 0;
    stop_ = nullptr;
    suffix_.clear();
  }
  int writes() const { return writes_; }
  int syncs() const { return syncs_; }

  std::unique_ptr<jet::File> Open(const std::string& path, Mode mode) override;
  bool Exists(const std::string& path) override { return base_.Exists(path); }
  void Remove(const std::string& path) override { base_.Remove(path); }
  void Rename(const std::string& from, const std::string& to) override { base_.Rename(from, to); }
  void SyncFolderOf(const std::string& path) override { base_.SyncFolderOf(path); }

 private:
  class FaultFile;
  bool Counts(const std::string& path) const;

  jet::FileSystem& base_;
  int writes_ = 0;
  int syncs_ = 0;
  int fail_write_ = 0;
  int fail_sync_ = 0;
  int stop_after_ = 0;
  bool cut_ = false;
  std::function<void()> stop_;
  std::string suffix_;
  std::string read_only_;
};

}  // namespace testing_support
