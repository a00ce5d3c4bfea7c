// The main window's resource ("qzrfunctions$qzrfunctions001", window
// "P1$WINDOW"): its controls, numbered as the resource numbers them, and the
// list's format.
//
// Departures from the resource as it was: the list's columns carry header
// texts ("Title", "Description", "Code", "Forum Link"; the icon column
// none) so that there is something to click to sort by (the sort header
// adds its region over them), the window can be resized, and the code, the
// description, the poster and the link below the list are read-only: they
// show the selected entry, and the update form is where it is edited.
//
// Geometry is in dialog units.
//
// Constant data; safe from any thread.

#ifndef QZR_APP_MAIN_WINDOW_DEF_H_
#define QZR_APP_MAIN_WINDOW_DEF_H_

#include "ui/window_def.h"

namespace qzr {

inline constexpr int kMainSheet = 1;          // ?SHEET1
inline constexpr int kMainTab = 2;            // ?TAB1 "Functions"
inline constexpr int kMainFindButton = 3;     // ?WQTQWKQBE "Find Off" / "Find On"
inline constexpr int kMainFindPrompt = 4;     // ?WQTQKF:FINDSTR:PROMPT "Find:"
inline constexpr int kMainFindEntry = 5;      // ?WQTQKF:FINDSTR, picture s20
inline constexpr int kMainList = 6;           // ?LIST
inline constexpr int kMainCode = 7;           // ?FUN:EXAMPLECODE
inline constexpr int kMainPostedByLabel = 8;  // ?STRING1 "Posted by:"
inline constexpr int kMainUser = 9;           // ?FUN:USER, picture s29
inline constexpr int kMainIgnoreCase = 10;    // ?WQTQKF:UPPERCASE "Ingore Case"
inline constexpr int kMainIncludeMemo = 11;   // ?WQTQKF:INCLUDEMEMO "Include Memo"
inline constexpr int kMainDescription = 12;   // ?FUN:DESCRIPTION
inline constexpr int kMainForumLink = 13;     // ?FUN:FORUMLINK, picture s254
inline constexpr int kMainInsert = 14;        // ?INSERT "&Insert"
inline constexpr int kMainChange = 15;        // ?CHANGE "&Change"
inline constexpr int kMainDelete = 16;        // ?DELETE "&Delete"
inline constexpr int kMainClose = 17;         // ?CLOSE "Close"

inline constexpr char kMainCaption[] = "QZR Functions Database";
inline constexpr char kMainFindOff[] = "Find Off";
inline constexpr char kMainFindOn[] = "Find On";

// The list format as the resource gives it (no header texts), and as the
// window uses it (with them).
inline constexpr char kMainListFormatPlain[] =
    "12L(2)I@p p@396L(2)|M@s99@1020L(2)|M@s255@1020L(2)|M@s255@1016L(2)|M@s254@";
inline constexpr char kMainListFormat[] =
    "12L(2)I@p p@396L(2)|M~Title~L(2)@s99@1020L(2)|M~Description~L(2)@s255@"
    "1020L(2)|M~Code~L(2)@s255@1016L(2)|M~Forum Link~L(2)@s254@";

// The list's icons: 1 a complete working example, 2 any other entry.
inline constexpr char kMainIconComplete[] = "~14.ico";
inline constexpr char kMainIconOther[] = "~16.ico";

const WindowDef& MainWindowDef();

}  // namespace qzr

#endif  // QZR_APP_MAIN_WINDOW_DEF_H_
