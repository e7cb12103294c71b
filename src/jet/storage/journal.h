// The rollback journal beside a database ("<real path>-journal"): the
// original bytes of every page a transaction changes, written and synced
// before the database itself is written, so that a commit cut short can be
// undone. The header says which file the journal was made for and what it
// restores, so that a journal is only ever played back onto its own file.
//
//   two header slots of 512 bytes at 0x000 and 0x200; the valid one with the
//   higher sequence number counts. A header is rewritten at each spill and at
//   the commit, always into the slot not holding the newest one, so a write
//   torn by a crash leaves the previous header whole.
//   offset size meaning
//   0x00   16   "TESSALY-JOURNAL\n"
//   0x10   4    format version (3)
//   0x14   4    page size (2048 or 4096)
//   0x18   8    size of the database in bytes when the transaction began
//   0x20   4    number of page records written and synced before this header
//   0x24   4    1 once the database file may hold changes of the transaction
//               (a spill or the commit is being written), 0 before
//   0x28   8    random nonce of this journal
//   0x30   8    device of the database file
//   0x38   8    inode of the database file
//   0x40   8    checksum of page 0 as stored when the transaction began
//   0x48   8    checksum of page 0 as this header's write leaves it
//   0x50   8    size of the database after this header's write
//   0x58   4    1 when page 0 is among the records
//   0x5C   4    sequence number of this header
//   0x60   8    FNV-1a 64 of bytes 0x00-0x5F
//   0x68   ...  zero
//
//   page records from 0x400 (page size + 8 bytes each), one for each page
//   changed, in the order first changed
//   0x00   4    page number
//   0x04   n    the page as it was stored in the file when the transaction began
//   n+4    4    checksum of the page number and the page, keyed by the nonce
//
// Version 2 journals (one header at 0x000, records from 0x200) are still
// played back.
//
// A journal is played back only when its header is whole and complete, and
// the database it lies beside is the same file (device and inode) whose
// page 0 is as the transaction began or as the commit leaves it (or, when the
// commit changes page 0 itself and may have been cut short while writing it,
// any page 0). Any other journal is never applied: it is moved aside, and
// the file is left as it is.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "jet/storage/page_file.h"

namespace jet {

struct JournalHeader {
  static constexpr uint32_t kSize = 512;
  static constexpr uint32_t kVersion = 3;
  static constexpr uint64_t kRecordsAt = 2 * kSize;

  uint32_t page_size = 0;
  uint64_t original_size = 0;
  uint32_t records = 0;
  bool complete = false;
  uint64_t nonce = 0;
  uint64_t device = 0;
  uint64_t inode = 0;
  uint64_t start_page0 = 0;
  uint64_t end_page0 = 0;
  uint64_t end_size = 0;
  bool holds_page0 = false;
  uint32_t sequence = 0;
  uint64_t records_at = kRecordsAt;  // where the records begin (not stored)

  std::vector<uint8_t> Encode() const;
  // False for anything but a whole header of this format.
  static bool Decode(std::span<const uint8_t> bytes, JournalHeader& out);
  // Where the header with this sequence number goes.
  static uint64_t SlotOffset(uint32_t sequence) { return (sequence % 2) * kSize; }
  // The header that counts: the whole one with the higher sequence number.
  static bool Read(const PageFile& journal, JournalHeader& out);
};

// The checksum of a page (page 0's identity in the header).
uint64_t PageChecksum(std::span<const uint8_t> page);
// A page record's checksum.
uint32_t RecordChecksum(uint64_t nonce, std::span<const uint8_t> number_and_page);
// A fresh random nonce.
uint64_t NewJournalNonce();

struct JournalRecovery {
  bool restored = false;  // a complete journal of this file was played back
  std::string moved_to;   // where a journal that did not belong was put
};

// Plays back the journal beside `file` when it is complete and its own,
// removes it when it is its own but incomplete (its commit never wrote the
// database), and moves it aside otherwise. The caller holds the writer lock.
// `known_own`: the caller made this journal itself (a commit that failed in
// this process), so its identity need not be checked. Throws when a journal
// must be played back but the file cannot be written.
JournalRecovery RecoverJournal(const std::string& journal_path, PageFile& file,
                               bool known_own = false);

}  // namespace jet
