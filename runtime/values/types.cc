// The table of type facts.

#include "runtime/values/types.h"

#include <array>

namespace qzr {
namespace {

constexpr std::optional<ValueClass> kNone;
constexpr auto kInteger = ValueClass::Integer;
constexpr auto kReal = ValueClass::Real;
constexpr auto kDecimal = ValueClass::Decimal;
constexpr auto kString = ValueClass::String;
constexpr auto kTemporary = ValueClass::Temporary;

constexpr std::array<TypeFacts, 256> MakeFacts() {
  std::array<TypeFacts, 256> t{};
  auto set = [&](TypeCode code, std::string_view name, uint32_t size,
                 std::optional<ValueClass> value_class, bool text = false) {
    t[static_cast<uint8_t>(code)] = TypeFacts{name, size, value_class, text};
  };
  // clang-format off
  //  code                  name         size  class       text
  set(TypeCode::END,        "END",        0,   kNone);
  set(TypeCode::BYTE,       "BYTE",       1,   kInteger);
  set(TypeCode::SHORT,      "SHORT",      2,   kInteger);
  set(TypeCode::USHORT,     "USHORT",     2,   kInteger);
  set(TypeCode::DATE,       "DATE",       4,   kInteger);
  set(TypeCode::TIME,       "TIME",       4,   kInteger);
  set(TypeCode::LONG,       "LONG",       4,   kInteger);
  // A ULONG above 2^31 - 1 does not fit a LONG: it computes in decimal.
  set(TypeCode::ULONG,      "ULONG",      4,   kDecimal);
  set(TypeCode::SREAL,      "SREAL",      4,   kReal);
  set(TypeCode::REAL,       "REAL",       8,   kReal);
  set(TypeCode::DECIMAL,    "DECIMAL",    0,   kDecimal);
  set(TypeCode::PDECIMAL,   "PDECIMAL",   0,   kDecimal);
  set(TypeCode::DUM1,       "DUM1",       0,   kNone);
  set(TypeCode::BFLOAT4,    "BFLOAT4",    4,   kReal);
  set(TypeCode::BFLOAT8,    "BFLOAT8",    8,   kReal);
  // ANY's field object is a 4-byte reference string.
  set(TypeCode::ANY,        "ANY",        4,   kString);
  set(TypeCode::TEMPUFO,    "TEMPUFO",    0,   kTemporary);
  set(TypeCode{17},         "(17)",       0,   kNone);
  set(TypeCode::STRING,     "STRING",     0,   kString,    true);
  set(TypeCode::CSTRING,    "CSTRING",    0,   kString,    true);
  set(TypeCode::PSTRING,    "PSTRING",    0,   kString,    true);
  set(TypeCode::MEMO,       "MEMO",       0,   kNone);
  // A GROUP's value is the string of its bytes.
  set(TypeCode::GROUP,      "GROUP",      0,   kString,    true);
  set(TypeCode::CLASS,      "CLASS",      0,   kNone);
  set(TypeCode::ARRAY,      "ARRAY",      0,   kNone);
  set(TypeCode::FIELD,      "FIELD",      0,   kNone);
  set(TypeCode::QUEUE,      "QUEUE",      0,   kNone);
  set(TypeCode::BLOB,       "BLOB",       0,   kNone);
  set(TypeCode::STACKSTR,   "STACKSTR",   0,   kNone);
  set(TypeCode::PICTURE,    "PICTURE",    0,   kNone);
  set(TypeCode::STDNUM,     "STDNUM",     0,   kNone);
  // Codes past the named ones: the factory's references and OLE strings.
  set(TypeCode::REFSTRING,  "",           0,   kString);
  set(TypeCode::OLESTRING1, "",           0,   kString);
  set(TypeCode::OLESTRING2, "",           0,   kString);
  set(TypeCode::VARIANTREF, "",           0,   kNone);
  // clang-format on
  return t;
}

constexpr std::array<TypeFacts, 256> kFacts = MakeFacts();

}  // namespace

const TypeFacts& FactsOf(uint8_t code) {
  return kFacts[code];
}

std::string_view TypeName(uint8_t code) {
  return kFacts[code].name;
}

}  // namespace qzr
