#include "merge/statements.h"

#include <charconv>
#include <cmath>

#include "db/sql.h"
#include "jet/storage/error.h"
#include "jet/record/tdef.h"
#include "jet/record/text.h"

namespace merge {

std::vector<std::string> SplitFieldList(std::string_view list) {
  std::string bare;
  bare.reserve(list.size());
  for (char c : list) {
    if (c != '`') bare.push_back(c);
  }
  std::vector<std::string> fields;
  if (bare.empty()) return fields;
  size_t start = 0;
  for (;;) {
    size_t at = bare.find(", ", start);
    if (at == std::string::npos) {
      fields.push_back(bare.substr(start));
      return fields;
    }
    fields.push_back(bare.substr(start, at - start));
    start = at + 2;
  }
}

std::string ColumnList(const std::vector<std::string>& fields) {
  std::string list;
  for (const auto& f : fields) list += "[" + f + "],";
  if (!list.empty()) list.pop_back();
  return list;
}

std::string TrimBlanks(std::string_view text) {
  size_t begin = text.find_first_not_of(' ');
  if (begin == std::string_view::npos) return "";
  size_t end = text.find_last_not_of(' ');
  return std::string(text.substr(begin, end + 1 - begin));
}

namespace {

bool IsForbidden(unsigned char c) {
  return c < 0x20 || c == 0x7F || c == '.' || c == '!' || c == '`' || c == '[' || c == ']';
}

std::string ExactNumber(double d) {
  if (!std::isfinite(d)) {
    throw jet::Error(jet::errnum::kTypeMismatch,
                     "The value " + jet::FormatDouble(d) + " cannot be matched in a condition.");
  }
  // The shortest text that reads back as the same double.
  char buf[64];
  auto [end, ec] = std::to_chars(buf, buf + sizeof buf, d);
  return std::string(buf, end);
}

unsigned __int128 Magnitude(int64_t v) {
  return v < 0 ? static_cast<unsigned __int128>(-(v + 1)) + 1 : static_cast<unsigned __int128>(v);
}

}  // namespace

std::optional<std::string> NameProblem(std::string_view typed,
                                       const std::vector<std::string>& fields) {
  std::string name = TrimBlanks(typed);
  if (name.empty()) return "Please type a name for the new field.";
  if (typed.front() == ' ') return "The name of the new field cannot start with a blank.";
  // Access stores names as UTF-16, so a character beyond the first plane
  // takes two of the 64.
  if (jet::Utf16Length(name) > static_cast<size_t>(kMaxNameLength)) {
    return "The name of the new field is too long: it may have at most " +
           std::to_string(kMaxNameLength) + " characters.";
  }
  for (unsigned char c : name) {
    if (IsForbidden(c)) {
      return "The name of the new field cannot contain . ! ` [ ] or control characters.";
    }
  }
  for (const auto& f : fields) {
    if (jet::NamesEqual(f, name)) {
      return "The new field cannot be called \"" + name + "\": " + f +
             " is one of the fields to merge, and replacing it would destroy the values being "
             "merged.\r\n\r\nPlease choose another name.";
    }
  }
  return std::nullopt;
}

std::string ConditionLiteral(const jet::Value& value) {
  using Kind = jet::Value::Kind;
  switch (value.kind()) {
    case Kind::kText:
      return db::sql::QuoteText(value.bytes());
    case Kind::kBool:
      return value.as_bool() ? "True" : "False";
    case Kind::kInt:
      return std::to_string(value.as_int());
    case Kind::kCurrency:
      return jet::FormatScaled(value.as_int() < 0, Magnitude(value.as_int()), 4, true);
    case Kind::kDecimal:
      return jet::FormatScaled(value.negative(), jet::DecimalMagnitude(value), value.scale(), true);
    // A single is held as the double it widens to; writing that double
    // (not the short single text) keeps the comparison exact either way.
    case Kind::kFloat:
    case Kind::kDouble:
      return ExactNumber(value.as_double());
    case Kind::kDateTime:
      return db::sql::FormatDate(value.as_double());
    case Kind::kNull:
    case Kind::kBinary:
    case Kind::kGuid:
    case Kind::kDateTimeExt:
    case Kind::kComplex:
      break;
  }
  throw jet::Error(jet::errnum::kTypeMismatch,
                   "A value of this kind cannot be matched in a condition.");
}

}  // namespace merge
