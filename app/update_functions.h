// The update form: one catalogue entry added, changed or looked at, and the
// delete of an entry (which shows no window).
//
// The browse puts the request (1 insert, 2 change, 3 delete, 6 view) into
// PendingRequest, with the entry in FUNC's record buffer for a change, a
// view or a delete, and calls update_functions(); the answer (1 completed,
// 2 cancelled) comes back in LastResponse.
//
// The window ("Update Information", its caption replaced by "Record Will Be
// Added", "Record Will Be Changed" or "View Record") shows the title, the
// description, the forum link with its "Goto Web" button, the code (the
// desktop shows it in the code editor: a fixed-font text control) and the
// "Working Code (Complete Example)" box, with Save and Cancel. Ctrl+H in any
// of the five fields recalls its value from the last completed form (kept
// per thread), also after a save that failed.
//
// Capacities are bytes of UTF-8: title 99, description 1,023, link 254,
// code 64,000, from the fields the controls are bound to. Typing or pasting
// beyond them is refused at a character boundary, with a beep, on the
// desktop and headless; a text that is longer anyway (from a window system
// that does not limit input) is never cut at save: Save says which field
// is too long and leaves the form open with the text as it is.
//
// In view mode every field is read-only (the check box too), Save and
// Cancel close the form, and the answer is cancelled.
//
// Threads: runs on the thread that calls it, over that thread's FUNC and
// managers.

#ifndef QZR_APP_UPDATE_FUNCTIONS_H_
#define QZR_APP_UPDATE_FUNCTIONS_H_

#include <cstddef>
#include <cstdint>

#include "ui/window_def.h"

namespace qzr {

// Controls of the form, numbered as the window resource numbers them.
inline constexpr int kUfCurrentTab = 1;
inline constexpr int kUfTab1 = 2;
inline constexpr int kUfNamePrompt = 3;
inline constexpr int kUfName = 4;
inline constexpr int kUfString1 = 5;
inline constexpr int kUfDescription = 6;
inline constexpr int kUfString2 = 7;
inline constexpr int kUfForumLink = 8;
inline constexpr int kUfGotoWeb = 9;
inline constexpr int kUfString3 = 10;
inline constexpr int kUfExampleCode = 11;
inline constexpr int kUfFullCode = 12;
inline constexpr int kUfOk = 13;
inline constexpr int kUfCancel = 14;

// Captions by request.
inline constexpr char kCaptionInsert[] = "Record Will Be Added";
inline constexpr char kCaptionChange[] = "Record Will Be Changed";
inline constexpr char kCaptionView[] = "View Record";

// The caption of the message about a text longer than its field.
inline constexpr char kTooLongCaption[] = "Text Too Long";

// The form's window resource ("qzrfunctions$qzrfunctions002").
const WindowDef& UpdateFunctionsWindow();

// The form procedure (above).
void update_functions();

}  // namespace qzr

#endif  // QZR_APP_UPDATE_FUNCTIONS_H_
