// Type codes of values, and the one table of facts about each: its name,
// the size it takes in a record when that size is fixed, the value class
// its field object computes in, and whether its value is text.
//
// A type code is one byte. Codes 0..30 have names (used by the trace and by
// type descriptions); 31, 42, 43 and 45 are further codes the field-object
// factory accepts. Constant data only; safe from any thread.

#ifndef QZR_RUNTIME_TYPES_H_
#define QZR_RUNTIME_TYPES_H_

#include <cstdint>
#include <optional>
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

// What the runtime knows of one type code.
struct TypeFacts {
  // "END", "BYTE", ... "STDNUM" for 0..30 ("(17)" for 17); "" beyond.
  std::string_view name;
  // The bytes a value takes in a record; 0 when the declaration gives the
  // size (strings, decimals, groups) or the code has no stored value. ANY
  // takes 4: its field object is a 4-byte reference string.
  uint32_t fixed_size = 0;
  // The family the code's field object computes in; none for codes that
  // make no field object of their own (END, QUEUE, MEMO, BLOB, ...).
  std::optional<ValueClass> value_class;
  // The value is text: STRING, CSTRING, PSTRING, and GROUP, whose value is
  // the string of its bytes. Text is what a NOCASE key folds, what pads
  // with blanks, and what an order by UPPER applies to.
  bool is_text = false;
};

// The facts of `code`; an unknown code has no name, size or class.
const TypeFacts& FactsOf(uint8_t code);
inline const TypeFacts& FactsOf(TypeCode code) {
  return FactsOf(static_cast<uint8_t>(code));
}

inline uint32_t FixedTypeSize(TypeCode code) {
  return FactsOf(code).fixed_size;
}
inline bool IsTextType(TypeCode code) {
  return FactsOf(code).is_text;
}

// The name of a type code: "END", "BYTE", ... "STDNUM" for 0..30 ("(17)"
// for 17); "" beyond the name table.
std::string_view TypeName(uint8_t code);
inline std::string_view TypeName(TypeCode code) {
  return TypeName(static_cast<uint8_t>(code));
}

}  // namespace qzr

#endif  // QZR_RUNTIME_TYPES_H_
