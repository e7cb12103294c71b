#include "jet/storage/pager.h"

#include <algorithm>
#include <array>
#include <cassert>
#include <cstring>

#include "jet/storage/bytes.h"
#include "jet/storage/error.h"
#include "jet/storage/journal.h"

namespace jet {

std::string Pager::JournalPath(const std::string& db_path) {
  return ResolvedPath(db_path) + "-journal";
}

Pager::Pager(PageFile file, uint32_t page_size) : file_(std::move(file)), page_size_(page_size) {
  page_count_ = static_cast<uint32_t>(file_.Size() / page_size_);
  committed_pages_ = page_count_;
  frames_.resize(page_count_);
}

void Pager::Link(uint32_t n) {
  Frame& f = frames_[n];
  f.older = newest_;
  f.newer = kNone;
  if (newest_ != kNone) frames_[newest_].newer = n;
  newest_ = n;
  if (oldest_ == kNone) oldest_ = n;
  ++clean_count_;
}

void Pager::Unlink(uint32_t n) {
  Frame& f = frames_[n];
  if (f.newer != kNone) {
    frames_[f.newer].older = f.older;
  } else {
    newest_ = f.older;
  }
  if (f.older != kNone) {
    frames_[f.older].newer = f.newer;
  } else {
    oldest_ = f.newer;
  }
  f.newer = f.older = kNone;
  --clean_count_;
}

void Pager::Hold(uint32_t n, PagePtr page) {
  if (n >= frames_.size()) frames_.resize(n + 1);
  assert(!frames_[n].page);
  frames_[n].page = std::move(page);
  Link(n);
}

void Pager::DropAll() {
  marks_.clear();
  frames_.assign(page_count_, Frame{});
  newest_ = oldest_ = kNone;
  clean_count_ = 0;
  dirty_.clear();
}

Pager::~Pager() {
  // Uncommitted changes are dropped; after a spill the journal puts the file
  // back, and otherwise it is harmless and removed.
  try {
    Rollback();
  } catch (...) {
    // The journal stays and is played back at the next open.
  }
}

void Pager::EnsureRecovered() {
  if (!needs_recovery_) return;
  try {
    jet::RecoverJournal(JournalPath(file_.path()), file_, true);
  } catch (const Error&) {
    throw Error(errnum::kGeneric,
                "The database could not be restored after a failed write; it will be repaired "
                "when it is opened again.");
  }
  needs_recovery_ = false;
  page_count_ = committed_pages_ = static_cast<uint32_t>(file_.Size() / page_size_);
  DropAll();
  UnlockAfterWriting();
}

PagePtr Pager::Get(uint32_t number) {
  EnsureRecovered();
  if (Frame* f = FrameOf(number)) {
    if (!f->dirty && newest_ != number) {
      Unlink(number);
      Link(number);
    }
    return f->page;
  }
  if (number >= page_count_) {
    ThrowDamaged("a page pointer (" + std::to_string(number) + ") points past the end of the file");
  }
  // A miss right after the previous one (a table scan) reads the pages after
  // it as well, up to the first one already held: one system call for many.
  uint32_t batch = 1;
  if (number == last_miss_ + 1) {
    while (batch < kReadAhead && number + batch < page_count_ && !FrameOf(number + batch)) {
      ++batch;
    }
  }
  // Read straight into the pages, reusing those the cache let go of: a scan
  // passes every page of a table through the cache, and fresh memory for
  // each page costs more than reading it.
  std::array<PagePtr, kReadAhead> pages;
  std::array<std::span<uint8_t>, kReadAhead> buffers;
  for (uint32_t k = 0; k < batch; ++k) {
    if (!spare_.empty()) {
      pages[k] = std::move(spare_.back());
      spare_.pop_back();
    } else {
      pages[k] = std::make_shared<Page>();
      pages[k]->data.resize(page_size_);
    }
    buffers[k] = pages[k]->data;
  }
  size_t got = file_.ReadAt(static_cast<uint64_t>(number) * page_size_,
                            std::span<const std::span<uint8_t>>(buffers.data(), batch));
  if (got < page_size_) ThrowDamaged("page " + std::to_string(number) + " is cut short");
  uint32_t read = std::min<uint32_t>(batch, static_cast<uint32_t>(got / page_size_));
  for (uint32_t k = read; k < batch; ++k) spare_.push_back(std::move(pages[k]));
  last_miss_ = number + read - 1;
  for (uint32_t k = read; k-- > 0;) {  // the wanted page last, as the most recent
    Page& p = *pages[k];
    p.number = number + k;
    if (p.number != 0 && codec_) codec_->Decode(p.number, p.data);
    Hold(p.number, pages[k]);
  }
  EvictIfNeeded();
  return pages[0];
}

void Pager::SetCachePages(size_t pages) {
  capacity_ = std::max<size_t>(pages, kReadAhead);
  EvictIfNeeded();
}

void Pager::EvictIfNeeded() {
  // A transaction that spilled keeps the pages it wrote while they fit in its
  // bound with the changed ones: it is likely to change them again.
  size_t limit = capacity_;
  if (spills_ > 0 && dirty_.size() < spill_pages_) {
    limit = std::max(limit, spill_pages_ - dirty_.size());
  }
  while (clean_count_ > limit) {
    const uint32_t victim = oldest_;
    Frame& f = frames_[victim];
    assert(!f.dirty);  // a changed page stays until its commit
    Unlink(victim);
    // A page nobody else holds can take the next page read.
    if (f.page.use_count() == 1 && spare_.size() < kReadAhead) spare_.push_back(std::move(f.page));
    f.page.reset();
  }
}

void Pager::SetSpillBytes(size_t bytes) {
  spill_pages_ = std::max<size_t>(bytes / page_size_, 2);
  spill_at_ = spill_pages_;
}

void Pager::WriteJournalHeader(bool complete) {
  JournalHeader& h = journal_header_;
  h.records = journal_records_;
  h.complete = complete;
  h.sequence = journal_sequence_++;
  // Page 0 is identified by its checksum unless it is among the records, in
  // which case a write cut short may leave it anything.
  h.holds_page0 = journaled_.size() > 0 && journaled_[0];
  if (!h.holds_page0) h.end_page0 = h.start_page0;
  h.end_size = static_cast<uint64_t>(std::max(page_count_, file_pages_)) * page_size_;
  journal_->WriteAt(JournalHeader::SlotOffset(h.sequence), h.Encode());
}

void Pager::OpenJournal() {
  const std::string jp = JournalPath(file_.path());
  JournalHeader& h = journal_header_;
  h = JournalHeader{};
  h.page_size = page_size_;
  // To the byte: a file that ends in part of a page gets that part back too.
  h.original_size = file_.Size();
  h.nonce = NewJournalNonce();
  const auto [dev, ino] = file_.Identity();
  h.device = static_cast<uint64_t>(dev);
  h.inode = static_cast<uint64_t>(ino);
  std::vector<uint8_t> page0(page_size_);
  if (file_.ReadAt(0, page0) != page0.size()) ThrowDamaged("page 0 is cut short");
  h.start_page0 = PageChecksum(page0);
  journal_ = std::make_unique<PageFile>(PageFile::Replace(jp, file_.file_system()));
  journal_records_ = 0;
  journal_sequence_ = 0;
  file_pages_ = committed_pages_;
  WriteJournalHeader(false);
}

void Pager::JournalOriginal(uint32_t number, const Page* held) {
  if (!file_.writable()) {
    throw Error(errnum::kReadOnly, "The database is open for reading only.");
  }
  if (lost_) {
    throw Error(errnum::kGeneric,
                "The transaction was rolled back after a failed write; it must be ended first.");
  }
  if (!journal_) OpenJournal();
  if (number >= committed_pages_) return;  // a new page has no original
  if (journaled_.size() <= number) journaled_.resize(committed_pages_, false);
  if (journaled_[number]) return;
  std::vector<uint8_t> rec(8 + page_size_);
  Put32(rec, 0, number);
  const std::span<uint8_t> image(rec.data() + 4, page_size_);
  if (held && (number == 0 || !codec_)) {
    // An unchanged page in memory is the file's page.
    std::memcpy(image.data(), held->data.data(), page_size_);
  } else if (file_.ReadAt(static_cast<uint64_t>(number) * page_size_, image) != page_size_) {
    ThrowDamaged("page " + std::to_string(number) + " is cut short");
  }
  Put32(
      rec, 4 + page_size_,
      RecordChecksum(journal_header_.nonce, std::span<const uint8_t>(rec.data(), 4 + page_size_)));
  journal_->WriteAt(journal_header_.records_at + static_cast<uint64_t>(journal_records_) * rec.size(),
                    rec);
  ++journal_records_;
  journaled_[number] = true;
}

void Pager::MarkDirty(uint32_t number) {
  Frame& f = frames_[number];
  assert(f.page && !f.dirty);
  Unlink(number);
  f.dirty = true;
  dirty_.push_back(number);
}

PagePtr Pager::GetForWrite(uint32_t number) {
  EnsureRecovered();
  if (Frame* f = FrameOf(number); f && f->dirty) {
    if (!marks_.empty()) SaveForMarks(number, *f->page, false);
    return f->page;
  }
  PagePtr p = Get(number);
  JournalOriginal(number, p.get());
  if (!marks_.empty()) SaveForMarks(number, *p, true);
  MarkDirty(number);
  if (dirty_.size() > spill_at_) Spill();
  return p;
}

void Pager::SaveForMarks(uint32_t number, const Page& page, bool as_stored) {
  std::shared_ptr<std::vector<uint8_t>> copy;
  for (Mark& m : marks_) {
    if (number >= m.page_count) continue;  // appended after the mark: dropped, not restored
    if (m.has.size() <= number) m.has.resize(m.page_count, false);
    if (m.has[number]) continue;
    if (!as_stored && !copy) copy = CopyOf(page.data);
    m.saved.push_back(Saved{number, copy});
    m.has[number] = true;
  }
}

void Pager::SaveStoredForMarks(const std::vector<uint32_t>& spilled) {
  if (marks_.empty()) return;
  std::vector<bool> now(page_count_, false);
  for (uint32_t n : spilled) now[n] = true;
  std::vector<uint8_t> stored;
  for (Mark& m : marks_) {
    for (Saved& s : m.saved) {
      if (s.bytes || !now[s.number]) continue;
      ReadStored(s.number, stored);
      s.bytes = CopyOf(stored);
    }
  }
}

void Pager::ReadStored(uint32_t number, std::vector<uint8_t>& out) {
  out.resize(page_size_);
  if (file_.ReadAt(static_cast<uint64_t>(number) * page_size_, out) != page_size_) {
    ThrowDamaged("page " + std::to_string(number) + " is cut short");
  }
  if (number != 0 && codec_) codec_->Decode(number, out);
}

std::shared_ptr<std::vector<uint8_t>> Pager::CopyOf(const std::vector<uint8_t>& bytes) {
  if (spare_copies_.empty()) return std::make_shared<std::vector<uint8_t>>(bytes);
  std::shared_ptr<std::vector<uint8_t>> copy = std::move(spare_copies_.back());
  spare_copies_.pop_back();
  *copy = bytes;
  return copy;
}

void Pager::DropMarksFrom(size_t depth) {
  constexpr size_t kSpareCopies = 512;
  for (size_t k = depth; k < marks_.size(); ++k) {
    for (Saved& s : marks_[k].saved) {
      if (s.bytes && s.bytes.use_count() == 1 && spare_copies_.size() < kSpareCopies) {
        spare_copies_.push_back(std::move(s.bytes));
      }
    }
  }
  marks_.resize(std::min(depth, marks_.size()));
}

size_t Pager::Savepoint() {
  Mark m;
  m.page_count = page_count_;
  marks_.push_back(std::move(m));
  return marks_.size();
}

void Pager::RollbackTo(size_t depth) {
  if (depth > marks_.size()) return;  // the transaction was lost, its marks with it
  assert(depth >= 1);
  DropMarksFrom(depth);
  Mark& m = marks_.back();
  std::vector<uint8_t> stored;
  for (const Saved& s : m.saved) {
    if (s.bytes) {
      // Changed since the mark; spilled meanwhile perhaps, so perhaps not held.
      PagePtr p = Get(s.number);
      if (!frames_[s.number].dirty) MarkDirty(s.number);
      p->data = *s.bytes;
    } else if (frames_[s.number].dirty) {
      // The file still holds the page as it was at the mark.
      ReadStored(s.number, stored);
      Frame& f = frames_[s.number];
      f.page->data = stored;
      f.dirty = false;
      Link(s.number);
    }
  }
  // Pages appended after the mark go again.
  for (uint32_t n = m.page_count; n < page_count_; ++n) {
    if (frames_[n].page && !frames_[n].dirty) Unlink(n);
    frames_[n].page.reset();
    frames_[n].dirty = false;
  }
  dirty_.erase(std::remove_if(dirty_.begin(), dirty_.end(),
                              [&](uint32_t n) { return n >= m.page_count || !frames_[n].dirty; }),
               dirty_.end());
  page_count_ = m.page_count;
  frames_.resize(page_count_);
  // The mark stays, emptied.
  const Mark kept{m.page_count, {}, {}};
  DropMarksFrom(depth - 1);
  marks_.push_back(kept);
  EvictIfNeeded();
}

void Pager::Release(size_t depth) {
  if (depth > marks_.size()) return;
  assert(depth >= 1);
  DropMarksFrom(depth - 1);
}

PagePtr Pager::Append() {
  EnsureRecovered();
  JournalOriginal(page_count_);  // creates the journal; new pages need no image
  auto p = std::make_shared<Page>();
  p->number = page_count_++;
  p->data.assign(page_size_, 0);
  if (frames_.size() < page_count_) frames_.resize(page_count_);
  frames_[p->number].page = p;
  frames_[p->number].dirty = true;
  dirty_.push_back(p->number);
  if (dirty_.size() > spill_at_) Spill();
  return p;
}

void Pager::PrepareToWrite() {
  journal_->Sync();
  WriteJournalHeader(true);
  journal_->Sync();
  if (journal_sequence_ <= 2) file_.file_system().SyncFolderOf(journal_->path());
}

void Pager::WritePages(const std::vector<uint32_t>& numbers) {
  // Runs of consecutive pages go in one call each.
  constexpr size_t kRun = 64;
  std::vector<std::vector<uint8_t>> encoded(codec_ ? kRun : 0);
  std::vector<std::span<const uint8_t>> run;
  run.reserve(kRun);
  for (size_t i = 0; i < numbers.size();) {
    const uint32_t first = numbers[i];
    run.clear();
    for (; i < numbers.size() && run.size() < kRun && numbers[i] == first + run.size(); ++i) {
      const uint32_t n = numbers[i];
      const std::vector<uint8_t>& data = frames_[n].page->data;
      if (n != 0 && codec_) {
        std::vector<uint8_t>& buf = encoded[run.size()];
        buf = data;
        codec_->Encode(n, buf);
        run.emplace_back(buf);
      } else {
        run.emplace_back(data);
      }
    }
    file_.WriteAt(static_cast<uint64_t>(first) * page_size_,
                  std::span<const std::span<const uint8_t>>(run));
    file_pages_ = std::max<uint32_t>(file_pages_, first + static_cast<uint32_t>(run.size()));
  }
}

void Pager::LockForWriting() {
  if (file_.WaitLock(PageFile::LockLevel::kExclusive, busy_timeout_ms_)) return;
  throw Error(errnum::kGeneric, "The database '" + file_.path() +
                                    "' is in use: other programs are reading it, so the changes "
                                    "cannot be written now.");
}

void Pager::UnlockAfterWriting() {
  if (needs_recovery_) return;  // nobody may read until the journal is played back
  if (file_.lock_level() == PageFile::LockLevel::kExclusive) {
    file_.Release(PageFile::LockLevel::kReserved);
  }
}

void Pager::Spill() {
  // Pages a caller still holds may be changed through that handle: they stay.
  std::vector<uint32_t> out;
  for (uint32_t n : dirty_) {
    if (frames_[n].page.use_count() == 1) out.push_back(n);
  }
  std::sort(out.begin(), out.end());
  if (!out.empty()) {
    // Once pages of the transaction are in the file, readers stay out until
    // it ends; a spill that cannot wait that long fails its statement only.
    LockForWriting();
    try {
      SaveStoredForMarks(out);
      PrepareToWrite();
      // Pages appended after the file's end are written in order, so the file
      // never has a hole.
      WritePages(out);
    } catch (...) {
      AbandonTransaction();
      throw;
    }
    for (uint32_t n : out) {
      frames_[n].dirty = false;
      Link(n);
    }
    dirty_.erase(std::remove_if(dirty_.begin(), dirty_.end(),
                                [&](uint32_t n) { return !frames_[n].dirty; }),
                 dirty_.end());
    ++spills_;
  }
  spill_at_ = std::max(spill_pages_, dirty_.size() + spill_pages_ / 8 + 1);
  EvictIfNeeded();
}

void Pager::AbandonTransaction() {
  // The database may hold part of the transaction: put the originals back.
  try {
    journal_.reset();
    jet::RecoverJournal(JournalPath(file_.path()), file_, true);
  } catch (...) {
    // The journal stays on disk; it is played back before the next access
    // or at the next open.
    needs_recovery_ = true;
  }
  try {
    page_count_ = committed_pages_ = static_cast<uint32_t>(file_.Size() / page_size_);
  } catch (...) {
  }
  ResetTransaction();
  DropAll();
  UnlockAfterWriting();
  lost_ = true;
}

void Pager::ResetTransaction() {
  journaled_.clear();
  file_pages_ = committed_pages_;
  spills_ = 0;
  spill_at_ = spill_pages_;
  lost_ = false;
}

void Pager::Commit() {
  if (lost_) {
    lost_ = false;
    throw Error(errnum::kGeneric,
                "The transaction was rolled back after a failed write; nothing of it was saved.");
  }
  if (!in_transaction()) {
    DropMarksFrom(0);
    return;
  }
  if (!journal_) OpenJournal();
  // Waiting for readers fails the commit, not the transaction: it may be tried again.
  LockForWriting();
  DropMarksFrom(0);
  try {
    PrepareToWrite();
    std::vector<uint32_t> order = dirty_;
    std::sort(order.begin(), order.end());
    WritePages(order);
    if (file_pages_ > page_count_) {
      file_.Truncate(static_cast<uint64_t>(page_count_) * page_size_);
    }
    file_.Sync();
  } catch (...) {
    AbandonTransaction();
    lost_ = false;  // the caller hears of it now
    throw;
  }
  std::string jp = journal_->path();
  journal_.reset();
  file_.file_system().Remove(jp);
  file_.file_system().SyncFolderOf(jp);
  for (uint32_t n : dirty_) {
    frames_[n].dirty = false;
    Link(n);
  }
  dirty_.clear();
  committed_pages_ = page_count_;
  ResetTransaction();
  UnlockAfterWriting();
  EvictIfNeeded();
}

void Pager::Rollback() {
  DropMarksFrom(0);
  if (spills_ > 0) {
    // The file holds part of the transaction: the journal puts it back.
    AbandonTransaction();
    lost_ = false;
    return;
  }
  // Changed pages were changed in place: they are read again from the file.
  for (uint32_t n : dirty_) {
    frames_[n].page.reset();
    frames_[n].dirty = false;
  }
  dirty_.clear();
  page_count_ = committed_pages_;
  frames_.resize(page_count_);
  if (journal_) {
    std::string jp = journal_->path();
    journal_.reset();
    file_.file_system().Remove(jp);
  }
  ResetTransaction();
}

JournalRecovery Pager::RecoverJournal(const std::string& db_path, PageFile& file) {
  return jet::RecoverJournal(JournalPath(db_path), file);
}

}  // namespace jet
