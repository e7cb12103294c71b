#include "db/executor.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <map>
#include <optional>

#include "jet/record/row_writer.h"
#include "jet/storage/error.h"

namespace db::internal {

namespace {

using jet::ColumnType;
using jet::Value;
using LitKind = sql::Literal::Kind;

enum class ColumnClass { kText, kInteger, kCurrency, kDecimal, kReal, kDate, kYesNo, kOther };

ColumnClass ClassOf(const jet::Column& c) {
  switch (c.type) {
    case ColumnType::kText:
    case ColumnType::kMemo:
      return ColumnClass::kText;
    case ColumnType::kByte:
    case ColumnType::kInteger:
    case ColumnType::kLong:
    case ColumnType::kBigInt:
      return ColumnClass::kInteger;
    case ColumnType::kCurrency:
      return ColumnClass::kCurrency;
    case ColumnType::kNumeric:
      return ColumnClass::kDecimal;
    case ColumnType::kFloat:
    case ColumnType::kDouble:
      return ColumnClass::kReal;
    case ColumnType::kDateTime:
      return ColumnClass::kDate;
    case ColumnType::kBoolean:
      return ColumnClass::kYesNo;
    default:
      return ColumnClass::kOther;
  }
}

std::string HoldsWhat(const jet::Column& c) {
  switch (ClassOf(c)) {
    case ColumnClass::kText:
      return "text";
    case ColumnClass::kInteger:
    case ColumnClass::kCurrency:
    case ColumnClass::kDecimal:
    case ColumnClass::kReal:
      return "numbers";
    case ColumnClass::kDate:
      return "dates";
    case ColumnClass::kYesNo:
      return "Yes/No values";
    default:
      return jet::TypeName(c.type) + " values";
  }
}

std::string Describe(const sql::Literal& lit) {
  switch (lit.kind) {
    case LitKind::kText: {
      // Long texts are cut at a character boundary; the message names the field anyway.
      std::string text = lit.text;
      if (text.size() > 40) {
        size_t cut = 40;
        while (cut > 0 && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80) --cut;
        text = text.substr(0, cut) + "...";
      }
      return "the text " + sql::QuoteText(text);
    }
    case LitKind::kNumber:
      return "the number " + lit.source;
    case LitKind::kDate:
      return "the date " + lit.source;
    case LitKind::kBool:
      return "the value " + lit.source;
    case LitKind::kNull:
      return "Null";
  }
  return lit.source;
}

enum class Use { kCompare, kAssign };

[[noreturn]] void Mismatch(const jet::Column& c, const sql::Literal& lit, Use use) {
  if (use == Use::kCompare) {
    throw jet::Error(jet::errnum::kTypeMismatch,
                     "Data type mismatch in criteria expression: the field '" + c.name +
                         "' holds " + HoldsWhat(c) + " and cannot be compared with " +
                         Describe(lit) + ".");
  }
  throw jet::Error(jet::errnum::kTypeMismatch, "Data type mismatch: " + Describe(lit) +
                                                   " cannot be stored in the field '" + c.name +
                                                   "', which holds " + HoldsWhat(c) + ".");
}

// The number a numeric, date or Yes/No literal stands for.
double NumberOf(const sql::Literal& lit) {
  switch (lit.kind) {
    case LitKind::kNumber:
      return lit.double_value;
    case LitKind::kDate:
      return lit.date_value;
    case LitKind::kBool:
      return lit.bool_value ? -1.0 : 0.0;
    default:
      return 0;
  }
}

// A number literal in units of 10^-scale, exactly from its digits: the sign
// and the magnitude. Sets `exact` to false when digits beyond the scale were
// rounded away (half to even). nullopt when it has more than `max_digits`.
std::optional<std::pair<bool, unsigned __int128>> ScaledDigits(const sql::Literal& lit, int scale,
                                                               int max_digits, bool& exact) {
  exact = true;
  std::string_view s = lit.source;
  bool negative = false;
  size_t i = 0;
  if (i < s.size() && (s[i] == '+' || s[i] == '-')) negative = s[i++] == '-';
  std::string digits;
  int fraction = 0;
  bool after_point = false;
  for (; i < s.size() && (std::isdigit(static_cast<unsigned char>(s[i])) || s[i] == '.'); ++i) {
    if (s[i] == '.') {
      after_point = true;
      continue;
    }
    digits.push_back(s[i]);
    if (after_point) ++fraction;
  }
  long exponent = 0;
  if (i < s.size() && (s[i] == 'e' || s[i] == 'E')) {
    exponent = std::strtol(std::string(s.substr(i + 1)).c_str(), nullptr, 10);
  }
  digits.erase(0, std::min(digits.find_first_not_of('0'), digits.size()));
  if (digits.empty()) return std::make_pair(false, static_cast<unsigned __int128>(0));
  // value = digits * 10^(exponent - fraction); units = value * 10^scale.
  long shift = exponent - fraction + scale;
  if (static_cast<long>(digits.size()) + shift > max_digits) return std::nullopt;
  unsigned __int128 whole = 0;
  size_t keep =
      shift >= 0 ? digits.size()
                 : static_cast<size_t>(std::max<long>(0, static_cast<long>(digits.size()) + shift));
  for (size_t k = 0; k < keep; ++k) whole = whole * 10 + static_cast<unsigned>(digits[k] - '0');
  for (long k = 0; k < shift; ++k) whole *= 10;
  if (keep < digits.size()) {
    // Round what falls beyond the fourth decimal, half to even.
    std::string rest = digits.substr(keep);
    int first = rest[0] - '0';
    bool beyond = rest.find_first_not_of('0', 1) != std::string::npos;
    // Digits dropped in front of `rest` (a value smaller than the scale) are zeros.
    long missing = -(static_cast<long>(digits.size()) + shift);
    if (missing > 0) {
      first = 0;
      beyond = true;
    }
    exact = first == 0 && !beyond;  // only zeros were dropped
    if (first > 5 || (first == 5 && (beyond || (whole & 1)))) whole += 1;
  }
  return std::make_pair(negative && whole != 0, whole);
}

// The literal in ten-thousandths. nullopt when it does not fit the currency
// range; `exact` as for ScaledDigits.
std::optional<int64_t> CurrencyUnits(const sql::Literal& lit, bool& exact) {
  if (lit.kind != LitKind::kNumber) {
    exact = true;
    double units = NumberOf(lit) * 10000.0;
    double rounded = std::nearbyint(units);
    exact = rounded == units;
    if (!(std::fabs(rounded) < 9.2e18)) return std::nullopt;
    return static_cast<int64_t>(rounded);
  }
  auto scaled = ScaledDigits(lit, 4, 19, exact);
  if (!scaled) return std::nullopt;
  const auto [negative, whole] = *scaled;
  const unsigned __int128 limit = static_cast<unsigned __int128>(INT64_MAX) + (negative ? 1 : 0);
  if (whole > limit) return std::nullopt;
  return negative ? static_cast<int64_t>(-static_cast<__int128>(whole))
                  : static_cast<int64_t>(whole);
}

// The literal as a value of a decimal column, at the column's scale.
std::optional<Value> DecimalValue(const jet::Column& c, const sql::Literal& lit, bool& exact) {
  auto scaled = ScaledDigits(lit, c.scale, 28, exact);
  if (!scaled) return std::nullopt;
  std::string magnitude(16, '\0');
  unsigned __int128 m = scaled->second;
  for (int i = 15; i >= 0; --i, m >>= 8) magnitude[i] = static_cast<char>(m & 0xFF);
  return Value::Decimal(scaled->first, std::move(magnitude), c.scale);
}

// The value a literal gives for a column, for comparing with its stored
// values or for storing in it. nullopt (comparing only) when no stored value
// can equal it, as 2.5 cannot equal a whole-number field.
std::optional<Value> LiteralFor(const jet::Column& c, const sql::Literal& lit, Use use) {
  if (lit.kind == LitKind::kNull) return Value::Null();
  const bool compare = use == Use::kCompare;
  switch (ClassOf(c)) {
    case ColumnClass::kText:
      if (lit.kind == LitKind::kText) return Value::Text(lit.text);
      if (lit.kind == LitKind::kNumber && !compare) {
        return Value::Text(lit.is_integer ? std::to_string(lit.int_value)
                                          : jet::FormatDouble(lit.double_value));
      }
      Mismatch(c, lit, use);
    case ColumnClass::kInteger: {
      if (lit.kind == LitKind::kText) Mismatch(c, lit, use);
      if (lit.kind == LitKind::kNumber && lit.is_integer) return Value::Int(lit.int_value);
      double d = NumberOf(lit);
      double r = std::nearbyint(d);
      if (compare && r != d) return std::nullopt;
      if (!(std::fabs(r) < 9.2e18)) {
        if (compare) return std::nullopt;
        throw jet::Error(jet::errnum::kTypeMismatch,
                         Describe(lit) + " is out of range for the field '" + c.name + "'.");
      }
      return Value::Int(static_cast<int64_t>(r));
    }
    case ColumnClass::kCurrency: {
      if (lit.kind == LitKind::kText) Mismatch(c, lit, use);
      bool exact = true;
      std::optional<int64_t> units = CurrencyUnits(lit, exact);
      if (compare && (!units || !exact)) return std::nullopt;
      if (!units) {
        throw jet::Error(jet::errnum::kTypeMismatch,
                         Describe(lit) + " is out of range for the field '" + c.name + "'.");
      }
      return Value::Currency(*units);
    }
    case ColumnClass::kDecimal: {
      if (lit.kind != LitKind::kNumber) Mismatch(c, lit, use);
      bool exact = true;
      std::optional<Value> v = DecimalValue(c, lit, exact);
      if (compare && (!v || !exact)) return std::nullopt;
      if (!v) {
        throw jet::Error(jet::errnum::kTypeMismatch,
                         Describe(lit) + " is out of range for the field '" + c.name + "'.");
      }
      return v;
    }
    case ColumnClass::kReal:
      if (lit.kind == LitKind::kText) Mismatch(c, lit, use);
      return Value::Double(NumberOf(lit));
    case ColumnClass::kDate:
      if (lit.kind == LitKind::kDate || lit.kind == LitKind::kNumber) {
        return Value::DateTime(NumberOf(lit));
      }
      Mismatch(c, lit, use);
    case ColumnClass::kYesNo:
      if (lit.kind == LitKind::kBool) return Value::Bool(lit.bool_value);
      if (lit.kind == LitKind::kNumber) {
        double d = lit.double_value;
        if (!compare) return Value::Bool(d != 0);
        if (d == -1) return Value::Bool(true);
        if (d == 0) return Value::Bool(false);
        return std::nullopt;
      }
      Mismatch(c, lit, use);
    case ColumnClass::kOther:
      Mismatch(c, lit, use);
  }
  Mismatch(c, lit, use);
}

const jet::Column& FindColumn(const jet::TableDef& t, const std::string& name,
                              const std::string& table) {
  if (const jet::Column* c = t.FindColumn(name)) return *c;
  throw jet::Error(jet::errnum::kNoSuchColumn,
                   "The field '" + name + "' does not exist in the table '" + table + "'.");
}

// A WHERE clause made ready for one table: the terms that name one value
// (c = literal, c IS NULL) as expected values of their columns, the IS NOT
// NULL terms as filters.
struct Plan {
  bool never = false;                 // some term can hold for no row
  std::vector<uint16_t> key_numbers;  // ascending
  std::vector<const jet::Column*> key_columns;
  std::vector<Value> key_values;
  uint64_t key_hash = kHashSeed;
  std::vector<const jet::Column*> not_null;
};

Plan Compile(const jet::TableDef& t, const sql::Condition& where, const std::string& table) {
  Plan plan;
  std::map<uint16_t, std::pair<const jet::Column*, Value>> points;
  for (const sql::Term& term : where) {
    const jet::Column& c = FindColumn(t, term.column, table);
    if (term.kind == sql::Term::Kind::kIsNotNull) {
      plan.not_null.push_back(&c);
      continue;
    }
    Value v;
    if (term.kind == sql::Term::Kind::kEquals) {
      // "c = Null" is true for no row.
      if (term.value.kind == LitKind::kNull) {
        plan.never = true;
        continue;
      }
      std::optional<Value> lit = LiteralFor(c, term.value, Use::kCompare);
      if (!lit) {
        plan.never = true;
        continue;
      }
      v = std::move(*lit);
    }
    auto [it, fresh] = points.emplace(c.number, std::make_pair(&c, v));
    if (!fresh && !SameValue(it->second.second, v)) plan.never = true;
  }
  for (auto& [number, point] : points) {
    plan.key_numbers.push_back(number);
    plan.key_columns.push_back(point.first);
    plan.key_hash = HashValue(point.second, plan.key_hash);
    plan.key_values.push_back(std::move(point.second));
  }
  return plan;
}

template <typename Get>
uint64_t HashOf(const std::vector<const jet::Column*>& columns, Get&& get) {
  uint64_t h = kHashSeed;
  for (const jet::Column* c : columns) h = HashValue(get(*c), h);
  return h;
}

template <typename Get>
bool Holds(const Plan& plan, Get&& get) {
  for (size_t i = 0; i < plan.key_columns.size(); ++i) {
    if (!SameValue(get(*plan.key_columns[i]), plan.key_values[i])) return false;
  }
  for (const jet::Column* c : plan.not_null) {
    if (get(*c).is_null()) return false;
  }
  return true;
}

// The identities of the rows the plan selects, ascending (storage order).
std::vector<uint32_t> MatchingRows(jet::Database& db, SharedState& state,
                                   const std::shared_ptr<const jet::TableDef>& t,
                                   const Plan& plan) {
  std::vector<uint32_t> out;
  if (plan.never) return out;
  if (plan.key_columns.empty()) {
    jet::TableScan scan(db, t);
    auto get = [&](const jet::Column& c) { return scan.Get(c); };
    while (scan.Next()) {
      if (Holds(plan, get)) out.push_back(scan.id().Packed());
    }
    return out;
  }
  RowIndex& index = state.Index(db, t, plan.key_numbers);
  std::vector<uint32_t> candidates;
  index.Candidates(plan.key_hash, candidates);
  RowReader reader(db, *t);
  auto get = [&](const jet::Column& c) { return reader.Get(c); };
  for (uint32_t id : candidates) {
    if (reader.Load(id) && Holds(plan, get)) out.push_back(id);
  }
  return out;
}

jet::ColumnType EngineType(const sql::DeclaredType& t, const std::string& column) {
  switch (t.type) {
    case sql::ColumnType::kText:
      return jet::ColumnType::kText;
    case sql::ColumnType::kMemo:
      return jet::ColumnType::kMemo;
    case sql::ColumnType::kByte:
      return jet::ColumnType::kByte;
    case sql::ColumnType::kInteger:
      return jet::ColumnType::kInteger;
    case sql::ColumnType::kLong:
      return jet::ColumnType::kLong;
    case sql::ColumnType::kCurrency:
      return jet::ColumnType::kCurrency;
    case sql::ColumnType::kSingle:
      return jet::ColumnType::kFloat;
    case sql::ColumnType::kDouble:
      return jet::ColumnType::kDouble;
    case sql::ColumnType::kDateTime:
      return jet::ColumnType::kDateTime;
    case sql::ColumnType::kYesNo:
      return jet::ColumnType::kBoolean;
    case sql::ColumnType::kCounter:
      break;
  }
  throw jet::Error(jet::errnum::kGeneric,
                   "Adding a " + t.name + " field ('" + column + "') is not supported yet.");
}

long RunAlterAdd(jet::Database& db, SharedState& state, const sql::AlterAdd& a) {
  if (a.column.not_null || a.column.primary_key) {
    throw jet::Error(jet::errnum::kGeneric,
                     "Adding a field with NOT NULL or PRIMARY KEY is not supported yet.");
  }
  jet::ColumnType type = EngineType(a.column.type, a.column.name);
  uint32_t page = db.Table(a.table)->tdef_page;
  int chars = a.column.type.size ? a.column.type.size : 255;
  state.ForgetTable(page);
  db.AddColumn(a.table, a.column.name, type, static_cast<uint16_t>(chars));
  return 0;
}

long RunAlterDrop(jet::Database& db, SharedState& state, const sql::AlterDrop& d) {
  uint32_t page = db.Table(d.table)->tdef_page;
  state.ForgetTable(page);
  db.DropColumn(d.table, d.column);
  return 0;
}

// Refuses, before any row changes, what the engine would refuse per row.
void CheckAssignment(jet::Database& db, const jet::TableDef& t, const jet::Column& c,
                     const Value& v) {
  if (t.ColumnIsIndexed(c.number)) {
    throw jet::Error(jet::errnum::kGeneric,
                     "The field '" + c.name + "' is part of an index and cannot be changed here.");
  }
  if (c.calculated() || c.autonumber() || c.type == ColumnType::kComplex) {
    throw jet::Error(jet::errnum::kGeneric, "The field '" + c.name + "' cannot be updated.");
  }
  if (v.is_null()) {
    if (c.type == ColumnType::kBoolean) {
      throw jet::Error(jet::errnum::kGeneric, "A Yes/No field cannot be set to Null.");
    }
    return;
  }
  if (c.type == ColumnType::kMemo) {
    if (v.bytes().size() >= (1u << 23)) {
      throw jet::Error(jet::errnum::kGeneric,
                       "The value is too large for the memo field '" + c.name + "'.");
    }
    return;
  }
  if (c.type != ColumnType::kBoolean) {
    jet::EncodeValue(c, v, db.layout(), db.code_page());  // throws what it cannot store
  }
}

long RunUpdate(jet::Database& db, SharedState& state, const sql::Update& u) {
  std::shared_ptr<const jet::TableDef> t = db.Table(u.table);
  std::vector<std::pair<const jet::Column*, Value>> values;
  std::vector<uint16_t> assigned;
  for (const sql::Assignment& a : u.assignments) {
    const jet::Column& c = FindColumn(*t, a.column, u.table);
    if (std::find(assigned.begin(), assigned.end(), c.number) != assigned.end()) {
      throw jet::Error(jet::errnum::kGeneric, "Duplicate output destination '" + c.name + "'.");
    }
    Value v = *LiteralFor(c, a.value, Use::kAssign);
    CheckAssignment(db, *t, c, v);
    values.emplace_back(&c, std::move(v));
    assigned.push_back(c.number);
  }
  Plan plan = Compile(*t, u.where, u.table);
  std::vector<uint32_t> rows = MatchingRows(db, state, t, plan);
  if (rows.empty()) return 0;
  state.Changed();
  // Indexes over changed columns learn where each changed row now belongs.
  struct Touched {
    RowIndex* index;
    std::vector<const jet::Column*> columns;
  };
  std::vector<Touched> touched;
  for (RowIndex* index : state.IndexesTouching(t->tdef_page, assigned)) {
    Touched entry{index, {}};
    for (uint16_t n : index->columns()) {
      for (const auto& c : t->columns) {
        if (c.number == n) entry.columns.push_back(&c);
      }
    }
    touched.push_back(std::move(entry));
  }
  RowReader reader(db, *t);
  auto get = [&](const jet::Column& c) { return reader.Get(c); };
  std::vector<uint64_t> before(touched.size());
  for (uint32_t id : rows) {
    if (!touched.empty() && reader.Load(id)) {
      for (size_t i = 0; i < touched.size(); ++i) before[i] = HashOf(touched[i].columns, get);
    }
    db.UpdateRow(*t, jet::RowId::Unpack(id), values);
    if (!touched.empty() && reader.Load(id)) {
      for (size_t i = 0; i < touched.size(); ++i) {
        uint64_t after = HashOf(touched[i].columns, get);
        if (after != before[i]) touched[i].index->Add(after, id);
      }
    }
  }
  return static_cast<long>(rows.size());
}

}  // namespace

void CommitDatabase(jet::Database& db, SharedState& state) {
  try {
    db.Commit();
  } catch (...) {
    state.ForgetAll();
    try {
      db.Rollback();  // also drops the engine's cached definitions
    } catch (...) {
    }
    throw;
  }
}

QueryResult RunSelect(jet::Database& db, SharedState& state, const sql::Select& s) {
  QueryResult r;
  r.table_name = s.table;
  r.table = db.Table(s.table);
  r.distinct = s.distinct;
  const jet::TableDef& t = *r.table;
  std::vector<const jet::Column*> cols;
  if (s.star) {
    for (const auto& c : t.columns) cols.push_back(&c);
  } else {
    for (const auto& name : s.columns) cols.push_back(&FindColumn(t, name, s.table));
  }
  for (const jet::Column* c : cols) r.columns.push_back({c->name, c->type, c->number});
  Plan plan = Compile(t, s.where, s.table);
  if (!s.distinct) {
    r.row_ids = MatchingRows(db, state, r.table, plan);
    return r;
  }
  // First-seen order; a combination is recognised by its packed bytes,
  // found through their hash.
  const size_t width = cols.size();
  r.combinations = PackedRows(width);
  std::vector<uint64_t> hashes;
  std::vector<uint32_t> slots(1024, 0);  // open addressing: 1 + combination number, 0 empty
  std::vector<Value> row(width);
  std::string packed;
  auto read = [&](auto&& get) {
    packed.clear();
    for (size_t i = 0; i < width; ++i) {
      row[i] = get(*cols[i]);
      PackedRows::Pack(row[i], packed);
    }
  };
  // Keeps the row just read unless its combination was met before.
  auto keep = [&]() {
    uint64_t h = std::hash<std::string_view>{}(packed);
    size_t mask = slots.size() - 1;
    for (size_t at = h & mask;; at = (at + 1) & mask) {
      uint32_t slot = slots[at];
      if (slot == 0) break;
      if (hashes[slot - 1] == h && r.combinations.Row(slot - 1) == packed) return;
    }
    hashes.push_back(h);
    r.combinations.Append(packed);
    if (hashes.size() * 2 > slots.size()) {
      slots.assign(slots.size() * 2, 0);
      mask = slots.size() - 1;
      for (size_t k = 0; k < hashes.size(); ++k) {
        size_t at = hashes[k] & mask;
        while (slots[at] != 0) at = (at + 1) & mask;
        slots[at] = static_cast<uint32_t>(k + 1);
      }
      return;
    }
    size_t at = h & mask;
    while (slots[at] != 0) at = (at + 1) & mask;
    slots[at] = static_cast<uint32_t>(hashes.size());
  };
  if (s.where.empty()) {
    // The same scan files the rows by these columns for the updates that
    // usually follow, one per combination found here.
    std::vector<uint16_t> numbers;
    for (const jet::Column* c : cols) numbers.push_back(c->number);
    std::sort(numbers.begin(), numbers.end());
    numbers.erase(std::unique(numbers.begin(), numbers.end()), numbers.end());
    std::vector<size_t> order;
    for (uint16_t n : numbers) {
      for (size_t i = 0; i < width; ++i) {
        if (cols[i]->number == n) {
          order.push_back(i);
          break;
        }
      }
    }
    std::vector<uint64_t> filed;
    filed.reserve(std::min<size_t>(t.row_count, size_t{1} << 22));
    jet::TableScan scan(db, r.table);
    auto get = [&](const jet::Column& c) { return scan.Get(c); };
    while (scan.Next()) {
      read(get);
      uint64_t filed_hash = kHashSeed;
      for (size_t i : order) filed_hash = HashValue(row[i], filed_hash);
      filed.push_back(Filing(filed_hash, scan.id().Packed()));
      keep();
    }
    state.Offer(t, numbers, std::move(filed));
  } else {
    RowReader reader(db, t);
    auto get = [&](const jet::Column& c) { return reader.Get(c); };
    for (uint32_t id : MatchingRows(db, state, r.table, plan)) {
      if (reader.Load(id)) {
        read(get);
        keep();
      }
    }
  }
  return r;
}

long RunCreateTable(jet::Database& db, SharedState& state, const sql::CreateTable& c) {
  std::vector<jet::NewColumn> columns;
  std::vector<std::string> key;
  for (const sql::ColumnDef& d : c.columns) {
    jet::NewColumn n;
    n.name = d.name;
    if (d.type.type == sql::ColumnType::kCounter) {
      n.type = ColumnType::kLong;
      n.autonumber = true;
    } else {
      n.type = EngineType(d.type, d.name);
    }
    if (d.type.size) n.text_chars = static_cast<uint16_t>(std::min(d.type.size, 255));
    // NOT NULL is kept only where the key implies it: the engine keeps no
    // Required property yet, and a constraint it cannot keep is refused.
    if (d.not_null && !d.primary_key &&
        !(c.primary_key && std::find(c.primary_key->columns.begin(), c.primary_key->columns.end(),
                                     d.name) != c.primary_key->columns.end())) {
      throw jet::Error(jet::errnum::kGeneric,
                       "NOT NULL outside the primary key ('" + d.name + "') is not supported yet.");
    }
    if (d.primary_key) key.push_back(d.name);
    columns.push_back(std::move(n));
  }
  if (c.primary_key) key = c.primary_key->columns;
  db.CreateTable(c.table, columns, key);
  state.Changed();
  return 0;
}

long RunInsert(jet::Database& db, SharedState& state, const sql::Insert& ins) {
  std::shared_ptr<const jet::TableDef> t = db.Table(ins.table);
  std::vector<std::pair<const jet::Column*, Value>> values;
  for (size_t i = 0; i < ins.columns.size(); ++i) {
    const jet::Column& c = FindColumn(*t, ins.columns[i], ins.table);
    for (const auto& [given, v] : values) {
      if (given->number == c.number) {
        throw jet::Error(jet::errnum::kGeneric, "Duplicate output destination '" + c.name + "'.");
      }
    }
    if (c.calculated() || c.type == ColumnType::kComplex) {
      throw jet::Error(jet::errnum::kGeneric,
                       "The field '" + c.name + "' cannot be given a value.");
    }
    values.emplace_back(&c, *LiteralFor(c, ins.values[i], Use::kAssign));
  }
  db.InsertRow(*t, values);
  // Row indexes of the table do not know the new row.
  state.ForgetTable(t->tdef_page);
  state.Changed();
  return 1;
}

long RunChange(jet::Database& db, SharedState& state, const sql::Statement& statement) {
  if (auto* u = std::get_if<sql::Update>(&statement)) return RunUpdate(db, state, *u);
  if (auto* a = std::get_if<sql::AlterAdd>(&statement)) return RunAlterAdd(db, state, *a);
  if (auto* d = std::get_if<sql::AlterDrop>(&statement)) return RunAlterDrop(db, state, *d);
  if (auto* c = std::get_if<sql::CreateTable>(&statement)) return RunCreateTable(db, state, *c);
  if (auto* i = std::get_if<sql::Insert>(&statement)) return RunInsert(db, state, *i);
  throw jet::Error(jet::errnum::kGeneric, "This statement does not change the database.");
}

}  // namespace db::internal
