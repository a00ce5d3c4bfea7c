// Fuzz target: arbitrary text through the expression parser; whatever parses
// is evaluated against a few bound variables, written back as text and as
// SQL, and the written text must parse again to the same text and value.

#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "runtime/core/runtime_error.h"
#include "runtime/evaluator/evaluator.h"
#include "runtime/values/ufo.h"
#include "testing/fatal_guard.h"

namespace {

struct Fields {
  int32_t id = 42;
  char title[100] = {};
  char code[8] = {};
  uint8_t price[4] = {};
  double ratio = 0.25;
  qzr::UfoLong id_field{&id};
  qzr::UfoCString title_field{title, sizeof title};
  qzr::UfoString code_field{code, sizeof code};
  qzr::UfoDecimal price_field{price, 4, 2};
  qzr::UfoReal ratio_field{&ratio};

  Fields() {
    title_field.SetText("Quick Sort in Place");
    code_field.SetText("QS");
    price_field.SetText("123.45");
    qzr::CreateEvaluator();
    qzr::BIND("FUN:ID", &id_field);
    qzr::BIND("FUN:Title", &title_field);
    qzr::BIND("Code", &code_field);
    qzr::BIND("Price", &price_field);
    qzr::BIND("Ratio", &ratio_field);
  }
};

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  qzr::testing::InstallThrowingFatalHandler();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static Fields* fields = new Fields();  // lives for the whole run
  (void)fields;
  std::string_view text(reinterpret_cast<const char*>(data), size);
  try {
    auto e = qzr::Expression::Parse(text);
    if (!e) return 0;
    std::string value = e->EvaluateText();
    std::string again_value = e->EvaluateText();
    std::string written = e->Text();
    (void)e->SqlText();
    (void)e->SqlOrderText();
    auto reparsed = qzr::Expression::Parse(written);
    if (!reparsed) std::abort();  // the writer produced text the parser refuses
    if (reparsed->Text() != written) std::abort();
    // Values must agree unless the expression draws on the clock or chance.
    // Names are case-blind, so look in an upper-cased copy.
    std::string upper = written;
    for (char& c : upper) {
      if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    }
    bool volatile_value = upper.find("RANDOM") != std::string::npos ||
                          upper.find("CLOCK") != std::string::npos ||
                          upper.find("MEMORY") != std::string::npos;
    if (!volatile_value && value != again_value) std::abort();
  } catch (const qzr::testing::FatalErrorThrown&) {
  }
  return 0;
}
