// Fuzz target: view descriptors and order texts from untrusted bytes must be
// rejected or accepted without a crash, an out-of-range read or a fatal
// error, and an accepted view must answer every question and write its text.
//
// The first byte picks the mode: a view descriptor over three small files,
// or an order text parsed against the same files.

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

#include "data/order_text.h"
#include "data/view.h"
#include "testing/fatal_guard.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  qzr::testing::InstallThrowingFatalHandler();
  return 0;
}

namespace {

qzr::FileDescriptor Small(const char* label, const char* prefix) {
  return qzr::FileDeclaration(label, prefix)
      .Field("ID", qzr::TypeCode::LONG)
      .String("NAME", qzr::TypeCode::CSTRING, 12)
      .Decimal("AMOUNT", qzr::TypeCode::DECIMAL, 9, 2)
      .Memo("NOTE", 50)
      .Key("BYID", {{"ID"}, {"NAME"}})
      .Build();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace qzr;
  if (size == 0) return 0;
  static FileDescriptor a = Small("AFILE", "A");
  static FileDescriptor b = Small("BFILE", "B");
  static FileDescriptor c = Small("CFILE", "C");
  FileDescriptor* files[] = {&a, &b, &c};
  if (data[0] % 2 == 1) {
    std::string_view text(reinterpret_cast<const char*>(data + 1), size - 1);
    std::vector<OrderItem> items;
    if (ParseOrderText(text, files, &items) == 0) {
      std::vector<OrderItem> again;
      if (ParseOrderText(WriteOrderText(items, files), files, &again) != 0 || again != items) {
        __builtin_trap();  // the written text must read back the same
      }
    }
    return 0;
  }
  std::vector<uint8_t> descriptor(data + 1, data + size);
  std::vector<ViewFile> view_files;
  {
    ViewWalker walker(descriptor);
    ViewLevel level;
    size_t n = 0;
    while (walker.Next(&level)) {
      view_files.push_back({files[n % 3], 0});
      ++n;
    }
  }
  View view;
  if (view.Init(descriptor, view_files) != 0) return 0;
  for (int n = 0; n <= view.FileCount() + 1; ++n) {
    (void)view.File(n);
    (void)view.IsInner(n);
    (void)view.Level(n);
  }
  for (int n = 0; n <= view.FieldCount() + 1; ++n) (void)view.Field(n);
  char small[40];
  (void)view.WriteText(small, sizeof small);
  (void)view.Text();
  return 0;
}
