#include "jet/index_key.h"

#include <array>
#include <cstdio>
#include <cstring>

#include "jet/error.h"
#include "jet/row_writer.h"

namespace jet {

namespace {

// Primary weights of printable ASCII in General - Legacy, from U+0020 to
// U+007E. Letters fold case; the apostrophe and the hyphen have no primary
// weight (0) and go to the key's last section instead. Weights above 0xFF
// take two bytes.
constexpr std::array<uint16_t, 95> kLegacyWeights = {
    0x07,   0x09, 0x0A, 0x0C,   0x0E,   0x10,   0x12,   0x00,    // ' '..'\''
    0x14,   0x16, 0x18, 0x2C,   0x1A,   0x00,   0x1C,   0x1E,    // '('..'/'
    0x36,   0x38, 0x3A, 0x3C,   0x3E,   0x40,   0x42,   0x44,    // '0'..'7'
    0x46,   0x48, 0x20, 0x22,   0x2E,   0x30,   0x32,   0x24,    // '8'..'?'
    0x26,   0x4A, 0x4C, 0x4D,   0x4F,   0x51,   0x53,   0x55,    // '@'..'G'
    0x57,   0x59, 0x5B, 0x5C,   0x5E,   0x60,   0x62,   0x64,    // 'H'..'O'
    0x66,   0x68, 0x69, 0x6B,   0x6D,   0x6F,   0x71,   0x73,    // 'P'..'W'
    0x75,   0x76, 0x78, 0x27,   0x29,   0x2A,   0x2B02, 0x2B03,  // 'X'..'_'
    0x2B07, 0x4A, 0x4C, 0x4D,   0x4F,   0x51,   0x53,   0x55,    // '`'..'g'
    0x57,   0x59, 0x5B, 0x5C,   0x5E,   0x60,   0x62,   0x64,    // 'h'..'o'
    0x66,   0x68, 0x69, 0x6B,   0x6D,   0x6F,   0x71,   0x73,    // 'p'..'w'
    0x75,   0x76, 0x78, 0x2B09, 0x2B0B, 0x2B0D, 0x2B0F,          // 'x'..'~'
};

// Characters without a primary weight: their weight in the last section.
uint8_t LegacySpecialWeight(char c) {
  if (c == '\'') return 0x80;
  if (c == '-') return 0x82;
  return 0;
}

// The code point starting at byte `i` of a UTF-8 text.
char32_t CodePointAt(std::string_view s, size_t i) {
  unsigned char b = static_cast<unsigned char>(s[i]);
  if (b < 0x80) return b;
  int n = b >= 0xF0 ? 3 : b >= 0xE0 ? 2 : 1;
  char32_t c = b & (0x3F >> n);
  for (int k = 1; k <= n && i + k < s.size(); ++k) c = (c << 6) | (s[i + k] & 0x3F);
  return c;
}

[[noreturn]] void Unsupported(std::string_view text, size_t at, uint8_t sort_version) {
  char32_t c = CodePointAt(text, at);
  char buf[16];
  std::snprintf(buf, sizeof buf, "U+%04X", static_cast<unsigned>(c));
  throw Error(errnum::kGeneric, "The text '" + std::string(text) +
                                    "' cannot be put in an index yet: the sort key of " + buf +
                                    " in the " +
                                    (sort_version == 0 ? "General - Legacy" : "General") +
                                    " sort order is not known to this program.");
}

std::string LegacyKey(std::string_view utf8) {
  std::string primary;
  std::string special;
  uint32_t count = 0;  // characters with a primary weight so far
  for (size_t i = 0; i < utf8.size(); ++i) {
    unsigned char c = static_cast<unsigned char>(utf8[i]);
    if (c < 0x20 || c > 0x7E) Unsupported(utf8, i, 0);
    uint8_t sw = LegacySpecialWeight(static_cast<char>(c));
    if (sw) {
      // Position, flagged with 0x8000, then the weight of the character.
      uint32_t pos = 4 * count + 7;
      if (pos > 0x7FFF) throw Error(errnum::kGeneric, "The text is too long for an index.");
      special.push_back(static_cast<char>(0x80 | (pos >> 8)));
      special.push_back(static_cast<char>(pos & 0xFF));
      special.push_back(0x06);
      special.push_back(static_cast<char>(sw));
      continue;
    }
    uint16_t w = kLegacyWeights[c - 0x20];
    if (w > 0xFF) primary.push_back(static_cast<char>(w >> 8));
    primary.push_back(static_cast<char>(w & 0xFF));
    ++count;
  }
  // Sections: primary weights, diacritics (none in ASCII), case (folded
  // away), one more empty section, then the special weights. Trailing empty
  // sections are left out.
  std::string key = primary;
  key.push_back(0x01);
  if (!special.empty()) {
    key += "\x01\x01\x01";
    key += special;
  }
  key.push_back(0x00);
  return key;
}

// Two-byte weights of the General order of Access 2010 and later.
uint16_t GeneralWeight(char32_t c) {
  if (c >= 'A' && c <= 'Z') c += 32;
  switch (c) {
    case ' ':
      return 0x0702;
    case '.':
      return 0x0733;
    case '_':
      return 0x0744;
    case '0':
      return 0x0D17;
    case 'a':
      return 0x0E02;
    case 'b':
      return 0x0E09;
    case 'c':
      return 0x0E0A;
    case 'd':
      return 0x0E1A;
    case 'e':
      return 0x0E21;
    case 'f':
      return 0x0E23;
    case 'g':
      return 0x0E25;
    case 'h':
      return 0x0E2C;
    case 'i':
      return 0x0E32;
    case 'j':
      return 0x0E35;
    case 'l':
      return 0x0E48;
    case 'm':
      return 0x0E51;
    case 'n':
      return 0x0E70;
    case 'o':
      return 0x0E7C;
    case 'p':
      return 0x0E7E;
    case 'r':
      return 0x0E8A;
    case 's':
      return 0x0E91;
    case 't':
      return 0x0E99;
    case 'u':
      return 0x0E9F;
    case 'v':
      return 0x0EA2;
    case 'w':
      return 0x0EA4;
    case 'x':
      return 0x0EA6;
    case 'y':
      return 0x0EA7;
    default:
      break;
  }
  if (c >= '1' && c <= '9') return static_cast<uint16_t>(0x0D19 + (c - '1'));
  return 0;
}

std::string GeneralKey(std::string_view utf8) {
  std::string key;
  for (size_t i = 0; i < utf8.size(); ++i) {
    unsigned char c = static_cast<unsigned char>(utf8[i]);
    uint16_t w = c < 0x80 ? GeneralWeight(c) : 0;
    if (!w) Unsupported(utf8, i, 1);
    key.push_back(static_cast<char>(w >> 8));
    key.push_back(static_cast<char>(w & 0xFF));
  }
  key.push_back(0x01);
  key.push_back(0x00);
  return key;
}

// Big-endian copy of little-endian stored bytes.
std::string Reversed(const std::string& le) { return std::string(le.rbegin(), le.rend()); }

void Invert(std::string& s) {
  for (auto& c : s) c = static_cast<char>(~static_cast<unsigned char>(c));
}

}  // namespace

std::string TextSortKey(std::string_view utf8, uint8_t sort_version) {
  if (sort_version == 0) return LegacyKey(utf8);
  if (sort_version == 1) return GeneralKey(utf8);
  throw Error(errnum::kGeneric, "Indexes of text in sort order version " +
                                    std::to_string(sort_version) + " cannot be written.");
}

bool KeyHasNull(const RealIndex& index, const std::vector<Value>& values) {
  for (const auto& [number, order] : index.columns) {
    if (number >= values.size() || values[number].is_null()) return true;
  }
  return false;
}

bool KeyAllNull(const RealIndex& index, const std::vector<Value>& values) {
  for (const auto& [number, order] : index.columns) {
    if (number < values.size() && !values[number].is_null()) return false;
  }
  return true;
}

std::string IndexKey(const TableDef& t, const RealIndex& index, const std::vector<Value>& values) {
  static const Layout kLayout = Layout::For(Version::kJet4);
  std::string key;
  for (const auto& [number, order] : index.columns) {
    const Column* c = nullptr;
    for (const auto& col : t.columns) {
      if (col.number == number) c = &col;
    }
    if (!c) ThrowDamaged("an index names a column the table does not have");
    const bool ascending = (order & 0x01) != 0;
    const Value& v = number < values.size() ? values[number] : Value();
    if (c->type == ColumnType::kBoolean) {
      throw Error(errnum::kGeneric,
                  "Indexes over Yes/No fields cannot be written yet ('" + c->name + "').");
    }
    if (v.is_null()) {
      key.push_back(static_cast<char>(ascending ? kKeyAscendingNull : kKeyDescendingNull));
      continue;
    }
    key.push_back(static_cast<char>(ascending ? kKeyAscending : kKeyDescending));
    std::string part;
    switch (c->type) {
      case ColumnType::kByte:
        part = EncodeValue(*c, v, kLayout, 1252);
        break;
      case ColumnType::kInteger:
      case ColumnType::kLong:
      case ColumnType::kCurrency:
      case ColumnType::kBigInt:
        part = Reversed(EncodeValue(*c, v, kLayout, 1252));
        part[0] = static_cast<char>(part[0] ^ 0x80);
        break;
      case ColumnType::kFloat:
      case ColumnType::kDouble:
      case ColumnType::kDateTime:
        part = Reversed(EncodeValue(*c, v, kLayout, 1252));
        if (static_cast<unsigned char>(part[0]) & 0x80) {
          Invert(part);
        } else {
          part[0] = static_cast<char>(part[0] ^ 0x80);
        }
        break;
      case ColumnType::kText:
      case ColumnType::kMemo:
        if (v.kind() != Value::Kind::kText) {
          throw Error(errnum::kTypeMismatch, "Data type mismatch in the field '" + c->name + "'.");
        }
        if (!ascending) {
          throw Error(errnum::kGeneric,
                      "Descending indexes over text cannot be written yet ('" + c->name + "').");
        }
        if (c->lcid != 0x0409) {
          throw Error(errnum::kGeneric, "The field '" + c->name +
                                            "' uses a sort order whose index keys are not known.");
        }
        part = TextSortKey(v.bytes(), c->sort_version);
        break;
      default:
        throw Error(errnum::kGeneric, "Indexes over fields of type " + TypeName(c->type) +
                                          " cannot be written yet ('" + c->name + "').");
    }
    if (!ascending) Invert(part);
    key += part;
  }
  return key;
}

}  // namespace jet
