// The page cache. Reads are lazy and bounded: clean pages are kept in a small
// LRU set. Changed pages stay in memory until the commit or until there are
// more of them than the spill bound; either way the original image of every
// page a transaction changes is in the rollback journal beside the database,
// written and synced before the database itself is written. A spill writes the
// changed pages into the file and the transaction goes on, so a transaction of
// any size runs in bounded memory and still rolls back completely: a rollback
// after a spill plays the journal back. A journal found at open is rolled back.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "jet/storage/journal.h"
#include "jet/storage/page_codec.h"
#include "jet/storage/page_file.h"

namespace jet {

struct Page {
  uint32_t number = 0;
  std::vector<uint8_t> data;  // decoded bytes
  std::span<const uint8_t> bytes() const { return data; }
  std::span<uint8_t> mutable_bytes() { return data; }
};
using PagePtr = std::shared_ptr<Page>;

class Pager {
 public:
  Pager(PageFile file, uint32_t page_size);
  ~Pager();
  Pager(const Pager&) = delete;
  Pager& operator=(const Pager&) = delete;

  void SetCodec(std::unique_ptr<PageCodec> codec) { codec_ = std::move(codec); }
  uint32_t page_size() const { return page_size_; }
  uint32_t page_count() const { return page_count_; }
  PageFile& file() { return file_; }
  // How many unchanged pages stay in memory (512 unless set; at least one
  // read-ahead batch). A reader that passes every page once, as a dump of a
  // large table does, needs few: holding fewer spares the memory and the
  // cost of touching it the first time.
  void SetCachePages(size_t pages);
  const std::string& path() const { return file_.path(); }

  // A page past the end of the file is a damaged pointer.
  PagePtr Get(uint32_t number);
  // Page 0 bytes as stored (unmasked handling is the caller's).
  PagePtr GetForWrite(uint32_t number);  // marks the page changed
  // Appends a zeroed page and returns it (changed).
  PagePtr Append();

  bool in_transaction() const {
    return journal_ || !dirty_.empty() || page_count_ != committed_pages_;
  }
  size_t dirty_count() const { return dirty_.size(); }
  size_t cached_count() const { return clean_count_ + dirty_.size(); }
  // How many bytes of changed pages are kept in memory before they are
  // written into the file (32 MiB unless set).
  void SetSpillBytes(size_t bytes);
  // How long a spill or a commit waits for readers in other programs to leave.
  void SetBusyTimeout(int ms) { busy_timeout_ms_ = ms; }
  size_t spills() const { return spills_; }  // in this transaction
  // A spill failed: the file is back at the last commit and every change
  // since is gone, savepoints too, until Rollback or Commit says it was seen.
  bool transaction_lost() const { return lost_; }
  // Makes every change durable. On failure the file is rolled back to the
  // last commit and the cache is emptied; the error is rethrown.
  void Commit();
  // Forgets every change since the last commit.
  void Rollback();

  // Savepoints: nested marks in the changes since the last commit. A mark
  // keeps, for each page changed after it, the page as it was at the mark,
  // so that the changes after it can be undone alone (a statement that
  // fails part-way). Returns the mark's depth, 1 for the outermost.
  size_t Savepoint();
  // Puts every page back as it was at mark `depth`, and drops pages
  // appended since; the mark stays, the marks after it go.
  void RollbackTo(size_t depth);
  // Forgets mark `depth` and the marks after it; their changes stay.
  void Release(size_t depth);
  size_t savepoints() const { return marks_.size(); }

  // Rolls back a journal left by an interrupted commit, if there is one and
  // it belongs to this file; a journal that does not is moved aside. The
  // caller holds the writer lock.
  static JournalRecovery RecoverJournal(const std::string& db_path, PageFile& file);
  // Beside the real file, symbolic links resolved.
  static std::string JournalPath(const std::string& db_path);

 private:
  // After a commit failed and its rollback failed too, the file may hold
  // part of the commit until the journal is played back.
  void EnsureRecovered();
  void EvictIfNeeded();
  // `held`: the page as it is in memory, unchanged since it was read.
  void JournalOriginal(uint32_t number, const Page* held = nullptr);
  void OpenJournal();
  // Syncs the records, then writes and syncs a header saying the file may
  // hold changes, before any page of the transaction goes into the file.
  void PrepareToWrite();
  void WriteJournalHeader(bool complete);
  // Encodes and writes pages into the file, in the order given.
  void WritePages(const std::vector<uint32_t>& numbers);
  // The page's bytes as the file holds them now, decoded.
  void ReadStored(uint32_t number, std::vector<uint8_t>& out);
  // Writes the changed pages no caller holds into the file.
  void Spill();
  void MarkDirty(uint32_t number);
  // After a failed write: puts the file back from the journal and forgets
  // everything of the transaction.
  void AbandonTransaction();
  void ResetTransaction();
  // Before pages go into the file: nobody else may read it meanwhile.
  void LockForWriting();
  // After a commit or a rollback: readers may come again.
  void UnlockAfterWriting();
  int busy_timeout_ms_ = 10000;

  PageFile file_;
  uint32_t page_size_;
  uint32_t page_count_ = 0;
  uint32_t committed_pages_ = 0;
  std::unique_ptr<PageCodec> codec_;

  size_t capacity_ = 512;
  static constexpr uint32_t kReadAhead = 16;
  static constexpr uint32_t kNone = 0xFFFFFFFF;
  uint32_t last_miss_ = 0xFFFFFFF0;  // the last page read from the file
  std::vector<PagePtr> spare_;       // evicted pages no one holds, for the next reads

  // What is held of each page, found by its number without hashing: the
  // table has an entry for every page of the file. Clean pages are linked
  // from the most to the least recently used; changed ones are not linked
  // and never evicted.
  struct Frame {
    PagePtr page;
    bool dirty = false;
    uint32_t newer = kNone;
    uint32_t older = kNone;
  };
  Frame* FrameOf(uint32_t number) {
    return number < frames_.size() && frames_[number].page ? &frames_[number] : nullptr;
  }
  void Link(uint32_t number);    // as the most recent clean page
  void Unlink(uint32_t number);  // out of the clean list
  void Hold(uint32_t number, PagePtr page);
  void DropAll();
  std::vector<Frame> frames_;
  uint32_t newest_ = kNone;
  uint32_t oldest_ = kNone;
  size_t clean_count_ = 0;
  std::vector<uint32_t> dirty_;  // changed pages, in the order first changed

  // Before a page changes: its bytes for every mark that has not saved it.
  // A page the file holds as it is (unchanged, or spilled) needs no copy
  // until a spill would overwrite it.
  void SaveForMarks(uint32_t number, const Page& page, bool as_stored);
  // Before a spill overwrites pages: copies for the marks that relied on the file.
  void SaveStoredForMarks(const std::vector<uint32_t>& spilled);
  struct Saved {
    uint32_t number;
    std::shared_ptr<std::vector<uint8_t>> bytes;  // null: the file holds it
  };
  // Copies for marks come from, and go back to, a few spare buffers: a
  // statement's mark copies hundreds of pages and is dropped a moment later.
  std::shared_ptr<std::vector<uint8_t>> CopyOf(const std::vector<uint8_t>& bytes);
  void DropMarksFrom(size_t depth);  // marks depth.. (0-based) go
  std::vector<std::shared_ptr<std::vector<uint8_t>>> spare_copies_;
  struct Mark {
    uint32_t page_count = 0;
    std::vector<Saved> saved;
    std::vector<bool> has;  // by page number: saved already
  };
  std::vector<Mark> marks_;

  // The transaction's state beyond the cache.
  std::vector<bool> journaled_;  // by page number: its original is in the journal
  uint32_t file_pages_ = 0;      // pages the file holds now (spills may grow it)
  size_t spill_pages_ = 8192;
  size_t spill_at_ = 8192;
  size_t spills_ = 0;
  bool lost_ = false;

  // Journal of the open transaction.
  std::unique_ptr<PageFile> journal_;
  JournalHeader journal_header_;
  uint32_t journal_records_ = 0;
  uint32_t journal_sequence_ = 0;
  bool needs_recovery_ = false;
};

}  // namespace jet
