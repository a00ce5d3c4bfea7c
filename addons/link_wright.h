// LinkWright: opens the web and e-mail addresses shown in a window with the
// desktop's browser or mail program.
//
// A value becomes an address in three steps (PrepareLink, pure):
//   1. the value is checked: blank (a beep, nothing else), longer than
//      kMaxLinkBytes, not UTF-8, holding control characters or starting with
//      "-" (it could pass for an option of the opener) are refused;
//   2. an HTML anchor gives up its href (quoted or not);
//   3. the scheme decides, compared without regard to case: http, https and
//      mailto are taken as they are (the scheme written in lower case); any
//      other scheme (file:, javascript:, a drive letter...) and anything
//      that looks like a file path is refused; a text without a scheme is an
//      e-mail address when it looks like local@domain (then "mailto:" goes in
//      front), else a web address ("http://" goes in front, so "www.x.org"
//      opens and "https://x" never becomes "http://https://x").
// Only addresses that pass are started, always as the argument vector
// {"xdg-open", address} through the launch seam (runtime/launch.h): no shell
// ever sees the text. A refused value gets a message saying why.
//
// On a window, each registered link (AddItem) gets the hand cursor and its
// colours and style when the window opens (PrepareControls); its event (by
// default EVENT:Accepted: a click on a button) opens the text its source
// control shows, typed or displayed (TakeEvent).
//
// HYPERBROWSER and HYPEREMAIL name the desktop's default browser and mail
// program for the trace only (xdg-open picks the program itself); they are
// looked up with xdg-mime the first time a trace needs them, so a window
// with links starts no process until a link is followed.
//
// The trace: when the program was started with the switch "/LWdbg", each
// decision is written to standard error (or the stream set with
// SetTraceStream) as a line "/LWDebugLinkWright:" text; the lookups of the
// programs are traced too when "/LWdbgReg" is given. Without the switch
// nothing is written.
//
// Threads: one object belongs to one window and its thread.

#ifndef QZR_ADDONS_LINK_WRIGHT_H_
#define QZR_ADDONS_LINK_WRIGHT_H_

#include <cstddef>
#include <cstdint>
#include <iosfwd>
#include <string>
#include <string_view>
#include <vector>

#include "framework/severity.h"

namespace qzr {

class Window;

// The longest value or address taken, in bytes (the size of URLTORUN).
inline constexpr size_t kMaxLinkBytes = 4096;

// Why a value is not opened.
enum class LinkRefusal {
  kNone,
  kBlank,              // nothing to open: a beep
  kTooLong,            // over kMaxLinkBytes
  kInvalidText,        // not UTF-8
  kControlCharacter,   // a control character inside
  kLeadingDash,        // starts with "-"
  kFilePath,           // a file path or a drive letter
  kUnsupportedScheme,  // a scheme other than http, https, mailto
};

struct PreparedLink {
  LinkRefusal refusal = LinkRefusal::kNone;
  std::string url;     // the address to start when refusal is kNone
  bool email = false;  // a "mailto:" address
};

// The address `value` stands for, or why it is refused (steps above).
PreparedLink PrepareLink(std::string_view value);

// `url` made safe to hand to a mail program, by percent-encoding. Scanning
// starts after the first "&body=" (ASCII case ignored), or at the start when
// there is none. Bytes 0..32 and 127, ";", "<" and ">" become "%" and two
// upper-case hex digits; a "%" stays when two hex digits follow it, else it
// becomes "%25"; an "&" or "?" stays when "body", "subject", "cc" or "bcc"
// follows it (case ignored), else it is encoded. Last, an address enclosed
// in double quotes loses them.
std::string MakeEmailUrlSafe(std::string_view url);

// Start results, numbered as the system's program-start results: above 32
// is success, 0..32 a failure with a text of ShellErrorText.
inline constexpr int kShellStarted = 42;
// What Run answers when the value was refused (a message or beep is given).
inline constexpr int kLinkNotOpened = -1;

// The message text for a failed start `result` (ends with "File:|").
std::string_view ShellErrorText(int result);

// The start result for an errno value of the launch seam (0 is success).
int ShellResultOfErrno(int err);

// The reason shown for a refused value.
std::string_view LinkRefusalText(LinkRefusal refusal);

// The caption of the refusal message.
inline constexpr char kLinkNotOpenedCaption[] = "Link Not Opened";
// The caption of the start failure message.
inline constexpr char kShellErrorCaption[] = "Shell Execute Error:";
// The program that opens every address.
inline constexpr char kLinkOpener[] = "xdg-open";

// Filled into HYPERBROWSER / HYPEREMAIL when the desktop names no program.
inline constexpr char kNoBrowserFound[] = "No Browser found in the registry.";
inline constexpr char kNoEmailFound[] = "No Email program found";

// A registered link (an entry of ITEMQ): a control whose event opens the
// text of SOURCE (the control itself when 0) as a link.
struct LinkItem {
  int32_t CONTROL = 0;
  int32_t COLUMN = 0;  // a list's column; 0 for other controls (lists are not served yet)
  int32_t SOURCE = 0;
  int32_t NORMALCOLOR = -1;    // 0xBBGGRR; -1 the toolkit's
  int32_t BRIGHTCOLOR = -1;    // while the mouse is over it
  int32_t INACTIVECOLOR = -1;  // while it is disabled
  int32_t STYLE = 0;           // font style bits (kFont... of ui/toolkit.h)
  uint8_t UNDERLINE = 0;
  int32_t EVENT = 0;   // the event that opens it; 0: EVENT:Accepted
  std::string CURSOR;  // "" the handler's HANDCURSORTOUSE
  int32_t NORMALSTYLE = 0;
  uint8_t STANDARDAPPEARANCE = 0;  // leave colours and style alone
  uint8_t SKYPEACTION = 0;         // not served: only web and mail links open
};

// A control whose colour is changed while the mouse is over it.
struct LinkTracker {
  int32_t FEQ = 0;
  int32_t OLDCOLOR = 0;
};

class LinkWright {
 public:
  LinkWright() = default;
  virtual ~LinkWright() = default;
  LinkWright(const LinkWright&) = delete;
  LinkWright& operator=(const LinkWright&) = delete;

  // Prepares the object for its window. Starts nothing and reads nothing:
  // the program names are looked up when a trace first needs them.
  virtual void Init();
  // The same, for the links of `window` (which must outlive the handler's
  // use of it).
  void Init(Window* window);
  virtual void Kill();

  // Registers a link.
  void AddItem(const LinkItem& item);
  // Gives every link its cursor, colour and style; the window manager calls
  // it on EVENT:OpenWindow.
  void PrepareControls();
  // The handler's part of the thread's current event: the mouse entering or
  // leaving a link changes its colour; a link's event opens the text of its
  // source. Never consumes the event (SeverityNone).
  Severity TakeEvent();

  // The address in `text`: PrepareLink's url, or "" when it is refused.
  std::string ExtractUrl(std::string_view text) const;

  // Opens `address`: checks and prepares it, encodes an e-mail address when
  // ENCODEEMAILS is set, starts {"xdg-open", URLTORUN} and reports a failed
  // start with ReportShellError. Returns the start result (above 32:
  // started), or kLinkNotOpened when the value was refused (a message says
  // why; a blank value only beeps).
  virtual int Run(std::string_view address);

  // Percent-encodes URLTORUN in place (see the free MakeEmailUrlSafe).
  void MakeEmailUrlSafe();

  // Shows the start failure `result` for `file` under "Shell Execute
  // Error:" with an OK button; results above 32 show nothing.
  virtual void ReportShellError(int result, std::string_view file);

  // Writes `text` to the trace when DEBUGON (evaluated once, see above).
  void Trace(std::string_view text);
  // Where the trace goes (nullptr: standard error).
  void SetTraceStream(std::ostream* out) { trace_out_ = out; }

  // The desktop's default browser and mail program, looked up on first use
  // unless the application set them; the "not found" texts when none.
  const std::string& Browser();
  const std::string& EmailProgram();

  std::string HYPERBROWSER;  // CSTRING(256); trace only
  std::string HYPEREMAIL;    // CSTRING(256); trace only
  int32_t HANDCURSOR = 0;
  std::string LISTURL;  // STRING(4096)
  uint8_t INITED = 0;
  std::string URLTORUN;     // STRING(4096)
  std::string OPENPROGRAM;  // CSTRING(256)
  uint8_t CHECKURLS = 0;
  uint8_t ENCODEEMAILS = 0;
  int32_t LASTFIELDSELECTED = 0;
  std::string HANDCURSORTOUSE;  // STRING(255)
  int32_t LIMITURL = static_cast<int32_t>(kMaxLinkBytes);
  uint8_t DEBUGSET = 0;
  uint8_t DEBUGON = 0;
  uint8_t TRYTOSTARTINEXISTINGWINDOW = 0;
  std::vector<LinkItem> ITEMQ;
  std::vector<LinkTracker> TRACKERQ;

 private:
  // Evaluates the trace switches once.
  void EvaluateDebug();
  // Fills `field` from `xdg-mime query default <mime>`, or `missing`.
  void LookUpProgram(std::string* field, const char* mime, const char* missing);

  const LinkItem* FindItem(int32_t control) const;

  Window* window_ = nullptr;
  bool trace_registry_ = false;
  std::ostream* trace_out_ = nullptr;
};

}  // namespace qzr

#endif  // QZR_ADDONS_LINK_WRIGHT_H_
