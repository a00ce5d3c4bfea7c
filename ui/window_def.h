// Window resources as data: a window and its controls described by plain
// structs, one C++ table per window, from which the window core (ui/window.h)
// and every backend build the window.
//
// Geometry is in dialog units (x: a quarter of the font's average character
// width, y: an eighth of its height); the backend converts. A control's
// number is the value events and properties use; 0 in the table means its
// position in the list (1-based), which is how the resources number them.
//
// A definition is read-only once a window is open on it and must outlive that
// window. Constant data; safe from any thread.

#ifndef QZR_UI_WINDOW_DEF_H_
#define QZR_UI_WINDOW_DEF_H_

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace qzr {

struct Rect {
  int x = 0;
  int y = 0;
  int width = 0;
  int height = 0;
  bool operator==(const Rect&) const = default;
};

// Control kinds. kSheet keeps the system's control type number (37) because
// the window manager compares with it; the others are this system's own.
enum class ControlKind : uint8_t {
  kString = 1,  // static text
  kPrompt = 2,  // a label that belongs to the next control (its accelerator focuses it)
  kEntry = 3,   // one-line edit through a picture
  kText = 4,    // multi-line edit (code, descriptions)
  kButton = 5,
  kCheck = 6,
  kList = 7,
  kImage = 8,
  kRegion = 9,   // an invisible area that takes clicks (a list's header region)
  kGroup = 10,   // a frame around other controls
  kTab = 11,     // one page of a sheet
  kSpin = 12,    // a numeric entry with arrows
  kCombo = 13,   // an entry with a drop-down list
  kOption = 14,  // a set of radio buttons
  kRadio = 15,
  kBox = 16,
  kLine = 17,
  kSheet = 37,  // a set of tabs
};

// "sheet", "list", ...: for messages and traces.
const char* ControlKindName(ControlKind kind);

// Control flags.
inline constexpr uint32_t kControlHidden = 1u << 0;
inline constexpr uint32_t kControlDisabled = 1u << 1;
inline constexpr uint32_t kControlReadOnly = 1u << 2;
inline constexpr uint32_t kControlVScroll = 1u << 3;    // a vertical scroll bar
inline constexpr uint32_t kControlHScroll = 1u << 4;    // a horizontal scroll bar
inline constexpr uint32_t kControlMultiLine = 1u << 5;  // entry or string over several lines
// A list whose scrolling belongs to the program: the arrow and page keys and
// its scroll bar raise the scroll events instead of moving the selection (a
// browse list, which holds one screenful of a longer result).
inline constexpr uint32_t kControlImmediate = 1u << 6;
inline constexpr uint32_t kControlDefault = 1u << 7;  // the button Enter presses
inline constexpr uint32_t kControlSkip = 1u << 8;     // not in the tab order
inline constexpr uint32_t kControlTransparent = 1u << 9;
inline constexpr uint32_t kControlUpperCase = 1u << 10;  // typed letters become upper case
inline constexpr uint32_t kControlPassword = 1u << 11;
// A region over its parent list's column headers: a click on a header is
// accepted on this region (column in Event::param, modifiers in the key code).
inline constexpr uint32_t kControlHeaderRegion = 1u << 12;
inline constexpr uint32_t kControlFullWidth = 1u << 13;  // a list row highlights across all columns

// Every member has a default, so a table may name only what it needs:
//   {.kind = ControlKind::kEntry, .name = "?FUN:NAME", .picture = "@s99"}
struct ControlDef {
  int number = 0;  // 0: the position in WindowDef::controls (1-based)
  ControlKind kind = ControlKind::kString;
  std::string name = {};     // "?FUN:NAME"; unique within the window when not empty
  std::string text = {};     // caption, label or initial text; "&" marks the accelerator
  std::string picture = {};  // entries, strings, spins: "@s99" (a leading "@" may be left out)
  std::string format = {};   // lists: the list format (ui/list_format.h)
  std::string tip = {};
  std::string cursor = {};  // "hand.cur"; "" the window's
  std::string icon = {};    // buttons and images
  std::string font = {};    // "" the window's
  int font_size = 0;        // points; 0 the window's
  Rect at = {};             // dialog units, relative to the window's client area
  int parent = 0;           // the enclosing control's number (a tab, group or list); 0 the window
  uint32_t flags = 0;
  // Check boxes: the values the use variable takes when checked and not.
  int32_t true_value = 1;
  int32_t false_value = 0;
};

struct WindowDef {
  std::string resource = {};  // "qzrfunctions$qzrfunctions001"
  std::string name = {};      // "P1$WINDOW"
  std::string caption = {};
  std::string font = {};  // "MS Sans Serif"
  int font_size = 8;
  std::string icon = {};  // "AutoformatDoc.ico"
  Rect at = {};           // x, y of the window; width, height of its client area
  bool resizable = false;
  bool modal = true;  // blocks the windows below it while it runs
  std::vector<ControlDef> controls = {};
};

// The number control `index` (0-based) of `def` carries.
int ControlNumber(const WindowDef& def, size_t index);

// A control of the given number, kind, use variable name, text and place,
// inside `parent` (0: the window), with `flags`; the rest as ControlDef has
// it. For the window definitions a program writes out control by control.
ControlDef MakeControl(int number, ControlKind kind, std::string name, std::string text, Rect at,
                       int parent = 0, uint32_t flags = 0);

// Checks a definition: control numbers positive and distinct, names distinct,
// parents that exist and are not the control itself, a list format that
// parses and pictures that compile. Returns true, or false with `error`
// naming the window and the control: `Window "P1$WINDOW", control 6 (?LIST):
// bad list format: offset 7: ...`.
bool ValidateWindowDef(const WindowDef& def, std::string* error);

// The checks of one control (numbered `number`), as ValidateWindowDef makes
// them, without those that need the other controls.
bool ValidateControlDef(const WindowDef& def, const ControlDef& control, int number,
                        std::string* error);

// `Window "P1$WINDOW", control 6 (?LIST)`: how messages name a control.
std::string DescribeControl(const WindowDef& def, int number, const std::string& name);

// A picture as written in a definition, with its leading "@" ("s20" and
// "@s20" are both "@s20").
std::string PictureText(std::string_view picture);

}  // namespace qzr

#endif  // QZR_UI_WINDOW_DEF_H_
