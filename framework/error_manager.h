// ErrorManager: turns a framework error number into a message and a
// decision, and the per-thread error status it reads the message's context
// from.
//
// Callers name an error by number, set what the message should mention
// (field, file, key, a free text; the runtime error captured at the moment
// of failure) and call Throw. The manager looks the number up in its message
// table (ERRORS, loaded from the built-in table of framework/message_table.h
// and any tables the program appends), substitutes the placeholders, and
// dispatches on the entry's severity to one of the overridable handlers:
// nothing shown, a Yes/No question, information, or a halt that ends the
// program. Every message shown goes through Message, which can log it
// (LOGERRORS, through ERRORLOG), keep it in a history (HISTORYTHRESHOLD) and
// shows it through the window-system seam unless SILENT is set.
//
// Threads. One manager serves the whole program. Its tables, the history,
// the procedure-name stack and the log are touched only inside CRITSECT; the
// scalar settings are atomics, so a thread may set them at any time. The
// error context is per thread (FileStatus), so threads never mix their
// errors; PROCNAMES entries carry the pushing thread's number, so each
// thread sees its own procedure. Messages are shown outside the lock: a
// question waiting for the user does not hold other threads up.

#ifndef QZR_FRAMEWORK_ERROR_MANAGER_H_
#define QZR_FRAMEWORK_ERROR_MANAGER_H_

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "framework/severity.h"
#include "framework/standard_error_log.h"
#include "runtime/values/queue.h"

namespace qzr {

// The category of an entry that names none, and the id that means "the
// default category" to SetMessageCategory and GetMessageCategory.
inline constexpr char kDefaultMessageCategory[] = "KFW";
inline constexpr int32_t kDefaultCategoryId = 0xFFFF;

// The substitution buffer: a substituted message is cut at this many bytes
// (never inside a UTF-8 sequence), whatever the values put into it.
inline constexpr size_t kMessageBufferSize = 2000;

// Texts of the error status are CSTRING(255): at most 254 bytes.
inline constexpr size_t kStatusTextSize = 255;

// Appended to a halt-level message.
inline constexpr char kHaltSuffix[] = "  Press OK to end this application";

// Caption of the history display.
inline constexpr char kHistoryCaption[] = "Errors History";

// The exit code of a program ended by a halt-level error: it ended on an
// error, so a caller of the program should see a failure.
inline constexpr int kHaltExitCode = 1;

// An entry of ERRORS. MESSAGE and TITLE point at length-prefixed texts
// inside a table the manager keeps (the built-in table is referenced in
// place, appended tables are copied), so loading a table copies no text.
struct ErrorEntry {
  int32_t ID;
  const uint8_t* MESSAGE;
  const uint8_t* TITLE;
  uint8_t FATALITY;
  char CATEGORY[256];  // CSTRING(256); empty: DEFAULTCATEGORY
};

// An entry of HISTORY.
struct HistoryEntry {
  char CATEGORY[256];  // CSTRING(256)
  char TXT[1024];      // CSTRING(1024): the substituted message
  int16_t ID;
};

// An entry of PROCNAMES.
struct ProcNameEntry {
  int32_t THREAD;
  char NAME[256];  // CSTRING(256)
};

// The table entry of the error being presented, as ERRORBUFFER keeps it.
struct ErrorBufferEntry {
  int32_t ID = 0;
  std::string MESSAGE;
  std::string TITLE;
  uint8_t FATALITY = 0;
  std::string CATEGORY;
};

// The error context of one thread.
struct ErrorStatus {
  std::string FIELDNAME;
  std::string FILENAME;
  std::string KEYNAME;
  std::string MESSAGETEXT;
  std::string SAVEERROR;          // the runtime error's text
  int32_t SAVEERRORCODE = 0;      // the runtime error's code
  std::string SAVEFILEERROR;      // the driver's own error text
  std::string SAVEFILEERRORCODE;  // the driver's own error code
  ErrorBufferEntry ERRORBUFFER;
  int32_t PREVERRORID = 0;

  // Back to the state of a new thread.
  void Clear() { *this = ErrorStatus(); }
};

// The calling thread's error status (FileStatus): made on the thread's first
// use, gone with the thread.
ErrorStatus& FileStatus();

// The calling thread's runtime status text: where failures that must not be
// shown (the error log's) are noted. At most 255 bytes; later notes are cut.
std::string RuntimeStatusText();
void ClearRuntimeStatusText();

class ErrorManager {
 public:
  ErrorManager();
  virtual ~ErrorManager();

  ErrorManager(const ErrorManager&) = delete;
  ErrorManager& operator=(const ErrorManager&) = delete;

  // Creates STDERRORLOG when there is none; DEFAULTCATEGORY "KFW"; empties
  // the tables, the history and the procedure names; HISTORYTHRESHOLD 0,
  // HISTORYVIEWLEVEL 3, HISTORYRESETONVIEW 0; then InitLog(STDERRORLOG).
  virtual void Init();
  // ERRORLOG := `error_log` (not owned; may be null: nothing is logged);
  // creates the queues that are missing and appends the built-in table.
  virtual void InitLog(ErrorLogInterface* error_log);
  // Releases the queues and STDERRORLOG. Init makes the manager usable
  // again. The destructor calls it.
  virtual void Kill();

  // Appends the entries of `table` (the format of message_table.h) with an
  // empty category. An entry whose number is already in ERRORS replaces it,
  // so a program can reword a framework message. Returns false, appending
  // nothing, when `table` is not a well-formed table. The bytes are copied
  // (except the built-in table's), so the caller need not keep them; the
  // copies live until the next Init or Kill.
  bool AppendMessages(std::span<const uint8_t> table);

  // kDefaultCategoryId sets DEFAULTCATEGORY; another id sets that entry's
  // category (cut to 255 bytes; an unknown id does nothing).
  void SetMessageCategory(int32_t id, std::string_view text);
  // kDefaultCategoryId: DEFAULTCATEGORY. An entry: its category, or
  // DEFAULTCATEGORY when it has none. An unknown id: "".
  std::string GetMessageCategory(int32_t id);

  // The context of the next message, in the calling thread's status. Texts
  // are cut to 254 bytes.
  void SetField(std::string_view name);
  void SetFile(std::string_view name);
  void SetKey(std::string_view name);
  void SetMessageText(std::string_view text);
  // Copies the calling thread's runtime error (ERRORCODE, ERROR,
  // FILEERRORCODE, FILEERROR) into the status.
  void CaptureRuntimeError();

  // Presents error `id` with the thread's status as it stands and returns
  // the handler's Severity: SeverityNone for a severity-0 entry or a
  // question answered Yes, SeverityDeclined for No, SeverityInform after
  // information, SeverityHalt after a halt (when the halt hook returns).
  // An unknown number is presented as information ("Unknown Error") rather
  // than ending the program: the user learns of it and the caller goes on.
  virtual Severity Throw(int32_t id);
  Severity CaptureAndThrow(int32_t id);
  Severity ThrowWithText(int32_t id, std::string_view text);

  // Presents error `id` as a question with the set of `buttons` and
  // `default_button` (ui/message.h), whatever the entry's severity, under
  // its title with the exclamation icon, and returns the pressed button
  // (the default when nothing was shown). The error becomes the current one,
  // as with Throw.
  virtual int Ask(int32_t id, int buttons, int default_button);

  // The current error's message (ERRORBUFFER.MESSAGE) with its placeholders
  // substituted from the thread's status.
  std::string SubstitutedMessage();
  // `message` with its placeholders substituted from the thread's status
  // and the current error. Values are put in literally: a file name or a
  // message text that itself contains "%Field" or "%Previous" is shown as
  // it is, never substituted again.
  std::string Substitute(std::string_view message);

  // Logs, keeps in the history and shows `text`; returns the pressed
  // button, or `default_button` when nothing was shown. Button and icon
  // values are those of ui/message.h.
  //
  // With SILENT nothing is shown. With a history kept (HISTORYTHRESHOLD not
  // 0) a message is shown in the error window (framework/error_window.h),
  // with the history list, when its severity is HISTORYVIEWLEVEL, and a
  // question (more than one button) always: nobody's answer is ever taken
  // for granted. Other messages are only kept. Without a history the
  // message box of ui/message.h shows it. Where no window can open (a
  // terminal), the message box stands in for the error window, with the
  // history appended to the text.
  virtual int Message(std::string_view text, std::string_view caption, int icon, int buttons,
                      int default_button, int style);

  // Shows the history under "Errors History" (a list, one message a line)
  // unless SILENT is set; empties it afterwards when HISTORYRESETONVIEW is
  // set.
  virtual void ShowHistory();

  // The calling thread's stack of procedure names, for "%Procedure".
  void PushProcedureName(std::string_view name);
  // Removes the calling thread's latest name; does nothing when it has none.
  void PopProcedureName();

  // The severity handlers Throw dispatches to. Each presents the current
  // error (ERRORBUFFER, SubstitutedMessage()).
  virtual Severity HandleNone();      // severity 0: nothing shown
  virtual Severity HandleQuestion();  // 1 and 4: Yes/No, default Yes
  virtual Severity HandleInternal();  // 2: as HandleHalt
  virtual Severity HandleHalt();      // 3: OK, then Halt(kHaltExitCode)
  virtual Severity HandleInform();    // 5: OK
  virtual Severity HandleOther();     // anything else: as HandleHalt

  // Ends the program: the halt hook when one is set, else std::exit (which
  // runs the program's shut-down). A hook that returns lets the caller go
  // on; tests install one so that no test ends the process.
  virtual void Halt(int exit_code);
  void SetHaltHook(std::function<void(int exit_code)> hook);

  // The calling thread's error status.
  ErrorStatus& STATUS() const { return FileStatus(); }

  // Fields. The queues and ERRORLOG are read and changed only inside
  // CRITSECT; DEFAULTCATEGORY too (SetMessageCategory does so).
  std::string DEFAULTCATEGORY;
  std::unique_ptr<Queue<ErrorEntry>> ERRORS;
  ErrorLogInterface* ERRORLOG = nullptr;
  std::unique_ptr<Queue<HistoryEntry>> HISTORY;
  std::unique_ptr<Queue<ProcNameEntry>> PROCNAMES;
  std::unique_ptr<StandardErrorLog> STDERRORLOG;
  std::atomic<uint8_t> SILENT{0};
  std::atomic<uint8_t> LOGERRORS{0};
  std::atomic<int32_t> HISTORYTHRESHOLD{0};
  std::atomic<int32_t> HISTORYVIEWLEVEL{3};
  std::atomic<uint8_t> HISTORYRESETONVIEW{0};
  std::recursive_mutex CRITSECT;
  std::atomic<int16_t> MSGSTYLE{0};

 private:
  // Makes `id` the calling thread's current error (ERRORBUFFER,
  // PREVERRORID); an unknown number becomes "Unknown Error" information.
  void MakeCurrent(int32_t id);
  // REQUIRES: CRITSECT held. Position of `id` in ERRORS, 0 when absent.
  int32_t FindEntry(int32_t id);
  // REQUIRES: CRITSECT held. Appends decoded entries whose texts live in
  // `table` (kept alive by the caller or tables_).
  bool AppendDecoded(std::span<const uint8_t> table);
  // REQUIRES: CRITSECT held. The history as a list, one entry a line.
  std::string HistoryListText();
  // Writes one log line; failures go to the runtime status text.
  void LogLine(std::string_view text);

  std::vector<std::unique_ptr<uint8_t[]>> tables_;  // copies of appended tables
  std::function<void(int)> halt_hook_;
};

}  // namespace qzr

#endif  // QZR_FRAMEWORK_ERROR_MANAGER_H_
