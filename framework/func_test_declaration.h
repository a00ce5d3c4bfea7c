// Test support: the catalogue's file as the tests of the framework and the
// layers above declare it. FUNC with the prefix FUN and the catalogue's
// fields (ID, NAME, DESCRIPTION, FULLCODE, FORUMLINK, USER), for a driver
// and a path the test chooses; a test adds the fields, memo and keys it
// needs, or takes FuncTestDeclaration, which adds the code memo and the
// primary key P_ID (OPT, as the catalogue's is).
//
// Threads: plain functions.

#ifndef QZR_FRAMEWORK_FUNC_TEST_DECLARATION_H_
#define QZR_FRAMEWORK_FUNC_TEST_DECLARATION_H_

#include <cstdint>
#include <string>

#include "data/file_descriptor.h"

namespace qzr {

inline FileDeclaration FuncTestFields(const std::string& path, const std::string& driver,
                                      uint32_t attributes = kFileCreate | kFileThread) {
  FileDeclaration d("FUNC", "FUN");
  d.Driver(driver)
      .Name(path)
      .Attributes(attributes)
      .Field("ID", TypeCode::LONG)
      .String("NAME", TypeCode::CSTRING, 100)
      .String("DESCRIPTION", TypeCode::CSTRING, 1024)
      .Field("FULLCODE", TypeCode::BYTE)
      .String("FORUMLINK", TypeCode::CSTRING, 255)
      .String("USER", TypeCode::CSTRING, 30);
  return d;
}

inline FileDeclaration FuncTestDeclaration(const std::string& path, const std::string& driver,
                                           uint32_t attributes = kFileCreate | kFileThread) {
  FileDeclaration d = FuncTestFields(path, driver, attributes);
  d.Memo("EXAMPLECODE", 64000).Key("P_ID", {{"ID"}}, kKeyPrimary | kKeyNocase | kKeyOpt);
  return d;
}

}  // namespace qzr

#endif  // QZR_FRAMEWORK_FUNC_TEST_DECLARATION_H_
