// The error manager: message table, placeholder substitution, severity
// handlers, logging, history and display.

#include "framework/error_manager.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "framework/error_keeper.h"
#include "framework/error_window.h"
#include "framework/message_table.h"
#include "runtime/core/runtime_error.h"
#include "runtime/core/text.h"
#include "runtime/evaluator/date_builtins.h"
#include "runtime/pictures/picture.h"
#include "ui/message.h"

namespace qzr {
namespace {

std::string Cut(std::string_view text, size_t max) {
  return std::string(Utf8Cut(text, max));
}

// Copies `text` into a CSTRING(N) field: at most N - 1 bytes and a NUL.
template <size_t N>
void SetCString(char (&field)[N], std::string_view text) {
  size_t len = Utf8Cut(text, N - 1).size();
  std::memcpy(field, text.data(), len);
  std::memset(field + len, 0, N - len);
}

template <size_t N>
std::string_view CString(const char (&field)[N]) {
  return std::string_view(field, strnlen(field, N));
}

// A length-prefixed text of a message table.
std::string_view PText(const uint8_t* p) {
  if (p == nullptr) return {};
  return std::string_view(reinterpret_cast<const char*>(p + 1), p[0]);
}

thread_local ErrorStatus t_status;
thread_local std::string t_runtime_status;

// A small number per thread, for PROCNAMES: the first thread to ask gets 1.
int32_t CallingThreadNumber() {
  static std::atomic<int32_t> next{1};
  thread_local int32_t number = next.fetch_add(1);
  return number;
}

void AppendRuntimeStatus(std::string_view note) {
  constexpr size_t kRuntimeStatusSize = 255;
  size_t room = kRuntimeStatusSize - std::min(kRuntimeStatusSize, t_runtime_status.size());
  t_runtime_status.append(Utf8Cut(note, room));
}

// Writes a whole text into the substitution buffer, up to its size.
class Buffer {
 public:
  void Add(std::string_view text) {
    if (full_) return;
    size_t room = kMessageBufferSize - out_.size();
    if (text.size() > room) {
      full_ = true;
      text = Utf8Cut(text, room);
    }
    out_.append(text);
  }
  std::string Take() { return std::move(out_); }

 private:
  std::string out_;
  bool full_ = false;
};

}  // namespace

ErrorStatus& FileStatus() {
  return t_status;
}

std::string RuntimeStatusText() {
  return t_runtime_status;
}
void ClearRuntimeStatusText() {
  t_runtime_status.clear();
}

// ---------------------------------------------------------------------------
// Life cycle and tables.

ErrorManager::ErrorManager() = default;

ErrorManager::~ErrorManager() {
  Kill();
}

void ErrorManager::Init() {
  {
    std::lock_guard<std::recursive_mutex> lock(CRITSECT);
    if (!STDERRORLOG) STDERRORLOG = std::make_unique<StandardErrorLog>();
    DEFAULTCATEGORY = kDefaultMessageCategory;
    if (ERRORS) FREE(ERRORS.get());
    if (HISTORY) FREE(HISTORY.get());
    if (PROCNAMES) FREE(PROCNAMES.get());
    tables_.clear();
    HISTORYTHRESHOLD = 0;
    HISTORYVIEWLEVEL = 3;
    HISTORYRESETONVIEW = 0;
  }
  InitLog(STDERRORLOG.get());
}

void ErrorManager::InitLog(ErrorLogInterface* error_log) {
  std::lock_guard<std::recursive_mutex> lock(CRITSECT);
  ERRORLOG = error_log;
  if (!ERRORS) {
    ERRORS = std::make_unique<Queue<ErrorEntry>>();
    ERRORS->Field("ID", &ErrorEntry::ID);
    ERRORS->Field("MESSAGE", &ErrorEntry::MESSAGE);
    ERRORS->Field("TITLE", &ErrorEntry::TITLE);
    ERRORS->Field("FATALITY", &ErrorEntry::FATALITY);
    ERRORS->Field("CATEGORY", &ErrorEntry::CATEGORY, TypeCode::CSTRING);
    // Lookups go by number: keep the order sorted by it, so each lookup is
    // a binary search and each added entry goes to its place.
    SORT(ERRORS.get(), "ID");
  }
  AppendDecoded(BuiltInMessageTable());
  if (!PROCNAMES) {
    PROCNAMES = std::make_unique<Queue<ProcNameEntry>>();
    PROCNAMES->Field("THREAD", &ProcNameEntry::THREAD);
    PROCNAMES->Field("NAME", &ProcNameEntry::NAME, TypeCode::CSTRING);
  }
  if (!HISTORY) {
    HISTORY = std::make_unique<Queue<HistoryEntry>>();
    HISTORY->Field("CATEGORY", &HistoryEntry::CATEGORY, TypeCode::CSTRING);
    HISTORY->Field("TXT", &HistoryEntry::TXT, TypeCode::CSTRING);
    HISTORY->Field("ID", &HistoryEntry::ID);
  }
}

void ErrorManager::Kill() {
  std::lock_guard<std::recursive_mutex> lock(CRITSECT);
  ERRORS.reset();
  HISTORY.reset();
  PROCNAMES.reset();
  tables_.clear();
  ERRORLOG = nullptr;
  STDERRORLOG.reset();
}

int32_t ErrorManager::FindEntry(int32_t id) {
  if (!ERRORS) return 0;
  ERRORS->record.ID = id;
  GET(ERRORS.get(), "ID");
  return ERRORCODE() == 0 ? POINTER(ERRORS.get()) : 0;
}

bool ErrorManager::AppendDecoded(std::span<const uint8_t> table) {
  std::vector<MessageTableEntry> entries;
  if (!DecodeMessageTable(table, &entries)) return false;
  RuntimeErrorKeeper keep;  // queue operations post; callers' errors stay
  // A table going into an empty queue (the built-in one at start-up) is
  // taken in number order, the last of a repeated number only (as replacing
  // would leave it): each entry then goes at the end of the queue's number
  // order, with nothing to look up or replace.
  const bool append = RECORDS(ERRORS.get()) == 0;
  if (append) {
    std::stable_sort(entries.begin(), entries.end(),
                     [](const MessageTableEntry& a, const MessageTableEntry& b) {
                       return a.id < b.id;
                     });
    size_t kept = 0;
    for (const MessageTableEntry& e : entries) {
      if (kept > 0 && entries[kept - 1].id == e.id) --kept;
      entries[kept++] = e;
    }
    entries.resize(kept);
  }
  for (const MessageTableEntry& e : entries) {
    // The texts sit right after their length bytes in `table`.
    const uint8_t* title = reinterpret_cast<const uint8_t*>(e.title.data()) - 1;
    const uint8_t* message = reinterpret_cast<const uint8_t*>(e.message.data()) - 1;
    if (!append && FindEntry(e.id) != 0) {
      ERRORS->record.MESSAGE = message;
      ERRORS->record.TITLE = title;
      ERRORS->record.FATALITY = e.severity;
      ERRORS->record.CATEGORY[0] = '\0';
      PUT(ERRORS.get());
      continue;
    }
    ErrorEntry& r = ERRORS->record;
    r = ErrorEntry{};
    r.ID = e.id;
    r.MESSAGE = message;
    r.TITLE = title;
    r.FATALITY = e.severity;
    if (append) {
      ADD(ERRORS.get(), RECORDS(ERRORS.get()) + 1);
    } else {
      ADD(ERRORS.get(), "ID");
    }
  }
  return true;
}

bool ErrorManager::AppendMessages(std::span<const uint8_t> table) {
  std::lock_guard<std::recursive_mutex> lock(CRITSECT);
  if (!ERRORS) InitLog(ERRORLOG);
  std::span<const uint8_t> builtin = BuiltInMessageTable();
  if (table.data() == builtin.data() && table.size() == builtin.size()) return AppendDecoded(table);
  std::vector<MessageTableEntry> check;
  if (!DecodeMessageTable(table, &check)) return false;
  auto copy = std::make_unique<uint8_t[]>(table.size());
  std::memcpy(copy.get(), table.data(), table.size());
  std::span<const uint8_t> kept(copy.get(), table.size());
  tables_.push_back(std::move(copy));
  return AppendDecoded(kept);
}

void ErrorManager::SetMessageCategory(int32_t id, std::string_view text) {
  std::lock_guard<std::recursive_mutex> lock(CRITSECT);
  if (id == kDefaultCategoryId) {
    DEFAULTCATEGORY = std::string(text);
    return;
  }
  RuntimeErrorKeeper keep;
  if (FindEntry(id) == 0) return;
  SetCString(ERRORS->record.CATEGORY, text);
  PUT(ERRORS.get());
}

std::string ErrorManager::GetMessageCategory(int32_t id) {
  std::lock_guard<std::recursive_mutex> lock(CRITSECT);
  if (id == kDefaultCategoryId) return DEFAULTCATEGORY;
  RuntimeErrorKeeper keep;
  if (FindEntry(id) == 0) return std::string();
  std::string_view category = CString(ERRORS->record.CATEGORY);
  return category.empty() ? DEFAULTCATEGORY : std::string(category);
}

// ---------------------------------------------------------------------------
// The error context.

void ErrorManager::SetField(std::string_view name) {
  t_status.FIELDNAME = Cut(name, kStatusTextSize - 1);
}
void ErrorManager::SetFile(std::string_view name) {
  t_status.FILENAME = Cut(name, kStatusTextSize - 1);
}
void ErrorManager::SetKey(std::string_view name) {
  t_status.KEYNAME = Cut(name, kStatusTextSize - 1);
}
void ErrorManager::SetMessageText(std::string_view text) {
  t_status.MESSAGETEXT = Cut(text, kStatusTextSize - 1);
}

void ErrorManager::CaptureRuntimeError() {
  t_status.SAVEERRORCODE = ERRORCODE();
  t_status.SAVEERROR = Cut(ERROR(), kStatusTextSize - 1);
  t_status.SAVEFILEERRORCODE = Cut(FILEERRORCODE(), kStatusTextSize - 1);
  t_status.SAVEFILEERROR = Cut(FILEERROR(), kStatusTextSize - 1);
}

// ---------------------------------------------------------------------------
// Throwing.

void ErrorManager::MakeCurrent(int32_t id) {
  ErrorStatus& st = t_status;
  std::lock_guard<std::recursive_mutex> lock(CRITSECT);
  RuntimeErrorKeeper keep;
  st.PREVERRORID = st.ERRORBUFFER.ID;
  ErrorBufferEntry& buf = st.ERRORBUFFER;
  if (FindEntry(id) != 0) {
    const ErrorEntry& e = ERRORS->record;
    buf.ID = e.ID;
    buf.MESSAGE = std::string(PText(e.MESSAGE));
    buf.TITLE = std::string(PText(e.TITLE));
    buf.FATALITY = e.FATALITY;
    buf.CATEGORY = std::string(CString(e.CATEGORY));
  } else {
    buf.ID = id;
    buf.MESSAGE = "Unknown error number " + std::to_string(id) + ".";
    buf.TITLE = "Unknown Error";
    buf.FATALITY = SeverityInform;
    buf.CATEGORY.clear();
  }
}

int ErrorManager::Ask(int32_t id, int buttons, int default_button) {
  MakeCurrent(id);
  const ErrorBufferEntry& buf = t_status.ERRORBUFFER;
  return Message(SubstitutedMessage(), buf.TITLE, kIconExclamation, buttons, default_button,
                 MSGSTYLE);
}

Severity ErrorManager::Throw(int32_t id) {
  ErrorStatus& st = t_status;
  MakeCurrent(id);
  switch (st.ERRORBUFFER.FATALITY) {
    case SeverityNone:
      return HandleNone();
    case SeverityQuestion:
    case SeverityDeclined:
      return HandleQuestion();
    case SeverityInternal:
      return HandleInternal();
    case SeverityHalt:
      return HandleHalt();
    case SeverityInform:
      return HandleInform();
    default:
      return HandleOther();
  }
}

Severity ErrorManager::CaptureAndThrow(int32_t id) {
  CaptureRuntimeError();
  return Throw(id);
}

Severity ErrorManager::ThrowWithText(int32_t id, std::string_view text) {
  SetMessageText(text);
  return CaptureAndThrow(id);
}

Severity ErrorManager::HandleNone() {
  return SeverityNone;
}

Severity ErrorManager::HandleQuestion() {
  const ErrorBufferEntry& buf = t_status.ERRORBUFFER;
  int answer = Message(SubstitutedMessage(), buf.TITLE, kIconExclamation, kButtonYes | kButtonNo,
                       kButtonYes, MSGSTYLE);
  return answer == kButtonYes ? SeverityNone : SeverityDeclined;
}

Severity ErrorManager::HandleInternal() {
  return HandleHalt();
}

Severity ErrorManager::HandleHalt() {
  const ErrorBufferEntry& buf = t_status.ERRORBUFFER;
  Message(SubstitutedMessage() + kHaltSuffix, buf.TITLE, kIconAsterisk, kButtonOk, kButtonOk,
          MSGSTYLE);
  Halt(kHaltExitCode);
  return SeverityHalt;
}

Severity ErrorManager::HandleInform() {
  const ErrorBufferEntry& buf = t_status.ERRORBUFFER;
  Message(SubstitutedMessage(), buf.TITLE, kIconAsterisk, kButtonOk, kButtonOk, MSGSTYLE);
  return SeverityInform;
}

Severity ErrorManager::HandleOther() {
  return HandleHalt();
}

void ErrorManager::Halt(int exit_code) {
  std::function<void(int)> hook;
  {
    std::lock_guard<std::recursive_mutex> lock(CRITSECT);
    hook = halt_hook_;
  }
  if (hook) {
    hook(exit_code);
    return;
  }
  std::exit(exit_code);
}

void ErrorManager::SetHaltHook(std::function<void(int exit_code)> hook) {
  std::lock_guard<std::recursive_mutex> lock(CRITSECT);
  halt_hook_ = std::move(hook);
}

// ---------------------------------------------------------------------------
// Substitution.

std::string ErrorManager::SubstitutedMessage() {
  return Substitute(t_status.ERRORBUFFER.MESSAGE);
}

std::string ErrorManager::Substitute(std::string_view message) {
  const ErrorStatus& st = t_status;

  // What needs the tables, looked up once under the lock.
  bool has_procedure = false;
  std::string procedure;
  std::string previous;
  std::string category;
  if (message.find('%') != std::string_view::npos) {
    std::lock_guard<std::recursive_mutex> lock(CRITSECT);
    RuntimeErrorKeeper keep;
    if (PROCNAMES) {
      int32_t me = CallingThreadNumber();
      for (int32_t i = RECORDS(PROCNAMES.get()); i >= 1; --i) {
        GET(PROCNAMES.get(), i);
        if (PROCNAMES->record.THREAD == me) {
          has_procedure = true;
          procedure = std::string(CString(PROCNAMES->record.NAME));
          break;
        }
      }
    }
    if (st.PREVERRORID != 0 && FindEntry(st.PREVERRORID) != 0)
      previous = std::string(PText(ERRORS->record.MESSAGE));
    category = st.ERRORBUFFER.CATEGORY.empty() ? DEFAULTCATEGORY : st.ERRORBUFFER.CATEGORY;
  }

  std::string error_text;
  if (st.SAVEERRORCODE == kFileSystemError || st.SAVEERRORCODE == 100)
    error_text = st.SAVEFILEERROR + " (" + st.SAVEFILEERRORCODE + ")";
  else
    error_text = st.SAVEERROR + " (" + std::to_string(st.SAVEERRORCODE) + ")";

  // One pass over the message. At each "%" the tokens are tried in this
  // order, so a longer token wins over the shorter one it begins with
  // ("%FileErrorCode" before "%FileError" before "%File"). The values are
  // copied as they are and never scanned again.
  struct Token {
    std::string_view name;
    const std::string* value;  // nullptr: handled below
  };
  const std::string code_text = std::to_string(st.SAVEERRORCODE);
  const Token tokens[] = {
      {"%FileErrorCode", &st.SAVEFILEERRORCODE},
      {"%FileError", &st.SAVEFILEERROR},
      {"%File", &st.FILENAME},
      {"%Key", &st.KEYNAME},
      {"%ErrorCode", &code_text},
      {"%ErrorText", &error_text},
      {"%Error", &st.SAVEERROR},
      {"%Message", &st.MESSAGETEXT},
      {"%Field", &st.FIELDNAME},
      {"%Procedure", has_procedure ? &procedure : nullptr},
      {"%Category", &category},
      {"%Previous", &previous},
  };

  Buffer out;
  size_t at = 0;
  while (at < message.size()) {
    size_t pct = message.find('%', at);
    if (pct == std::string_view::npos) {
      out.Add(message.substr(at));
      break;
    }
    out.Add(message.substr(at, pct - at));
    std::string_view rest = message.substr(pct);
    const Token* hit = nullptr;
    for (const Token& t : tokens) {
      if (rest.substr(0, t.name.size()) == t.name) {
        hit = &t;
        break;
      }
    }
    if (hit == nullptr) {
      out.Add("%");
      at = pct + 1;
      continue;
    }
    // "%Procedure" on a thread that pushed no name stays in the text.
    out.Add(hit->value != nullptr ? std::string_view(*hit->value) : hit->name);
    at = pct + hit->name.size();
  }
  return out.Take();
}

// ---------------------------------------------------------------------------
// Display, log and history.

void ErrorManager::LogLine(std::string_view text) {
  // REQUIRES: CRITSECT held.
  if (ERRORLOG == nullptr) return;
  RuntimeErrorKeeper keep;
  static const CompiledPicture kDatePicture = CompilePicture("@D17");
  static const CompiledPicture kTimePicture = CompilePicture("@T8");
  std::string line = FormatDate(kDatePicture, TODAY());
  line += '@';
  line += FormatTime(kTimePicture, CLOCK());
  line += " --> ";
  line += text;
  // Nothing was opened when the open fails, so there is nothing to write
  // to or close.
  if (ERRORLOG->OpenLog(false) != SeverityNone) {
    AppendRuntimeStatus("Unable to Open error log; ");
    return;
  }
  if (ERRORLOG->WriteLog(line) != SeverityNone) AppendRuntimeStatus("Unable to update error log; ");
  if (ERRORLOG->CloseLog(false) != SeverityNone) AppendRuntimeStatus("Unable to close error log; ");
}

std::string ErrorManager::HistoryListText() {
  std::string list;
  if (!HISTORY) return list;
  RuntimeErrorKeeper keep;
  int32_t n = RECORDS(HISTORY.get());
  for (int32_t i = 1; i <= n; ++i) {
    GET(HISTORY.get(), i);
    std::string txt(CString(HISTORY->record.TXT));
    // One entry a line: its own line breaks become blanks.
    for (char& c : txt) {
      if (c == '|') c = ' ';
    }
    if (!list.empty()) list += '|';
    list += txt;
    std::string_view category = CString(HISTORY->record.CATEGORY);
    if (!category.empty()) {
      list += "  [";
      list += category;
      list += ']';
    }
  }
  return list;
}

int ErrorManager::Message(std::string_view text, std::string_view caption, int icon, int buttons,
                          int default_button, int style) {
  const ErrorBufferEntry& buf = t_status.ERRORBUFFER;
  const int32_t threshold = HISTORYTHRESHOLD;
  const int offered = buttons & kAllButtons;
  // More than one button: the user is asked something, and only the user
  // may answer it.
  const bool question = (offered & (offered - 1)) != 0;
  ErrorWindowRequest shown;
  std::string history_text;
  bool show_history = false;
  {
    std::lock_guard<std::recursive_mutex> lock(CRITSECT);
    if (LOGERRORS) LogLine(text);
    if (threshold != 0 && HISTORY) {
      RuntimeErrorKeeper keep;
      if (threshold > 0) {
        while (RECORDS(HISTORY.get()) > 0 && RECORDS(HISTORY.get()) >= threshold)
          DELETE(HISTORY.get(), 1);
      }
      HistoryEntry& r = HISTORY->record;
      r = HistoryEntry{};
      SetCString(r.TXT, text);
      r.ID = static_cast<int16_t>(buf.ID);
      SetCString(r.CATEGORY, buf.CATEGORY.empty() ? std::string_view(DEFAULTCATEGORY)
                                                  : std::string_view(buf.CATEGORY));
      ADD(HISTORY.get());
      if (!SILENT && (buf.FATALITY == HISTORYVIEWLEVEL || question)) {
        show_history = true;
        history_text = HistoryListText();
        int32_t n = RECORDS(HISTORY.get());
        for (int32_t i = 1; i <= n; ++i) {
          GET(HISTORY.get(), i);
          shown.history.push_back({std::string(CString(HISTORY->record.TXT)),
                                   std::string(CString(HISTORY->record.CATEGORY))});
        }
      }
    }
  }
  if (SILENT) return default_button;
  if (threshold == 0) return MessageBox(text, caption, icon, buttons, default_button, style);
  // With a history, messages of the view level (and questions) are shown
  // together with the history; the rest are only kept.
  if (!show_history) return default_button;
  shown.text = std::string(text);
  shown.caption = std::string(caption);
  shown.icon = icon;
  shown.buttons = buttons;
  shown.default_button = default_button;
  int pressed = 0;
  if (!ShowErrorWindow(shown, &pressed)) {
    std::string stand_in(text);
    stand_in += "||";
    stand_in += history_text;
    pressed = MessageBox(stand_in, caption, icon, buttons, default_button, style);
  }
  if (HISTORYRESETONVIEW) {
    std::lock_guard<std::recursive_mutex> lock(CRITSECT);
    RuntimeErrorKeeper keep;
    if (HISTORY) FREE(HISTORY.get());
  }
  return pressed;
}

void ErrorManager::ShowHistory() {
  std::string list;
  {
    std::lock_guard<std::recursive_mutex> lock(CRITSECT);
    list = HistoryListText();
  }
  if (SILENT) return;
  MessageBox(list, kHistoryCaption, kIconAsterisk, kButtonOk, kButtonOk, MSGSTYLE);
  if (HISTORYRESETONVIEW) {
    std::lock_guard<std::recursive_mutex> lock(CRITSECT);
    RuntimeErrorKeeper keep;
    if (HISTORY) FREE(HISTORY.get());
  }
}

// ---------------------------------------------------------------------------
// Procedure names.

void ErrorManager::PushProcedureName(std::string_view name) {
  std::lock_guard<std::recursive_mutex> lock(CRITSECT);
  if (!PROCNAMES) return;
  RuntimeErrorKeeper keep;
  ProcNameEntry& r = PROCNAMES->record;
  r = ProcNameEntry{};
  r.THREAD = CallingThreadNumber();
  SetCString(r.NAME, name);
  ADD(PROCNAMES.get());
}

void ErrorManager::PopProcedureName() {
  std::lock_guard<std::recursive_mutex> lock(CRITSECT);
  if (!PROCNAMES) return;
  RuntimeErrorKeeper keep;
  int32_t me = CallingThreadNumber();
  for (int32_t i = RECORDS(PROCNAMES.get()); i >= 1; --i) {
    GET(PROCNAMES.get(), i);
    if (PROCNAMES->record.THREAD == me) {
      DELETE(PROCNAMES.get(), i);
      return;
    }
  }
}

}  // namespace qzr
