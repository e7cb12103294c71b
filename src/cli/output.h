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
// The JSON form of a value of column `c`. Complex values are lists: attachments
// as {"name","type","size","sha256"} of the file content, multi-value values in
// their own form, version history as {"value","modified"}.
std::string JsonValue(const jet::Column& c, const jet::Value& v);
// The CSV form: complex values as their text form (items joined by "; ").
std::string CsvField(const jet::Column& c, const jet::Value& v);
// "YYYY-MM-DD HH:MM:SS" with ".mmm" only when the milliseconds are not 0.
std::string IsoDate(double access_date);
// "YYYY-MM-DD HH:MM:SS.fffffff", always the seven digits of 100 ns.
std::string IsoDateExt(int64_t ticks);
std::string Sha256Hex(std::string_view data);
std::string Hex(const std::string& bytes);

// The same, appended to `out`: a dump formats every value of every row, so
// it builds its lines in place.
void AppendJsonString(std::string& out, std::string_view s);
void AppendJsonValue(std::string& out, const jet::Column& c, const jet::Value& v);
void AppendCsvField(std::string& out, const jet::Column& c, const jet::Value& v);
void AppendIsoDate(std::string& out, double access_date);

}  // namespace cli
