// Building blocks of Office encryption shared by the page codecs in
// office_crypto.cc. They are declared here so that the tests can hold the key
// derivations against published values; nothing outside the engine uses them.
#pragma once

#include <openssl/types.h>

#include <cstdint>
#include <initializer_list>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace jet::office {

using ByteVec = std::vector<uint8_t>;
using ByteView = std::span<const uint8_t>;

// Where page 0 keeps what encryption needs.
inline constexpr size_t kDatabaseKeyOffset = 0x3E;  // inside the masked region
inline constexpr size_t kDescriptorOffset = 0x299;  // length-prefixed EncryptionInfo

enum class HashKind { kMd5, kSha1, kSha256, kSha384, kSha512 };

size_t HashSize(HashKind kind);
// Hash of the concatenation of `parts`.
ByteVec Hash(HashKind kind, std::initializer_list<ByteView> parts);

// `v` cut or padded with `pad` to exactly `n` bytes.
ByteVec FixLength(ByteVec v, size_t n, uint8_t pad);

// The password as Office hashes it: UTF-16LE of the UTF-8 input, at most 255
// code units. Invalid UTF-8 becomes U+FFFD rather than failing.
ByteVec PasswordBytes(const std::string& utf8);

// Standard base64 (whitespace ignored). Empty optional when the text is not
// valid base64.
std::optional<ByteVec> Base64Decode(std::string_view text);
// Standard base64 with padding, no line breaks.
std::string Base64Encode(ByteView bytes);

// The salted, iterated password hash of the Office schemes:
// H0 = hash(salt + password), then `spin` rounds of H = hash(LE32(i) + H).
ByteVec IteratedPasswordHash(HashKind kind, ByteView salt, ByteView password, uint32_t spin);

// Standard (ECMA-376) AES key for one block: SHA-1(iterated + block) widened
// the way CryptoAPI's CryptDeriveKey does it (0x36 / 0x5C pads).
ByteVec StandardBlockKey(ByteView iterated_hash, ByteView block, size_t key_bytes);

// Agile key for one of the fixed block tags: hash(iterated + tag), cut or
// padded with 0x36 to `key_bytes`.
ByteVec AgileBlockKey(HashKind kind, ByteView iterated_hash, ByteView tag, size_t key_bytes);

enum class AesMode { kEcb, kCbc, kCfb8 };

// AES in place without padding; the key length picks AES-128/192/256. ECB
// ignores `iv`. Throws jet::Error when the cipher refuses the input (a length
// that is not whole blocks, a key of another size).
void AesApply(bool encrypt, AesMode mode, ByteView key, ByteView iv, std::span<uint8_t> data);

struct EvpFree {
  void operator()(EVP_MD_CTX* c) const;
  void operator()(EVP_CIPHER_CTX* c) const;
};

// A hash whose context is set up once and reused: for hashing many short
// inputs. Not for several threads at once.
class Hasher {
 public:
  explicit Hasher(HashKind kind);
  size_t size() const { return size_; }
  // Writes size() bytes to `out`.
  void Run(std::initializer_list<ByteView> parts, uint8_t* out);

 private:
  std::unique_ptr<EVP_MD_CTX, EvpFree> ctx_;
  const EVP_MD* md_;
  size_t size_;
};

// An AES key set up once for one direction and applied to many messages, each
// with its own IV: what a page codec does. The key schedule and the context
// cost more than the cipher itself on a 4 KB page. Same checks as AesApply.
// Not for several threads at once.
class AesKeyed {
 public:
  AesKeyed(bool encrypt, AesMode mode, ByteView key);
  void Apply(ByteView iv, std::span<uint8_t> data);

 private:
  std::unique_ptr<EVP_CIPHER_CTX, EvpFree> ctx_;
  AesMode mode_;
};

// What a new agile descriptor protects: the salts, the random verifier and
// the file's secret key (16 bytes each, the key 32).
struct AgileKeys {
  ByteVec key_data_salt;
  ByteVec password_salt;
  ByteVec verifier_input;
  ByteVec secret;
};

// The EncryptionInfo record (version 4.4) of a file encrypted with `keys`
// under `password`, as Access 2010 and later write it: AES-256-CBC with
// SHA-512 for both the pages and the password key, `spin` rounds, no
// data-integrity element.
ByteVec AgileEncryptionInfo(const std::string& password, const AgileKeys& keys, uint32_t spin);

// One start tag of an XML document: its qualified name and its attributes in
// document order. Values are returned as written (no entity decoding: the
// descriptor holds only numbers, names and base64).
struct XmlTag {
  std::string name;
  std::vector<std::pair<std::string, std::string>> attributes;
  // The value of attribute `key`, or nullptr.
  const std::string* Find(std::string_view key) const;
  // Name without its namespace prefix.
  std::string_view LocalName() const;
};

// Start tags of `xml` in order (end tags, comments, declarations skipped).
// Empty optional when the text is not well-formed enough to scan.
std::optional<std::vector<XmlTag>> ScanXmlTags(std::string_view xml);

}  // namespace jet::office
