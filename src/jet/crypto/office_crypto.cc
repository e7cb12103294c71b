// Office encryption of .accdb files. Page 0 stays readable and carries, at
// 0x299, the same "EncryptionInfo" record Office documents use; every other
// page is encrypted on its own with a key or IV derived from the "block key"
// LE32(database key ^ page number). By version of that record:
//   1.1          Office binary RC4 (MD5)
//   2.2/3.2/4.2  CryptoAPI: RC4 (Access 2007), or AES in ECB mode, either
//                ECMA-376 "standard" (fAES flag, 50000 spins) or the variant
//                Access writes when AES is chosen without the fAES flag
//                (no spinning at all)
//   4.4          agile: XML descriptor, AES-CBC pages (Access 2010 and later)
// Extensible (x.3) encryption needs a third-party module and is refused.
//
// Data integrity: agile Office documents may carry a <dataIntegrity> HMAC
// over their one encrypted package stream. A database has no such stream, its
// pages are encrypted one by one, and none of the agile descriptors Access
// wrote that we have seen carries a <dataIntegrity> element (the element is
// optional). So there is no HMAC to check, nor one to keep up to date when a
// page is rewritten; should a descriptor carry one anyway, it is ignored. The
// descriptors we write for newly encrypted files carry none either, as
// Access's own do: an HMAC over nothing in particular would only be a value
// that goes stale at the first write.

#include <openssl/crypto.h>
#include <openssl/evp.h>

#include <array>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <mutex>

#include "jet/crypto/office_codec.h"
#include "jet/storage/rc4.h"
#include "jet/storage/error.h"
#include "jet/crypto/office_crypto_internal.h"

namespace jet {

namespace {

using office::ByteVec;
using office::ByteView;
using office::HashKind;
using office::kDatabaseKeyOffset;
using office::kDescriptorOffset;

constexpr size_t kMaskStart = 0x18;
constexpr size_t kMaskLength = 128;

constexpr uint32_t kFlagCryptoApi = 0x04;
constexpr uint32_t kFlagExternal = 0x10;
constexpr uint32_t kFlagAes = 0x20;

constexpr uint32_t kStandardSpinCount = 50000;
constexpr uint32_t kMaxAgileSpinCount = 10000000;

constexpr std::string_view kPasswordEncryptorUri =
    "http://schemas.microsoft.com/office/2006/keyEncryptor/password";

constexpr uint8_t kVerifierInputTag[8] = {0xFE, 0xA7, 0xD2, 0x76, 0x3B, 0x4B, 0x9E, 0x79};
constexpr uint8_t kVerifierHashTag[8] = {0xD7, 0xAA, 0x0F, 0x6D, 0x30, 0x61, 0x34, 0x4E};
constexpr uint8_t kSecretKeyTag[8] = {0x14, 0x6E, 0x0B, 0xE7, 0xAB, 0xAC, 0xD0, 0xD6};

[[noreturn]] void Malformed(const std::string& detail) {
  throw Error(errnum::kGeneric,
              "The encryption information in the header of this .accdb file is damaged (" + detail +
                  "); the file cannot be opened.");
}

[[noreturn]] void Unsupported(const std::string& what) {
  throw Error(errnum::kGeneric,
              "This .accdb file is encrypted with " + what + ", which cannot be opened.");
}

[[noreturn]] void WrongPassword() { throw Error(errnum::kWrongPassword, "Not a valid password."); }

std::string Hex(uint32_t v) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "0x%X", v);
  return buf;
}

bool SameBytes(ByteView a, ByteView b) {
  return a.size() == b.size() && CRYPTO_memcmp(a.data(), b.data(), a.size()) == 0;
}

std::array<uint8_t, 4> Le32(uint32_t v) {
  return {static_cast<uint8_t>(v), static_cast<uint8_t>(v >> 8), static_cast<uint8_t>(v >> 16),
          static_cast<uint8_t>(v >> 24)};
}

// Little-endian reads over the descriptor that fail as "damaged".
class Reader {
 public:
  explicit Reader(ByteView bytes) : bytes_(bytes) {}
  size_t remaining() const { return bytes_.size() - pos_; }
  uint16_t U16(const char* what) {
    ByteView b = Take(2, what);
    return static_cast<uint16_t>(b[0] | (b[1] << 8));
  }
  uint32_t U32(const char* what) {
    ByteView b = Take(4, what);
    return b[0] | (b[1] << 8) | (static_cast<uint32_t>(b[2]) << 16) |
           (static_cast<uint32_t>(b[3]) << 24);
  }
  ByteView Take(size_t n, const char* what) {
    if (n > remaining()) Malformed(std::string(what) + " is cut short");
    ByteView b = bytes_.subspan(pos_, n);
    pos_ += n;
    return b;
  }
  ByteView Rest() { return Take(remaining(), "the rest"); }

 private:
  ByteView bytes_;
  size_t pos_ = 0;
};

// ---------------------------------------------------------------------------
// Page codecs

class Rc4PageCodec : public PageCodec {
 public:
  explicit Rc4PageCodec(uint32_t database_key) : database_key_(database_key) {}
  void Decode(uint32_t page_number, std::span<uint8_t> page) const override {
    Apply(page_number, page);
  }
  void Encode(uint32_t page_number, std::span<uint8_t> page) const override {
    Apply(page_number, page);
  }
  // RC4 key for one block key (4 bytes).
  virtual ByteVec KeyFor(ByteView block) const = 0;

 private:
  void Apply(uint32_t page_number, std::span<uint8_t> page) const {
    const auto block = Le32(database_key_ ^ page_number);
    Rc4Apply(KeyFor(block), page);
  }
  uint32_t database_key_;
};

// RC4 keyed with SHA-1(H0 + block) cut to the key size; a 40-bit key is
// zero-extended to 128 bits, which is how CryptoAPI applies it.
class CryptoApiRc4Codec final : public Rc4PageCodec {
 public:
  CryptoApiRc4Codec(uint32_t database_key, ByteVec h0, size_t key_bytes)
      : Rc4PageCodec(database_key), h0_(std::move(h0)), key_bytes_(key_bytes) {}
  ByteVec KeyFor(ByteView block) const override {
    ByteVec key = office::FixLength(office::Hash(HashKind::kSha1, {h0_, block}), key_bytes_, 0);
    if (key_bytes_ == 5) key.resize(16, 0);
    return key;
  }

 private:
  ByteVec h0_;
  size_t key_bytes_;
};

// Office binary RC4: MD5(truncated H1 + block), all 16 bytes.
class BinaryRc4Codec final : public Rc4PageCodec {
 public:
  BinaryRc4Codec(uint32_t database_key, ByteVec base)
      : Rc4PageCodec(database_key), base_(std::move(base)) {}
  ByteVec KeyFor(ByteView block) const override {
    return office::Hash(HashKind::kMd5, {base_, block});
  }

 private:
  ByteVec base_;
};

// CryptoAPI AES: AES-ECB with a key derived per page. The iterated hash does
// not depend on the page, so it is computed once.
class StandardAesCodec final : public PageCodec {
 public:
  StandardAesCodec(uint32_t database_key, ByteVec iterated, size_t key_bytes)
      : database_key_(database_key), iterated_(std::move(iterated)), key_bytes_(key_bytes) {}
  void Decode(uint32_t page_number, std::span<uint8_t> page) const override {
    Apply(false, page_number, page);
  }
  void Encode(uint32_t page_number, std::span<uint8_t> page) const override {
    Apply(true, page_number, page);
  }

 private:
  void Apply(bool encrypt, uint32_t page_number, std::span<uint8_t> page) const {
    const auto block = Le32(database_key_ ^ page_number);
    const ByteVec key = office::StandardBlockKey(iterated_, block, key_bytes_);
    office::AesApply(encrypt, office::AesMode::kEcb, key, {}, page);
  }
  uint32_t database_key_;
  ByteVec iterated_;
  size_t key_bytes_;
};

// Agile: one secret key for the whole file, the page's IV from
// hash(keyData salt + block key). The key is set up once per direction; the
// contexts that hold it are shared, so a lock keeps the codec usable from
// several threads.
class AgileCodec final : public PageCodec {
 public:
  AgileCodec(uint32_t database_key, const ByteVec& secret, ByteVec salt, HashKind hash,
             office::AesMode mode)
      : database_key_(database_key),
        salt_(std::move(salt)),
        hasher_(hash),
        decrypt_(false, mode, secret),
        encrypt_(true, mode, secret) {}
  void Decode(uint32_t page_number, std::span<uint8_t> page) const override {
    Apply(decrypt_, page_number, page);
  }
  void Encode(uint32_t page_number, std::span<uint8_t> page) const override {
    Apply(encrypt_, page_number, page);
  }

 private:
  void Apply(office::AesKeyed& cipher, uint32_t page_number, std::span<uint8_t> page) const {
    const auto block = Le32(database_key_ ^ page_number);
    // Every hash the descriptor may name is at least 16 bytes long, so the
    // IV is its head and the 0x36 padding never applies.
    uint8_t digest[EVP_MAX_MD_SIZE];
    std::lock_guard<std::mutex> lock(mu_);
    hasher_.Run({salt_, block}, digest);
    cipher.Apply(ByteView(digest, 16), page);
  }
  uint32_t database_key_;
  ByteVec salt_;
  mutable std::mutex mu_;
  mutable office::Hasher hasher_;
  mutable office::AesKeyed decrypt_;
  mutable office::AesKeyed encrypt_;
};

// ---------------------------------------------------------------------------
// CryptoAPI (x.2): EncryptionHeader and EncryptionVerifier

enum class CipherAlg { kRc4, kAes };

struct CryptoApiInfo {
  CipherAlg alg = CipherAlg::kRc4;
  uint32_t key_bits = 0;
  ByteView salt;
  ByteView encrypted_verifier;
  uint32_t verifier_hash_size = 0;
  ByteView encrypted_verifier_hash;
};

// The provider name decides the default RC4 key size: the "Base" provider
// only did 40 bits.
std::string CspName(ByteView bytes) {
  std::string name;
  for (size_t i = 0; i + 1 < bytes.size(); i += 2) {
    const uint16_t unit = static_cast<uint16_t>(bytes[i] | (bytes[i + 1] << 8));
    if (unit == 0) break;
    char c = unit < 0x80 ? static_cast<char>(unit) : '?';
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    name.push_back(c);
  }
  const size_t first = name.find_first_not_of(' ');
  if (first == std::string::npos) return "";
  return name.substr(first, name.find_last_not_of(' ') - first + 1);
}

// Reads what follows the copy of the flags. Access files have been seen with
// the fAES flag missing although the header names an AES cipher; the header's
// own cipher id is what counts, and the flags only fill in when it is zero.
CryptoApiInfo ReadCryptoApi(Reader& r, uint32_t info_flags) {
  const uint32_t header_size = r.U32("the encryption header size");
  if (header_size < 32) Malformed("the encryption header is too small");
  Reader h(r.Take(header_size, "the encryption header"));
  const uint32_t flags = h.U32("the header flags");
  h.U32("the extra size");
  const uint32_t alg_id = h.U32("the cipher id");
  const uint32_t hash_id = h.U32("the hash id");
  const uint32_t key_size = h.U32("the key size");
  h.U32("the provider type");
  h.U32("a reserved field");
  h.U32("a reserved field");
  const std::string csp = CspName(h.Rest());

  if ((flags | info_flags) & kFlagExternal) {
    Unsupported("an extensible encryption module from a third party");
  }
  CryptoApiInfo info;
  uint32_t aes_bits = 0;
  switch (alg_id) {
    case 0:
      if (!(flags & kFlagCryptoApi)) Malformed("no cipher is named");
      if (flags & kFlagAes) {
        info.alg = CipherAlg::kAes;
        aes_bits = 128;
      }
      break;
    case 0x6801:
      info.alg = CipherAlg::kRc4;
      break;
    case 0x660E:
    case 0x660F:
    case 0x6610:
      info.alg = CipherAlg::kAes;
      aes_bits = 128 + 64 * (alg_id - 0x660E);
      break;
    default:
      Unsupported("the cipher " + Hex(alg_id));
  }
  if (hash_id != 0 && hash_id != 0x8004) Unsupported("the hash algorithm " + Hex(hash_id));

  info.key_bits = key_size;
  if (info.key_bits == 0) {
    if (info.alg == CipherAlg::kRc4) {
      info.key_bits = (csp.empty() || csp.find(" base ") != std::string::npos) ? 40 : 128;
    } else {
      info.key_bits = aes_bits;
    }
  }
  if (info.alg == CipherAlg::kRc4) {
    if (info.key_bits < 40 || info.key_bits > 128 || info.key_bits % 8 != 0) {
      Unsupported("RC4 with a key of " + std::to_string(info.key_bits) + " bits");
    }
  } else if (info.key_bits != aes_bits) {
    Malformed("the AES key size does not match the cipher");
  }

  const uint32_t salt_size = r.U32("the salt size");
  if (salt_size != 16) Malformed("the salt size is not 16");
  info.salt = r.Take(16, "the salt");
  info.encrypted_verifier = r.Take(16, "the password verifier");
  info.verifier_hash_size = r.U32("the verifier hash size");
  if (info.verifier_hash_size == 0 || info.verifier_hash_size > 20) {
    Malformed("the verifier hash size is not that of SHA-1");
  }
  info.encrypted_verifier_hash = r.Take(info.alg == CipherAlg::kRc4 ? 20 : 32, "the verifier hash");
  return info;
}

std::unique_ptr<PageCodec> OpenCryptoApiRc4(uint32_t database_key, const CryptoApiInfo& info,
                                            const ByteVec& password) {
  if (password.empty()) WrongPassword();
  const size_t key_bytes = info.key_bits / 8;
  auto codec = std::make_unique<CryptoApiRc4Codec>(
      database_key, office::Hash(HashKind::kSha1, {info.salt, password}), key_bytes);
  // Verifier and its hash are one continuous RC4 stream under block 0.
  ByteVec buf(info.encrypted_verifier.begin(), info.encrypted_verifier.end());
  buf.insert(buf.end(), info.encrypted_verifier_hash.begin(), info.encrypted_verifier_hash.end());
  Rc4Apply(codec->KeyFor(Le32(0)), buf);
  const ByteView verifier(buf.data(), 16);
  const ByteVec expected = office::Hash(HashKind::kSha1, {verifier});
  const size_t n = info.verifier_hash_size;
  if (!SameBytes(ByteView(expected.data(), n), ByteView(buf.data() + 16, n))) WrongPassword();
  return codec;
}

std::unique_ptr<PageCodec> OpenCryptoApiAes(uint32_t database_key, const CryptoApiInfo& info,
                                            const ByteVec& password, uint32_t spin) {
  if (password.empty()) WrongPassword();
  const size_t key_bytes = info.key_bits / 8;
  ByteVec iterated = office::IteratedPasswordHash(HashKind::kSha1, info.salt, password, spin);
  const ByteVec key = office::StandardBlockKey(iterated, Le32(0), key_bytes);
  ByteVec verifier(info.encrypted_verifier.begin(), info.encrypted_verifier.end());
  ByteVec hash(info.encrypted_verifier_hash.begin(), info.encrypted_verifier_hash.end());
  office::AesApply(false, office::AesMode::kEcb, key, {}, verifier);
  office::AesApply(false, office::AesMode::kEcb, key, {}, hash);
  const ByteVec expected = office::Hash(HashKind::kSha1, {verifier});
  const size_t n = info.verifier_hash_size;
  if (!SameBytes(ByteView(expected.data(), n), ByteView(hash.data(), n))) WrongPassword();
  return std::make_unique<StandardAesCodec>(database_key, std::move(iterated), key_bytes);
}

std::unique_ptr<PageCodec> OpenCryptoApi(uint32_t database_key, Reader& r,
                                         const ByteVec& password) {
  const uint32_t flags = r.U32("the encryption flags");
  if (flags & kFlagExternal) Unsupported("an extensible encryption module from a third party");
  if (!(flags & kFlagCryptoApi)) Malformed("the CryptoAPI flag is missing");
  const CryptoApiInfo info = ReadCryptoApi(r, flags);
  if (flags & kFlagAes) {
    if (info.alg != CipherAlg::kAes) Malformed("the AES flag is set for an RC4 cipher");
    return OpenCryptoApiAes(database_key, info, password, kStandardSpinCount);
  }
  if (info.alg == CipherAlg::kAes) {
    // AES without the fAES flag: the key comes straight from the salted
    // password hash, without the 50000 rounds of the ECMA-376 scheme.
    return OpenCryptoApiAes(database_key, info, password, 0);
  }
  return OpenCryptoApiRc4(database_key, info, password);
}

// ---------------------------------------------------------------------------
// Office binary RC4 (1.1)

std::unique_ptr<PageCodec> OpenBinaryRc4(uint32_t database_key, Reader& r,
                                         const ByteVec& password) {
  const ByteView salt = r.Take(16, "the salt");
  const ByteView encrypted_verifier = r.Take(16, "the password verifier");
  const ByteView encrypted_hash = r.Take(16, "the verifier hash");
  if (password.empty()) WrongPassword();
  const ByteVec h0 = office::Hash(HashKind::kMd5, {password});
  ByteVec buffer;
  for (int i = 0; i < 16; ++i) {
    buffer.insert(buffer.end(), h0.begin(), h0.begin() + 5);
    buffer.insert(buffer.end(), salt.begin(), salt.end());
  }
  ByteVec base = office::FixLength(office::Hash(HashKind::kMd5, {buffer}), 5, 0);
  auto codec = std::make_unique<BinaryRc4Codec>(database_key, std::move(base));
  ByteVec buf(encrypted_verifier.begin(), encrypted_verifier.end());
  buf.insert(buf.end(), encrypted_hash.begin(), encrypted_hash.end());
  Rc4Apply(codec->KeyFor(Le32(0)), buf);
  const ByteVec expected = office::Hash(HashKind::kMd5, {ByteView(buf.data(), 16)});
  if (!SameBytes(expected, ByteView(buf.data() + 16, 16))) WrongPassword();
  return codec;
}

// ---------------------------------------------------------------------------
// Agile (4.4)

const std::string& Attribute(const office::XmlTag& tag, std::string_view key) {
  const std::string* v = tag.Find(key);
  if (!v) Malformed("the " + tag.name + " element lacks " + std::string(key));
  return *v;
}

uint32_t UintAttribute(const office::XmlTag& tag, std::string_view key, uint32_t min,
                       uint32_t max) {
  const std::string& s = Attribute(tag, key);
  uint32_t v = 0;
  const auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), v);
  if (ec != std::errc() || end != s.data() + s.size() || v < min || v > max) {
    Malformed(std::string(key) + " of " + tag.name + " is not a usable number");
  }
  return v;
}

ByteVec Base64Attribute(const office::XmlTag& tag, std::string_view key) {
  auto v = office::Base64Decode(Attribute(tag, key));
  if (!v || v->empty()) Malformed(std::string(key) + " of " + tag.name + " is not base64");
  return *v;
}

std::string Normalized(const std::string& s) {
  std::string out;
  for (char c : s) {
    if (c == '-' || c == '_' || c == ' ') continue;
    out.push_back(c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c);
  }
  return out;
}

HashKind HashAttribute(const office::XmlTag& tag) {
  const std::string& name = Attribute(tag, "hashAlgorithm");
  const std::string n = Normalized(name);
  if (n == "SHA1") return HashKind::kSha1;
  if (n == "SHA256") return HashKind::kSha256;
  if (n == "SHA384") return HashKind::kSha384;
  if (n == "SHA512") return HashKind::kSha512;
  if (n == "MD5") return HashKind::kMd5;
  Unsupported("the hash algorithm \"" + name + "\"");
}

// Cipher, chaining, block size and key size of keyData or encryptedKey.
struct AgileCipher {
  office::AesMode mode = office::AesMode::kCbc;
  uint32_t key_bits = 0;
};

AgileCipher CipherAttributes(const office::XmlTag& tag) {
  const std::string& cipher = Attribute(tag, "cipherAlgorithm");
  if (Normalized(cipher) != "AES") Unsupported("the cipher \"" + cipher + "\"");
  AgileCipher c;
  const std::string& chaining = Attribute(tag, "cipherChaining");
  if (chaining == "ChainingModeCBC") {
    c.mode = office::AesMode::kCbc;
  } else if (chaining == "ChainingModeCFB") {
    c.mode = office::AesMode::kCfb8;
  } else {
    Unsupported("the chaining mode \"" + chaining + "\"");
  }
  if (UintAttribute(tag, "blockSize", 1, 4096) != 16) Malformed("the AES block size is not 16");
  c.key_bits = UintAttribute(tag, "keyBits", 1, 1u << 20);
  if (c.key_bits != 128 && c.key_bits != 192 && c.key_bits != 256) {
    Malformed("AES with " + std::to_string(c.key_bits) + "-bit keys does not exist");
  }
  return c;
}

ByteVec DecryptValue(const AgileCipher& c, ByteView key, ByteView iv, ByteVec value,
                     const char* what) {
  if (c.mode != office::AesMode::kCfb8 && value.size() % 16 != 0) {
    Malformed(std::string(what) + " is not a whole number of AES blocks");
  }
  office::AesApply(false, c.mode, key, iv, value);
  return value;
}

std::unique_ptr<PageCodec> OpenAgile(uint32_t database_key, Reader& r, const ByteVec& password) {
  if (r.U32("the reserved value") != 0x40) Malformed("the reserved value is not 0x40");
  const ByteView rest = r.Rest();
  std::string_view xml(reinterpret_cast<const char*>(rest.data()), rest.size());
  xml = xml.substr(0, xml.find('\0'));
  if (xml.starts_with("\xEF\xBB\xBF")) xml.remove_prefix(3);
  const auto tags = office::ScanXmlTags(xml);
  if (!tags) Malformed("its XML cannot be read");

  const office::XmlTag* key_data = nullptr;
  const office::XmlTag* encrypted_key = nullptr;
  bool any_encryptor = false;
  const std::string* encryptor_uri = nullptr;
  for (const office::XmlTag& t : *tags) {
    const std::string_view local = t.LocalName();
    if (local == "keyData" && !key_data) key_data = &t;
    if (local == "keyEncryptor") {
      any_encryptor = true;
      encryptor_uri = t.Find("uri");
    }
    if (local == "encryptedKey" && !encrypted_key && encryptor_uri &&
        *encryptor_uri == kPasswordEncryptorUri) {
      encrypted_key = &t;
    }
  }
  if (!key_data) Malformed("there is no keyData element");
  if (!encrypted_key) {
    if (any_encryptor) Unsupported("a key that is not protected by a password");
    Malformed("there is no password key encryptor");
  }

  const AgileCipher data_cipher = CipherAttributes(*key_data);
  const HashKind data_hash = HashAttribute(*key_data);
  UintAttribute(*key_data, "saltSize", 1, 65536);
  ByteVec data_salt = Base64Attribute(*key_data, "saltValue");

  const AgileCipher key_cipher = CipherAttributes(*encrypted_key);
  const HashKind key_hash = HashAttribute(*encrypted_key);
  const uint32_t spin = UintAttribute(*encrypted_key, "spinCount", 0, kMaxAgileSpinCount);
  const uint32_t salt_size = UintAttribute(*encrypted_key, "saltSize", 1, 65536);
  const ByteVec key_salt = Base64Attribute(*encrypted_key, "saltValue");
  ByteVec verifier_input = Base64Attribute(*encrypted_key, "encryptedVerifierHashInput");
  ByteVec verifier_hash = Base64Attribute(*encrypted_key, "encryptedVerifierHashValue");
  ByteVec secret = Base64Attribute(*encrypted_key, "encryptedKeyValue");
  if (verifier_hash.size() < office::HashSize(key_hash)) {
    Malformed("the encrypted verifier hash is shorter than a hash");
  }
  if (secret.size() < data_cipher.key_bits / 8) Malformed("the encrypted key is too short");

  if (password.empty()) WrongPassword();
  const ByteVec iterated = office::IteratedPasswordHash(key_hash, key_salt, password, spin);
  const size_t key_bytes = key_cipher.key_bits / 8;
  const ByteVec iv = office::FixLength(key_salt, 16, 0x36);

  verifier_input = DecryptValue(
      key_cipher, office::AgileBlockKey(key_hash, iterated, kVerifierInputTag, key_bytes), iv,
      std::move(verifier_input), "the verifier");
  verifier_hash = DecryptValue(
      key_cipher, office::AgileBlockKey(key_hash, iterated, kVerifierHashTag, key_bytes), iv,
      std::move(verifier_hash), "the verifier hash");
  // The verifier is saltSize random bytes, padded to whole blocks.
  if (verifier_input.size() > salt_size) verifier_input.resize(salt_size);
  const ByteVec expected = office::Hash(key_hash, {verifier_input});
  if (!SameBytes(expected, ByteView(verifier_hash.data(), expected.size()))) WrongPassword();

  secret =
      DecryptValue(key_cipher, office::AgileBlockKey(key_hash, iterated, kSecretKeyTag, key_bytes),
                   iv, std::move(secret), "the encrypted key");
  secret.resize(data_cipher.key_bits / 8);
  auto codec = std::make_unique<AgileCodec>(database_key, secret, std::move(data_salt), data_hash,
                                            data_cipher.mode);
  OPENSSL_cleanse(secret.data(), secret.size());
  return codec;
}

}  // namespace

namespace office {

ByteVec AgileEncryptionInfo(const std::string& password, const AgileKeys& keys, uint32_t spin) {
  constexpr size_t kKeyBytes = 32;
  if (keys.key_data_salt.size() != 16 || keys.password_salt.size() != 16 ||
      keys.verifier_input.size() != 16 || keys.secret.size() != kKeyBytes) {
    throw Error(errnum::kGeneric, "The key material for a new encryption has the wrong sizes.");
  }
  const ByteVec iterated =
      IteratedPasswordHash(HashKind::kSha512, keys.password_salt, PasswordBytes(password), spin);
  const ByteVec iv = FixLength(keys.password_salt, 16, 0x36);
  // Each value goes under its own block key, padded to whole AES blocks.
  auto seal = [&](ByteView tag, ByteVec value) {
    value.resize((value.size() + 15) / 16 * 16, 0);
    AesApply(true, AesMode::kCbc, AgileBlockKey(HashKind::kSha512, iterated, tag, kKeyBytes), iv,
             value);
    return Base64Encode(value);
  };
  const ByteVec verifier_hash = Hash(HashKind::kSha512, {keys.verifier_input});

  // Attribute order and spelling follow the descriptors Access writes.
  const std::string cipher =
      " blockSize=\"16\" keyBits=\"256\" hashSize=\"64\" cipherAlgorithm=\"AES\""
      " cipherChaining=\"ChainingModeCBC\" hashAlgorithm=\"SHA512\"";
  std::string xml =
      "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\r\n"
      "<encryption xmlns=\"http://schemas.microsoft.com/office/2006/encryption\""
      " xmlns:p=\"http://schemas.microsoft.com/office/2006/keyEncryptor/password\""
      " xmlns:c=\"http://schemas.microsoft.com/office/2006/keyEncryptor/certificate\">";
  xml += "<keyData saltSize=\"16\"" + cipher + " saltValue=\"" + Base64Encode(keys.key_data_salt) +
         "\"/>";
  xml += "<keyEncryptors><keyEncryptor uri=\"" + std::string(kPasswordEncryptorUri) + "\">";
  xml += "<p:encryptedKey spinCount=\"" + std::to_string(spin) + "\" saltSize=\"16\"" + cipher +
         " saltValue=\"" + Base64Encode(keys.password_salt) + "\"";
  xml += " encryptedVerifierHashInput=\"" + seal(kVerifierInputTag, keys.verifier_input) + "\"";
  xml += " encryptedVerifierHashValue=\"" + seal(kVerifierHashTag, verifier_hash) + "\"";
  xml += " encryptedKeyValue=\"" + seal(kSecretKeyTag, keys.secret) + "\"/>";
  xml += "</keyEncryptor></keyEncryptors></encryption>";

  // Version 4.4, then the reserved value 0x40.
  ByteVec info(8 + xml.size());
  const uint8_t head[8] = {4, 0, 4, 0, 0x40, 0, 0, 0};
  std::memcpy(info.data(), head, 8);
  std::memcpy(info.data() + 8, xml.data(), xml.size());
  return info;
}

}  // namespace office

std::unique_ptr<PageCodec> MakeOfficeCodec(std::span<const uint8_t> header_page,
                                           const std::string& password) {
  if (header_page.size() < kDescriptorOffset + 2) Malformed("the header page is too short");

  std::array<uint8_t, kMaskLength> unmasked;
  std::memcpy(unmasked.data(), header_page.data() + kMaskStart, kMaskLength);
  static constexpr uint8_t kMaskKey[4] = {0xC7, 0xDA, 0x39, 0x6B};
  Rc4Apply(kMaskKey, unmasked);
  const uint8_t* k = unmasked.data() + (kDatabaseKeyOffset - kMaskStart);
  const uint32_t database_key = k[0] | (k[1] << 8) | (static_cast<uint32_t>(k[2]) << 16) |
                                (static_cast<uint32_t>(k[3]) << 24);
  if (database_key == 0) return nullptr;

  const size_t length = header_page[kDescriptorOffset] | (header_page[kDescriptorOffset + 1] << 8);
  if (length > header_page.size() - kDescriptorOffset - 2) {
    Malformed("its length runs past the header page");
  }
  Reader r(header_page.subspan(kDescriptorOffset + 2, length));
  const uint16_t major = r.U16("the version");
  const uint16_t minor = r.U16("the version");
  const ByteVec pwd = office::PasswordBytes(password);

  if (major == 4 && minor == 4) return OpenAgile(database_key, r, pwd);
  if (major == 1 && minor == 1) return OpenBinaryRc4(database_key, r, pwd);
  if ((major == 3 || major == 4) && minor == 3) {
    Unsupported("an extensible encryption module from a third party");
  }
  if (major >= 2 && major <= 4 && minor == 2) return OpenCryptoApi(database_key, r, pwd);
  Unsupported("an unknown scheme (version " + std::to_string(major) + "." + std::to_string(minor) +
              ")");
}

}  // namespace jet
