// Printing values for the dump command: JSON in one canonical form (a row a
// line) and CSV.
#pragma once

#include <string>

#include "jet/tdef.h"
#include "jet/value.h"

namespace cli {

// JavaScript's Number#toString form of a double, so that dumps compare
// byte for byte with other tools' JSON.
std::string JsNumber(double d);
std::string JsonString(std::string_view s);
// The JSON form of a value of column `c` (attachments are handled by the caller).
std::string JsonValue(const jet::Column& c, const jet::Value& v);
std::string CsvField(const jet::Column& c, const jet::Value& v);
// "YYYY-MM-DD HH:MM:SS" with ".mmm" only when the milliseconds are not 0.
std::string IsoDate(double access_date);
std::string Hex(const std::string& bytes);

// The same, appended to `out`: a dump formats every value of every row, so
// it builds its lines in place.
void AppendJsonString(std::string& out, std::string_view s);
void AppendJsonValue(std::string& out, const jet::Column& c, const jet::Value& v);
void AppendCsvField(std::string& out, const jet::Column& c, const jet::Value& v);
void AppendIsoDate(std::string& out, double access_date);

}  // namespace cli
