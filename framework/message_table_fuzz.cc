// Fuzz target over message tables and placeholder substitution.
//
// The first input byte picks the case: odd, the rest of the input edits the
// built-in table (pairs of position and byte), so that the decoder meets
// nearly valid tables; even, the rest is a table of its own. A table that
// decodes must encode back to the same bytes and load into an error manager;
// the input is then also substituted as a message, whose result must stay
// within the substitution buffer. Nothing is shown and nothing is logged.

#include <cstdint>
#include <cstdlib>
#include <span>
#include <string_view>
#include <vector>

#include "framework/error_manager.h"
#include "framework/message_table.h"
#include "testing/fatal_guard.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  qzr::testing::InstallThrowingFatalHandler();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace qzr;
  static ErrorManager* errors = [] {
    auto* m = new ErrorManager;
    m->Init();
    return m;
  }();
  try {
    if (size == 0) return 0;
    std::vector<uint8_t> table;
    if (data[0] & 1) {
      std::span<const uint8_t> builtin = BuiltInMessageTable();
      table.assign(builtin.begin(), builtin.end());
      for (size_t i = 1; i + 2 < size; i += 3) {
        size_t at = (static_cast<size_t>(data[i]) << 8 | data[i + 1]) % (table.size() + 1);
        if (at == table.size())
          table.pop_back();
        else
          table[at] = data[i + 2];
      }
    } else {
      table.assign(data + 1, data + size);
    }

    std::vector<MessageTableEntry> entries;
    if (DecodeMessageTable(table, &entries)) {
      std::vector<uint8_t> again;
      if (!EncodeMessageTable(entries, &again) || again != table) std::abort();
      errors->Init();  // drops the copies earlier inputs appended
      if (!errors->AppendMessages(table)) std::abort();
    }

    std::string_view text(reinterpret_cast<const char*>(data), size);
    ErrorStatus& st = FileStatus();
    st.FILENAME = std::string(text.substr(0, 254));
    st.MESSAGETEXT = std::string(text.substr(size / 2, 254));
    st.PREVERRORID = data[0];
    if (errors->Substitute(text).size() > kMessageBufferSize) std::abort();
  } catch (const qzr::testing::FatalErrorThrown&) {
  }
  return 0;
}
