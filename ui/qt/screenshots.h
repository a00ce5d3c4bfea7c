// Pictures of the program's windows: runs a program offscreen on the Qt
// toolkit and, each time the top window's loop waits for input (the window
// is built, displayed and laid out), lets the next step look at it and act
// as its user. Message boxes are pictured too and answered with their
// default. scripts/screenshots drives this through app/tools.
//
// Threads: main thread; one run per process at a time.

#ifndef QZR_UI_QT_SCREENSHOTS_H_
#define QZR_UI_QT_SCREENSHOTS_H_

#include <functional>
#include <string>
#include <vector>

namespace qzr {

// What a step may do with the top window.
class ScreenshotUser {
 public:
  virtual ~ScreenshotUser() = default;
  // Writes a PNG of the top window to `file` in the output folder.
  virtual void Save(const std::string& file) = 0;
  // Chooses tab `tab` (1-based) of sheet `sheet`, as a click on it would.
  virtual void ChooseTab(int sheet, int tab) = 0;
  // Clicks the button `control`.
  virtual void Click(int control) = 0;
  // Puts `text` in the entry `control`, as typing it would (no event).
  virtual void Type(int control, const std::string& text) = 0;
  // Presses a letter or digit key with modifiers (ui/keycodes.h, as
  // KeyCode('Q', kCtrl)) in the control that has the focus.
  virtual void Key(int32_t keycode) = 0;
  // Presses the window's close box.
  virtual void Close() = 0;
};

using ScreenshotStep = std::function<void(ScreenshotUser&)>;

struct ScreenshotRun {
  std::string output_dir;
  std::vector<ScreenshotStep> steps;  // one per wait, in order
  // The files the message boxes shown are written to, in order; messages
  // beyond the list are answered without a picture.
  std::vector<std::string> message_files;
};

// Runs `program` as described and returns 0 when it returned 0 and every
// picture was written, else 1 (what failed is said on standard error).
int RunScreenshots(int argc, char** argv, const ScreenshotRun& run,
                   const std::function<int()>& program);

}  // namespace qzr

#endif  // QZR_UI_QT_SCREENSHOTS_H_
