// The rollback journal beside a database ("<real path>-journal"): the
// original bytes of every page a transaction changes, written and synced
// before the database itself is written, so that a commit cut short can be
// undone. The header says which file the journal was made for and what it
// restores, so that a journal is only ever played back onto its own file.
//
//   header (512 bytes)
//   offset size meaning
//   0x00   16   "TESSALY-JOURNAL\n"
//   0x10   4    format version (2)
//   0x14   4    page size (2048 or 4096)
//   0x18   8    size of the database when the transaction began
//   0x20   4    number of page records
//   0x24   4    1 once the header is complete (every record written and synced)
//   0x28   8    random nonce of this journal
//   0x30   8    device of the database file
//   0x38   8    inode of the database file
//   0x40   8    checksum of page 0 as stored when the transaction began
//   0x48   8    checksum of page 0 as the commit leaves it (complete header)
//   0x50   8    size of the database after the commit (complete header)
//   0x58   4    1 when page 0 is among the records (complete header)
//   0x5C   4    zero
//   0x60   8    FNV-1a 64 of bytes 0x00-0x5F
//   0x68   ...  zero
//
//   page record (page size + 8 bytes), one for each page changed
//   0x00   4    page number
//   0x04   n    the page as it was stored in the file
//   n+4    4    checksum of the page number and the page, keyed by the nonce
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
  static constexpr uint32_t kVersion = 2;

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

  std::vector<uint8_t> Encode() const;
  // False for anything but a whole header of this format.
  static bool Decode(std::span<const uint8_t> bytes, JournalHeader& out);
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
