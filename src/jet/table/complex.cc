#include "jet/table/complex.h"

#include <zlib.h>

#include <algorithm>
#include <cctype>
#include <optional>

#include "jet/table/database.h"

namespace jet {

namespace {

// `prefix` is ASCII; Access compares object names without regard to case.
bool StartsWith(std::string_view s, std::string_view prefix) {
  if (s.size() < prefix.size()) return false;
  for (size_t i = 0; i < prefix.size(); ++i) {
    if (std::tolower(static_cast<unsigned char>(s[i])) != std::tolower(prefix[i])) return false;
  }
  return true;
}

// The kind follows from the template table's name; a template with another
// name is judged by its columns.
ComplexKind KindOf(std::string_view type_table, const TableDef& tmpl) {
  if (StartsWith(type_table, "MSysComplexType_Attachment")) return ComplexKind::kAttachment;
  if (StartsWith(type_table, "MSysComplexTypeVH_")) return ComplexKind::kVersionHistory;
  if (StartsWith(type_table, "MSysComplexType_")) return ComplexKind::kMultiValue;
  int text = 0, memo = 0, ole = 0, date = 0;
  for (const auto& c : tmpl.columns) {
    text += c.type == ColumnType::kText;
    memo += c.type == ColumnType::kMemo;
    ole += c.type == ColumnType::kOle;
    date += c.type == ColumnType::kDateTime;
  }
  if (tmpl.columns.size() == 1) return ComplexKind::kMultiValue;
  if (ole >= 1 && text >= 2 && memo >= 1 && date >= 1) return ComplexKind::kAttachment;
  if (memo >= 1 && date >= 1) return ComplexKind::kVersionHistory;
  return ComplexKind::kUnknown;
}

int IndexOf(const TableDef& t, const Column* c) {
  return c ? static_cast<int>(c - t.columns.data()) : -1;
}

std::string Inflate(Bytes in, size_t limit) {
  z_stream z{};
  if (inflateInit(&z) != Z_OK) throw Error(errnum::kGeneric, "Could not start decompressing.");
  std::string out;
  char buf[16384];
  z.next_in = const_cast<Bytef*>(in.data());
  z.avail_in = static_cast<uInt>(in.size());
  int rc = Z_OK;
  while (rc != Z_STREAM_END && out.size() < limit) {
    z.next_out = reinterpret_cast<Bytef*>(buf);
    z.avail_out = sizeof buf;
    rc = inflate(&z, Z_NO_FLUSH);
    if (rc != Z_OK && rc != Z_STREAM_END) {
      inflateEnd(&z);
      ThrowDamaged("an attachment's compressed data does not inflate");
    }
    out.append(buf, sizeof buf - z.avail_out);
    if (rc == Z_OK && z.avail_in == 0 && z.avail_out != 0) {
      inflateEnd(&z);
      ThrowDamaged("an attachment's compressed data is cut short");
    }
  }
  inflateEnd(&z);
  if (out.size() > limit) out.resize(limit);
  return out;
}

}  // namespace

std::string DecodeAttachmentData(Bytes stored) {
  if (stored.empty()) return {};
  CheckRange(stored, 0, 8, "an attachment's header");
  uint32_t kind = U32(stored, 0);
  uint32_t length = U32(stored, 4);
  Bytes payload = stored.subspan(8);
  std::string content;
  if (kind == 0) {
    content.assign(payload.begin(), payload.begin() + std::min<size_t>(length, payload.size()));
  } else if (kind == 1) {
    content = Inflate(payload, length);
  } else {
    ThrowDamaged("an attachment is stored in an unknown way (" + std::to_string(kind) + ")");
  }
  Bytes c(reinterpret_cast<const uint8_t*>(content.data()), content.size());
  if (c.size() < 4) ThrowDamaged("an attachment lacks its content header");
  uint32_t header = U32(c, 0);
  if (header < 4 || header > c.size()) ThrowDamaged("an attachment's content header overruns it");
  return content.substr(header);
}

ComplexColumnInfo DescribeComplexColumn(Database& db, const TableDef& table, const Column& c) {
  ComplexColumnInfo info;
  info.complex_id = c.complex_id;
  auto columns = db.Table("MSysComplexColumns");
  const Column* col_name = columns->FindColumn("ColumnName");
  const Column* col_id = columns->FindColumn("ComplexID");
  const Column* col_type = columns->FindColumn("ComplexTypeObjectID");
  const Column* col_table = columns->FindColumn("ConceptualTableID");
  const Column* col_flat = columns->FindColumn("FlatTableID");
  if (!col_name || !col_id || !col_type || !col_table || !col_flat) {
    ThrowDamaged("MSysComplexColumns lacks its columns");
  }
  // Ids are (type table, flat table). The descriptor's complex id decides;
  // the column name is the fallback for a descriptor whose id is not listed.
  std::optional<std::pair<int64_t, int64_t>> by_id, by_name;
  TableScan scan(db, columns);
  while (!by_id && scan.Next()) {
    Value owner = scan.Get(*col_table);
    if (owner.kind() != Value::Kind::kInt ||
        (static_cast<uint64_t>(owner.as_int()) & 0x00FFFFFF) != table.tdef_page) {
      continue;
    }
    Value type = scan.Get(*col_type);
    Value flat = scan.Get(*col_flat);
    if (type.kind() != Value::Kind::kInt || flat.kind() != Value::Kind::kInt) continue;
    Value id = scan.Get(*col_id);
    Value name = scan.Get(*col_name);
    auto ids = std::make_pair(type.as_int(), flat.as_int());
    if (id.kind() == Value::Kind::kInt && id.as_int() == c.complex_id) {
      by_id = ids;
    } else if (!by_name && name.kind() == Value::Kind::kText && NamesEqual(name.bytes(), c.name)) {
      by_name = ids;
    }
  }
  if (!by_id) by_id = by_name;
  if (!by_id) {
    throw Error(errnum::kGeneric,
                "The complex column '" + c.name + "' is not listed in MSysComplexColumns.");
  }
  const auto [type_id, flat_id] = *by_id;
  const CatalogEntry* type_entry = db.FindObject(static_cast<int32_t>(type_id));
  if (!type_entry) {
    ThrowDamaged("the template table of complex column '" + c.name + "' is missing");
  }
  info.type_table = type_entry->name;
  auto tmpl = db.TableById(static_cast<int32_t>(type_id));
  info.kind = KindOf(info.type_table, *tmpl);
  info.flat = db.TableById(static_cast<int32_t>(flat_id));

  // The flat table has the template's columns, an AutoNumber id of its own and
  // the Long foreign key.
  const TableDef& flat = *info.flat;
  std::vector<const Column*> typed;
  for (const auto& fc : flat.columns) {
    if (tmpl->FindColumn(fc.name)) {
      typed.push_back(&fc);
    } else if (!fc.autonumber() && fc.type == ColumnType::kLong && info.key < 0) {
      info.key = IndexOf(flat, &fc);
    }
  }
  if (info.key < 0) ThrowDamaged("the flat table of complex column '" + c.name + "' has no key");
  auto first_of = [&](std::initializer_list<ColumnType> types) -> const Column* {
    for (const Column* fc : typed) {
      if (std::find(types.begin(), types.end(), fc->type) != types.end()) return fc;
    }
    return nullptr;
  };
  switch (info.kind) {
    case ComplexKind::kAttachment:
      info.file_name = IndexOf(flat, flat.FindColumn("FileName"));
      info.file_type = IndexOf(flat, flat.FindColumn("FileType"));
      info.file_data = IndexOf(flat, flat.FindColumn("FileData"));
      break;
    case ComplexKind::kVersionHistory:
      info.value = IndexOf(flat, first_of({ColumnType::kMemo, ColumnType::kText}));
      info.modified = IndexOf(flat, first_of({ColumnType::kDateTime}));
      break;
    case ComplexKind::kMultiValue:
    case ComplexKind::kUnknown:
      info.value = IndexOf(flat, typed.empty() ? nullptr : typed.front());
      break;
  }
  return info;
}

ComplexReader::Entry& ComplexReader::Load(const TableDef& table, const Column& c) {
  auto key = std::make_pair(table.tdef_page, c.number);
  auto it = entries_.find(key);
  if (it != entries_.end()) return it->second;
  Entry e;
  e.info = DescribeComplexColumn(*db_, table, c);
  const Column& key_col = e.info.flat->columns[e.info.key];
  TableScan scan(*db_, e.info.flat);
  while (scan.Next()) {
    Value k = scan.Get(key_col);
    if (k.kind() == Value::Kind::kInt) {
      e.rows[static_cast<int32_t>(k.as_int())].push_back(scan.id());
    }
  }
  return entries_.emplace(key, std::move(e)).first->second;
}

const ComplexColumnInfo& ComplexReader::Info(const TableDef& table, const Column& c) {
  return Load(table, c).info;
}

std::shared_ptr<const ComplexList> ComplexReader::Read(const TableDef& table, const Column& c,
                                                       int32_t key) {
  Entry& e = Load(table, c);
  const ComplexColumnInfo& info = e.info;
  const TableDef& flat = *info.flat;
  auto list = std::make_shared<ComplexList>();
  list->kind = info.kind;
  if (info.value >= 0) list->value_type = flat.columns[info.value].value_type();
  auto it = e.rows.find(key);
  if (it == e.rows.end()) return list;
  RowView row(flat, db_->layout());
  auto read = [&](int column) {
    return column < 0 ? Value::Null() : db_->Read(row, flat.columns[column]);
  };
  auto text = [&](int column) {
    Value v = read(column);
    return v.kind() == Value::Kind::kText ? v.bytes() : std::string();
  };
  for (RowId id : it->second) {
    PagePtr page;
    Bytes bytes;
    RowId data_id;
    if (!ResolveRow(*db_, flat, id, page, bytes, data_id)) continue;
    row.Load(bytes);
    ComplexItem item;
    if (info.kind == ComplexKind::kAttachment) {
      item.file_name = text(info.file_name);
      item.file_type = text(info.file_type);
      Value data = read(info.file_data);
      if (data.kind() == Value::Kind::kBinary) {
        const std::string& d = data.bytes();
        item.file_data =
            DecodeAttachmentData(Bytes(reinterpret_cast<const uint8_t*>(d.data()), d.size()));
      }
    } else {
      item.value = read(info.value);
      item.modified = read(info.modified);
    }
    list->items.push_back(std::move(item));
  }
  return list;
}

std::vector<ComplexItem> ReadComplex(Database& db, const TableDef& table, const Column& c,
                                     int32_t key) {
  ComplexReader reader(db);
  return reader.Read(table, c, key)->items;
}

}  // namespace jet
