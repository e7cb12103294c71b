#include "jet/record/text.h"

#include <iconv.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <memory>
#include <mutex>
#include <unordered_map>
#include <vector>

namespace jet {

namespace {

void AppendUtf8(std::string& out, uint32_t cp) {
  if (cp < 0x80) {
    out.push_back(static_cast<char>(cp));
  } else if (cp < 0x800) {
    out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else if (cp < 0x10000) {
    out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else {
    out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  }
}

// Room for decoding: the largest size the result can have, reused by the
// thread so that neither an allocation nor zero-filling is paid per value.
char* Scratch(size_t size) {
  thread_local std::vector<char> buffer;
  if (buffer.size() < size) buffer.resize(std::max(size, buffer.size() * 2));
  return buffer.data();
}

// Writes one code point at p (room for 4 bytes); returns the end.
inline char* PutUtf8(char* p, uint32_t cp) {
  if (cp < 0x80) {
    *p++ = static_cast<char>(cp);
  } else if (cp < 0x800) {
    *p++ = static_cast<char>(0xC0 | (cp >> 6));
    *p++ = static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    *p++ = static_cast<char>(0xE0 | (cp >> 12));
    *p++ = static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    *p++ = static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    *p++ = static_cast<char>(0xF0 | (cp >> 18));
    *p++ = static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    *p++ = static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    *p++ = static_cast<char>(0x80 | (cp & 0x3F));
  }
  return p;
}

// Four UTF-16LE units in a word: any of them outside ASCII.
constexpr uint64_t kNonAsciiUnits = 0xFF80FF80FF80FF80ull;

// The low bytes of four ASCII units, side by side.
inline uint32_t PackAsciiUnits(uint64_t w) {
  uint64_t x = w | (w >> 8);
  return static_cast<uint32_t>((x & 0xFFFF) | ((x >> 16) & 0xFFFF0000));
}

// Walks UTF-16 code units, pairing surrogates.
template <typename Next>
void Utf16Walk(size_t n, Next next, std::string& out) {
  for (size_t i = 0; i < n; ++i) {
    uint32_t c = next(i);
    if (c >= 0xD800 && c <= 0xDBFF && i + 1 < n) {
      uint32_t d = next(i + 1);
      if (d >= 0xDC00 && d <= 0xDFFF) {
        AppendUtf8(out, 0x10000 + ((c - 0xD800) << 10) + (d - 0xDC00));
        ++i;
        continue;
      }
    }
    if (c >= 0xD800 && c <= 0xDFFF) c = 0xFFFD;
    AppendUtf8(out, c);
  }
}

// Decodes one code point; returns U+FFFD for malformed input and advances i.
uint32_t NextCodePoint(std::string_view s, size_t& i) {
  unsigned char c = s[i];
  int extra = c < 0x80 ? 0 : (c >> 5) == 6 ? 1 : (c >> 4) == 14 ? 2 : (c >> 3) == 30 ? 3 : -1;
  if (extra < 0 || i + extra >= s.size() + (extra == 0 ? 1 : 0)) {
    ++i;
    return extra == 0 ? c : 0xFFFD;
  }
  if (extra == 0) {
    ++i;
    return c;
  }
  uint32_t cp = c & (0x3F >> extra);
  for (int k = 1; k <= extra; ++k) {
    unsigned char cc = s[i + k];
    if ((cc & 0xC0) != 0x80) {
      ++i;
      return 0xFFFD;
    }
    cp = (cp << 6) | (cc & 0x3F);
  }
  i += extra + 1;
  return cp;
}

}  // namespace

char* WriteUtf16LeAsUtf8(char* p, std::span<const uint8_t> b) {
  // Written through a pointer into room of the largest possible size (3
  // bytes a unit): text decoding was most of the time of a table scan.
  const size_t n = b.size() / 2;
  size_t i = 0;
  while (i < n) {
    // Eight or four ASCII units at a time.
    if (i + 4 <= n) {
      uint64_t w;
      std::memcpy(&w, b.data() + 2 * i, 8);
      if (!(w & kNonAsciiUnits)) {
        uint64_t v;
        if (i + 8 <= n && (std::memcpy(&v, b.data() + 2 * i + 8, 8), !(v & kNonAsciiUnits))) {
          uint64_t packed = PackAsciiUnits(w) | (uint64_t{PackAsciiUnits(v)} << 32);
          std::memcpy(p, &packed, 8);
          p += 8;
          i += 8;
        } else {
          uint32_t packed = PackAsciiUnits(w);
          std::memcpy(p, &packed, 4);
          p += 4;
          i += 4;
        }
        continue;
      }
    }
    uint32_t c = b[2 * i] | (b[2 * i + 1] << 8);
    ++i;
    if (c < 0x80) {
      *p++ = static_cast<char>(c);
      continue;
    }
    if (c >= 0xD800 && c <= 0xDBFF && i < n) {
      uint32_t d = b[2 * i] | (b[2 * i + 1] << 8);
      if (d >= 0xDC00 && d <= 0xDFFF) {
        p = PutUtf8(p, 0x10000 + ((c - 0xD800) << 10) + (d - 0xDC00));
        ++i;
        continue;
      }
    }
    p = PutUtf8(p, (c >= 0xD800 && c <= 0xDFFF) ? 0xFFFD : c);
  }
  return p;
}

std::string Utf16LeToUtf8(std::span<const uint8_t> b) {
  char* const start = Scratch(b.size() / 2 * 3);
  return std::string(start, WriteUtf16LeAsUtf8(start, b));
}

std::string Utf16ToUtf8(std::u16string_view s) {
  std::string out;
  out.reserve(s.size());
  Utf16Walk(
      s.size(), [&](size_t i) { return static_cast<uint32_t>(s[i]); }, out);
  return out;
}

std::u16string Utf8ToUtf16(std::string_view s) {
  std::u16string out;
  out.reserve(s.size());
  for (size_t i = 0; i < s.size();) {
    uint32_t cp = NextCodePoint(s, i);
    if (cp >= 0x10000) {
      cp -= 0x10000;
      out.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
      out.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
    } else {
      out.push_back(static_cast<char16_t>(cp));
    }
  }
  return out;
}

size_t Utf8Length(std::string_view s) {
  size_t n = 0;
  for (unsigned char c : s) n += (c & 0xC0) != 0x80;
  return n;
}

size_t Utf16Length(std::string_view s) {
  // ASCII, by far the most common text, is one unit a byte: skipped eight
  // bytes at a time; the decoder takes over from the first other byte.
  size_t i = 0;
  while (i + 8 <= s.size()) {
    uint64_t w;
    std::memcpy(&w, s.data() + i, 8);
    if (w & 0x8080808080808080ull) break;
    i += 8;
  }
  while (i < s.size() && static_cast<unsigned char>(s[i]) < 0x80) ++i;
  size_t n = i;
  while (i < s.size()) n += NextCodePoint(s, i) >= 0x10000 ? 2 : 1;
  return n;
}

char* WriteUcs2TextAsUtf8(char* p, std::span<const uint8_t> b) {
  if (b.size() < 2 || b[0] != 0xFF || b[1] != 0xFE) return WriteUtf16LeAsUtf8(p, b);
  // Compressed: single bytes (Latin-1), with 0x00 switching to and from runs
  // of UTF-16 units. A byte gives at most 2 bytes of UTF-8, a unit at most 3.
  const size_t n = b.size();
  bool compressed = true;
  size_t i = 2;
  while (i < n) {
    if (compressed) {
      // Eight ASCII bytes at a time (none of them 0x00 or above 0x7F).
      while (i + 8 <= n) {
        uint64_t w;
        std::memcpy(&w, b.data() + i, 8);
        if (((w - 0x0101010101010101ull) | w) & 0x8080808080808080ull) break;
        std::memcpy(p, &w, 8);
        p += 8;
        i += 8;
      }
      // Then four (the end of a short text, mostly).
      if (i + 4 <= n) {
        uint32_t w;
        std::memcpy(&w, b.data() + i, 4);
        if (!(((w - 0x01010101u) | w) & 0x80808080u)) {
          std::memcpy(p, &w, 4);
          p += 4;
          i += 4;
        }
      }
      if (i == n) break;
      uint8_t c = b[i++];
      if (c == 0) {
        compressed = false;
      } else if (c >= 0x80) {
        p = PutUtf8(p, c);
      } else {
        *p++ = static_cast<char>(c);
        // The ASCII end of a run too short for eight at a time.
        while (i < n && i + 8 > n && b[i] != 0 && b[i] < 0x80) *p++ = static_cast<char>(b[i++]);
      }
      continue;
    }
    if (b[i] == 0) {  // only the first byte of a unit is tested for the switch
      compressed = true;
      ++i;
      continue;
    }
    if (i + 1 >= n) break;
    uint32_t c = b[i] | (b[i + 1] << 8);
    i += 2;
    // Surrogates pair up only inside one run.
    if (c >= 0xD800 && c <= 0xDBFF && i + 1 < n && b[i] != 0) {
      uint32_t d = b[i] | (b[i + 1] << 8);
      if (d >= 0xDC00 && d <= 0xDFFF) {
        p = PutUtf8(p, 0x10000 + ((c - 0xD800) << 10) + (d - 0xDC00));
        i += 2;
        continue;
      }
    }
    p = PutUtf8(p, (c >= 0xD800 && c <= 0xDFFF) ? 0xFFFD : c);
  }
  return p;
}

std::string DecodeUcs2Text(std::span<const uint8_t> b) {
  char* const start = Scratch(2 * b.size());
  return std::string(start, WriteUcs2TextAsUtf8(start, b));
}

std::string EncodeUcs2Text(std::string_view utf8, bool may_compress) {
  std::u16string u = Utf8ToUtf16(utf8);
  bool compress = may_compress && u.size() >= 3 && u.size() <= 1024;
  if (compress) {
    for (char16_t c : u) {
      if (c == 0 || c > 0xFF) {
        compress = false;
        break;
      }
    }
  }
  std::string out;
  if (compress) {
    out.reserve(u.size() + 2);
    out.push_back('\xFF');
    out.push_back('\xFE');
    for (char16_t c : u) out.push_back(static_cast<char>(c));
    return out;
  }
  out.reserve(u.size() * 2);
  for (char16_t c : u) {
    out.push_back(static_cast<char>(c & 0xFF));
    out.push_back(static_cast<char>(c >> 8));
  }
  return out;
}

namespace {

// Windows-1252's 0x80..0x9F; the rest of the page is Latin-1.
constexpr std::array<uint16_t, 32> kCp1252High = {
    0x20AC, 0xFFFD, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0xFFFD, 0x017D, 0xFFFD, 0xFFFD, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0xFFFD, 0x017E, 0x0178};

uint32_t Cp1252ToUnicode(uint8_t c) {
  if (c >= 0x80 && c < 0xA0) return kCp1252High[c - 0x80];
  return c;
}

// Other code pages go through iconv, one 256-entry table per code page.
const std::array<uint32_t, 256>* CodePageTable(uint16_t code_page) {
  static std::mutex mu;
  static std::unordered_map<uint16_t, std::unique_ptr<std::array<uint32_t, 256>>> tables;
  std::lock_guard<std::mutex> lock(mu);
  auto it = tables.find(code_page);
  if (it != tables.end()) return it->second.get();
  std::unique_ptr<std::array<uint32_t, 256>> table;
  std::string name = "CP" + std::to_string(code_page);
  iconv_t cd = iconv_open("UTF-32LE", name.c_str());
  if (cd != reinterpret_cast<iconv_t>(-1)) {
    table = std::make_unique<std::array<uint32_t, 256>>();
    for (int c = 0; c < 256; ++c) {
      char in = static_cast<char>(c);
      uint32_t outc = 0xFFFD;
      char* ip = &in;
      size_t il = 1;
      char* op = reinterpret_cast<char*>(&outc);
      size_t ol = 4;
      iconv(cd, nullptr, nullptr, nullptr, nullptr);
      if (iconv(cd, &ip, &il, &op, &ol) == static_cast<size_t>(-1)) outc = 0xFFFD;
      (*table)[c] = outc;
    }
    iconv_close(cd);
  }
  auto* p = table.get();
  tables[code_page] = std::move(table);
  return p;
}

}  // namespace

char* WriteCodePageAsUtf8(char* p, std::span<const uint8_t> bytes, uint16_t code_page) {
  const std::array<uint32_t, 256>* table =
      (code_page == 1252 || code_page == 0) ? nullptr : CodePageTable(code_page);
  for (uint8_t c : bytes) {
    if (c < 0x80) {
      *p++ = static_cast<char>(c);
    } else {
      p = PutUtf8(p, table ? (*table)[c] : Cp1252ToUnicode(c));
    }
  }
  return p;
}

std::string CodePageToUtf8(std::span<const uint8_t> bytes, uint16_t code_page) {
  char* const start = Scratch(kMaxUtf8PerStoredByte * bytes.size());
  return std::string(start, WriteCodePageAsUtf8(start, bytes, code_page));
}

std::string Utf8ToCodePage(std::string_view utf8, uint16_t code_page) {
  const std::array<uint32_t, 256>* table =
      (code_page == 1252 || code_page == 0) ? nullptr : CodePageTable(code_page);
  std::string out;
  for (size_t i = 0; i < utf8.size();) {
    uint32_t cp = NextCodePoint(utf8, i);
    if (cp < 0x80) {
      out.push_back(static_cast<char>(cp));
      continue;
    }
    int found = -1;
    for (int c = 0x80; c < 256 && found < 0; ++c) {
      uint32_t u = table ? (*table)[c] : Cp1252ToUnicode(static_cast<uint8_t>(c));
      if (u == cp && u != 0xFFFD) found = c;
    }
    out.push_back(found < 0 ? '?' : static_cast<char>(found));
  }
  return out;
}

}  // namespace jet
