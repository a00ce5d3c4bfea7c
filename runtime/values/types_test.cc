// Tests of the type-fact table over every type code, and its agreement with
// the field objects the factory makes.

#include "runtime/values/types.h"

#include <gtest/gtest.h>

#include "runtime/values/ufo.h"

namespace qzr {
namespace {

TEST(TypesTest, EveryTypeCodeHasItsFacts) {
  using VC = ValueClass;
  const struct {
    TypeCode code;
    std::string_view name;
    uint32_t fixed_size;
    std::optional<ValueClass> value_class;
    bool is_text;
  } cases[] = {
      {TypeCode::END, "END", 0, std::nullopt, false},
      {TypeCode::BYTE, "BYTE", 1, VC::Integer, false},
      {TypeCode::SHORT, "SHORT", 2, VC::Integer, false},
      {TypeCode::USHORT, "USHORT", 2, VC::Integer, false},
      {TypeCode::DATE, "DATE", 4, VC::Integer, false},
      {TypeCode::TIME, "TIME", 4, VC::Integer, false},
      {TypeCode::LONG, "LONG", 4, VC::Integer, false},
      {TypeCode::ULONG, "ULONG", 4, VC::Decimal, false},
      {TypeCode::SREAL, "SREAL", 4, VC::Real, false},
      {TypeCode::REAL, "REAL", 8, VC::Real, false},
      {TypeCode::DECIMAL, "DECIMAL", 0, VC::Decimal, false},
      {TypeCode::PDECIMAL, "PDECIMAL", 0, VC::Decimal, false},
      {TypeCode::DUM1, "DUM1", 0, std::nullopt, false},
      {TypeCode::BFLOAT4, "BFLOAT4", 4, VC::Real, false},
      {TypeCode::BFLOAT8, "BFLOAT8", 8, VC::Real, false},
      {TypeCode::ANY, "ANY", 4, VC::String, false},
      {TypeCode::TEMPUFO, "TEMPUFO", 0, VC::Temporary, false},
      {TypeCode{17}, "(17)", 0, std::nullopt, false},
      {TypeCode::STRING, "STRING", 0, VC::String, true},
      {TypeCode::CSTRING, "CSTRING", 0, VC::String, true},
      {TypeCode::PSTRING, "PSTRING", 0, VC::String, true},
      {TypeCode::MEMO, "MEMO", 0, std::nullopt, false},
      {TypeCode::GROUP, "GROUP", 0, VC::String, true},
      {TypeCode::CLASS, "CLASS", 0, std::nullopt, false},
      {TypeCode::ARRAY, "ARRAY", 0, std::nullopt, false},
      {TypeCode::FIELD, "FIELD", 0, std::nullopt, false},
      {TypeCode::QUEUE, "QUEUE", 0, std::nullopt, false},
      {TypeCode::BLOB, "BLOB", 0, std::nullopt, false},
      {TypeCode::STACKSTR, "STACKSTR", 0, std::nullopt, false},
      {TypeCode::PICTURE, "PICTURE", 0, std::nullopt, false},
      {TypeCode::STDNUM, "STDNUM", 0, std::nullopt, false},
      {TypeCode::REFSTRING, "", 0, VC::String, false},
      {TypeCode::OLESTRING1, "", 0, VC::String, false},
      {TypeCode::OLESTRING2, "", 0, VC::String, false},
      {TypeCode::VARIANTREF, "", 0, std::nullopt, false},
  };
  bool listed[256] = {};
  for (const auto& c : cases) {
    const auto code = static_cast<uint8_t>(c.code);
    SCOPED_TRACE(static_cast<int>(code));
    listed[code] = true;
    const TypeFacts& f = FactsOf(c.code);
    EXPECT_EQ(f.name, c.name);
    EXPECT_EQ(TypeName(c.code), c.name);
    EXPECT_EQ(f.fixed_size, c.fixed_size);
    EXPECT_EQ(FixedTypeSize(c.code), c.fixed_size);
    EXPECT_EQ(f.value_class, c.value_class);
    EXPECT_EQ(f.is_text, c.is_text);
    EXPECT_EQ(IsTextType(c.code), c.is_text);
  }
  // Every other code is unknown: no name, size, class or text.
  for (int code = 0; code < 256; ++code) {
    if (listed[code]) continue;
    const TypeFacts& f = FactsOf(static_cast<uint8_t>(code));
    EXPECT_EQ(f.name, "") << code;
    EXPECT_EQ(f.fixed_size, 0u) << code;
    EXPECT_FALSE(f.value_class.has_value()) << code;
    EXPECT_FALSE(f.is_text) << code;
  }
}

// The table agrees with the factory: a field object of each code that has a
// fixed size takes that size, and computes in the table's class.
TEST(TypesTest, FixedSizesAndClassesAgreeWithTheFieldObjects) {
  alignas(8) uint8_t storage[64] = {};
  for (int code = 1; code <= 45; ++code) {
    const TypeFacts& f = FactsOf(static_cast<uint8_t>(code));
    if (f.fixed_size == 0) continue;
    SCOPED_TRACE(code);
    auto ufo = MakeUfo(static_cast<TypeCode>(code), storage);
    ASSERT_NE(ufo, nullptr);
    EXPECT_EQ(ufo->Size(), f.fixed_size);
    EXPECT_EQ(ufo->GetValueClass(), f.value_class);
  }
}

}  // namespace
}  // namespace qzr
