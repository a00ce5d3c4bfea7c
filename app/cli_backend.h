// The window backend of the command line: every message is one line on the
// error stream, and questions are answered as the command was told.
//
// A message that asks (it offers Yes) is answered Yes when the command was
// given --yes (nothing is printed); else, when standard input is a
// terminal, it is asked there through the terminal backend; else nobody can
// answer, so the safe answer is taken (No, else Cancel, else the default)
// and the line says so. Any other message prints "qzrfunctions: " and its
// text, its lines ("|") joined by blanks, and counts as shown.
//
// Threads: one mutex keeps lines whole; the counter is atomic.

#ifndef QZR_APP_CLI_BACKEND_H_
#define QZR_APP_CLI_BACKEND_H_

#include <atomic>
#include <mutex>
#include <ostream>
#include <string>

#include "ui/window_backend.h"

namespace qzr {

inline constexpr char kProgramName[] = "qzrfunctions";

class CommandLineBackend : public WindowBackend {
 public:
  CommandLineBackend(std::ostream* err, bool interactive, bool assume_yes)
      : err_(err), interactive_(interactive), assume_yes_(assume_yes) {}

  int ShowMessage(const MessageRequest& request) override;
  void SetCursor(int) override {}
  void Beep(int) override {}

  // Messages printed so far (questions answered by --yes do not count).
  int shown() const { return shown_.load(); }

  // The message's text on one line: its "|" lines joined by blanks.
  static std::string OneLine(const std::string& text);

 private:
  std::ostream* err_;
  bool interactive_;
  bool assume_yes_;
  std::atomic<int> shown_{0};
  std::mutex mu_;
};

}  // namespace qzr

#endif  // QZR_APP_CLI_BACKEND_H_
