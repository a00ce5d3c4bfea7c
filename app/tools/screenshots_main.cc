// qzr_screenshots: renders the program's windows to PNG files, offscreen,
// for a person to look at (scripts/screenshots runs it).
//
//   qzr_screenshots OUTPUT_DIR
//
// Writes gallery.png (the control gallery with sample data, first tab),
// gallery-tab2.png (its second tab), error.png (the error window of a
// framework error, worded by the error manager) and update-form.png (the
// update form changing entry ENTRY of the catalogue in the current
// directory, when it has one; scripts/screenshots imports the demo
// catalogue first), then main.png (the main window over that catalogue) and
// main-find.png (the same with the quick find on for "frame"), query.png
// (the query dialog opened with Ctrl+Q, a title containing "frame" asked
// for) and main-query.png (the list the query leaves).
//
//   qzr_screenshots OUTPUT_DIR [ENTRY]
//
// Exit codes: 0 all written, 1 a window did not open or a file could not
// be written, 2 wrong usage.

#include <cstdio>
#include <cstdlib>
#include <string>

#include "app/app_globals.h"
#include "app/func_file.h"
#include "app/func_managers.h"
#include "app/main_browse.h"
#include "app/main_window_def.h"
#include "app/program.h"
#include "app/update_functions.h"
#include "framework/query_dialog.h"
#include "framework/window_manager.h"
#include "runtime/core/runtime_error.h"
#include "ui/keycodes.h"
#include "ui/qt/gallery.h"
#include "ui/qt/screenshots.h"

int main(int argc, char** argv) {
  if (argc != 2 && argc != 3) {
    std::fprintf(stderr, "usage: qzr_screenshots OUTPUT_DIR [ENTRY]\n");
    return 2;
  }
  const int32_t entry = argc == 3 ? std::atoi(argv[2]) : 0;
  qzr::ScreenshotRun run;
  run.output_dir = argv[1];
  run.steps = {
      [](qzr::ScreenshotUser& user) {
        user.Save("gallery.png");
        user.ChooseTab(qzr::kGallerySheet, 2);
      },
      [](qzr::ScreenshotUser& user) {
        user.Save("gallery-tab2.png");
        user.Close();
      },
      [](qzr::ScreenshotUser& user) {
        user.Save("update-form.png");
        user.Click(qzr::kUfCancel);
      },
      [](qzr::ScreenshotUser& user) {
        user.Save("main.png");
        user.Type(qzr::kMainFindEntry, "frame");
        user.Click(qzr::kMainFindButton);
      },
      [](qzr::ScreenshotUser& user) {
        user.Save("main-find.png");
        user.Click(qzr::kMainFindButton);  // the find off again
      },
      [](qzr::ScreenshotUser& user) { user.Key(qzr::KeyCode('Q', qzr::kCtrl)); },
      [](qzr::ScreenshotUser& user) {
        user.ChooseTab(qzr::kQbeSheet, 2);
        user.Type(qzr::QbeMiddleControl(1), "*frame");
        user.Save("query.png");
        user.Click(qzr::kQbeOk);
      },
      [](qzr::ScreenshotUser& user) {
        user.Save("main-query.png");
        user.Close();
      },
  };
  run.message_files = {"error.png"};
  int argc_qt = 1;
  return qzr::RunScreenshots(argc_qt, argv, run, [entry] {
    if (qzr::RunGallery() != 0) return 1;
    bool shown = true;
    int code = qzr::RunProgram([entry, &shown] {
      // The error window: a file that cannot be opened, as the framework
      // reports it (a halt-level message; a hook keeps the run going).
      qzr::AppErrors->SetHaltHook([](int) {});
      qzr::PostError(2);  // "File Not Found"
      qzr::AppErrors->SetFile("FUNC");
      qzr::AppErrors->CaptureAndThrow(26);
      qzr::AppErrors->SetHaltHook(nullptr);
      if (entry <= 0) return;
      // The update form changing an entry, as the browse calls it.
      shown = false;
      if (qzr::FuncAccess->Open() != qzr::SeverityNone) return;
      qzr::FuncEntry key;
      key.id = entry;
      qzr::WriteFuncEntry(&qzr::FUNC(), key, true);
      if (qzr::FuncAccess->Fetch(qzr::kFunPId) == qzr::SeverityNone) {
        qzr::PendingRequest = qzr::kChangeRecord;
        qzr::update_functions();
        shown = true;
      } else {
        std::fprintf(stderr, "screenshots: the catalogue has no entry %d\n", entry);
      }
      qzr::FuncAccess->Close();
      // The main window over the catalogue, then with the quick find on.
      qzr::Main();
    });
    return code != 0 || !shown ? 1 : 0;
  });
}
