// One open window of the desktop backend: a top-level QWidget built from a
// window definition, with a native control for every control of it.
//
// Geometry: the definition's dialog units go through the window font's
// base units (fonts.h). Every control is a child of the window itself, at
// the window-relative position its definition gives, also when it belongs
// to a tab or a group; which controls show follows from the definition's
// parents (a control on a tab shows only while its tab is the selected one
// of its sheet), recomputed whenever a flag or a selection changes. Sheets
// and groups are stacked below the other controls.
//
//   kind            widget
//   sheet / tab     QTabWidget with an empty page per tab
//   button          QPushButton ("&" gives the mnemonic)
//   prompt          QLabel whose buddy is the next control
//   string          QLabel (plain text)
//   entry           QLineEdit, capacity in bytes from the picture
//   text            LimitedPlainTextEdit, or a CodeView when its font is
//                   a fixed-pitch face (code is shown in a code editor)
//   check / radio   QCheckBox / QRadioButton
//   list / combo    ListControl / QComboBox
//   image           QLabel with the icon or picture file
//   region          a transparent widget that takes clicks; a header
//                   region makes its list's header clickable instead
//   group / option  QGroupBox
//   box / line      QFrame
//   spin            QLineEdit (the picture does the work)
//
// Input: the widgets' user-only signals and the window's own events are
// handed to InputSink (ui/toolkit.h) and nothing else happens in them; the
// keys, focus and mouse events of the whole application go through the
// toolkit's filter (qt_toolkit.cc). Program changes come in through the
// Set... functions, under a guard that keeps them from being reported.
//
// Threads: GUI thread only.

#ifndef QZR_UI_QT_QT_WINDOW_H_
#define QZR_UI_QT_QT_WINDOW_H_

#include <QPointer>
#include <QTimer>
#include <QWidget>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "ui/list_format.h"
#include "ui/qt/fonts.h"
#include "ui/toolkit.h"
#include "ui/window_def.h"

namespace qzr {

class QtWindow : public QWidget {
  Q_OBJECT

 public:
  // A control as this window keeps it.
  struct Control {
    ControlDef def;
    QWidget* widget = nullptr;  // nullptr for a tab (a page of its sheet) and a header region
    uint32_t flags = 0;         // the current flags
    int tab_index = -1;         // a tab: its index in its sheet
    ListFormat format;          // a list
  };

  QtWindow(WindowId id, const WindowDef& def, QWidget* owner);
  ~QtWindow() override;

  // Builds every control; false with `error` when one cannot be built.
  bool Build(std::string* error);
  bool AddControl(const ControlDef& def, std::string* error);

  WindowId Id() const { return id_; }
  const DialogBase& Base() const { return base_; }
  // The control `object` belongs to (itself or an ancestor below the
  // window), 0 when none.
  int ControlOf(const QObject* object) const;
  QWidget* Widget(int control) const;
  const Control* Find(int control) const;
  std::vector<int> ControlNumbers() const;

  // ---- Program changes (report nothing).
  void SetCaption(std::string_view caption);
  void SetWindowRect(const Rect& rect);
  void SetWindowState(WindowState state);
  void SetSizeLimits(int min_width, int min_height, int max_width, int max_height);
  void SetTimer(int hundredths);
  void SetControlText(int control, std::string_view text);
  void SetControlFlags(int control, uint32_t flags);
  void SetControlRect(int control, const Rect& rect);
  // The bytes the user may type into an entry, text or code view (0: no
  // limit).
  void SetTextCapacity(int control, size_t bytes);
  void SetAppearance(int control, const Appearance& appearance);
  void SetChecked(int control, bool checked);
  void SetRows(int list, const std::vector<ListRow>& rows);
  void SetIcons(int list, const std::vector<std::string>& icons);
  void SetColumnWidths(int list, const std::vector<int>& widths);
  void SetChoice(int control, int choice);
  void SetFocusTo(int control);

  // The last key the user pressed in this window, 0 after a mouse press:
  // a button pressed from the keyboard reports that key, else the mouse.
  void NoteInput(int32_t keycode) { last_key_ = keycode; }

  // True while a program change is being applied.
  bool InProgramChange() const { return program_ > 0; }

  // The control's text as the user left it (entries and texts).
  std::string TextOf(int control) const;

  // Pixels to dialog units, through this window's base units.
  int PixelsToDluX(int pixels) const;
  int PixelsToDluY(int pixels) const;

 protected:
  void closeEvent(QCloseEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void moveEvent(QMoveEvent* event) override;
  void changeEvent(QEvent* event) override;

 private:
  class ProgramChange;  // the guard

  QWidget* MakeWidget(Control* control, std::string* error);
  void Place(const Control& control);
  void UpdateVisibility();
  bool EffectivelyVisible(int control, int depth = 0) const;
  void ApplyAppearance(Control* control, const Appearance& appearance);
  QFont FontOf(const ControlDef& def) const;

  WindowId id_;
  const WindowDef& def_;
  DialogBase base_;
  std::map<int, Control> controls_;
  std::vector<int> order_;  // control numbers in definition order
  QTimer timer_;
  int program_ = 0;
  int32_t last_key_ = 0;
};

}  // namespace qzr

#endif  // QZR_UI_QT_QT_WINDOW_H_
