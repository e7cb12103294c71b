#include "jet/table/catalog.h"

#include <algorithm>

#include "jet/record/text.h"
#include "jet/table/database.h"

namespace jet {

namespace {

constexpr int32_t kTablesContainerParent = 0x0F000000;

// Compares names as the catalogue sorts them: without regard to case, with
// the exact text as a tie-break so the order is total.
bool NameLess(const std::string& a, const std::string& b) {
  std::string fa = FoldName(a), fb = FoldName(b);
  if (fa != fb) return fa < fb;
  return a < b;
}

}  // namespace

const std::vector<CatalogEntry>& SystemCatalog::Entries() {
  if (loaded_) return entries_;
  entries_.clear();
  auto t = std::make_shared<TableDef>(ReadTableDef(pager_, layout_, 2, header_.code_page));
  definition_ = t;
  const Column* id = t->FindColumn("Id");
  const Column* parent = t->FindColumn("ParentId");
  const Column* name = t->FindColumn("Name");
  const Column* type = t->FindColumn("Type");
  const Column* flags = t->FindColumn("Flags");
  const Column* database = t->FindColumn("Database");
  const Column* foreign = t->FindColumn("ForeignName");
  const Column* connect = t->FindColumn("Connect");
  if (!id || !parent || !name || !type) ThrowDamaged("the catalogue lacks its basic columns");
  TableScan scan(db_, t);
  auto text = [&](const Column* c) {
    if (!c) return std::string();
    Value v = scan.Get(*c);
    return v.kind() == Value::Kind::kText ? v.bytes() : std::string();
  };
  auto integer = [&](const Column* c) -> int64_t {
    if (!c) return 0;
    Value v = scan.Get(*c);
    return v.kind() == Value::Kind::kInt ? v.as_int() : 0;
  };
  while (scan.Next()) {
    CatalogEntry e;
    e.id = static_cast<int32_t>(integer(id));
    e.parent_id = static_cast<int32_t>(integer(parent));
    e.name = text(name);
    e.type = static_cast<int16_t>(integer(type));
    e.flags = static_cast<uint32_t>(integer(flags));
    e.database = text(database);
    e.foreign_name = text(foreign);
    e.connect = text(connect);
    e.row = scan.id();
    entries_.push_back(std::move(e));
  }
  loaded_ = true;
  return entries_;
}

std::vector<SchemaRow> SystemCatalog::TablesRowset() {
  const auto& cat = Entries();
  int32_t tables_id = 0;
  bool found = false;
  for (const auto& e : cat) {
    if (e.parent_id == kTablesContainerParent && e.name == "Tables") {
      tables_id = e.id;
      found = true;
    }
  }
  std::vector<SchemaRow> rows;
  for (const auto& e : cat) {
    if (e.name.empty()) continue;
    std::string kind;
    if (e.type == 1) {
      if (found && e.parent_id != tables_id) continue;
      if (e.flags & 0x80000000u) {
        kind = "SYSTEM TABLE";
      } else if (e.flags & 0x2u) {
        kind = "ACCESS TABLE";
      } else {
        kind = "TABLE";
      }
    } else if (e.type == 6) {
      kind = "LINK";
    } else if (e.type == 4) {
      kind = "PASS-THROUGH";
    } else if (e.type == 5) {
      if ((e.flags & 0xF0) != 0) continue;  // action queries are procedures, not views
      kind = "VIEW";
    } else {
      continue;
    }
    rows.push_back({e.name, kind});
  }
  std::stable_sort(rows.begin(), rows.end(), [](const SchemaRow& a, const SchemaRow& b) {
    if (a.table_type != b.table_type) return a.table_type < b.table_type;
    return NameLess(a.table_name, b.table_name);
  });
  return rows;
}

std::vector<std::string> SystemCatalog::UserTables() {
  std::vector<std::string> out;
  for (auto& r : TablesRowset()) {
    if (r.table_type == "TABLE") out.push_back(r.table_name);
  }
  return out;
}

const CatalogEntry& SystemCatalog::FindTableEntry(const std::string& name) {
  const CatalogEntry* hit = nullptr;
  for (int pass = 0; pass < 2 && !hit; ++pass) {
    for (const auto& e : Entries()) {
      if (e.type != 1 && e.type != 4 && e.type != 6 && e.type != 5) continue;
      if (pass == 0 ? e.name == name : NamesEqual(e.name, name)) {
        hit = &e;
        break;
      }
    }
  }
  if (!hit) {
    throw Error(errnum::kNoSuchTable, "The table '" + name + "' does not exist in the database.");
  }
  if (hit->type == 4 || hit->type == 6) {
    throw Error(errnum::kGeneric,
                "'" + hit->name + "' is a linked table; its data lives in " +
                    (hit->database.empty() ? "another database" : "'" + hit->database + "'") +
                    ", which is not opened.");
  }
  if (hit->type == 5) {
    throw Error(errnum::kGeneric, "'" + hit->name + "' is a query, not a table.");
  }
  return *hit;
}

std::shared_ptr<const TableDef> SystemCatalog::Table(const std::string& name) {
  return LoadTable(FindTableEntry(name));
}

const CatalogEntry* SystemCatalog::FindObject(int32_t object_id) {
  for (const auto& e : Entries()) {
    if (e.id == object_id) return &e;
  }
  return nullptr;
}

std::shared_ptr<const TableDef> SystemCatalog::TableById(int32_t object_id) {
  const CatalogEntry* e = FindObject(object_id);
  if (!e || e->type != 1) {
    throw Error(errnum::kNoSuchTable,
                "The database has no table with id " + std::to_string(object_id) + ".");
  }
  return LoadTable(*e);
}

std::shared_ptr<const TableDef> SystemCatalog::LoadTable(const CatalogEntry& entry) {
  uint32_t page = static_cast<uint32_t>(entry.id) & 0x00FFFFFF;
  auto it = tables_.find(page);
  if (it != tables_.end()) return it->second;
  auto t = std::make_shared<TableDef>(ReadTableDef(pager_, layout_, page, header_.code_page));
  // A calculated column's stored result has the type its ResultType property
  // names. Without readable properties the descriptor's type is the best guess.
  bool calculated = false;
  for (const auto& c : t->columns) calculated = calculated || c.calculated();
  if (calculated && !layout_.jet3) {
    try {
      ObjectProperties props = Properties(entry.id);
      for (auto& c : t->columns) {
        const PropertyMap* m = c.calculated() ? props.Column(c.name) : nullptr;
        Value v = m ? m->Get("ResultType") : Value::Null();
        if (v.kind() == Value::Kind::kInt && v.as_int() > 0 && v.as_int() < 256) {
          c.result_type = static_cast<uint8_t>(v.as_int());
        }
      }
    } catch (const Error&) {
    }
  }
  tables_[page] = t;
  return t;
}

ObjectProperties SystemCatalog::Properties(int32_t object_id) {
  const CatalogEntry* e = FindObject(object_id);
  if (!e) {
    throw Error(errnum::kGeneric,
                "The database has no object with id " + std::to_string(object_id) + ".");
  }
  const std::string b = ReadLvProp(*e);
  return ParseProperties(Bytes(reinterpret_cast<const uint8_t*>(b.data()), b.size()), layout_,
                         header_.code_page);
}

std::string SystemCatalog::ReadLvProp(const CatalogEntry& e) {
  const Column* lv = definition_->FindColumn("LvProp");
  if (!lv) return {};
  PagePtr page;
  Bytes bytes;
  RowId data_id;
  if (!ResolveRow(db_, *definition_, e.row, page, bytes, data_id)) {
    ThrowDamaged("the catalogue row of '" + e.name + "' has gone");
  }
  RowView row(*definition_, layout_);
  row.Load(bytes);
  Value blob = db_.Read(row, *lv);
  return blob.kind() == Value::Kind::kBinary ? blob.bytes() : std::string();
}

ObjectProperties SystemCatalog::TableProperties(const std::string& name) {
  return Properties(FindTableEntry(name).id);
}

void SystemCatalog::InvalidateTable(uint32_t tdef_page) { tables_.erase(tdef_page); }

}  // namespace jet
