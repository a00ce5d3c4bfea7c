// Type codes of values and their names.
//
// A type code is one byte. Codes 0..30 have names (used by the trace and by
// type descriptions); 31, 42, 43 and 45 are further codes the field-object
// factory accepts. Constant data only; safe from any thread.

#ifndef QZR_RUNTIME_TYPES_H_
#define QZR_RUNTIME_TYPES_H_

#include <cstdint>
#include <string_view>

namespace qzr {

enum class TypeCode : uint8_t {
  END = 0,
  BYTE = 1,
  SHORT = 2,
  USHORT = 3,
  DATE = 4,
  TIME = 5,
  LONG = 6,
  ULONG = 7,
  SREAL = 8,
  REAL = 9,
  DECIMAL = 10,
  PDECIMAL = 11,
  DUM1 = 12,
  BFLOAT4 = 13,
  BFLOAT8 = 14,
  ANY = 15,
  TEMPUFO = 16,
  STRING = 18,
  CSTRING = 19,
  PSTRING = 20,
  MEMO = 21,
  GROUP = 22,
  CLASS = 23,
  ARRAY = 24,
  FIELD = 25,
  QUEUE = 26,
  BLOB = 27,
  STACKSTR = 28,
  PICTURE = 29,
  STDNUM = 30,
  REFSTRING = 31,   // a reference to a string value of given length
  OLESTRING1 = 42,  // OLE automation string (system-allocated wide string)
  OLESTRING2 = 43,
  VARIANTREF = 45,  // a reference to a variant; value class chosen at run time
};

// Value classes: the family a field object computes in.
enum class ValueClass : uint8_t {
  Integer = 6,
  Real = 9,
  Decimal = 10,
  String = 18,
  Temporary = 29,
};

// The name of a type code: "END", "BYTE", ... "STDNUM" for 0..30 ("(17)"
// for 17); "" beyond the name table.
std::string_view TypeName(uint8_t code);
inline std::string_view TypeName(TypeCode code) { return TypeName(static_cast<uint8_t>(code)); }

}  // namespace qzr

#endif  // QZR_RUNTIME_TYPES_H_
