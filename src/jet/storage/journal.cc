#include "jet/storage/journal.h"

#include <cstring>
#include <random>

#include "jet/storage/bytes.h"
#include "jet/storage/error.h"

namespace jet {

namespace {

constexpr char kMagic[16] = {'T', 'E', 'S', 'S', 'A', 'L', 'Y', '-',
                             'J', 'O', 'U', 'R', 'N', 'A', 'L', '\n'};
constexpr size_t kSummed = 0x60;

uint64_t Fnv1a(std::span<const uint8_t> data, uint64_t h = 0xcbf29ce484222325ULL) {
  for (uint8_t c : data) {
    h ^= c;
    h *= 0x100000001b3ULL;
  }
  return h;
}

// Where a journal that does not belong goes: a name that says so, never
// over another file.
std::string AsideName(FileSystem& fs, const std::string& journal_path) {
  const std::string base = journal_path + ".not-for-this-database";
  std::string name = base;
  for (int k = 2; fs.Exists(name); ++k) name = base + "." + std::to_string(k);
  return name;
}

bool BelongsTo(const JournalHeader& h, PageFile& file) {
  const auto [dev, ino] = file.Identity();
  if (h.device != static_cast<uint64_t>(dev) || h.inode != static_cast<uint64_t>(ino)) return false;
  std::vector<uint8_t> page0(h.page_size);
  if (file.ReadAt(0, page0) != page0.size()) return false;
  const uint64_t sum = PageChecksum(page0);
  return sum == h.start_page0 || (h.complete && (sum == h.end_page0 || h.holds_page0));
}

}  // namespace

std::vector<uint8_t> JournalHeader::Encode() const {
  std::vector<uint8_t> b(kSize, 0);
  std::memcpy(b.data(), kMagic, 16);
  Put32(b, 0x10, kVersion);
  Put32(b, 0x14, page_size);
  Put64(b, 0x18, original_size);
  Put32(b, 0x20, records);
  Put32(b, 0x24, complete ? 1 : 0);
  Put64(b, 0x28, nonce);
  Put64(b, 0x30, device);
  Put64(b, 0x38, inode);
  Put64(b, 0x40, start_page0);
  Put64(b, 0x48, end_page0);
  Put64(b, 0x50, end_size);
  Put32(b, 0x58, holds_page0 ? 1 : 0);
  Put32(b, 0x5C, sequence);
  Put64(b, kSummed, Fnv1a(std::span<const uint8_t>(b.data(), kSummed)));
  return b;
}

bool JournalHeader::Decode(std::span<const uint8_t> b, JournalHeader& h) {
  if (b.size() < kSize || std::memcmp(b.data(), kMagic, 16) != 0) return false;
  const uint32_t version = U32(b, 0x10);
  if (version != kVersion && version != 2) return false;
  if (U64(b, kSummed) != Fnv1a(b.subspan(0, kSummed))) return false;
  h.page_size = U32(b, 0x14);
  h.original_size = U64(b, 0x18);
  h.records = U32(b, 0x20);
  h.complete = U32(b, 0x24) == 1;
  h.nonce = U64(b, 0x28);
  h.device = U64(b, 0x30);
  h.inode = U64(b, 0x38);
  h.start_page0 = U64(b, 0x40);
  h.end_page0 = U64(b, 0x48);
  h.end_size = U64(b, 0x50);
  h.holds_page0 = U32(b, 0x58) == 1;
  h.sequence = version == 2 ? 0 : U32(b, 0x5C);
  h.records_at = version == 2 ? kSize : kRecordsAt;
  return h.page_size == 2048 || h.page_size == 4096;
}

bool JournalHeader::Read(const PageFile& journal, JournalHeader& out) {
  std::vector<uint8_t> slots(2 * kSize);
  const size_t got = journal.ReadAt(0, slots);
  JournalHeader first;
  JournalHeader second;
  const bool a = got >= kSize && Decode(std::span<const uint8_t>(slots.data(), kSize), first);
  // A version 2 journal has one header; its records follow it.
  const bool b = got >= 2 * kSize && !(a && first.records_at != kRecordsAt) &&
                 Decode(std::span<const uint8_t>(slots.data() + kSize, kSize), second) &&
                 second.records_at == kRecordsAt;
  if (!a && !b) return false;
  out = (b && (!a || second.sequence > first.sequence)) ? second : first;
  return true;
}

uint64_t PageChecksum(std::span<const uint8_t> page) { return Fnv1a(page); }

uint32_t RecordChecksum(uint64_t nonce, std::span<const uint8_t> number_and_page) {
  // Eight bytes a step: every page a transaction changes passes through here.
  uint64_t h = 0xcbf29ce484222325ULL ^ nonce;
  size_t i = 0;
  for (; i + 8 <= number_and_page.size(); i += 8) {
    uint64_t w;
    std::memcpy(&w, number_and_page.data() + i, 8);
    h = (h ^ w) * 0x100000001b3ULL;
    h ^= h >> 29;
  }
  h = Fnv1a(number_and_page.subspan(i), h);
  return static_cast<uint32_t>(h ^ (h >> 32));
}

uint64_t NewJournalNonce() {
  std::random_device rd;
  return (static_cast<uint64_t>(rd()) << 32) ^ rd();
}

JournalRecovery RecoverJournal(const std::string& jp, PageFile& file, bool known_own) {
  FileSystem& fs = file.file_system();
  JournalRecovery out;
  if (!fs.Exists(jp)) return out;
  JournalHeader h;
  bool valid = false;
  {
    PageFile journal(jp, false, fs);
    valid = JournalHeader::Read(journal, h);
  }
  if (!valid && known_own) {
    // Its header was cut short, so its commit never wrote the database.
    fs.Remove(jp);
    fs.SyncFolderOf(jp);
    return out;
  }
  if (!valid || (!known_own && !BelongsTo(h, file))) {
    out.moved_to = AsideName(fs, jp);
    fs.Rename(jp, out.moved_to);
    fs.SyncFolderOf(jp);
    return out;
  }
  if (h.complete) {
    if (!file.writable()) {
      throw Error(errnum::kGeneric,
                  "The database was left half-written by an interrupted change and must be "
                  "repaired, but it cannot be opened for writing.");
    }
    PageFile journal(jp, false, fs);
    std::vector<uint8_t> rec(8 + h.page_size);
    for (uint32_t i = 0; i < h.records; ++i) {
      const uint64_t off = h.records_at + static_cast<uint64_t>(i) * rec.size();
      if (journal.ReadAt(off, rec) != rec.size()) break;
      const std::span<const uint8_t> body(rec.data(), 4 + h.page_size);
      if (U32(rec, 4 + h.page_size) != RecordChecksum(h.nonce, body)) break;
      const uint32_t page = U32(rec, 0);
      file.WriteAt(static_cast<uint64_t>(page) * h.page_size,
                   std::span<const uint8_t>(rec.data() + 4, h.page_size));
    }
    file.Truncate(h.original_size);
    file.Sync();
    out.restored = true;
  }
  fs.Remove(jp);
  fs.SyncFolderOf(jp);
  return out;
}

}  // namespace jet
