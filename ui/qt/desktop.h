// The program's windows on the desktop: the Qt application around a run of
// the program, for the entry point, which includes no Qt itself.
//
// RunDesktop makes the QApplication (the program's name, its display name
// and its icon as every window's default), installs the Qt toolkit as the
// window backend, runs `program` on the calling thread and takes all down
// again in order: the windows the program left open, the toolkit, the
// application. The program's windows run their own accept loops; no Qt
// event loop runs outside them.
//
// Shut-down: SIGTERM, SIGINT and SIGHUP, and the desktop session ending,
// ask every open window to close (EVENT:CloseDown, top windows first) and
// close a message box that is waiting (it answers its default), so the
// program ends through its own loops and shut-down hooks; a second signal
// ends the process at once.
//
// A display that cannot be opened (DISPLAY names no reachable server) is
// reported as one line on standard error and the process ends with
// kNoDisplayExit: Qt offers no way back from that failure.
//
// Threads: main thread; one desktop run per process.

#ifndef QZR_UI_QT_DESKTOP_H_
#define QZR_UI_QT_DESKTOP_H_

#include <functional>
#include <string>

namespace qzr {

inline constexpr int kNoDisplayExit = 2;

struct DesktopOptions {
  std::string name = "qzrfunctions";                    // for messages and the window system
  std::string display_name = "QZR Functions Database";  // message boxes without a caption
  std::string icon = "AutoformatDoc.ico";               // every window's default
};

// Runs `program` with windows on the desktop and returns what it returns.
int RunDesktop(int argc, char** argv, const DesktopOptions& options,
               const std::function<int()>& program);

// The desktop module (ui/qt/desktop_module.cc) exports, with C linkage,
//   int QzrDesktopModuleAbi();   // kDesktopModuleAbi
//   int QzrRunDesktop(int argc, char** argv, const DesktopOptions& options,
//                     const std::function<int()>& program);   // RunDesktop
// The number changes whenever DesktopOptions or these signatures change.
inline constexpr int kDesktopModuleAbi = 1;
inline constexpr char kDesktopModuleFile[] = "qzrfunctions_desktop.so";
using DesktopModuleAbiFn = int (*)();
using RunDesktopFn = int (*)(int argc, char** argv, const DesktopOptions& options,
                             const std::function<int()>& program);

}  // namespace qzr

#endif  // QZR_UI_QT_DESKTOP_H_
