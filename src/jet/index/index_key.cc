#include "jet/index/index_key.h"

#include <algorithm>
#include <span>

#include "jet/storage/error.h"
#include "jet/record/row_writer.h"
#include "jet/record/text.h"

namespace jet {

namespace {

// One run of the character tables: consecutive UTF-16 units of one kind whose
// primary code grows by `step` per unit. Kinds: 'S' primary code only; 'I' a
// primary code and an accent code; 'U' no primary code, a code in the key's
// last section instead; 'P' no code of its own, it adds to the accent code of
// the character before it; 'Z' primary code, optional accent code and a
// two-bit flag; 'X' ignored entirely.
struct CodeRun {
  char16_t first;
  char16_t last;
  char kind;
  uint8_t step;
  uint8_t code_bytes;
  uint64_t code;
  uint8_t elements;  // sort elements the code stands for ("ß" is two)
  uint8_t extra_bytes;
  uint32_t extra;
  uint8_t flag;
};

constexpr CodeRun kLegacyRuns[] = {
#include "jet/index/collation/general_legacy.inc"
};

constexpr CodeRun kGeneralRuns[] = {
#include "jet/index/collation/general.inc"
};

// Index text is cut to the longest text field, in UTF-16 units.
constexpr size_t kMaxIndexedUnits = 255;

// Separators and fillers of a text key.
constexpr char kEndSection = 0x01;
constexpr char kEndKey = 0x00;
constexpr char kNoAccent = 0x02;
constexpr char kPositionMark = 0x06;
constexpr uint8_t kFlagDefault = 0x03;

void AppendBigEndian(std::string& out, uint64_t value, int bytes) {
  for (int i = bytes - 1; i >= 0; --i) out.push_back(static_cast<char>((value >> (8 * i)) & 0xFF));
}

// The code of one UTF-16 unit. Surrogates are outside the tables: their
// primary codes follow from the unit itself and they carry a fixed accent.
CodeRun Lookup(std::span<const CodeRun> runs, char16_t u) {
  if (u >= 0xD800 && u <= 0xDBFF) return {u, u, 'I', 0, 2, uint64_t{u} - 10238u, 1, 1, 0x3F, 0};
  if (u >= 0xDC00 && u <= 0xDFFF) {
    const unsigned in_block = (u - 0xDC00u) % 1024u;
    const unsigned back = in_block < 8     ? 9992
                          : in_block < 262 ? 9990
                          : in_block < 516 ? 9988
                          : in_block < 770 ? 9986
                                           : 9984;
    return {u, u, 'I', 0, 2, uint64_t{u} - back, 1, 1, 0x3F, 0};
  }
  auto it = std::upper_bound(runs.begin(), runs.end(), u,
                             [](char16_t v, const CodeRun& r) { return v < r.first; });
  if (it == runs.begin() || (it - 1)->last < u) return {u, u, 'X', 0, 0, 0, 0, 0, 0, 0};
  CodeRun r = *(it - 1);
  r.code += uint64_t{r.step} * (u - r.first);
  return r;
}

// Accent codes. Access 2007 and later count sort elements: one accent byte
// per element, so "ß" (two elements) takes two and everything after it moves
// by two. Jet 4 counts characters: "ß" takes one byte, and a character
// whose accent has two bytes still counts once. A unit of kind 'P' adds to
// the last accent byte; with nothing before it, it stands in front and does
// not count.
class AccentSection {
 public:
  explicit AccentSection(bool by_element) : by_element_(by_element) {}

  void Add(size_t before, const CodeRun& r) {
    started_ = true;
    if (counted_ < before) {
      bytes_.append(before - counted_, kNoAccent);
      counted_ = before;
    }
    if (r.kind != 'P') {
      AppendBigEndian(bytes_, r.extra, r.extra_bytes);
      if (by_element_) {
        // Elements past the accents given keep the default accent.
        bytes_.append(r.elements - r.extra_bytes, kNoAccent);
        counted_ += r.elements;
      } else {
        counted_ += 1;
      }
    } else if (bytes_.empty()) {
      bytes_.push_back(static_cast<char>(r.code));
      leading_ = 1;
    } else {
      bytes_.back() = static_cast<char>(static_cast<uint8_t>(bytes_.back()) + r.code);
    }
  }

  // Where a character without a weight of its own, with `before` counted
  // units in front of it, is placed.
  size_t PositionOf(size_t before) const {
    if (by_element_ || !started_) return before;
    return bytes_.size() + (before - counted_) - leading_;
  }

  // The section without its trailing default codes.
  std::string Trimmed() const {
    size_t n = bytes_.size();
    while (n > 0 && static_cast<uint8_t>(bytes_[n - 1]) <= static_cast<uint8_t>(kNoAccent)) --n;
    return bytes_.substr(0, n);
  }

 private:
  bool by_element_;
  bool started_ = false;
  std::string bytes_;
  size_t counted_ = 0;  // units the bytes stand for
  size_t leading_ = 0;
};

std::string TableKey(std::span<const CodeRun> runs, bool by_element, std::string_view utf8) {
  std::u16string text = Utf8ToUtf16(utf8);
  if (text.size() > kMaxIndexedUnits) text.resize(kMaxIndexedUnits);
  while (!text.empty() && text.back() == u' ') text.pop_back();

  std::string key;
  AccentSection accents(by_element);
  std::string positioned;  // characters sorted by position only
  std::vector<uint8_t> flags;
  bool any_flag = false;
  size_t counted = 0;  // elements or characters with a weight so far
  for (char16_t u : text) {
    const CodeRun r = Lookup(runs, u);
    const size_t before = counted;
    if (r.kind == 'S' || r.kind == 'I' || r.kind == 'Z') {
      AppendBigEndian(key, r.code, r.code_bytes);
      counted += by_element ? r.elements : 1;
    }
    if (r.kind == 'I' || r.kind == 'P' || (r.kind == 'Z' && r.extra_bytes > 0)) {
      accents.Add(before, r);
    }
    if (r.kind == 'U') {
      const uint64_t mark = (7 + 4 * uint64_t{accents.PositionOf(before)}) | 0x8000;
      if (mark > 0xFFFF) throw Error(errnum::kGeneric, "The text is too long for an index.");
      AppendBigEndian(positioned, mark, 2);
      positioned.push_back(kPositionMark);
      AppendBigEndian(positioned, r.code, r.code_bytes);
    }
    if (r.kind == 'Z') {
      flags.push_back(r.flag);
      any_flag = true;
    }
  }
  key.push_back(kEndSection);
  const std::string accent_bytes = accents.Trimmed();
  key += accent_bytes;
  if (any_flag || !positioned.empty()) {
    key.push_back(kEndSection);
    key.push_back(kEndSection);
    if (any_flag) {
      // Two bits per flag, three flags to a byte; trailing defaults dropped.
      while (!flags.empty() && flags.back() == kFlagDefault) flags.pop_back();
      for (size_t i = 0; i < flags.size(); i += 3) {
        uint8_t b = 0x80;
        for (size_t k = 0; k < 3 && i + k < flags.size(); ++k) b |= flags[i + k] << (2 * (2 - k));
        key.push_back(static_cast<char>(b));
      }
      key += std::string("\xFF\x02\x80\xFF\x80", 5);
      if (!positioned.empty()) key.push_back('\xFF');
    }
    if (!positioned.empty()) {
      key.push_back(kEndSection);
      key += positioned;
    }
  }
  key.push_back(kEndKey);
  return key;
}

// Big-endian copy of little-endian stored bytes.
std::string Reversed(const std::string& le) { return std::string(le.rbegin(), le.rend()); }

void Invert(std::string& s) {
  for (auto& c : s) c = static_cast<char>(~static_cast<unsigned char>(c));
}

}  // namespace

std::string TextSortKey(std::string_view utf8, uint8_t sort_version, Version version) {
  if (version == Version::kJet3) {
    throw Error(errnum::kGeneric, "Indexes of text in Jet 3 files cannot be written.");
  }
  const bool by_element = version != Version::kJet4;
  if (sort_version == 0) return TableKey(kLegacyRuns, by_element, utf8);
  if (sort_version == 1) return TableKey(kGeneralRuns, by_element, utf8);
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

std::string IndexKey(const TableDef& t, const RealIndex& index, const std::vector<Value>& values,
                     Version version) {
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
      // Yes/No is never null in a key: the flag, then 00 for Yes and FF for
      // No, the other way round when descending.
      const bool yes = !v.is_null() && v.as_bool();
      key.push_back(static_cast<char>(ascending ? kKeyAscending : kKeyDescending));
      key.push_back(static_cast<char>(yes == ascending ? 0x00 : 0xFF));
      continue;
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
        if (c->lcid != 0x0409) {
          throw Error(errnum::kGeneric, "The field '" + c->name +
                                            "' uses a sort order whose index keys are not known.");
        }
        part = TextSortKey(v.bytes(), c->sort_version, version);
        if (!ascending) {
          // The whole text key is inverted, its end mark included, and a
          // plain end mark follows.
          Invert(part);
          part.push_back(0x00);
          key += part;
          continue;
        }
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
