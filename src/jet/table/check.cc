#include "jet/table/check.h"

#include <algorithm>
#include <map>
#include <set>

#include "jet/index/index.h"
#include "jet/index/index_key.h"
#include "jet/page/data_page.h"
#include "jet/page/usage_map.h"
#include "jet/table/database.h"

namespace jet {

namespace {

// A key as hex digits, shortened when long.
std::string HexKey(const std::string& key) {
  static const char kDigits[] = "0123456789ABCDEF";
  std::string out;
  for (size_t i = 0; i < key.size() && i < 128; ++i) {
    const auto b = static_cast<unsigned char>(key[i]);
    if (i) out.push_back(' ');
    out.push_back(kDigits[b >> 4]);
    out.push_back(kDigits[b & 15]);
  }
  if (key.size() > 128) out += " ...";
  return out;
}

class Checker {
 public:
  explicit Checker(Database& db)
      : db_(db), L_(db.layout()), pager_(db.pager()), alloc_(pager_, L_) {}

  CheckReport Run() {
    report_.pages = pager_.page_count();
    owned_.assign(pager_.page_count(), false);
    Own(0);
    MarkMap(owned_, RowId{1, 0}.Packed());  // the file-wide map
    try {
      bool catalogue_seen = false;
      for (const auto& e : db_.Catalog()) {
        if (e.type != 1) continue;
        catalogue_seen |= (static_cast<uint32_t>(e.id) & 0x00FFFFFF) == 2;
        CheckTable(e.name, e.id);
      }
      if (!catalogue_seen) MarkTable(owned_, *db_.TableById(2));
    } catch (const Error& e) {
      Problem(std::string("the catalogue cannot be read: ") + e.what());
      owners_known_ = false;
    }
    if (owners_known_) {
      try {
        CheckUnownedPages();
      } catch (const Error& e) {
        Problem(std::string("the pages cannot all be read: ") + e.what());
      }
    }
    return std::move(report_);
  }

 private:
  void Problem(const std::string& s) { report_.problems.push_back(s); }

  static void Mark(std::vector<bool>& set, uint32_t page) {
    if (page < set.size()) set[page] = true;
  }
  void Own(uint32_t page) { Mark(owned_, page); }

  // The page holding a map row, the bitmap pages a reference map lists, and
  // the pages the map names.
  void MarkMap(std::vector<bool>& set, uint32_t row_pointer) {
    if (row_pointer == 0) return;
    const RowId id = RowId::Unpack(row_pointer);
    if (id.page >= pager_.page_count()) return;
    Mark(set, id.page);
    try {
      PagePtr p = pager_.Get(id.page);
      Bytes row = RowTable::RowAt(p->bytes(), L_, id.row);
      if (!row.empty() && row[0] == UsageMap::kReference) {
        for (size_t at = 1; at + 4 <= row.size(); at += 4) Mark(set, U32(row, at));
      }
      // The file-wide map names free pages, not owned ones.
      if (row_pointer != RowId{1, 0}.Packed()) {
        for (uint32_t pg : UsageMap(pager_, L_).Pages(row_pointer)) Mark(set, pg);
      }
    } catch (const Error&) {
      // The table's own checks report a map that cannot be read.
    }
  }

  void MarkTable(std::vector<bool>& set, const TableDef& t) {
    for (uint32_t p : t.pages) Mark(set, p);
    MarkMap(set, t.owned_map);
    MarkMap(set, t.free_map);
    for (const RealIndex& r : t.real_indexes) {
      MarkMap(set, r.usage_map);
      Mark(set, r.first_page);
    }
    for (const ColumnMap& m : t.column_maps) {
      MarkMap(set, m.owned_map);
      MarkMap(set, m.free_map);
    }
  }

  // Whether a page holds anything: a row that is not deleted, a definition,
  // index entries, a usage bitmap. Other page types are stale pages whose
  // meaning is not known.
  bool HoldsSomething(const Page& p) const {
    Bytes b = p.bytes();
    switch (TypeOf(b)) {
      case PageType::kData: {
        const uint16_t n = RowTable::Count(b, L_);
        for (uint16_t i = 0; i < n && L_.data_header + 2u * i + 2 <= b.size(); ++i) {
          if (KindOf(U16(b, L_.data_header + 2u * i)) != SlotKind::kDeleted) return true;
        }
        return false;
      }
      case PageType::kTableDefinition:
      case PageType::kUsageBitmap:
        return true;
      case PageType::kIndexNode:
      case PageType::kIndexLeaf:
        return U16(b, 2) != b.size() - (L_.jet3 ? 0xF8u : 0x1E0u);
      default:
        return false;
    }
  }

  // Pages that hold something but belong to no object. A page the file-wide
  // map calls free is free space whatever it still holds (Access does not
  // clear pages it lets go of). Of the pages counted as used, Access itself
  // leaves two kinds until the file is compacted: the definition of a table
  // that was dropped or rebuilt, with the pages it reaches, and the previous
  // page of a table whose rows Access wrote anew elsewhere (seen in
  // MSysNavPaneObjectIDs). Dropping a memo or OLE column leaves its long-value
  // pages allocated too (in Access and here), and such a page names no table,
  // only "LVAL". These are noted. A page that cannot be traced to any object
  // of this file, such as one another file's journal wrote, is a problem.
  void CheckUnownedPages() {
    std::vector<uint32_t> unowned;
    for (uint32_t pg = 2; pg < owned_.size(); ++pg) {
      if (owned_[pg]) continue;
      PagePtr p = pager_.Get(pg);
      if (HoldsSomething(*p) && !alloc_.GlobalFree(pg)) unowned.push_back(pg);
    }
    std::vector<bool> left_behind(owned_.size(), false);
    std::set<uint32_t> left_defs;
    for (uint32_t pg : unowned) {
      if (!IsType(pager_.Get(pg)->bytes(), PageType::kTableDefinition)) continue;
      left_defs.insert(pg);
      Mark(left_behind, pg);
      try {
        MarkTable(left_behind, ReadTableDef(pager_, L_, pg, db_.code_page()));
      } catch (const Error&) {
        // A continuation page, or a definition too damaged to follow.
      }
    }
    size_t left_pages = 0;
    size_t lval_pages = 0;
    for (uint32_t pg : unowned) {
      PagePtr p = pager_.Get(pg);
      const PageType type = TypeOf(p->bytes());
      const uint32_t owner = type == PageType::kUsageBitmap ? 0 : U32(p->bytes(), L_.data_owner);
      const std::string where = "page " + std::to_string(pg);
      if (left_behind[pg] || (type != PageType::kUsageBitmap && left_defs.count(owner))) {
        ++left_pages;
      } else if (type == PageType::kData && owner == kLvalOwner) {
        ++lval_pages;
      } else if (type == PageType::kData && table_names_.count(owner)) {
        Note(where + " holds rows of table '" + table_names_[owner] +
             "' that the table no longer lists (a page Access replaced; compacting reclaims it)");
      } else if (type == PageType::kUsageBitmap) {
        Note(where + " is a usage bitmap no map lists (compacting reclaims it)");
      } else {
        static const char* const kWhat[] = {"", "rows", "a table definition", "index entries",
                                            "index entries"};
        Problem(where + " holds " + kWhat[static_cast<uint8_t>(type)] + " (owner " +
                std::to_string(owner) + ") but belongs to no object of the database");
      }
    }
    if (!left_defs.empty()) {
      Note(std::to_string(left_pages) + " pages belong to " + std::to_string(left_defs.size()) +
           " table definitions no catalogue entry names (a dropped or rebuilt table; compacting "
           "reclaims them)");
    }
    if (lval_pages) {
      Note(std::to_string(lval_pages) +
           " long-value pages belong to no column (left by dropped memo or OLE columns; "
           "compacting reclaims them)");
    }
  }

  void Note(const std::string& s) { report_.notes.push_back(s); }

  void Used(uint32_t page, const std::string& what) {
    if (page >= pager_.page_count()) {
      Problem(what + ": page " + std::to_string(page) + " lies past the end of the file");
      return;
    }
    if (alloc_.GlobalFree(page)) {
      Problem(what + ": page " + std::to_string(page) +
              " is in use but marked free in the file-wide map");
    }
  }

  // Offsets descend in slot order and the free-space field matches.
  void CheckDataPage(uint32_t page, const std::string& what) {
    PagePtr p = pager_.Get(page);
    Bytes b = p->bytes();
    RowTable table;
    try {
      table.Load(b, L_);
    } catch (const Error& e) {
      Problem(what + ": page " + std::to_string(page) + ": " + e.what());
      return;
    }
    uint16_t free = U16(b, L_.data_free);
    if (free != table.computed_free()) {
      Problem(what + ": page " + std::to_string(page) + " says " + std::to_string(free) +
              " bytes free, has " + std::to_string(table.computed_free()));
    }
  }

  void CheckTable(const std::string& name, int32_t object_id) {
    const std::string what = "table '" + name + "'";
    const uint32_t tdef_page = static_cast<uint32_t>(object_id) & 0x00FFFFFF;
    std::shared_ptr<const TableDef> t;
    try {
      // As the database loads it, so that calculated columns know their result types.
      t = db_.TableById(object_id);
    } catch (const Error& e) {
      Problem(what + ": definition unreadable: " + e.what());
      owners_known_ = false;
      return;
    }
    ++report_.tables;
    MarkTable(owned_, *t);
    table_names_[tdef_page] = name;
    CheckDefinition(what, *t);
    if (!CheckDataPages(what, *t, tdef_page)) return;
    CheckLongValuePages(what, *t);
    const size_t rows = ReadEveryRow(what, t);
    report_.rows += rows;
    CheckIndexes(what, t);
    if (rows != t->row_count) {
      Note(what + ": its definition counts " + std::to_string(t->row_count) + " rows, it holds " +
           std::to_string(rows));
    }
  }

  // The definition's pages and maps are in use, and its sections end at its
  // terminator.
  void CheckDefinition(const std::string& what, const TableDef& t) {
    for (uint32_t p : t.pages) Used(p, what + " definition");
    if (t.buffer.size() < 2 || U16(t.buffer, t.buffer.size() - 2) != 0xFFFF) {
      Problem(what + ": definition does not end with its terminator");
    }
    if (t.terminator_offset + 2 != t.buffer.size()) {
      Problem(what + ": definition sections do not add up to its length");
    }
    Used(RowId::Unpack(t.owned_map).page, what + " usage map");
    Used(RowId::Unpack(t.free_map).page, what + " usage map");
  }

  // Each data page the table's map names is sound, and each moved row's
  // forwarding pointer stays within the table. False when the map cannot be
  // read, which leaves nothing else of the table to check.
  bool CheckDataPages(const std::string& what, const TableDef& t, uint32_t tdef_page) {
    std::vector<uint32_t> pages;
    try {
      pages = UsageMap(pager_, L_).Pages(t.owned_map);
    } catch (const Error& e) {
      Problem(what + ": usage map unreadable: " + e.what());
      return false;
    }
    std::set<uint32_t> own(pages.begin(), pages.end());
    std::map<uint32_t, int> moved_targets;  // packed row id -> references
    std::set<uint32_t> moved_copies;
    for (uint32_t pg : pages) {
      if (pg >= pager_.page_count()) {
        Problem(what + ": its usage map names page " + std::to_string(pg) +
                " past the end of the file");
        continue;
      }
      PagePtr p = pager_.Get(pg);
      if (!IsDataPageOf(p->bytes(), L_, tdef_page)) continue;
      Used(pg, what + " data");
      CheckDataPage(pg, what);
      CollectMovedRows(what, pg, p->bytes(), own, moved_targets, moved_copies);
    }
    CheckMovedRows(what, moved_targets, moved_copies);
    return true;
  }

  // The moved copies on one page, and where its forwarding rows point.
  void CollectMovedRows(const std::string& what, uint32_t pg, Bytes b,
                        const std::set<uint32_t>& own, std::map<uint32_t, int>& moved_targets,
                        std::set<uint32_t>& moved_copies) {
    RowTable slots;
    try {
      slots.Load(b, L_);
    } catch (const Error&) {
      return;  // reported by CheckDataPage
    }
    for (uint16_t i = 0; i < slots.size(); ++i) {
      if (slots[i].kind() == SlotKind::kMovedCopy) {
        moved_copies.insert(RowId{pg, static_cast<uint8_t>(i)}.Packed());
      }
      if (slots[i].kind() == SlotKind::kForward) {
        Bytes r = slots.Row(b, i);
        if (r.size() >= 4) {
          RowId to = RowId::Unpack(U32(r, 0));
          moved_targets[to.Packed()]++;
          if (!own.count(to.page)) Problem(what + ": a moved row points outside the table");
        }
      }
    }
  }

  // Every moved copy has exactly one row pointing to it.
  void CheckMovedRows(const std::string& what, const std::map<uint32_t, int>& moved_targets,
                      const std::set<uint32_t>& moved_copies) {
    for (uint32_t c : moved_copies) {
      if (!moved_targets.count(c)) {
        RowId id = RowId::Unpack(c);
        Problem(what + ": the moved copy at page " + std::to_string(id.page) + " row " +
                std::to_string(id.row) + " has no row pointing to it (other readers see it twice)");
      }
    }
    for (auto& [c, refs] : moved_targets) {
      if (refs > 1) Problem(what + ": a moved copy is the target of several rows");
    }
  }

  void CheckLongValuePages(const std::string& what, const TableDef& t) {
    for (const auto& m : t.column_maps) {
      Used(RowId::Unpack(m.owned_map).page, what + " column usage map");
      try {
        for (uint32_t pg : UsageMap(pager_, L_).Pages(m.owned_map)) {
          Used(pg, what + " long values");
          if (pg < pager_.page_count()) {
            PagePtr p = pager_.Get(pg);
            if (IsType(p->bytes(), PageType::kData)) CheckDataPage(pg, what + " long values");
          }
        }
      } catch (const Error& e) {
        Problem(what + ": a column usage map is unreadable: " + e.what());
      }
    }
  }

  // Every row decodes, long values included; returns how many did before
  // the first that does not.
  size_t ReadEveryRow(const std::string& what, const std::shared_ptr<const TableDef>& t) {
    size_t rows = 0;
    try {
      TableScan scan(db_, t);
      while (scan.Next()) {
        for (const auto& c : t->columns) scan.Get(c);
        ++rows;
      }
    } catch (const Error& e) {
      Problem(what + ": a row cannot be read: " + e.what());
    }
    return rows;
  }

  // Every index holds exactly one entry per row (rows whose key is all null
  // may be left out of indexes that ignore nulls), in order, and its pages
  // form a sound tree. Where the key encoding is known, the entries' keys
  // must be the keys of their rows.
  void CheckIndexes(const std::string& what, const std::shared_ptr<const TableDef>& t) {
    if (t->real_indexes.empty()) return;
    if (L_.jet3) {
      Note(what + ": indexes of Access 97 files are not checked");
      return;
    }
    PageAllocator alloc(pager_, L_);
    for (size_t i = 0; i < t->real_indexes.size(); ++i) {
      const RealIndex& r = t->real_indexes[i];
      const std::string where = what + " index " + std::to_string(i);
      std::vector<IndexEntry> entries;
      std::vector<uint32_t> pages;
      try {
        entries =
            IndexTree(pager_, alloc, L_, t->tdef_page, r.first_page, r.usage_map).Entries(&pages);
        for (uint32_t p : pages) {
          Own(p);
          Used(p, where);
          if (!alloc.InMap(r.usage_map, p)) {
            Problem(where + ": page " + std::to_string(p) + " is missing from the index's map");
          }
          if (U32(pager_.Get(p)->bytes(), 4) != t->tdef_page) {
            Problem(where + ": page " + std::to_string(p) + " names another owner");
          }
        }
      } catch (const Error& e) {
        Problem(where + ": " + e.what());
        continue;
      }
      std::vector<IndexEntry> expected;
      bool keys_known = true;
      try {
        TableScan scan(db_, t);
        // By column number; a damaged definition may number past its count.
        size_t width = t->max_cols;
        for (const auto& c : t->columns) width = std::max<size_t>(width, c.number + 1u);
        for (const auto& [number, order] : r.columns) width = std::max<size_t>(width, number + 1u);
        std::vector<Value> values(width);
        while (scan.Next()) {
          for (const auto& [number, order] : r.columns) {
            for (const auto& c : t->columns) {
              if (c.number == number) values[number] = scan.Get(c);
            }
          }
          if ((r.flags & 0x02) && KeyAllNull(r, values)) continue;
          IndexEntry e;
          e.row = scan.id().Packed();
          if (keys_known) {
            try {
              e.key = IndexKey(*t, r, values, db_.version());
            } catch (const Error&) {
              keys_known = false;
            }
          }
          expected.push_back(std::move(e));
        }
      } catch (const Error& e) {
        Problem(where + ": a row cannot be read: " + e.what());
        continue;
      }
      if (!keys_known) {
        for (auto& e : expected) e.key.clear();
        for (auto& e : entries) e.key.clear();
      }
      auto less = [](const IndexEntry& a, const IndexEntry& b) { return CompareEntries(a, b) < 0; };
      std::sort(expected.begin(), expected.end(), less);
      if (!keys_known) std::sort(entries.begin(), entries.end(), less);
      if (entries.size() != expected.size()) {
        Problem(where + ": it holds " + std::to_string(entries.size()) + " entries for " +
                std::to_string(expected.size()) + " rows");
        continue;
      }
      for (size_t k = 0; k < entries.size(); ++k) {
        if (CompareEntries(entries[k], expected[k]) != 0) {
          RowId id = RowId::Unpack(entries[k].row);
          Problem(where + ": entry " + std::to_string(k) + " (page " + std::to_string(id.page) +
                  " row " + std::to_string(id.row) + ") does not match its row (stored " +
                  HexKey(entries[k].key) + ", computed " + HexKey(expected[k].key) + ")");
          break;
        }
      }
      if (!keys_known) Note(where + ": keys not compared (collation or type not known)");
    }
  }

  Database& db_;
  const Layout& L_;
  Pager& pager_;
  PageAllocator alloc_;
  CheckReport report_;
  std::vector<bool> owned_;                      // by page number
  bool owners_known_ = true;                     // false when an object's pages are not known
  std::map<uint32_t, std::string> table_names_;  // by definition page
};

}  // namespace

CheckReport CheckDatabase(Database& db) { return Checker(db).Run(); }

}  // namespace jet
