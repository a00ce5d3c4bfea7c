// The entry of the desktop module (qzrfunctions_desktop.so): the Qt backend
// as a module that the program loads only when it opens windows, so that a
// command that opens none starts without Qt.
//
// The module exports one function with C linkage, looked up by name; the
// program passes its desktop options and its program to run. The layers
// below ui/qt are not in the module: the program exports their symbols and
// the loader binds them when the module is loaded. A module and a program
// are built together; kDesktopModuleAbi tells a module built for another
// interface from a matching one.
//
// Threads: main thread, as RunDesktop.

#include "ui/qt/desktop.h"

extern "C" {

__attribute__((visibility("default"))) int QzrDesktopModuleAbi() {
  return qzr::kDesktopModuleAbi;
}

__attribute__((visibility("default"))) int QzrRunDesktop(int argc, char** argv,
                                                         const qzr::DesktopOptions& options,
                                                         const std::function<int()>& program) {
  return qzr::RunDesktop(argc, argv, options, program);
}

}  // extern "C"
