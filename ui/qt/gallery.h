// The gallery: one window with every kind of control the desktop backend
// builds, bound to sample variables and a list queue. The widget tests run
// it offscreen, the screenshot script renders it, and the program shows it
// while it has no main window of its own.
//
// Toolkit-free: it uses the window core only, so it runs on whichever
// toolkit is in force.
//
// Threads: one gallery per thread; RunGallery runs on the calling thread.

#ifndef QZR_UI_QT_GALLERY_H_
#define QZR_UI_QT_GALLERY_H_

#include <cstdint>
#include <memory>
#include <string>

#include "runtime/values/queue.h"
#include "ui/window.h"
#include "ui/window_def.h"

namespace qzr {

// The gallery's controls, numbered by their place in the definition.
enum GalleryControl : int {
  kGallerySheet = 1,
  kGalleryTab1 = 2,
  kGalleryTab2 = 3,
  kGalleryNamePrompt = 4,
  kGalleryName = 5,  // entry @s20
  kGalleryCountPrompt = 6,
  kGalleryCount = 7,  // entry @n5
  kGalleryString = 8,
  kGalleryComplete = 9,  // check
  kGalleryGroup = 10,
  kGalleryDescription = 11,  // text, prose, @s255
  kGalleryCode = 12,         // text in a fixed font: the code view, a 64000-byte memo
  kGalleryList = 13,         // immediate list with icons and headers
  kGalleryHeader = 14,       // the list's header region
  kGalleryImage = 15,
  kGalleryRegion = 16,
  kGallerySave = 17,   // default button, tip, hand cursor
  kGalleryClose = 18,  // button
  kGalleryOnTab2 = 19,
  kGalleryOther = 20,  // entry @s10 on the second tab
};

const WindowDef& GalleryDef();

// The gallery's variables.
struct GalleryData {
  struct Row {
    uint8_t FULL;
    int32_t ICON;
    char TITLE[30];
    char LINK[40];
  };

  GalleryData();
  // Sample values, UTF-8 included, and `rows` list rows.
  void Fill(int rows);
  // Binds the variables and the queue to an open gallery window.
  void Bind(Window* window);

  char NAME[20];
  int32_t COUNT = 0;
  uint8_t COMPLETE = 0;
  char DESCRIPTION[256];         // CSTRING
  std::unique_ptr<char[]> CODE;  // STRING(64000)
  char OTHER[10];
  Queue<Row> rows;

  std::string Name() const;  // NAME without its trailing blanks
  std::string Code() const;  // CODE without its trailing blanks
  void SetCode(const std::string& code);
};

inline constexpr size_t kGalleryCodeSize = 64000;

// Opens the gallery over sample data and runs it until it is closed:
// "&Save" takes the screen's values and says so, a header click sorts the
// list by that column, "Cl&ose" or the close box ends it. Returns 0, or 1
// when the window could not open (the reason is shown as a message).
int RunGallery();

}  // namespace qzr

#endif  // QZR_UI_QT_GALLERY_H_
