// The system's drag setting and the installed one.

#include "app/drag_setting.h"

#include <atomic>

namespace qzr {
namespace {

// No desktop setting to read here: full-window dragging reads as off, so
// the program never changes anything.
class SystemDragSetting : public DragSetting {
 public:
  bool FullWindowDragging() override { return false; }
  void SetFullWindowDragging(bool) override {}
};

SystemDragSetting g_system;
std::atomic<DragSetting*> g_installed{nullptr};

}  // namespace

DragSetting& CurrentDragSetting() {
  DragSetting* s = g_installed.load();
  return s != nullptr ? *s : g_system;
}

DragSetting* InstallDragSetting(DragSetting* setting) {
  return g_installed.exchange(setting);
}

}  // namespace qzr
