// Compiled-in icons: the name table and the SVG rendering.

#include "ui/qt/icons.h"

#include <QHash>
#include <QPainter>
#include <QPixmap>
#include <QString>
#include <QSvgRenderer>

#include "runtime/core/text.h"

namespace qzr {
namespace {

struct IconName {
  std::string_view name;  // as the window definitions write it
  const char* resource;   // in the compiled-in resource
};

constexpr IconName kIcons[] = {
    {"autoformatdoc.ico", ":/qzr/icons/program.svg"},
    {"~14.ico", ":/qzr/icons/code_complete.svg"},
    {"~16.ico", ":/qzr/icons/code_partial.svg"},
};
constexpr const char* kDefaultResource = ":/qzr/icons/default.svg";

// The sizes rendered into each icon: list rows, menus, title bars, docks.
constexpr int kSizes[] = {16, 22, 24, 32, 48, 64};

const char* ResourceOf(std::string_view name) {
  for (const IconName& icon : kIcons) {
    if (EqualNoCase(icon.name, name)) return icon.resource;
  }
  return nullptr;
}

QIcon Render(const char* resource) {
  // Rendered once per resource; icons are implicitly shared, so handing out
  // copies is cheap.
  static auto* cache =
      new QHash<QString, QIcon>();  // never destroyed: no pixmap outlives the QApplication
  QString key = QString::fromLatin1(resource);
  auto it = cache->find(key);
  if (it != cache->end()) return *it;
  QSvgRenderer renderer(key);
  QIcon icon;
  if (renderer.isValid()) {
    for (int size : kSizes) {
      QPixmap pixmap(size, size);
      pixmap.fill(Qt::transparent);
      QPainter painter(&pixmap);
      renderer.render(&painter);
      painter.end();
      icon.addPixmap(pixmap);
    }
  }
  cache->insert(key, icon);
  return icon;
}

}  // namespace

QIcon IconByName(std::string_view name) {
  const char* resource = ResourceOf(name);
  QIcon icon = Render(resource != nullptr ? resource : kDefaultResource);
  return icon.isNull() ? DefaultIcon() : icon;
}

bool HasIcon(std::string_view name) {
  return ResourceOf(name) != nullptr;
}

QIcon DefaultIcon() {
  QIcon icon = Render(kDefaultResource);
  if (icon.isNull()) {
    // The resource itself is missing (a broken build): a grey square still
    // shows something.
    QPixmap pixmap(16, 16);
    pixmap.fill(Qt::lightGray);
    icon.addPixmap(pixmap);
  }
  return icon;
}

}  // namespace qzr
