// qzr_screenshots: renders the program's windows to PNG files, offscreen,
// for a person to look at (scripts/screenshots runs it).
//
//   qzr_screenshots OUTPUT_DIR
//
// Writes gallery.png (the control gallery with sample data, first tab),
// gallery-tab2.png (its second tab) and error.png (the error window of a
// framework error, worded by the error manager).
//
// Exit codes: 0 all written, 1 a window did not open or a file could not
// be written, 2 wrong usage.

#include <cstdio>

#include "app/app_globals.h"
#include "app/program.h"
#include "runtime/runtime_error.h"
#include "ui/qt/gallery.h"
#include "ui/qt/screenshots.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: qzr_screenshots OUTPUT_DIR\n");
    return 2;
  }
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
  };
  run.message_files = {"error.png"};
  return qzr::RunScreenshots(argc, argv, run, [] {
    if (qzr::RunGallery() != 0) return 1;
    // The error window: a file that cannot be opened, as the framework
    // reports it (a halt-level message; a hook keeps the run going).
    return qzr::RunProgram([] {
      qzr::AppErrors->SetHaltHook([](int) {});
      qzr::PostError(2);  // "File Not Found"
      qzr::AppErrors->SetFile("FUNC");
      qzr::AppErrors->CaptureAndThrow(26);
      qzr::AppErrors->SetHaltHook(nullptr);
    });
  });
}
