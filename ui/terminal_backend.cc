// Printing a message box and reading the answer on a terminal.

#include "ui/terminal_backend.h"

#include <unistd.h>

#include <cerrno>
#include <string>

#include "runtime/core/text.h"
#include "runtime/os/file_io.h"
#include "ui/message.h"

namespace qzr {
namespace {

std::string Plain(std::string_view caption) {
  std::string out;
  for (char c : caption) {
    if (c != '&') out += c;
  }
  return out;
}

char Accelerator(std::string_view caption) {
  size_t amp = caption.find('&');
  return amp + 1 < caption.size() ? AsciiLower(caption[amp + 1]) : 0;
}

std::string_view IconWord(int icon) {
  switch (icon) {
    case kIconHand:
      return "Error: ";
    case kIconExclamation:
      return "Warning: ";
    case kIconQuestion:
      return "Question: ";
    case kIconAsterisk:
      return "Information: ";
    default:
      return "";
  }
}

}  // namespace

int TerminalBackend::ParseAnswer(std::string_view reply, int buttons, int default_button) {
  reply = TrimRight(TrimLeft(reply, kBlanks), " \t\r");
  if (reply.empty()) return default_button;
  for (int bit = 1; bit <= kButtonHelp; bit <<= 1) {
    if ((buttons & bit) == 0) continue;
    std::string_view caption = ButtonCaption(bit);
    std::string plain = Plain(caption);
    if (EqualNoCase(reply, plain)) return bit;
    if (reply.size() == 1) {
      char c = AsciiLower(reply[0]);
      if (c == AsciiLower(plain[0]) || c == Accelerator(caption)) return bit;
    }
  }
  return 0;
}

void TerminalBackend::Write(std::string_view text) const {
  // Nowhere to report a failing standard error.
  WriteToDescriptor(options_.output_fd, text.data(), text.size()).IgnoreError();
}

bool TerminalBackend::ReadLine(std::string* line) const {
  // Byte by byte, so that nothing after the answer is taken from the input
  // (another reader of standard input, or the next message, gets it).
  line->clear();
  for (;;) {
    char c;
    size_t got = 0;
    // End of input and a failing input both end the answer.
    if (!ReadFromDescriptor(options_.input_fd, &c, 1, &got).ok() || got == 0) {
      return !line->empty();
    }
    if (c == '\n') return true;
    *line += c;
  }
}

int TerminalBackend::ShowMessage(const MessageRequest& request) {
  std::lock_guard<std::mutex> lock(mu_);
  std::string out = "\n";
  if (!request.caption.empty()) out += "== " + request.caption + " ==\n";
  // Lines after the first are indented under the icon's word.
  std::string lead(IconWord(request.icon));
  for (const std::string& line : MessageLines(request.text)) {
    out += lead + line + "\n";
    lead.assign(lead.size(), ' ');
  }
  std::string choices;
  for (int bit = 1; bit <= kButtonHelp; bit <<= 1) {
    if ((request.buttons & bit) == 0) continue;
    std::string plain = Plain(ButtonCaption(bit));
    if (!choices.empty()) choices += "  ";
    choices += "[" + plain.substr(0, 1) + "]" + plain.substr(1);
    if (bit == request.default_button) choices += "*";
  }
  out += choices + "\n";
  const std::string default_name = Plain(ButtonCaption(request.default_button));
  bool interactive = options_.interactive.value_or(::isatty(options_.input_fd) == 1);
  if (!interactive) {
    Write(out + "-> " + default_name + " (no one to ask)\n");
    return request.default_button;
  }
  Write(out);
  for (;;) {
    Write("Choose (Enter = " + default_name + "): ");
    std::string reply;
    if (!ReadLine(&reply)) {
      Write("\n-> " + default_name + "\n");
      return request.default_button;
    }
    if (int button = ParseAnswer(reply, request.buttons, request.default_button)) return button;
    Write("Please answer with one of: " + choices + "\n");
  }
}

void TerminalBackend::Beep(int type) {
  if (::isatty(options_.output_fd) == 1) Write("\a");
}

}  // namespace qzr
