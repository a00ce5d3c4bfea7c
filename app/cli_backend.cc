// The command line's messages.

#include "app/cli_backend.h"

#include <algorithm>

#include "ui/message.h"
#include "ui/terminal_backend.h"

namespace qzr {
namespace {

void EraseAll(std::string* text, const std::string& what) {
  for (size_t at; (at = text->find(what)) != std::string::npos;) text->erase(at, what.size());
}

}  // namespace

std::string CommandLineBackend::OneLine(const std::string& text) {
  std::string out;
  for (const std::string& line : MessageLines(text)) {
    if (line.empty()) continue;
    if (!out.empty()) out += ' ';
    out += line;
  }
  return out;
}

void CommandLineBackend::Rephrase(const std::string& framework_text, const std::string& text) {
  std::lock_guard<std::mutex> lock(mu_);
  rephrased_[framework_text] = text;
}

std::string CommandLineBackend::Reworded(const std::string& text, bool can_answer) {
  std::string out;
  {
    std::lock_guard<std::mutex> lock(mu_);
    auto it = rephrased_.find(text);
    out = it != rephrased_.end() ? it->second : text;
  }
  // There is no window to return to and no OK button to press.
  EraseAll(&out, "  Press OK to end this application");
  EraseAll(&out, "  Returning to previous window.");
  if (!can_answer) {
    EraseAll(&out, "|Try Again?");
    EraseAll(&out, " Try Again?");
  }
  return out;
}

int CommandLineBackend::ShowMessage(const MessageRequest& request) {
  const bool question = (request.buttons & kButtonYes) != 0;
  if (question && assume_yes_) return kButtonYes;
  if (question && interactive_) {
    shown_.fetch_add(1);
    MessageRequest asked = request;
    asked.text = Reworded(request.text, true);
    // Enter alone must not agree to what the question asks.
    if ((asked.buttons & kButtonNo) != 0) asked.default_button = kButtonNo;
    TerminalBackend::Options options;
    options.input_fd = question_in_fd_;
    options.output_fd = question_out_fd_;
    options.interactive = true;
    TerminalBackend terminal(options);
    return terminal.ShowMessage(asked);
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
  line += OneLine(Reworded(request.text, false)) + note + "\n";
  {
    std::lock_guard<std::mutex> lock(mu_);
    if (std::find(kept_.begin(), kept_.end(), line) == kept_.end()) kept_.push_back(line);
  }
  shown_.fetch_add(1);
  return answer;
}

void CommandLineBackend::Flush() {
  std::lock_guard<std::mutex> lock(mu_);
  for (const std::string& line : kept_) *err_ << line;
  err_->Flush();
  kept_.clear();
}

void CommandLineBackend::Discard() {
  std::lock_guard<std::mutex> lock(mu_);
  kept_.clear();
}

std::string CommandLineBackend::FirstKept() {
  std::lock_guard<std::mutex> lock(mu_);
  if (kept_.empty()) return "";
  std::string line = kept_.front();
  const std::string prefix = std::string(kProgramName) + ": ";
  if (line.rfind(prefix, 0) == 0) line.erase(0, prefix.size());
  while (!line.empty() && line.back() == '\n') line.pop_back();
  return line;
}

}  // namespace qzr
