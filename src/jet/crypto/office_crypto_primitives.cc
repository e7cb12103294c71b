#include <openssl/evp.h>

#include <array>
#include <memory>

#include "jet/storage/error.h"
#include "jet/crypto/office_crypto_internal.h"

namespace jet::office {

namespace {

[[noreturn]] void CryptoFailure(const char* what);

struct MdFree {
  void operator()(EVP_MD* m) const { EVP_MD_free(m); }
};
struct CipherFree {
  void operator()(EVP_CIPHER* c) const { EVP_CIPHER_free(c); }
};

// OpenSSL 3 looks the algorithm up by name whenever a context is set up with
// EVP_sha512() and its kin; that doubled the time of the 100000-round password
// hash and was most of the cost of a page. Algorithms looked up once are kept
// for the life of the process.
const EVP_MD* Md(HashKind kind) {
  static const std::array<std::unique_ptr<EVP_MD, MdFree>, 5> fetched = [] {
    std::array<std::unique_ptr<EVP_MD, MdFree>, 5> a;
    const char* names[5] = {"MD5", "SHA1", "SHA256", "SHA384", "SHA512"};
    for (size_t i = 0; i < 5; ++i) a[i].reset(EVP_MD_fetch(nullptr, names[i], nullptr));
    return a;
  }();
  const EVP_MD* md = fetched[static_cast<size_t>(kind)].get();
  if (!md) CryptoFailure("a hash algorithm is not available");
  return md;
}

const EVP_CIPHER* AesCipher(AesMode mode, size_t key_bytes) {
  static const std::array<std::unique_ptr<EVP_CIPHER, CipherFree>, 9> fetched = [] {
    std::array<std::unique_ptr<EVP_CIPHER, CipherFree>, 9> a;
    const char* names[9] = {"AES-128-ECB", "AES-128-CBC", "AES-128-CFB8",
                            "AES-192-ECB", "AES-192-CBC", "AES-192-CFB8",
                            "AES-256-ECB", "AES-256-CBC", "AES-256-CFB8"};
    for (size_t i = 0; i < 9; ++i) a[i].reset(EVP_CIPHER_fetch(nullptr, names[i], nullptr));
    return a;
  }();
  size_t row = 0;
  switch (key_bytes) {
    case 16:
      row = 0;
      break;
    case 24:
      row = 1;
      break;
    case 32:
      row = 2;
      break;
    default:
      throw Error(errnum::kGeneric,
                  "An AES key of " + std::to_string(key_bytes) + " bytes cannot be used.");
  }
  const EVP_CIPHER* c = fetched[row * 3 + static_cast<size_t>(mode)].get();
  if (!c) CryptoFailure("AES is not available");
  return c;
}

using MdCtx = std::unique_ptr<EVP_MD_CTX, EvpFree>;

[[noreturn]] void CryptoFailure(const char* what) {
  throw Error(errnum::kGeneric, std::string("The cryptographic library failed: ") + what + ".");
}

MdCtx NewMdCtx() {
  MdCtx ctx(EVP_MD_CTX_new());
  if (!ctx) CryptoFailure("no digest context");
  return ctx;
}

// Runs one hash over `parts` on a context that can be reused; the iterated
// password hash calls this a hundred thousand times.
void HashInto(EVP_MD_CTX* ctx, const EVP_MD* md, std::initializer_list<ByteView> parts,
              uint8_t* out) {
  if (EVP_DigestInit_ex(ctx, md, nullptr) != 1) CryptoFailure("digest init");
  for (ByteView p : parts) {
    if (!p.empty() && EVP_DigestUpdate(ctx, p.data(), p.size()) != 1) {
      CryptoFailure("digest update");
    }
  }
  unsigned int len = 0;
  if (EVP_DigestFinal_ex(ctx, out, &len) != 1) CryptoFailure("digest final");
}

void AppendUtf16(ByteVec& out, uint32_t unit) {
  out.push_back(static_cast<uint8_t>(unit));
  out.push_back(static_cast<uint8_t>(unit >> 8));
}

}  // namespace

void EvpFree::operator()(EVP_MD_CTX* c) const { EVP_MD_CTX_free(c); }
void EvpFree::operator()(EVP_CIPHER_CTX* c) const { EVP_CIPHER_CTX_free(c); }

Hasher::Hasher(HashKind kind) : ctx_(NewMdCtx()), md_(Md(kind)), size_(HashSize(kind)) {}

void Hasher::Run(std::initializer_list<ByteView> parts, uint8_t* out) {
  HashInto(ctx_.get(), md_, parts, out);
}

size_t HashSize(HashKind kind) { return static_cast<size_t>(EVP_MD_get_size(Md(kind))); }

ByteVec Hash(HashKind kind, std::initializer_list<ByteView> parts) {
  MdCtx ctx = NewMdCtx();
  ByteVec out(HashSize(kind));
  HashInto(ctx.get(), Md(kind), parts, out.data());
  return out;
}

ByteVec FixLength(ByteVec v, size_t n, uint8_t pad) {
  v.resize(n, pad);
  return v;
}

ByteVec PasswordBytes(const std::string& utf8) {
  constexpr size_t kMaxUnits = 255;
  constexpr uint32_t kReplacement = 0xFFFD;
  ByteVec out;
  size_t i = 0;
  const size_t n = utf8.size();
  while (i < n && out.size() < kMaxUnits * 2) {
    const uint8_t b0 = static_cast<uint8_t>(utf8[i]);
    uint32_t cp = kReplacement;
    size_t len = 1;
    uint32_t min = 0;
    if (b0 < 0x80) {
      cp = b0;
    } else if ((b0 & 0xE0) == 0xC0) {
      len = 2, cp = b0 & 0x1F, min = 0x80;
    } else if ((b0 & 0xF0) == 0xE0) {
      len = 3, cp = b0 & 0x0F, min = 0x800;
    } else if ((b0 & 0xF8) == 0xF0) {
      len = 4, cp = b0 & 0x07, min = 0x10000;
    } else {
      len = 0;  // stray continuation byte or invalid lead byte
    }
    if (len > 1) {
      bool ok = i + len <= n;
      for (size_t k = 1; ok && k < len; ++k) {
        const uint8_t b = static_cast<uint8_t>(utf8[i + k]);
        ok = (b & 0xC0) == 0x80;
        cp = (cp << 6) | (b & 0x3F);
      }
      if (!ok || cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
        cp = kReplacement;
        len = 0;
      }
    }
    if (len == 0) {
      cp = kReplacement;
      len = 1;
    }
    i += len;
    if (cp >= 0x10000) {
      cp -= 0x10000;
      AppendUtf16(out, 0xD800 | (cp >> 10));
      if (out.size() < kMaxUnits * 2) AppendUtf16(out, 0xDC00 | (cp & 0x3FF));
    } else {
      AppendUtf16(out, cp);
    }
  }
  return out;
}

std::optional<ByteVec> Base64Decode(std::string_view text) {
  std::string clean;
  clean.reserve(text.size());
  for (char c : text) {
    if (c != ' ' && c != '\t' && c != '\r' && c != '\n') clean.push_back(c);
  }
  if (clean.size() % 4 != 0) return std::nullopt;
  if (clean.empty()) return ByteVec{};
  size_t pad = 0;
  while (pad < 2 && clean[clean.size() - 1 - pad] == '=') ++pad;
  // '=' is only allowed as trailing padding.
  if (clean.find('=') < clean.size() - pad) return std::nullopt;
  ByteVec out(clean.size() / 4 * 3);
  const int got = EVP_DecodeBlock(out.data(), reinterpret_cast<const unsigned char*>(clean.data()),
                                  static_cast<int>(clean.size()));
  if (got < 0 || static_cast<size_t>(got) != out.size()) return std::nullopt;
  // EVP_DecodeBlock counts the padding as zero bytes.
  out.resize(out.size() - pad);
  return out;
}

std::string Base64Encode(ByteView bytes) {
  std::string out(4 * ((bytes.size() + 2) / 3) + 1, '\0');
  const int n = EVP_EncodeBlock(reinterpret_cast<unsigned char*>(out.data()), bytes.data(),
                                static_cast<int>(bytes.size()));
  out.resize(static_cast<size_t>(n));
  return out;
}

ByteVec IteratedPasswordHash(HashKind kind, ByteView salt, ByteView password, uint32_t spin) {
  const EVP_MD* md = Md(kind);
  MdCtx ctx = NewMdCtx();
  ByteVec h(HashSize(kind));
  HashInto(ctx.get(), md, {salt, password}, h.data());
  uint8_t counter[4];
  for (uint32_t i = 0; i < spin; ++i) {
    counter[0] = static_cast<uint8_t>(i);
    counter[1] = static_cast<uint8_t>(i >> 8);
    counter[2] = static_cast<uint8_t>(i >> 16);
    counter[3] = static_cast<uint8_t>(i >> 24);
    HashInto(ctx.get(), md, {ByteView(counter, 4), h}, h.data());
  }
  return h;
}

ByteVec StandardBlockKey(ByteView iterated_hash, ByteView block, size_t key_bytes) {
  const ByteVec final_hash = Hash(HashKind::kSha1, {iterated_hash, block});
  uint8_t inner[64], outer[64];
  for (size_t i = 0; i < 64; ++i) {
    const uint8_t h = i < final_hash.size() ? final_hash[i] : 0;
    inner[i] = static_cast<uint8_t>(0x36 ^ h);
    outer[i] = static_cast<uint8_t>(0x5C ^ h);
  }
  ByteVec key = Hash(HashKind::kSha1, {ByteView(inner, 64)});
  const ByteVec x2 = Hash(HashKind::kSha1, {ByteView(outer, 64)});
  key.insert(key.end(), x2.begin(), x2.end());
  return FixLength(std::move(key), key_bytes, 0);
}

ByteVec AgileBlockKey(HashKind kind, ByteView iterated_hash, ByteView tag, size_t key_bytes) {
  return FixLength(Hash(kind, {iterated_hash, tag}), key_bytes, 0x36);
}

AesKeyed::AesKeyed(bool encrypt, AesMode mode, ByteView key)
    : ctx_(EVP_CIPHER_CTX_new()), mode_(mode) {
  const EVP_CIPHER* cipher = AesCipher(mode, key.size());
  if (!ctx_) CryptoFailure("no cipher context");
  if (EVP_CipherInit_ex(ctx_.get(), cipher, nullptr, key.data(), nullptr, encrypt ? 1 : 0) != 1) {
    CryptoFailure("cipher init");
  }
}

void AesKeyed::Apply(ByteView iv, std::span<uint8_t> data) {
  if (mode_ != AesMode::kCfb8 && data.size() % 16 != 0) {
    throw Error(errnum::kGeneric, "Data of " + std::to_string(data.size()) +
                                      " bytes is not a whole number of AES blocks.");
  }
  if (mode_ != AesMode::kEcb && iv.size() != 16) {
    throw Error(errnum::kGeneric, "An AES initialisation vector must have 16 bytes.");
  }
  if (data.empty()) return;
  // A new IV on the same key and direction (-1 keeps the direction).
  if (EVP_CipherInit_ex(ctx_.get(), nullptr, nullptr, nullptr,
                        mode_ == AesMode::kEcb ? nullptr : iv.data(), -1) != 1 ||
      EVP_CIPHER_CTX_set_padding(ctx_.get(), 0) != 1) {
    CryptoFailure("cipher init");
  }
  // OpenSSL allows the output to be the input buffer itself.
  int out_len = 0;
  if (EVP_CipherUpdate(ctx_.get(), data.data(), &out_len, data.data(),
                       static_cast<int>(data.size())) != 1 ||
      static_cast<size_t>(out_len) != data.size()) {
    CryptoFailure("cipher update");
  }
  int tail = 0;
  uint8_t scratch[32];
  if (EVP_CipherFinal_ex(ctx_.get(), scratch, &tail) != 1 || tail != 0) {
    CryptoFailure("cipher final");
  }
}

void AesApply(bool encrypt, AesMode mode, ByteView key, ByteView iv, std::span<uint8_t> data) {
  AesKeyed(encrypt, mode, key).Apply(iv, data);
}

const std::string* XmlTag::Find(std::string_view key) const {
  for (const auto& [k, v] : attributes) {
    if (k == key) return &v;
  }
  return nullptr;
}

std::string_view XmlTag::LocalName() const {
  std::string_view n = name;
  const size_t colon = n.find(':');
  return colon == std::string_view::npos ? n : n.substr(colon + 1);
}

std::optional<std::vector<XmlTag>> ScanXmlTags(std::string_view xml) {
  auto is_space = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
  auto is_name = [](char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == ':' ||
           c == '_' || c == '-' || c == '.';
  };
  std::vector<XmlTag> tags;
  size_t i = 0;
  const size_t n = xml.size();
  while (true) {
    i = xml.find('<', i);
    if (i == std::string_view::npos) break;
    std::string_view rest = xml.substr(i);
    if (rest.starts_with("<?")) {
      const size_t end = xml.find("?>", i + 2);
      if (end == std::string_view::npos) return std::nullopt;
      i = end + 2;
      continue;
    }
    if (rest.starts_with("<!--")) {
      const size_t end = xml.find("-->", i + 4);
      if (end == std::string_view::npos) return std::nullopt;
      i = end + 3;
      continue;
    }
    if (rest.starts_with("</") || rest.starts_with("<!")) {
      const size_t end = xml.find('>', i + 2);
      if (end == std::string_view::npos) return std::nullopt;
      i = end + 1;
      continue;
    }
    ++i;
    XmlTag tag;
    while (i < n && is_name(xml[i])) tag.name.push_back(xml[i++]);
    if (tag.name.empty()) return std::nullopt;
    while (true) {
      while (i < n && is_space(xml[i])) ++i;
      if (i >= n) return std::nullopt;
      if (xml[i] == '>') {
        ++i;
        break;
      }
      if (xml[i] == '/') {
        if (i + 1 >= n || xml[i + 1] != '>') return std::nullopt;
        i += 2;
        break;
      }
      std::string key;
      while (i < n && is_name(xml[i])) key.push_back(xml[i++]);
      if (key.empty()) return std::nullopt;
      while (i < n && is_space(xml[i])) ++i;
      if (i >= n || xml[i] != '=') return std::nullopt;
      ++i;
      while (i < n && is_space(xml[i])) ++i;
      if (i >= n || (xml[i] != '"' && xml[i] != '\'')) return std::nullopt;
      const char quote = xml[i++];
      const size_t close = xml.find(quote, i);
      if (close == std::string_view::npos) return std::nullopt;
      tag.attributes.emplace_back(std::move(key), std::string(xml.substr(i, close - i)));
      i = close + 1;
    }
    tags.push_back(std::move(tag));
  }
  return tags;
}

}  // namespace jet::office
