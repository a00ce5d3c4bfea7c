// Fuzz target: arbitrary bytes as two numeric texts (split at the first
// '|'). Each is parsed as a decimal and as a REAL; the decimal's canonical
// text must parse back to the same value, its DECIMAL and PDECIMAL storage
// must read back as the rounded value or the stored remainder, and sums
// must undo: (a + b) - b == a whenever neither step overflows. Products,
// quotients and field-object conversions of the same texts must not crash.

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string_view>

#include "runtime/values/decimal.h"
#include "runtime/values/text_number.h"
#include "runtime/values/ufo.h"
#include "testing/fatal_guard.h"

namespace {

void Check(bool ok) {
  if (!ok) std::abort();
}

void Storage(const qzr::Decimal& d, int bytes, int places) {
  uint8_t field[20];
  d.StoreDecimal(field, bytes, places);
  const qzr::Decimal back = qzr::Decimal::LoadDecimal(field, bytes, places);
  d.StorePDecimal(field, bytes, places);
  Check(qzr::Decimal::LoadPDecimal(field, bytes, places) == back);
  // The value read back never has more places than the field.
  Check(back.FractionDigits() <= places);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  qzr::testing::InstallThrowingFatalHandler();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view in(reinterpret_cast<const char*>(data), size);
  const size_t bar = in.find('|');
  const std::string_view ta = in.substr(0, bar);
  const std::string_view tb =
      bar == std::string_view::npos ? std::string_view() : in.substr(bar + 1);
  try {
    qzr::Decimal a, b;
    const bool oka = qzr::Decimal::FromText(ta, &a);
    (void)qzr::Decimal::FromText(tb, &b);
    if (oka) {
      qzr::Decimal again;
      Check(qzr::Decimal::FromText(a.ToText(), &again) && again == a);
      Check(qzr::Decimal::FromDouble(a.ToDouble()).IntegerDigits() <= 32);
    }
    for (int bytes : {1, 3, 8, 17}) {
      for (int places : {0, 2, 5, 33}) Storage(a, bytes, places);
    }
    qzr::Decimal sum, diff, r;
    if (qzr::Decimal::Add(a, b, &sum) && qzr::Decimal::Subtract(sum, b, &diff)) Check(diff == a);
    (void)qzr::Decimal::Multiply(a, b, &r);
    if (qzr::Decimal::Divide(a, b, &r)) Check(!b.IsZero());

    (void)qzr::TextToReal(ta);
    (void)qzr::TextToLong(ta);
    char buf[48];
    Check(qzr::RealToText(qzr::TextToReal(tb), buf, sizeof buf) <= 24);

    alignas(8) uint8_t record[64] = {};
    qzr::UfoString s(record, 20);
    qzr::UfoCString c(record + 20, 12);
    qzr::UfoLong l(record + 32);
    qzr::UfoPDecimal p(record + 36, 5, 2);
    qzr::UfoReal real(record + 41);
    s.SetText(ta);
    c.SetText(tb);
    l.SetUfo(s);
    p.SetUfo(c);
    real.SetUfo(p);
    (void)s.Compare(c);
    (void)c.Compare(l);
    (void)p.Compare(real);
    s.SetUfo(real);
  } catch (const qzr::testing::FatalErrorThrown&) {
    std::abort();  // no input may reach the fatal path
  }
  return 0;
}
