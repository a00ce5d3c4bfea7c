// The terminal window backend: message boxes on standard error, answers from
// standard input.
//
// A message is printed as its caption, its lines (an icon shows as a word in
// front: "Error:", "Warning:", "Question:", "Information:") and the offered
// buttons with the default marked. When the input is a terminal the user
// types a button (its first letter, its accelerator letter, or its name, in
// any case; an empty line takes the default) and is asked again after
// anything else; at end of input the default is taken. When the input is not
// a terminal (a pipe, a file, a service without one) nobody can answer: the
// default button is taken at once and printed, so a log shows what happened.
//
// The cursor does not exist on a terminal and is ignored; a beep writes the
// BEL character, only when the output is a terminal (a log file should not
// collect control characters).
//
// Threads: one mutex keeps messages from several threads whole and in turn.

#ifndef QZR_UI_TERMINAL_BACKEND_H_
#define QZR_UI_TERMINAL_BACKEND_H_

#include <mutex>
#include <optional>
#include <string_view>

#include "ui/window_backend.h"

namespace qzr {

class TerminalBackend : public WindowBackend {
 public:
  struct Options {
    int input_fd = 0;   // standard input
    int output_fd = 2;  // standard error
    // Whether to ask: nullopt decides by isatty(input_fd).
    std::optional<bool> interactive;
  };

  TerminalBackend() : TerminalBackend(Options()) {}
  explicit TerminalBackend(Options options) : options_(options) {}

  int ShowMessage(const MessageRequest& request) override;
  void SetCursor(int cursor) override {}
  void Beep(int type) override;

  // The button among `buttons` that `reply` names, or 0 when it names none.
  // An empty (or blank) reply names `default_button`.
  static int ParseAnswer(std::string_view reply, int buttons, int default_button);

 private:
  void Write(std::string_view text) const;
  // Reads one line; false at end of input (or on a read error).
  bool ReadLine(std::string* line) const;

  Options options_;
  std::mutex mu_;
};

}  // namespace qzr

#endif  // QZR_UI_TERMINAL_BACKEND_H_
