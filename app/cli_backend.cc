// The command line's messages.

#include "app/cli_backend.h"

#include "ui/message.h"
#include "ui/terminal_backend.h"

namespace qzr {

std::string CommandLineBackend::OneLine(const std::string& text) {
  std::string out;
  for (const std::string& line : MessageLines(text)) {
    if (line.empty()) continue;
    if (!out.empty()) out += ' ';
    out += line;
  }
  return out;
}

int CommandLineBackend::ShowMessage(const MessageRequest& request) {
  const bool question = (request.buttons & kButtonYes) != 0;
  if (question && assume_yes_) return kButtonYes;
  if (question && interactive_) {
    shown_.fetch_add(1);
    TerminalBackend terminal;
    return terminal.ShowMessage(request);
  }
  int answer = request.default_button;
  std::string note;
  if (question) {
    // Nobody can answer: never take an action the user did not confirm.
    answer = (request.buttons & kButtonNo) != 0       ? kButtonNo
             : (request.buttons & kButtonCancel) != 0 ? kButtonCancel
                                                      : request.default_button;
    std::string caption;
    for (char c : ButtonCaption(answer)) {
      if (c != '&') caption += c;  // the accelerator mark
    }
    note = " (no terminal to answer on: " + caption + ")";
  }
  std::string line = std::string(kProgramName) + ": ";
  if (question && !request.caption.empty()) line += request.caption + ": ";
  line += OneLine(request.text) + note + "\n";
  {
    std::lock_guard<std::mutex> lock(mu_);
    *err_ << line << std::flush;
  }
  shown_.fetch_add(1);
  return answer;
}

}  // namespace qzr
