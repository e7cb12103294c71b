#include "jet/crypto/encrypt.h"

#include <fcntl.h>
#include <openssl/rand.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <vector>

#include "jet/crypto/office_codec.h"
#include "jet/crypto/office_crypto_internal.h"
#include "jet/storage/bytes.h"
#include "jet/storage/error.h"
#include "jet/storage/header.h"
#include "jet/storage/page_file.h"
#include "jet/storage/pager.h"

namespace jet {

namespace {

using office::ByteVec;
using office::kDatabaseKeyOffset;
using office::kDescriptorOffset;

// What Access 2010 and later write.
constexpr uint32_t kSpinCount = 100000;

constexpr size_t kPasswordOffset = 0x42;
constexpr size_t kPasswordLength = 40;
constexpr uint32_t kPagesPerWrite = 64;

ByteVec RandomBytes(size_t n) {
  ByteVec b(n);
  if (RAND_bytes(b.data(), static_cast<int>(n)) != 1) {
    throw Error(errnum::kGeneric,
                "The system's random number generator failed; the database was not encrypted.");
  }
  return b;
}

uint32_t RandomDatabaseKey() {
  // Zero would mean "not encrypted".
  uint32_t key = 0;
  while (key == 0) {
    const ByteVec b = RandomBytes(4);
    key = b[0] | (b[1] << 8) | (static_cast<uint32_t>(b[2]) << 16) |
          (static_cast<uint32_t>(b[3]) << 24);
  }
  return key;
}

// Page 0 of the encrypted file: the plain header with a database key, the
// password field filled the way Access fills it, and the descriptor at 0x299.
std::vector<uint8_t> EncryptedHeaderPage(std::span<const uint8_t> plain, const HeaderInfo& h,
                                         uint32_t key, const ByteVec& info) {
  std::vector<uint8_t> page(plain.begin(), plain.end());
  const size_t end = kDescriptorOffset + 2 + info.size();
  // Plain files leave this stretch empty; anything there would be lost.
  if (end > page.size() || std::any_of(page.begin() + kDescriptorOffset, page.begin() + end,
                                       [](uint8_t b) { return b != 0; })) {
    throw Error(errnum::kGeneric,
                "The header page of this database holds data where the encryption information "
                "belongs; the database cannot be encrypted.");
  }
  ToggleHeaderMask(page, h.version);
  Put32(page, kDatabaseKeyOffset, key);
  // In the files Access encrypted, the 40-byte password field holds the low
  // byte of the database key over and over, under the same creation-date mask
  // that Jet 4 applies to its password (a plain file stores the bare mask).
  const double d = h.creation_date;
  const uint32_t date_mask =
      (d > -2147483648.0 && d < 2147483648.0) ? static_cast<uint32_t>(static_cast<int32_t>(d)) : 0;
  for (size_t i = 0; i < kPasswordLength; ++i) {
    page[kPasswordOffset + i] = static_cast<uint8_t>(key ^ (date_mask >> (8 * (i % 4))));
  }
  ToggleHeaderMask(page, h.version);
  Put16(page, kDescriptorOffset, static_cast<uint16_t>(info.size()));
  std::memcpy(page.data() + kDescriptorOffset + 2, info.data(), info.size());
  return page;
}

constexpr char kTempInfix[] = ".encrypting-";
constexpr size_t kTempRandomChars = 6;  // mkostemp's XXXXXX

// A file beside the target, removed unless it was renamed into place. It
// gets the target's owner, group and mode before anything is written to it,
// so that what replaces the target is the target's in every respect.
class TempFile {
 public:
  TempFile(const std::string& target, const struct stat& st) {
    std::string name = target + kTempInfix + std::string(kTempRandomChars, 'X');
    const int fd = ::mkostemp(name.data(), O_CLOEXEC);
    if (fd < 0) {
      throw Error(errnum::kGeneric, "Cannot create a file beside '" + target +
                                        "' for its encrypted copy: " + std::strerror(errno) + ".");
    }
    path_ = std::move(name);
    const bool owned = st.st_uid == ::geteuid() && st.st_gid == ::getegid();
    const bool chowned = owned || ::fchown(fd, st.st_uid, st.st_gid) == 0;
    const int chown_errno = errno;
    const bool chmoded = ::fchmod(fd, st.st_mode & 07777) == 0;
    ::close(fd);
    if (!chowned || !chmoded) {
      throw Error(errnum::kGeneric, "Cannot give the encrypted copy of '" + target +
                                        "' the file's " + (chowned ? "mode" : "owner and group") +
                                        ": " + std::strerror(chowned ? errno : chown_errno) +
                                        ". The database was not encrypted.");
    }
  }
  ~TempFile() {
    if (!path_.empty()) ::unlink(path_.c_str());
  }
  TempFile(const TempFile&) = delete;
  TempFile& operator=(const TempFile&) = delete;
  const std::string& path() const { return path_; }
  void Keep() { path_.clear(); }

 private:
  std::string path_;
};

// Whether the file is what a killed encryption leaves: empty (killed before
// the first write) or starting like an .accdb. A file of the user's that only
// has a name of that form is left alone.
bool LooksLikeOurCopy(const std::filesystem::path& path) {
  static constexpr char kStart[] = "\x00\x01\x00\x00Standard ACE DB";
  std::error_code ec;
  if (std::filesystem::file_size(path, ec) == 0 && !ec) return true;
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
  if (fd < 0) return false;
  char head[sizeof kStart - 1] = {};
  const ssize_t got = ::pread(fd, head, sizeof head, 0);
  ::close(fd);
  return got == static_cast<ssize_t>(sizeof head) && std::memcmp(head, kStart, sizeof head) == 0;
}

// Copies that an encryption killed midway left beside `target`. Only called
// while the target's writer lock is held, so no other encryption of it can
// be writing one of them.
void RemoveLeftoverCopies(const std::string& target, FileSystem& fs) {
  const std::filesystem::path t(target);
  const std::string prefix = t.filename().string() + kTempInfix;
  std::error_code ec;
  const std::filesystem::path folder = t.has_parent_path() ? t.parent_path() : ".";
  for (const auto& entry : std::filesystem::directory_iterator(folder, ec)) {
    const std::string name = entry.path().filename().string();
    if (name.size() == prefix.size() + kTempRandomChars &&
        name.compare(0, prefix.size(), prefix) == 0 && entry.is_regular_file(ec) &&
        !entry.is_symlink(ec) && LooksLikeOurCopy(entry.path())) {
      fs.Remove(entry.path().string());
    }
  }
}

}  // namespace

void EncryptDatabase(const std::string& link, const std::string& password, FileSystem& fs) {
  if (password.empty()) {
    throw Error(errnum::kGeneric, "A database cannot be encrypted with an empty password.");
  }
  // Through a symbolic link the file it names is encrypted, and the link
  // stays: the copy is written beside the real file and renamed over it.
  const std::string path = ResolvedPath(link);
  PageFile file(path, true, fs);
  if (!file.TryLockWriter()) {
    throw Error(errnum::kGeneric,
                "The database '" + path + "' is in use: another program has it open for writing.");
  }
  // A change cut short must be undone before the pages are copied, with no
  // reader in the file while its pages are put back.
  if (fs.Exists(Pager::JournalPath(path))) {
    if (!file.WaitLock(PageFile::LockLevel::kExclusive, 10000)) {
      throw Error(errnum::kGeneric, "The database '" + path +
                                        "' must be repaired after an interrupted change, but "
                                        "other programs are reading it; try again when they "
                                        "are done.");
    }
    Pager::RecoverJournal(path, file);
    file.Release(PageFile::LockLevel::kReserved);
  }
  RemoveLeftoverCopies(path, fs);

  std::vector<uint8_t> raw(4096, 0);
  const size_t got = file.ReadAt(0, raw);
  if (got < 2048) {
    throw Error(errnum::kGeneric,
                "The file '" + path + "' is not an Access database (it is too short).");
  }
  raw.resize(got);
  const HeaderInfo h = ParseHeader(raw);
  if (h.version <= Version::kJet4) {
    throw Error(errnum::kGeneric, "Only .accdb databases can be encrypted with a password; '" +
                                      path + "' is in the " + VersionName(h.version) +
                                      " format of .mdb files.");
  }
  if (h.database_key != 0) {
    throw Error(errnum::kGeneric, "The database '" + path + "' is already encrypted.");
  }
  const uint32_t page_size = h.page_size;
  const uint64_t size = file.Size();
  if (raw.size() < page_size || size % page_size != 0 || size < 3ull * page_size) {
    ThrowDamaged("the file is not a whole number of pages");
  }
  raw.resize(page_size);

  const uint32_t key = RandomDatabaseKey();
  office::AgileKeys keys{RandomBytes(16), RandomBytes(16), RandomBytes(16), RandomBytes(32)};
  const ByteVec info = office::AgileEncryptionInfo(password, keys, kSpinCount);
  const std::vector<uint8_t> page0 = EncryptedHeaderPage(raw, h, key, info);
  // The codec comes from the new header itself, so a descriptor that would
  // not open with this password fails here, before anything is replaced.
  const std::unique_ptr<PageCodec> codec = MakeOfficeCodec(page0, password);
  if (!codec) throw Error(errnum::kGeneric, "The new encryption header could not be read back.");

  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) {
    throw Error(errnum::kGeneric, "Cannot inspect '" + path + "': " + std::strerror(errno) + ".");
  }
  TempFile temp(path, st);
  {
    PageFile out(temp.path(), true, fs);
    out.WriteAt(0, page0);
    const uint64_t pages = size / page_size;
    std::vector<uint8_t> buf(static_cast<size_t>(kPagesPerWrite) * page_size);
    for (uint64_t first = 1; first < pages;) {
      const uint64_t n = std::min<uint64_t>(kPagesPerWrite, pages - first);
      std::span<uint8_t> chunk(buf.data(), n * page_size);
      if (file.ReadAt(first * page_size, chunk) != chunk.size()) {
        ThrowDamaged("the file changed size while it was being encrypted");
      }
      for (uint64_t k = 0; k < n; ++k) {
        codec->Encode(static_cast<uint32_t>(first + k), chunk.subspan(k * page_size, page_size));
      }
      out.WriteAt(first * page_size, chunk);
      first += n;
    }
    out.Sync();
  }
  if (::rename(temp.path().c_str(), path.c_str()) != 0) {
    throw Error(errnum::kGeneric, "Cannot replace '" + path +
                                      "' with its encrypted copy: " + std::strerror(errno) + ".");
  }
  temp.Keep();
  fs.SyncFolderOf(path);
}

}  // namespace jet
