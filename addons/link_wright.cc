// LinkWright: checking, preparing and starting link addresses; see
// link_wright.h.

#include "addons/link_wright.h"

#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <ostream>
#include <string>
#include <vector>

#include "runtime/core/command_line.h"
#include "runtime/core/text.h"
#include "runtime/os/file_io.h"
#include "runtime/os/launch.h"
#include "ui/event.h"
#include "ui/message.h"
#include "ui/toolkit.h"
#include "ui/window.h"

namespace qzr {
namespace {

bool IsAlpha(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}
bool IsDigit(char c) {
  return c >= '0' && c <= '9';
}
bool IsBlank(char c) {
  return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\f' || c == '\v';
}

// True iff `text` holds a C0 control, DEL, or a C1 control (U+0080..U+009F,
// "\xC2\x80".."\xC2\x9F" in UTF-8).
bool HasControlCharacter(std::string_view text) {
  for (size_t i = 0; i < text.size(); ++i) {
    unsigned char c = static_cast<unsigned char>(text[i]);
    if (c < 0x20 || c == 0x7F) return true;
    if (c == 0xC2 && i + 1 < text.size()) {
      unsigned char d = static_cast<unsigned char>(text[i + 1]);
      if (d >= 0x80 && d <= 0x9F) return true;
    }
  }
  return false;
}

// The href of the first anchor in `text`, or `text` itself when it holds
// none. A quoted href ends at its closing quote; an unquoted one at ">" or a
// blank; an anchor left open takes the rest of the text.
std::string_view AnchorHref(std::string_view text) {
  constexpr std::string_view kAnchor = "<a href=";
  size_t at = FindNoCase(text, kAnchor);
  if (at == std::string_view::npos) return text;
  std::string_view rest = text.substr(at + kAnchor.size());
  if (!rest.empty() && (rest.front() == '"' || rest.front() == '\'')) {
    char quote = rest.front();
    rest.remove_prefix(1);
    return rest.substr(0, rest.find(quote));
  }
  size_t end = 0;
  while (end < rest.size() && rest[end] != '>' && !IsBlank(rest[end])) ++end;
  return rest.substr(0, end);
}

// The scheme of `text` ("" when it has none). A host followed by a port
// ("www.x.org:8080/", "localhost:3000") has no scheme.
std::string_view SchemeOf(std::string_view text) {
  if (text.empty() || !IsAlpha(text.front())) return {};
  size_t i = 1;
  while (i < text.size() && (IsAlpha(text[i]) || IsDigit(text[i]) || text[i] == '+' ||
                             text[i] == '-' || text[i] == '.')) {
    ++i;
  }
  if (i >= text.size() || text[i] != ':') return {};
  std::string_view scheme = text.substr(0, i);
  size_t digits = i + 1;
  while (digits < text.size() && IsDigit(text[digits])) ++digits;
  bool port = digits > i + 1 && (digits == text.size() || text[digits] == '/' ||
                                 text[digits] == '?' || text[digits] == '#');
  bool host_like = scheme.find('.') != std::string_view::npos ||
                   (scheme.size() == 9 && StartsWithNoCase(scheme, "localhost"));
  if (port && host_like) return {};
  return scheme;
}

bool LooksLikeFilePath(std::string_view text) {
  char c = text.front();
  if (c == '/' || c == '\\' || c == '~' || c == '.') return true;
  return text.find('\\') != std::string_view::npos;
}

// local@domain, optionally followed by "?" and header fields: one "@" with
// text on both sides, and no blank, "/", ":", "<" or ">" before the "?".
bool LooksLikeEmail(std::string_view text) {
  std::string_view address = text.substr(0, text.find('?'));
  size_t at = address.find('@');
  if (at == std::string_view::npos || at == 0 || at + 1 == address.size()) return false;
  if (address.find('@', at + 1) != std::string_view::npos) return false;
  for (char c : address) {
    if (IsBlank(c) || c == '/' || c == ':' || c == '<' || c == '>') return false;
  }
  return true;
}

// `text` fit for a message: control and invalid bytes as "?", cut after
// about 200 bytes (never inside a character).
std::string Shown(std::string_view text) {
  constexpr size_t kShownBytes = 200;
  std::string out;
  size_t i = 0;
  while (i < text.size() && out.size() < kShownBytes) {
    unsigned char c = static_cast<unsigned char>(text[i]);
    size_t len = c < 0x80 ? 1 : c >= 0xF0 ? 4 : c >= 0xE0 ? 3 : c >= 0xC0 ? 2 : 0;
    if (len == 0 || i + len > text.size() ||
        InvalidUtf8At(text.substr(i, len)) != std::string_view::npos ||
        HasControlCharacter(text.substr(i, len))) {
      out += '?';
      ++i;
      continue;
    }
    out.append(text.substr(i, len));
    i += len;
  }
  if (i < text.size()) out += "...";
  return out;
}

}  // namespace

PreparedLink PrepareLink(std::string_view value) {
  PreparedLink link;
  auto refuse = [&](LinkRefusal why) {
    link.refusal = why;
    link.url.clear();
    link.email = false;
    return link;
  };
  std::string_view text = Trim(value, kWhiteSpace);
  if (text.empty()) return refuse(LinkRefusal::kBlank);
  if (text.size() > kMaxLinkBytes) return refuse(LinkRefusal::kTooLong);
  if (InvalidUtf8At(text) != std::string_view::npos) return refuse(LinkRefusal::kInvalidText);
  if (HasControlCharacter(text)) return refuse(LinkRefusal::kControlCharacter);
  if (text.front() == '-') return refuse(LinkRefusal::kLeadingDash);

  std::string_view address = Trim(AnchorHref(text), kWhiteSpace);
  if (address.empty()) return refuse(LinkRefusal::kBlank);
  if (address.front() == '-') return refuse(LinkRefusal::kLeadingDash);

  std::string_view scheme = SchemeOf(address);
  std::string lower = Lower(scheme);
  if (lower == "http" || lower == "https") {
    link.url = lower + std::string(address.substr(scheme.size()));
  } else if (lower == "mailto") {
    link.url = lower + std::string(address.substr(scheme.size()));
    link.email = true;
  } else if (scheme.size() == 1 && address.size() > 2 &&
             (address[2] == '\\' || address[2] == '/')) {
    return refuse(LinkRefusal::kFilePath);  // a drive letter: C:\...
  } else if (!scheme.empty()) {
    return refuse(LinkRefusal::kUnsupportedScheme);
  } else if (LooksLikeFilePath(address)) {
    return refuse(LinkRefusal::kFilePath);
  } else if (LooksLikeEmail(address)) {
    link.url = "mailto:" + std::string(address);
    link.email = true;
  } else {
    link.url = "http://" + std::string(address);
  }
  if (link.url.size() > kMaxLinkBytes) return refuse(LinkRefusal::kTooLong);
  return link;
}

std::string MakeEmailUrlSafe(std::string_view url) {
  size_t body = FindNoCase(url, "&body=");
  size_t start = body == std::string_view::npos ? 0 : body + 6;
  std::string out(url.substr(0, start));
  auto encode = [&](unsigned char c) { AppendPercentEscape(c, &out); };
  for (size_t i = start; i < url.size(); ++i) {
    unsigned char c = static_cast<unsigned char>(url[i]);
    if (c <= 32 || c == 127 || c == ';' || c == '<' || c == '>') {
      encode(c);
    } else if (c == '%') {
      if (PercentEscapeAt(url, i) >= 0) {
        out += '%';
      } else {
        encode(c);
      }
    } else if (c == '&' || c == '?') {
      const std::string_view rest = url.substr(i + 1);
      bool header = StartsWithNoCase(rest, "body") || StartsWithNoCase(rest, "subject") ||
                    StartsWithNoCase(rest, "cc") || StartsWithNoCase(rest, "bcc");
      if (header) {
        out += static_cast<char>(c);
      } else {
        encode(c);
      }
    } else {
      out += static_cast<char>(c);
    }
  }
  if (out.size() >= 2 && out.front() == '"' && out.back() == '"') {
    out = out.substr(1, out.size() - 2);
  }
  return out;
}

std::string_view ShellErrorText(int result) {
  switch (result) {
    case 0:
      return "The Operating system is out of memory/resources. File:|";
    case 2:
      return "The specified file was not found. File:|";
    case 3:
      return "The specified path was not found. File:|";
    case 5:
      return "The operating system denied access to the specified file. File:|";
    case 8:
      return "There was not enough memory to complete the operation. File:|";
    case 11:
      return "The .exe file is invalid (non-Win32\xC2\xAE .exe or error in .exe image). File:|";
    case 26:
      return "A sharing violation occurred. File:|";
    case 27:
      return "The file name association is incomplete or invalid. File:|";
    case 28:
      return "The DDE transaction could not be completed because the request timed out. File:|";
    case 29:
      return "The DDE transaction failed. File:|";
    case 30:
      return "The DDE transaction could not be completed because other DDE transactions were "
             "being processed. File:|";
    case 31:
      return "There is no application associated with the given file name extension. File:|";
    case 32:
      return "The specified dynamic-link library was not found. File:|";
    default:
      return "Unknown ShellExecute Error occured. File:|";
  }
}

int ShellResultOfErrno(int err) {
  switch (err) {
    case 0:
      return kShellStarted;
    case ENOENT:
      return 2;
    case ENOTDIR:
    case ELOOP:
    case ENAMETOOLONG:
      return 3;
    case EACCES:
    case EPERM:
      return 5;
    case ENOMEM:
    case EAGAIN:
    case E2BIG:
      return 8;
    case ENOEXEC:
    case ELIBBAD:
      return 11;
    case ETXTBSY:
      return 26;
    default:
      return 1;  // no text of its own: "Unknown ..."
  }
}

std::string_view LinkRefusalText(LinkRefusal refusal) {
  switch (refusal) {
    case LinkRefusal::kNone:
      return "";
    case LinkRefusal::kBlank:
      return "There is no link to open.";
    case LinkRefusal::kTooLong:
      return "The link is longer than 4,096 characters and was not opened.";
    case LinkRefusal::kInvalidText:
      return "The link is not valid text (UTF-8) and was not opened.";
    case LinkRefusal::kControlCharacter:
      return "The link contains control characters and was not opened.";
    case LinkRefusal::kLeadingDash:
      return "A link cannot begin with \"-\"; it was not opened.";
    case LinkRefusal::kFilePath:
      return "Files are not opened from links; only web (http, https) and e-mail (mailto) "
             "addresses are.";
    case LinkRefusal::kUnsupportedScheme:
      return "Only web (http, https) and e-mail (mailto) addresses are opened.";
  }
  return "";
}

void LinkWright::Init() {
  URLTORUN.clear();
  LISTURL.clear();
  OPENPROGRAM.clear();
  LASTFIELDSELECTED = 0;
  INITED = 1;
}

void LinkWright::Init(Window* window) {
  Init();
  window_ = window;
  if (HANDCURSORTOUSE.empty()) HANDCURSORTOUSE = "hand2.cur";
}

void LinkWright::Kill() {
  INITED = 0;
  ITEMQ.clear();
  TRACKERQ.clear();
  window_ = nullptr;
}

void LinkWright::AddItem(const LinkItem& item) {
  Trace("In AddItem:  URL: " + std::to_string(item.SOURCE) +
        " Norm: " + std::to_string(item.NORMALCOLOR) + " Brt: " + std::to_string(item.BRIGHTCOLOR) +
        " InActCol: " + std::to_string(item.INACTIVECOLOR) +
        " Style: " + std::to_string(item.STYLE) + " Col: " + std::to_string(item.COLUMN) +
        " UnderLine: " + std::to_string(item.UNDERLINE) + " Event: " + std::to_string(item.EVENT) +
        " Cur: " + item.CURSOR + " NStl: " + std::to_string(item.NORMALSTYLE) +
        " StdA: " + std::to_string(item.STANDARDAPPEARANCE));
  ITEMQ.push_back(item);
}

const LinkItem* LinkWright::FindItem(int32_t control) const {
  for (const LinkItem& item : ITEMQ) {
    if (item.CONTROL == control && control != 0) return &item;
  }
  return nullptr;
}

void LinkWright::PrepareControls() {
  if (window_ == nullptr || !window_->IsOpen()) return;
  for (const LinkItem& item : ITEMQ) {
    if (!window_->HasControl(item.CONTROL)) continue;
    Appearance a = window_->GetAppearance(item.CONTROL);
    a.cursor = item.CURSOR.empty() ? HANDCURSORTOUSE : item.CURSOR;
    if (!item.STANDARDAPPEARANCE) {
      if (item.NORMALCOLOR != kColorNone) a.font_color = item.NORMALCOLOR;
      a.font_style = item.STYLE | (item.UNDERLINE ? kFontUnderline : 0);
    }
    window_->SetAppearance(item.CONTROL, a);
  }
}

Severity LinkWright::TakeEvent() {
  if (window_ == nullptr || !window_->IsOpen()) return SeverityNone;
  const int32_t event = CurrentEvent();
  const int32_t control = CurrentControl();
  const LinkItem* item = FindItem(control);
  if (item == nullptr) return SeverityNone;
  if (event == EVENT::MouseIn) {
    if (item->BRIGHTCOLOR != kColorNone && !item->STANDARDAPPEARANCE) {
      Appearance a = window_->GetAppearance(control);
      TRACKERQ.push_back(LinkTracker{control, a.font_color});
      a.font_color = item->BRIGHTCOLOR;
      window_->SetAppearance(control, a);
    }
    return SeverityNone;
  }
  if (event == EVENT::MouseOut) {
    for (size_t i = 0; i < TRACKERQ.size(); ++i) {
      if (TRACKERQ[i].FEQ != control) continue;
      Appearance a = window_->GetAppearance(control);
      a.font_color = TRACKERQ[i].OLDCOLOR;
      window_->SetAppearance(control, a);
      TRACKERQ.erase(TRACKERQ.begin() + static_cast<std::ptrdiff_t>(i));
      break;
    }
    return SeverityNone;
  }
  const int32_t opens_on = item->EVENT != 0 ? item->EVENT : EVENT::Accepted;
  if (event != opens_on) return SeverityNone;
  Trace("In TakeEvent: Ctrl: (" + std::to_string(control) + ") Event: " + std::to_string(event) +
        " UseEvent: " + std::to_string(opens_on) +
        " LastSel: " + std::to_string(LASTFIELDSELECTED));
  LASTFIELDSELECTED = control;
  const int32_t source = item->SOURCE != 0 ? item->SOURCE : control;
  Run(window_->Text(source));
  return SeverityNone;
}

std::string LinkWright::ExtractUrl(std::string_view text) const {
  return PrepareLink(text).url;
}

int LinkWright::Run(std::string_view address) {
  Trace("Before Run: Control: " + std::to_string(LASTFIELDSELECTED) + " URL: " + Shown(address));
  PreparedLink link = PrepareLink(address);
  if (link.refusal == LinkRefusal::kBlank) {
    Trace("Nothing to open");
    MessageBeep(kBeepStandard);
    return kLinkNotOpened;
  }
  if (link.refusal != LinkRefusal::kNone) {
    std::string text(LinkRefusalText(link.refusal));
    Trace("Refused: " + text);
    MessageBox(text + "|Link: " + Shown(address), kLinkNotOpenedCaption, kIconExclamation,
               kButtonOk);
    return kLinkNotOpened;
  }

  URLTORUN = link.url;
  OPENPROGRAM = kLinkOpener;
  if (link.email) {
    EvaluateDebug();
    if (DEBUGON) Trace("Email program: " + EmailProgram());
    if (ENCODEEMAILS) {
      Trace("b4 MakeEmailURLSafe self.URLToRun:\n" + URLTORUN);
      MakeEmailUrlSafe();
    }
  } else {
    EvaluateDebug();
    if (DEBUGON) Trace("Browser: " + Browser());
  }
  if (URLTORUN.size() > kMaxLinkBytes) {
    MessageBox(std::string(LinkRefusalText(LinkRefusal::kTooLong)) + "|Link: " + Shown(URLTORUN),
               kLinkNotOpenedCaption, kIconExclamation, kButtonOk);
    return kLinkNotOpened;
  }

  Trace("Command to run: [" + OPENPROGRAM + "] [" + URLTORUN + "]");
  int err = LaunchDetached({OPENPROGRAM, URLTORUN});
  int result = ShellResultOfErrno(err);
  if (err == ENOENT) {
    ReportShellError(result, OPENPROGRAM +
                                 "|Links are opened with xdg-open, which was not found."
                                 "|Install the xdg-utils package to open links.");
  } else {
    ReportShellError(result, OPENPROGRAM);
  }
  return result;
}

void LinkWright::MakeEmailUrlSafe() {
  URLTORUN = qzr::MakeEmailUrlSafe(URLTORUN);
}

void LinkWright::ReportShellError(int result, std::string_view file) {
  if (result > 32) return;
  std::string text(ShellErrorText(result));
  text += file;
  Trace("Start failed: " + std::to_string(result));
  MessageBox(text, kShellErrorCaption, kIconExclamation, kButtonOk);
}

void LinkWright::EvaluateDebug() {
  if (DEBUGSET) return;
  DEBUGON = HasProgramSwitch("/LWdbg") || HasProgramSwitch("/LWdbgReg") ? 1 : 0;
  trace_registry_ = HasProgramSwitch("/LWdbgReg");
  DEBUGSET = 1;
}

void LinkWright::Trace(std::string_view text) {
  EvaluateDebug();
  if (!DEBUGON) return;
  const std::string line = "/LWDebugLinkWright:" + std::string(text) + "\n";
  if (trace_out_ != nullptr) {
    *trace_out_ << line;
    trace_out_->flush();
    return;
  }
  // Straight to standard error: the program sets up no C++ standard streams.
  WriteToDescriptor(2, line.data(), line.size()).IgnoreError();  // a trace has nowhere else to go
}

const std::string& LinkWright::Browser() {
  if (HYPERBROWSER.empty()) LookUpProgram(&HYPERBROWSER, "x-scheme-handler/http", kNoBrowserFound);
  return HYPERBROWSER;
}

const std::string& LinkWright::EmailProgram() {
  if (HYPEREMAIL.empty()) LookUpProgram(&HYPEREMAIL, "x-scheme-handler/mailto", kNoEmailFound);
  return HYPEREMAIL;
}

void LinkWright::LookUpProgram(std::string* field, const char* mime, const char* missing) {
  std::string output;
  int err = RunAndCapture({"xdg-mime", "query", "default", mime}, &output, 3000, 1024);
  std::string_view name = Trim(output, kWhiteSpace);
  name = name.substr(0, name.find('\n'));
  if (err != 0 || name.empty() || InvalidUtf8At(name) != std::string_view::npos ||
      HasControlCharacter(name)) {
    *field = missing;
  } else {
    *field = std::string(name.substr(0, 255));
  }
  EvaluateDebug();
  if (trace_registry_) {
    Trace(std::string("Tried(1): xdg-mime query default ") + mime + "\nReturned:" + *field);
  }
}

}  // namespace qzr
