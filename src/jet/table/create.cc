#include "jet/table/create.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <vector>

#include "jet/index/index.h"
#include "jet/page/data_page.h"
#include "jet/record/properties.h"
#include "jet/record/schema.h"
#include "jet/storage/header.h"
#include "jet/storage/page_file.h"
#include "jet/table/database.h"

namespace jet {

namespace {

constexpr uint32_t kSystemFlags = 0x80000000u;
constexpr uint32_t kComplexTypeFlags = 0x80030000u;
constexpr int32_t kMSysDbId = 0x10000000;

ColumnDesign Fixed(const char* name, ColumnType type, uint8_t flags) {
  ColumnDesign c;
  c.name = name;
  c.type = type;
  c.length = FixedLength(type);
  c.flags = flags;
  return c;
}

ColumnDesign Variable(const char* name, ColumnType type, uint8_t flags, uint16_t length = 0) {
  ColumnDesign c;
  c.name = name;
  c.type = type;
  c.length = length;
  c.flags = flags;
  return c;
}

IndexDesign Index(const char* name, std::vector<uint16_t> columns, uint8_t flags, uint8_t kind,
                  uint32_t number) {
  IndexDesign x;
  x.name = name;
  x.columns = std::move(columns);
  x.flags = flags;
  x.kind = kind;
  x.number = number;
  return x;
}

// The system tables, with the column numbers, types, flags and indexes found
// in the catalogues of Access-made files.
constexpr uint8_t kSysFixed = kColSystem | kColUpdatable | kColFixed;  // 0x13
constexpr uint8_t kSysVar = kColSystem | kColUpdatable;                // 0x12
constexpr uint8_t kSysBinary = 0x20 | kColSystem | kColUpdatable;      // 0x32, owner SIDs

TableDesign MSysObjects() {
  TableDesign t;
  t.table_type = 0x53;
  t.system_layout = true;
  t.columns = {
      Fixed("Id", ColumnType::kLong, kSysFixed),
      Fixed("ParentId", ColumnType::kLong, kSysFixed),
      Variable("Name", ColumnType::kText, kSysVar, 510),
      Fixed("Type", ColumnType::kInteger, kSysFixed),
      Fixed("DateCreate", ColumnType::kDateTime, kSysFixed),
      Fixed("DateUpdate", ColumnType::kDateTime, kSysFixed),
      Variable("Owner", ColumnType::kBinary, kSysBinary, 510),
      Fixed("Flags", ColumnType::kLong, kSysFixed),
      Variable("Database", ColumnType::kMemo, kSysVar),
      Variable("Connect", ColumnType::kMemo, kSysVar),
      Variable("ForeignName", ColumnType::kText, kSysVar, 510),
      Variable("RmtInfoShort", ColumnType::kBinary, kSysVar, 510),
      Variable("RmtInfoLong", ColumnType::kOle, kSysVar),
      Variable("Lv", ColumnType::kOle, kSysVar),
      Variable("LvProp", ColumnType::kOle, kSysVar),
      Variable("LvModule", ColumnType::kOle, kSysVar),
      Variable("LvExtra", ColumnType::kOle, kSysVar),
  };
  t.indexes = {
      Index("ParentIdName", {1, 2}, kIndexBase | kIndexUnique, 0, 0),
      Index("Id", {0}, kIndexBase | kIndexUnique, 1, 1),
  };
  return t;
}

TableDesign MSysACEs() {
  TableDesign t;
  t.table_type = 0x53;
  t.system_layout = true;
  t.columns = {
      Fixed("ObjectId", ColumnType::kLong, kSysFixed),
      Variable("SID", ColumnType::kBinary, kSysBinary, 510),
      Fixed("ACM", ColumnType::kLong, kSysFixed),
      Fixed("FInheritable", ColumnType::kBoolean, kSysFixed),
  };
  t.indexes = {Index("ObjectId", {0}, kIndexBase | kIndexRequired, 0, 0)};
  return t;
}

TableDesign MSysQueries() {
  TableDesign t;
  t.table_type = 0x53;
  t.system_layout = true;
  t.columns = {
      Fixed("ObjectId", ColumnType::kLong, kSysFixed),
      Fixed("Attribute", ColumnType::kByte, kSysFixed),
      Variable("Order", ColumnType::kBinary, kSysVar, 510),
      Variable("Name1", ColumnType::kText, kSysVar, 510),
      Variable("Name2", ColumnType::kText, kSysVar, 510),
      Variable("Expression", ColumnType::kMemo, kSysVar),
      Fixed("Flag", ColumnType::kInteger, kSysFixed),
      Fixed("LvExtra", ColumnType::kLong, kSysFixed),
  };
  t.indexes = {Index("ObjectIdAttribute", {0, 1, 2}, kIndexBase | kIndexUnique, 1, 0)};
  return t;
}

TableDesign MSysRelationships() {
  TableDesign t;
  t.table_type = 0x53;
  t.system_layout = true;
  t.columns = {
      Variable("szRelationship", ColumnType::kText, kSysVar, 510),
      Fixed("grbit", ColumnType::kLong, kSysFixed),
      Fixed("ccolumn", ColumnType::kLong, kSysFixed),
      Fixed("icolumn", ColumnType::kLong, kSysFixed),
      Variable("szObject", ColumnType::kText, kSysVar, 510),
      Variable("szColumn", ColumnType::kText, kSysVar, 510),
      Variable("szReferencedObject", ColumnType::kText, kSysVar, 510),
      Variable("szReferencedColumn", ColumnType::kText, kSysVar, 510),
  };
  const uint8_t f = kIndexBase | kIndexIgnoreNulls;
  t.indexes = {
      Index("szRelationship", {0}, f, 0, 0),
      Index("szObject", {4}, f, 0, 1),
      Index("szReferencedObject", {6}, f, 0, 2),
  };
  return t;
}

TableDesign MSysComplexColumns() {
  TableDesign t;
  t.system_layout = true;
  t.columns = {
      Variable("ColumnName", ColumnType::kText, kSysVar, 510),
      Fixed("ComplexTypeObjectID", ColumnType::kLong, kSysFixed),
      Fixed("FlatTableID", ColumnType::kLong, kSysFixed),
      Fixed("ConceptualTableID", ColumnType::kLong, kSysFixed),
      Fixed("ComplexID", ColumnType::kLong, kSysFixed | kColAutonumber),
  };
  const uint8_t f = kIndexBase | kIndexIgnoreNulls;
  t.indexes = {
      Index("IdxID", {4}, f | kIndexUnique | kIndexRequired, 1, 0),
      Index("IdxConceptualTableID", {3}, f | kIndexRequired, 0, 1),
      Index("IdxFlatTableID", {2}, f | kIndexRequired, 0, 2),
  };
  return t;
}

// The template tables of multi-value and attachment fields.
std::vector<std::pair<const char*, TableDesign>> ComplexTypeTables() {
  auto single = [](ColumnDesign c) {
    TableDesign t;
    t.system_layout = true;
    t.columns = {std::move(c)};
    return t;
  };
  const uint8_t fixed = kColUpdatable | kColFixed;
  const uint8_t var = kColUpdatable;
  ColumnDesign decimal = Variable("Value", ColumnType::kNumeric, var, 9);
  decimal.precision = 18;
  TableDesign attachment;
  attachment.system_layout = true;
  attachment.columns = {
      Variable("FileURL", ColumnType::kMemo, var),
      Variable("FileName", ColumnType::kText, var, 510),
      Variable("FileType", ColumnType::kText, var, 510),
      Variable("FileData", ColumnType::kOle, var),
      Fixed("FileTimeStamp", ColumnType::kDateTime, fixed),
      Fixed("FileFlags", ColumnType::kLong, fixed),
  };
  for (auto& c : attachment.columns) c.ext_flags = 0x10;
  return {
      {"MSysComplexType_UnsignedByte", single(Fixed("Value", ColumnType::kByte, fixed))},
      {"MSysComplexType_Short", single(Fixed("Value", ColumnType::kInteger, fixed))},
      {"MSysComplexType_Long", single(Fixed("Value", ColumnType::kLong, fixed))},
      {"MSysComplexType_IEEESingle", single(Fixed("Value", ColumnType::kFloat, fixed))},
      {"MSysComplexType_IEEEDouble", single(Fixed("Value", ColumnType::kDouble, fixed))},
      {"MSysComplexType_GUID", single(Fixed("Value", ColumnType::kGuid, fixed))},
      {"MSysComplexType_Decimal", single(decimal)},
      {"MSysComplexType_Text", single(Variable("Value", ColumnType::kText, var, 510))},
      {"MSysComplexType_Attachment", attachment},
  };
}

// Inline usage map row with the given pages set.
std::string MapRow(const Layout& L, std::initializer_list<uint32_t> pages) {
  std::string row(L.usage_map_row, '\0');
  for (uint32_t p : pages) row[5 + p / 8] = static_cast<char>(row[5 + p / 8] | (1 << (p % 8)));
  return row;
}

// The first pages of a new file, before the engine can open it: the header,
// the file-wide map, and the catalogue with its maps and empty index roots.
std::vector<std::vector<uint8_t>> BootstrapPages(Version v, double date, uint8_t sort_version) {
  const Layout L = Layout::For(v);
  const uint32_t kCatalog = 2, kMaps = 3, kRoot0 = 4, kRoot1 = 5, kPages = 6;
  std::vector<std::vector<uint8_t>> pages(kPages, std::vector<uint8_t>(L.page_size, 0));
  pages[0] = NewHeaderPage(v, date, sort_version);

  // Page 1: the file-wide map, where a set bit means a free page, and a
  // second, empty row that Access keeps beside it. Access stores 1 where
  // other data pages name their owner.
  InitDataPage(pages[1], L, 1);
  {
    std::string global(L.usage_map_row, '\0');
    for (uint32_t p = kPages; p < (L.usage_map_row - 5) * 8; ++p) {
      global[5 + p / 8] = static_cast<char>(global[5 + p / 8] | (1 << (p % 8)));
    }
    DataPage dp(pages[1], L);
    dp.Add(global);
    dp.Add(std::string(L.usage_map_row, '\0'));
    dp.Store();
  }

  TableDesign design = MSysObjects();
  TablePlacement at;
  InitDataPage(pages[kMaps], L, 0);
  {
    DataPage dp(pages[kMaps], L);
    auto add = [&](std::string row) {
      return RowId{kMaps, static_cast<uint8_t>(dp.Add(std::move(row)))}.Packed();
    };
    at.owned_map = add(MapRow(L, {}));
    at.free_map = add(MapRow(L, {}));
    at.index_maps = {add(MapRow(L, {kRoot0})), add(MapRow(L, {kRoot1}))};
    at.index_roots = {kRoot0, kRoot1};
    for (size_t i = 0; i < LongValueColumns(design); ++i) {
      uint32_t owned = add(MapRow(L, {}));
      uint32_t free = add(MapRow(L, {}));
      at.long_value_maps.emplace_back(owned, free);
    }
    dp.Store();
  }
  std::vector<uint8_t> tdef = BuildTableDefinition(design, at, L, 0x0409, sort_version);
  if (tdef.size() > L.page_size) ThrowDamaged("the catalogue's definition does not fit its page");
  std::copy(tdef.begin(), tdef.end(), pages[kCatalog].begin());
  Put16(pages[kCatalog], 2, static_cast<uint16_t>(L.page_size - tdef.size() - 8));
  for (uint32_t root : {kRoot0, kRoot1}) {
    IndexNode empty;
    empty.page = root;
    WriteIndexNode(empty, kCatalog, L, pages[root]);
  }
  return pages;
}

void WriteNewFile(const std::string& path, const std::vector<std::vector<uint8_t>>& pages) {
  int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
  if (fd < 0) {
    throw Error(errnum::kGeneric,
                "Cannot create the file '" + path + "': " + std::strerror(errno) + ".");
  }
  bool ok = true;
  for (const auto& p : pages) {
    size_t done = 0;
    while (ok && done < p.size()) {
      ssize_t n = ::write(fd, p.data() + done, p.size() - done);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) ok = false;
      if (n > 0) done += static_cast<size_t>(n);
    }
  }
  int saved = errno;
  if (ok && ::fsync(fd) != 0) ok = false;
  ::close(fd);
  if (!ok) {
    ::unlink(path.c_str());
    throw Error(errnum::kGeneric,
                "Cannot write the file '" + path + "': " + std::strerror(saved) + ".");
  }
}

}  // namespace

std::string FileFormatName(FileFormat f) {
  switch (f) {
    case FileFormat::kMdb2000:
      return "mdb2000";
    case FileFormat::kMdb2003:
      return "mdb2003";
    case FileFormat::kAccdb2007:
      return "accdb2007";
    case FileFormat::kAccdb2016:
      return "accdb2016";
  }
  return "?";
}

bool ParseFileFormat(const std::string& name, FileFormat& out) {
  for (FileFormat f : {FileFormat::kMdb2000, FileFormat::kMdb2003, FileFormat::kAccdb2007,
                       FileFormat::kAccdb2016}) {
    if (name == FileFormatName(f)) {
      out = f;
      return true;
    }
  }
  return false;
}

void CreateDatabase(const std::string& path, FileFormat format, const CreateOptions& options) {
  struct stat st;
  if (::stat(path.c_str(), &st) == 0) {
    throw Error(errnum::kGeneric, "The file '" + path + "' already exists.");
  }
  const Version version = format == FileFormat::kAccdb2016   ? Version::kAce16
                          : format == FileFormat::kAccdb2007 ? Version::kAce12
                                                             : Version::kJet4;
  const bool ace = version != Version::kJet4;
  // Every Access-made file of these versions we know uses General - Legacy
  // (sort order version 0), Access 2016 files included.
  const uint8_t sort_version = 0;
  const double date = options.creation_date != 0 ? options.creation_date : AccessDateNow();
  // Built under a temporary name, so that a failure leaves no half-made file.
  const std::string temp = path + ".creating";
  ::unlink(temp.c_str());
  ::unlink(Pager::JournalPath(temp).c_str());
  WriteNewFile(temp, BootstrapPages(version, date, sort_version));
  try {
    {
      std::shared_ptr<Database> db = Database::Open(temp, OpenOptions{"", true});
      uint32_t aces = db->WriteNewTable(MSysACEs());
      uint32_t queries = db->WriteNewTable(MSysQueries());
      uint32_t relationships = db->WriteNewTable(MSysRelationships());
      std::vector<std::pair<std::string, uint32_t>> complex_tables;
      if (ace) {
        complex_tables.emplace_back("MSysComplexColumns", db->WriteNewTable(MSysComplexColumns()));
        for (auto& [name, design] : ComplexTypeTables()) {
          complex_tables.emplace_back(name, db->WriteNewTable(design));
        }
      }
      auto add = [&](int32_t id, int32_t parent, const std::string& name, int16_t type,
                     uint32_t flags, std::string lv_prop = {}) {
        CatalogRow row;
        row.id = id;
        row.parent_id = parent;
        row.name = name;
        row.type = type;
        row.flags = flags;
        row.date = date;
        row.lv_prop = std::move(lv_prop);
        db->AddCatalogRow(row);
      };
      add(kTablesContainer, kContainersParent, "Tables", 3, kSystemFlags);
      add(kDatabasesContainer, kContainersParent, "Databases", 3, kSystemFlags);
      add(kRelationshipsContainer, kContainersParent, "Relationships", 3, kSystemFlags);
      // Access tells its 2000 and 2002-2003 formats apart by this property.
      Property version_prop;
      version_prop.name = "AccessVersion";
      version_prop.value = Value::Text(format == FileFormat::kMdb2000 ? "08.50" : "09.50");
      add(kMSysDbId, kDatabasesContainer, "MSysDb", 2, kSystemFlags,
          EncodeObjectProperties({version_prop}));
      add(2, kTablesContainer, "MSysObjects", 1, kSystemFlags);
      add(static_cast<int32_t>(aces), kTablesContainer, "MSysACEs", 1, kSystemFlags);
      add(static_cast<int32_t>(queries), kTablesContainer, "MSysQueries", 1, kSystemFlags);
      add(static_cast<int32_t>(relationships), kTablesContainer, "MSysRelationships", 1,
          kSystemFlags);
      for (size_t i = 0; i < complex_tables.size(); ++i) {
        add(static_cast<int32_t>(complex_tables[i].second), kTablesContainer,
            complex_tables[i].first, 1, i == 0 ? kSystemFlags : kComplexTypeFlags);
      }
      db->Commit();
    }
    // A link, unlike a rename, never replaces a file that appeared meanwhile.
    if (::link(temp.c_str(), path.c_str()) != 0) {
      throw Error(errnum::kGeneric,
                  "Cannot create the file '" + path + "': " + std::strerror(errno) + ".");
    }
    ::unlink(temp.c_str());
    FileSystem::Default().SyncFolderOf(path);
  } catch (...) {
    ::unlink(temp.c_str());
    ::unlink(Pager::JournalPath(temp).c_str());
    throw;
  }
}

}  // namespace jet
