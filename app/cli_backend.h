// The window backend of the command line: every message is one line on the
// error stream, and questions are answered as the command was told.
//
// A message that asks (it offers Yes) is answered Yes when the command was
// given --yes (nothing is printed); else, when standard input is a
// terminal, it is asked there through the terminal backend, with No as the
// answer an empty line gives (only a typed "y" or "yes" agrees); else nobody
// can answer, so the safe answer is taken (No, else Cancel, else the
// default) and the line says so. Any other message becomes the line
// "qzrfunctions: " and its text, its lines ("|") joined by blanks, kept
// until the command ends: the command then prints the kept lines (each
// once, however often it was shown), or drops them when it has a clearer
// line of its own for the failure (a read-only file, a lock, a full disk).
//
// Texts that speak of windows are reworded for the command line: "Press OK
// to end this application" and "Returning to previous window." are dropped,
// "Try Again?" too when nobody can answer it, and the command may give its
// own wording for a message (Rephrase), such as the delete confirmation.
//
// Threads: one mutex guards the kept lines and the wordings; the counter is
// atomic.

#ifndef QZR_APP_CLI_BACKEND_H_
#define QZR_APP_CLI_BACKEND_H_

#include <atomic>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "app/text_stream.h"
#include "ui/window_backend.h"

namespace qzr {

inline constexpr char kProgramName[] = "qzrfunctions";

class CommandLineBackend : public WindowBackend {
 public:
  CommandLineBackend(TextOut* err, bool interactive, bool assume_yes, int question_in_fd = 0,
                     int question_out_fd = 2)
      : err_(err),
        interactive_(interactive),
        assume_yes_(assume_yes),
        question_in_fd_(question_in_fd),
        question_out_fd_(question_out_fd) {}

  int ShowMessage(const MessageRequest& request) override;
  void SetCursor(int) override {}
  void Beep(int) override {}

  // Messages shown so far (questions answered by --yes do not count).
  int shown() const { return shown_.load(); }

  // Shows `text` instead of a message whose text is `framework_text`.
  void Rephrase(const std::string& framework_text, const std::string& text);

  // Prints the kept lines, each once, in the order first shown.
  void Flush();
  // Forgets the kept lines.
  void Discard();
  // The first kept line's message ("" when none), without the program's
  // name and the line end.
  std::string FirstKept();

  // The message's text on one line: its "|" lines joined by blanks.
  static std::string OneLine(const std::string& text);

 private:
  // The text as the command line says it.
  std::string Reworded(const std::string& text, bool can_answer);

  TextOut* err_;
  bool interactive_;
  bool assume_yes_;
  int question_in_fd_;
  int question_out_fd_;
  std::atomic<int> shown_{0};
  std::mutex mu_;
  std::vector<std::string> kept_;
  std::map<std::string, std::string> rephrased_;
};

}  // namespace qzr

#endif  // QZR_APP_CLI_BACKEND_H_
