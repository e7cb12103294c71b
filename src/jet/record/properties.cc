#include "jet/record/properties.h"

#include <algorithm>

#include "jet/record/row.h"
#include "jet/record/tdef.h"
#include "jet/record/text.h"

namespace jet {

namespace {

constexpr uint16_t kNamesChunk = 0x80;
constexpr uint16_t kObjectChunk = 0x00;
constexpr uint16_t kColumnChunk = 0x01;

std::string DecodeName(Bytes b, const Layout& L, uint16_t code_page) {
  return L.jet3 ? CodePageToUtf8(b, code_page) : Utf16LeToUtf8(b);
}

std::vector<std::string> ParseNames(Bytes chunk, const Layout& L, uint16_t code_page) {
  std::vector<std::string> names;
  size_t p = 0;
  while (p < chunk.size()) {
    uint16_t n = U16(chunk, p);
    CheckRange(chunk, p + 2, n, "a property name");
    names.push_back(DecodeName(chunk.subspan(p + 2, n), L, code_page));
    p += 2 + n;
  }
  return names;
}

Value DecodePropertyValue(uint8_t type_code, std::string_view name, Bytes data, const Layout& L,
                          uint16_t code_page) {
  if (!IsKnownType(type_code)) return Value::Binary(std::string(data.begin(), data.end()));
  const ColumnType type = static_cast<ColumnType>(type_code);
  switch (type) {
    case ColumnType::kBoolean:
      return Value::Bool(!data.empty() && data[0] != 0);
    case ColumnType::kText:
    case ColumnType::kMemo:
      return Value::Text(DecodeText(data, L, code_page));
    case ColumnType::kBinary:
      // Object GUIDs are stored as plain binary.
      if (data.size() == 16 && NamesEqual(name, "GUID")) {
        return Value::Guid(std::string(data.begin(), data.end()));
      }
      return Value::Binary(std::string(data.begin(), data.end()));
    case ColumnType::kOle:
    case ColumnType::kComplex:
    case ColumnType::kUnknown0D:
    case ColumnType::kUnknown11:
      return Value::Binary(std::string(data.begin(), data.end()));
    default:
      return DecodeFixedValue(type, data, 0);
  }
}

// A property chunk: a block naming the column (empty for the object itself),
// then one entry per property.
void ParseValues(Bytes chunk, uint16_t chunk_type, const std::vector<std::string>& names,
                 const Layout& L, uint16_t code_page, ObjectProperties& out) {
  std::string block_name;
  size_t p = 0;
  if (!chunk.empty()) {
    uint32_t block = U32(chunk, 0);
    if (block < 4 || block > chunk.size()) ThrowDamaged("a property block's name overruns it");
    if (block > 6) {
      Bytes name_block = chunk.subspan(0, block);
      uint16_t n = U16(name_block, 4);
      CheckRange(name_block, 6, n, "a property block's name");
      block_name = DecodeName(name_block.subspan(6, n), L, code_page);
    }
    p = block;
  }
  PropertyMap* map = &out.object;
  if (chunk_type == kColumnChunk) {
    map = nullptr;
    for (auto& [name, m] : out.columns) {
      if (NamesEqual(name, block_name)) map = &m;
    }
    if (!map) map = &out.columns.emplace_back(block_name, PropertyMap()).second;
  }
  while (p < chunk.size()) {
    CheckRange(chunk, p, 8, "a property entry");
    uint16_t entry_len = U16(chunk, p);
    if (entry_len < 8 || entry_len > chunk.size() - p)
      ThrowDamaged("a property entry overruns its block");
    Property prop;
    prop.ddl = chunk[p + 2];
    prop.type_code = chunk[p + 3];
    uint16_t name_index = U16(chunk, p + 4);
    uint16_t size = U16(chunk, p + 6);
    if (8u + size > entry_len) ThrowDamaged("a property value overruns its entry");
    if (name_index >= names.size()) ThrowDamaged("a property refers to a name that is not listed");
    prop.name = names[name_index];
    prop.value =
        DecodePropertyValue(prop.type_code, prop.name, chunk.subspan(p + 8, size), L, code_page);
    map->Set(std::move(prop));
    p += entry_len;
  }
}

}  // namespace

const Property* PropertyMap::Find(std::string_view name) const {
  for (const auto& p : items_) {
    if (p.name == name) return &p;
  }
  const std::string folded = FoldName(name);
  for (size_t i = 0; i < items_.size(); ++i) {
    if (folded_[i] == folded) return &items_[i];
  }
  return nullptr;
}

Value PropertyMap::Get(std::string_view name) const {
  const Property* p = Find(name);
  return p ? p->value : Value::Null();
}

void PropertyMap::Set(Property p) {
  std::string folded = FoldName(p.name);
  for (size_t i = 0; i < items_.size(); ++i) {
    if (folded_[i] == folded) {
      items_[i] = std::move(p);
      return;
    }
  }
  items_.push_back(std::move(p));
  folded_.push_back(std::move(folded));
}

const PropertyMap* ObjectProperties::Column(std::string_view name) const {
  for (const auto& [n, m] : columns) {
    if (n == name) return &m;
  }
  for (const auto& [n, m] : columns) {
    if (NamesEqual(n, name)) return &m;
  }
  return nullptr;
}

ObjectProperties ParseProperties(Bytes blob, const Layout& L, uint16_t code_page) {
  ObjectProperties out;
  if (blob.empty()) return out;
  static constexpr uint8_t kJet3Magic[4] = {'K', 'K', 'D', 0};
  static constexpr uint8_t kJet4Magic[4] = {'M', 'R', '2', 0};
  const uint8_t* magic = L.jet3 ? kJet3Magic : kJet4Magic;
  if (blob.size() < 4 || !std::equal(magic, magic + 4, blob.begin())) {
    ThrowDamaged("a property blob does not start with its signature");
  }
  std::vector<std::string> names;
  size_t pos = 4;
  while (pos < blob.size()) {
    CheckRange(blob, pos, 6, "a property chunk");
    uint32_t len = U32(blob, pos);
    uint16_t type = U16(blob, pos + 4);
    if (len < 6 || len > blob.size() - pos) ThrowDamaged("a property chunk overruns its blob");
    Bytes chunk = blob.subspan(pos + 6, len - 6);
    if (type == kNamesChunk) {
      names = ParseNames(chunk, L, code_page);
    } else if (type == kObjectChunk || type == kColumnChunk) {
      ParseValues(chunk, type, names, L, code_page, out);
    }
    // Other chunk kinds are not known; their length lets them be skipped.
    pos += len;
  }
  return out;
}

std::string WithoutColumnBlock(Bytes blob, const Layout& L, uint16_t code_page,
                               std::string_view column, bool* removed) {
  *removed = false;
  std::string out(blob.begin(), blob.end());
  if (blob.empty()) return out;
  ParseProperties(blob, L, code_page);  // refuses a blob that does not add up
  out.assign(blob.begin(), blob.begin() + 4);
  size_t pos = 4;
  while (pos < blob.size()) {
    const uint32_t len = U32(blob, pos);
    const uint16_t type = U16(blob, pos + 4);
    Bytes chunk = blob.subspan(pos + 6, len - 6);
    bool drop = false;
    if (type == kColumnChunk && chunk.size() >= 6) {
      const uint32_t block = U32(chunk, 0);
      if (block > 6) {
        const uint16_t n = U16(chunk, 4);
        drop = NamesEqual(DecodeName(chunk.subspan(6, n), L, code_page), column);
      }
    }
    if (drop) {
      *removed = true;
    } else {
      out.append(blob.begin() + static_cast<long>(pos),
                 blob.begin() + static_cast<long>(pos + len));
    }
    pos += len;
  }
  return out;
}

std::string EncodeObjectProperties(const std::vector<Property>& props) {
  std::string names;
  std::string entries;
  for (size_t i = 0; i < props.size(); ++i) {
    const Property& p = props[i];
    std::string name = EncodeUcs2Text(p.name, false);
    Append16(names, static_cast<uint16_t>(name.size()));
    names += name;
    std::string value;
    ColumnType type;
    switch (p.value.kind()) {
      case Value::Kind::kText:
        type = ColumnType::kText;
        value = EncodeUcs2Text(p.value.bytes(), false);
        break;
      case Value::Kind::kBool:
        type = ColumnType::kBoolean;
        value.push_back(p.value.as_bool() ? 1 : 0);
        break;
      case Value::Kind::kInt:
        type = ColumnType::kLong;
        Append32(value, static_cast<uint32_t>(p.value.as_int()));
        break;
      default:
        throw Error(errnum::kGeneric,
                    "The property '" + p.name + "' has a type that cannot be stored.");
    }
    Append16(entries, static_cast<uint16_t>(8 + value.size()));
    entries.push_back(static_cast<char>(p.ddl));
    entries.push_back(static_cast<char>(type));
    Append16(entries, static_cast<uint16_t>(i));
    Append16(entries, static_cast<uint16_t>(value.size()));
    entries += value;
  }
  std::string blob("MR2", 4);
  Append32(blob, static_cast<uint32_t>(6 + names.size()));
  Append16(blob, kNamesChunk);
  blob += names;
  // The object's own block: an empty name block, then the entries.
  Append32(blob, static_cast<uint32_t>(6 + 6 + entries.size()));
  Append16(blob, kObjectChunk);
  Append32(blob, 6);
  Append16(blob, 0);
  blob += entries;
  return blob;
}

}  // namespace jet
