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
  // Uncommitted changes are dropped; the journal, if any, is harmless because
  // the database was not written since it was started.
  if (journal_) {
    journal_.reset();
    file_.file_system().Remove(JournalPath(file_.path()));
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
  while (clean_count_ > capacity_) {
    const uint32_t victim = oldest_;
    Frame& f = frames_[victim];
    assert(!f.dirty);  // a changed page stays until its commit
    Unlink(victim);
    // A page nobody else holds can take the next page read.
    if (f.page.use_count() == 1 && spare_.size() < kReadAhead) spare_.push_back(std::move(f.page));
    f.page.reset();
  }
}

void Pager::WriteJournalHeader(uint32_t records, bool complete) {
  JournalHeader& h = journal_header_;
  h.records = records;
  h.complete = complete;
  if (complete) {
    // What page 0 and the file will be once the commit is written.
    Frame* f0 = FrameOf(0);
    const bool page0_changes = f0 && f0->dirty && committed_pages_ > 0;
    h.holds_page0 = page0_changes;
    h.end_page0 = page0_changes ? PageChecksum(f0->page->data) : h.start_page0;
    h.end_size = static_cast<uint64_t>(page_count_) * page_size_;
  }
  journal_->WriteAt(0, h.Encode());
}

void Pager::JournalOriginal(uint32_t number) {
  if (!file_.writable()) {
    throw Error(errnum::kReadOnly, "The database is open for reading only.");
  }
  if (!journal_) {
    const std::string jp = JournalPath(file_.path());
    JournalHeader& h = journal_header_;
    h = JournalHeader{};
    h.page_size = page_size_;
    h.original_size = static_cast<uint64_t>(committed_pages_) * page_size_;
    h.nonce = NewJournalNonce();
    const auto [dev, ino] = file_.Identity();
    h.device = static_cast<uint64_t>(dev);
    h.inode = static_cast<uint64_t>(ino);
    std::vector<uint8_t> page0(page_size_);
    if (file_.ReadAt(0, page0) != page0.size()) ThrowDamaged("page 0 is cut short");
    h.start_page0 = PageChecksum(page0);
    journal_ = std::make_unique<PageFile>(PageFile::Replace(jp, file_.file_system()));
    journal_records_ = 0;
    WriteJournalHeader(0, false);
  }
  if (number >= committed_pages_ || (number < frames_.size() && frames_[number].dirty)) return;
  std::vector<uint8_t> rec(8 + page_size_);
  Put32(rec, 0, number);
  size_t got = file_.ReadAt(static_cast<uint64_t>(number) * page_size_,
                            std::span<uint8_t>(rec.data() + 4, page_size_));
  if (got != page_size_) ThrowDamaged("page " + std::to_string(number) + " is cut short");
  Put32(
      rec, 4 + page_size_,
      RecordChecksum(journal_header_.nonce, std::span<const uint8_t>(rec.data(), 4 + page_size_)));
  journal_->WriteAt(JournalHeader::kSize + static_cast<uint64_t>(journal_records_) * rec.size(),
                    rec);
  ++journal_records_;
}

PagePtr Pager::GetForWrite(uint32_t number) {
  EnsureRecovered();
  if (Frame* f = FrameOf(number); f && f->dirty) {
    if (!marks_.empty()) SaveForMarks(number, *f->page);
    return f->page;
  }
  PagePtr p = Get(number);
  JournalOriginal(number);
  if (!marks_.empty()) SaveForMarks(number, *p);
  Frame& f = frames_[number];
  Unlink(number);
  f.dirty = true;
  dirty_.push_back(number);
  return p;
}

void Pager::SaveForMarks(uint32_t number, const Page& page) {
  std::shared_ptr<const std::vector<uint8_t>> copy;
  for (Mark& m : marks_) {
    if (number >= m.page_count) continue;  // appended after the mark: dropped, not restored
    if (m.has.size() <= number) m.has.resize(m.page_count, false);
    if (m.has[number]) continue;
    if (!copy) copy = std::make_shared<const std::vector<uint8_t>>(page.data);
    m.saved.emplace_back(number, copy);
    m.has[number] = true;
  }
}

size_t Pager::Savepoint() {
  Mark m;
  m.page_count = page_count_;
  marks_.push_back(std::move(m));
  return marks_.size();
}

void Pager::RollbackTo(size_t depth) {
  assert(depth >= 1 && depth <= marks_.size());
  marks_.resize(depth);
  Mark& m = marks_.back();
  for (const auto& [number, bytes] : m.saved) {
    Frame& f = frames_[number];
    assert(f.dirty && f.page);  // a saved page changed after the mark and stays until its commit
    f.page->data = *bytes;
  }
  // Pages appended after the mark go again.
  for (uint32_t n = m.page_count; n < page_count_; ++n) {
    frames_[n].page.reset();
    frames_[n].dirty = false;
  }
  dirty_.erase(
      std::remove_if(dirty_.begin(), dirty_.end(), [&](uint32_t n) { return n >= m.page_count; }),
      dirty_.end());
  page_count_ = m.page_count;
  frames_.resize(page_count_);
  m.saved.clear();
  m.has.clear();
}

void Pager::Release(size_t depth) {
  assert(depth >= 1 && depth <= marks_.size());
  marks_.resize(depth - 1);
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
  return p;
}

void Pager::Commit() {
  marks_.clear();
  if (!in_transaction()) return;
  try {
    if (!journal_) JournalOriginal(page_count_);
    journal_->Sync();
    WriteJournalHeader(journal_records_, true);
    journal_->Sync();
    file_.file_system().SyncFolderOf(journal_->path());

    std::vector<uint32_t> order = dirty_;
    std::sort(order.begin(), order.end());
    std::vector<uint8_t> buf(page_size_);
    for (uint32_t n : order) {
      const PagePtr& p = frames_[n].page;
      std::memcpy(buf.data(), p->data.data(), page_size_);
      if (n != 0 && codec_) codec_->Encode(n, buf);
      file_.WriteAt(static_cast<uint64_t>(n) * page_size_, buf);
    }
    if (page_count_ < committed_pages_) {
      file_.Truncate(static_cast<uint64_t>(page_count_) * page_size_);
    }
    file_.Sync();
  } catch (...) {
    // The database may hold part of the commit: put the originals back.
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
    DropAll();
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
  EvictIfNeeded();
}

void Pager::Rollback() {
  marks_.clear();
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
}

JournalRecovery Pager::RecoverJournal(const std::string& db_path, PageFile& file) {
  return jet::RecoverJournal(JournalPath(db_path), file);
}

}  // namespace jet
