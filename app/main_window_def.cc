// The main window's resource (see main_window_def.h).

#include "app/main_window_def.h"

#include "app/app_globals.h"

namespace qzr {
namespace {

WindowDef MakeMainWindowDef() {
  WindowDef w;
  w.resource = "qzrfunctions$qzrfunctions001";
  w.name = "P1$WINDOW";
  w.caption = kMainCaption;
  w.font = "MS Sans Serif";
  w.font_size = 8;
  w.icon = kAppIcon;
  w.at = {0, 0, 480, 336};
  w.resizable = true;
  w.modal = false;

  w.controls.push_back(
      MakeControl(kMainSheet, ControlKind::kSheet, "?SHEET1", "", {4, 4, 472, 306}));
  w.controls.push_back(
      MakeControl(kMainTab, ControlKind::kTab, "?TAB1", "Functions", {4, 4, 472, 306}, kMainSheet));
  w.controls.push_back(MakeControl(kMainFindButton, ControlKind::kButton, "?WQTQWKQBE",
                                   kMainFindOff, {12, 22, 48, 14}, kMainTab));
  w.controls.push_back(MakeControl(kMainFindPrompt, ControlKind::kPrompt, "?WQTQKF:FINDSTR:PROMPT",
                                   "Find:", {66, 25, 22, 10}, kMainTab));
  ControlDef find = MakeControl(kMainFindEntry, ControlKind::kEntry, "?WQTQKF:FINDSTR", "",
                                {90, 23, 110, 12}, kMainTab);
  find.picture = "@s20";
  w.controls.push_back(find);

  ControlDef list = MakeControl(kMainList, ControlKind::kList, "?LIST", "", {12, 42, 456, 132},
                                kMainTab, kControlVScroll | kControlImmediate | kControlFullWidth);
  list.tip = "Browsing Records";
  list.format = kMainListFormat;
  w.controls.push_back(list);

  ControlDef code =
      MakeControl(kMainCode, ControlKind::kText, "?FUN:EXAMPLECODE", "", {12, 178, 282, 124},
                  kMainTab, kControlReadOnly | kControlVScroll | kControlHScroll);
  code.font = "Courier New";
  w.controls.push_back(code);
  w.controls.push_back(MakeControl(kMainPostedByLabel, ControlKind::kString, "?STRING1",
                                   "Posted by:", {300, 178, 40, 10}, kMainTab));
  ControlDef user = MakeControl(kMainUser, ControlKind::kString, "?FUN:USER", "",
                                {342, 178, 126, 10}, kMainTab, kControlReadOnly);
  user.picture = "@s29";
  w.controls.push_back(user);
  w.controls.push_back(MakeControl(kMainIgnoreCase, ControlKind::kCheck, "?WQTQKF:UPPERCASE",
                                   "Ingore Case", {210, 24, 62, 10}, kMainTab));
  w.controls.push_back(MakeControl(kMainIncludeMemo, ControlKind::kCheck, "?WQTQKF:INCLUDEMEMO",
                                   "Include Memo", {278, 24, 66, 10}, kMainTab));
  w.controls.push_back(MakeControl(kMainDescription, ControlKind::kText, "?FUN:DESCRIPTION", "",
                                   {300, 192, 168, 86}, kMainTab,
                                   kControlReadOnly | kControlVScroll));
  ControlDef link =
      MakeControl(kMainForumLink, ControlKind::kString, "?FUN:FORUMLINK", "", {300, 282, 168, 20},
                  kMainTab, kControlReadOnly | kControlMultiLine);
  link.picture = "@s254";
  w.controls.push_back(link);

  w.controls.push_back(
      MakeControl(kMainInsert, ControlKind::kButton, "?INSERT", "&Insert", {250, 316, 50, 14}));
  w.controls.push_back(
      MakeControl(kMainChange, ControlKind::kButton, "?CHANGE", "&Change", {304, 316, 50, 14}));
  w.controls.push_back(
      MakeControl(kMainDelete, ControlKind::kButton, "?DELETE", "&Delete", {358, 316, 50, 14}));
  w.controls.push_back(
      MakeControl(kMainClose, ControlKind::kButton, "?CLOSE", "Close", {418, 316, 50, 14}));

  return w;
}

}  // namespace

const WindowDef& MainWindowDef() {
  static const WindowDef def = MakeMainWindowDef();
  return def;
}

}  // namespace qzr
