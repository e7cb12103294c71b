// Building blocks of Office encryption shared by the page codecs in
// office_crypto.cc. They are declared here so that the tests can hold the key
// derivations against published values; nothing outside the engine uses them.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace jet::office {

using ByteVec = std::vector<uint8_t>;
using ByteView = std::span<const uint8_t>;

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
