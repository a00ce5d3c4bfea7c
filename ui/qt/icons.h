// The program's icons by the names the window definitions use
// ("AutoformatDoc.ico", "~14.ico", ...), drawn from SVG files compiled into
// the program, so nothing depends on an icon theme being installed.
//
// Names compare without regard to case and a leading "~" (a name the
// resources keep inside the program) is part of the name. An unknown or empty
// name gets the default icon: asking for an icon never fails.
//
// Threads: GUI thread only (QIcon and QPixmap).

#ifndef QZR_UI_QT_ICONS_H_
#define QZR_UI_QT_ICONS_H_

#include <QIcon>
#include <string_view>

namespace qzr {

// The icon for `name`, or the default icon when no icon has that name.
QIcon IconByName(std::string_view name);

// True iff `name` names one of the compiled-in icons.
bool HasIcon(std::string_view name);

// The default icon (a blank page).
QIcon DefaultIcon();

}  // namespace qzr

#endif  // QZR_UI_QT_ICONS_H_
