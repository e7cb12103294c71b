#include "jet/record/column_descriptor.h"

namespace jet {

namespace {

// Layout gives the fields both versions have (col_number, ...); these are
// the rest. Decimal's precision and scale, over the LCID or code page:
constexpr size_t kPrecision = 0x0B;
constexpr size_t kScale = 0x0C;
// Jet 3 only.
constexpr size_t kJet3Marker = 0x07;
constexpr size_t kJet3CodePage = 0x0B;
// Jet 4 only.
constexpr size_t kJet4Marker = 0x01;
constexpr size_t kComplexId = 0x0B;
constexpr size_t kUnknown0D = 0x0D;
constexpr size_t kSortVersion = 0x0E;
constexpr size_t kExtFlags = 0x10;
constexpr size_t kUnknown11 = 0x11;

}  // namespace

ColumnDescriptor ColumnDescriptor::Read(Bytes definition, size_t offset, const Layout& layout) {
  CheckRange(definition, offset, Size(layout), "a column descriptor");
  Bytes b = definition.subspan(offset, Size(layout));
  ColumnDescriptor d;
  d.type_code = b[layout.col_type];
  d.number = U16(b, layout.col_number);
  d.var_index = U16(b, layout.col_var_index);
  d.second_number = U16(b, layout.col_number2);
  d.lcid = U16(b, layout.col_misc);
  d.precision = b[kPrecision];
  d.scale = b[kScale];
  d.flags = b[layout.col_flags];
  d.fixed_offset = U16(b, layout.col_fixed_offset);
  d.length = U16(b, layout.col_length);
  if (layout.jet3) {
    d.jet3_marker = U16(b, kJet3Marker);
    d.code_page = U16(b, kJet3CodePage);
  } else {
    d.marker = U32(b, kJet4Marker);
    d.complex_id = I32(b, kComplexId);
    d.unknown_0d = b[kUnknown0D];
    d.sort_version = b[kSortVersion];
    d.ext_flags = b[kExtFlags];
    d.unknown_11 = U32(b, kUnknown11);
  }
  return d;
}

void ColumnDescriptor::Write(MutableBytes out, const Layout& layout) const {
  CheckRange(out, 0, Size(layout), "a written column descriptor");
  const bool decimal = type_code == static_cast<uint8_t>(ColumnType::kNumeric);
  const bool complex = type_code == static_cast<uint8_t>(ColumnType::kComplex);
  out[layout.col_type] = type_code;
  Put16(out, layout.col_number, number);
  Put16(out, layout.col_var_index, var_index);
  Put16(out, layout.col_number2, second_number);
  if (!decimal) Put16(out, layout.col_misc, lcid);
  out[layout.col_flags] = flags;
  Put16(out, layout.col_fixed_offset, fixed_offset);
  Put16(out, layout.col_length, length);
  if (layout.jet3) {
    Put16(out, kJet3Marker, jet3_marker);
    if (!decimal) Put16(out, kJet3CodePage, code_page);
  } else {
    Put32(out, kJet4Marker, marker);
    out[kExtFlags] = ext_flags;
    Put32(out, kUnknown11, unknown_11);
    if (complex) {
      Put32(out, kComplexId, static_cast<uint32_t>(complex_id));
    } else {
      out[kUnknown0D] = unknown_0d;
      out[kSortVersion] = sort_version;
    }
  }
  if (decimal) {
    out[kPrecision] = precision;
    out[kScale] = scale;
  }
}

std::string ColumnDescriptor::Encode(const Layout& layout) const {
  std::string bytes(Size(layout), '\0');
  Write(MutableBytes(reinterpret_cast<uint8_t*>(bytes.data()), bytes.size()), layout);
  return bytes;
}

}  // namespace jet
