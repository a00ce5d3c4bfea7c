// The event name table.

#include "ui/event.h"

#include <array>
#include <cstdio>

namespace qzr {
namespace {

#define QZR_EVENT_ROW(name)                                      \
  EventInfo {                                                    \
    "EVENT:" #name, EVENT::name, EVENT::name + kEventMessageBase \
  }

constexpr std::array kTable = {
    QZR_EVENT_ROW(Accepted),    QZR_EVENT_ROW(NewSelection), QZR_EVENT_ROW(ScrollUp),
    QZR_EVENT_ROW(ScrollDown),  QZR_EVENT_ROW(PageUp),       QZR_EVENT_ROW(PageDown),
    QZR_EVENT_ROW(ScrollTop),   QZR_EVENT_ROW(ScrollBottom), QZR_EVENT_ROW(Locate),
    QZR_EVENT_ROW(MouseUp),     QZR_EVENT_ROW(MouseIn),      QZR_EVENT_ROW(MouseOut),
    QZR_EVENT_ROW(MouseMove),   QZR_EVENT_ROW(VBXevent),     QZR_EVENT_ROW(AlertKey),
    QZR_EVENT_ROW(PreAlert),    QZR_EVENT_ROW(Dragging),     QZR_EVENT_ROW(Drag),
    QZR_EVENT_ROW(Drop),        QZR_EVENT_ROW(ScrollDrag),   QZR_EVENT_ROW(TabChanging),
    QZR_EVENT_ROW(Expanding),   QZR_EVENT_ROW(Contracting),  QZR_EVENT_ROW(Expanded),
    QZR_EVENT_ROW(Contracted),  QZR_EVENT_ROW(Rejected),     QZR_EVENT_ROW(DroppingDown),
    QZR_EVENT_ROW(DroppedDown), QZR_EVENT_ROW(ScrollTrack),  QZR_EVENT_ROW(ColumnResize),
    QZR_EVENT_ROW(Selected),    QZR_EVENT_ROW(Selecting),    QZR_EVENT_ROW(CloseWindow),
    QZR_EVENT_ROW(CloseDown),   QZR_EVENT_ROW(OpenWindow),   QZR_EVENT_ROW(OpenFailed),
    QZR_EVENT_ROW(LoseFocus),   QZR_EVENT_ROW(GainFocus),    QZR_EVENT_ROW(Suspend),
    QZR_EVENT_ROW(Resume),      QZR_EVENT_ROW(Notify),       QZR_EVENT_ROW(Timer),
    QZR_EVENT_ROW(DDErequest),  QZR_EVENT_ROW(DDEadvise),    QZR_EVENT_ROW(DDEdata),
    QZR_EVENT_ROW(DDEexecute),  QZR_EVENT_ROW(DDEpoke),      QZR_EVENT_ROW(DDEclosed),
    QZR_EVENT_ROW(BuildFile),   QZR_EVENT_ROW(BuildKey),     QZR_EVENT_ROW(BuildDone),
    QZR_EVENT_ROW(Move),        QZR_EVENT_ROW(Size),         QZR_EVENT_ROW(Restore),
    QZR_EVENT_ROW(Maximize),    QZR_EVENT_ROW(Iconize),      QZR_EVENT_ROW(Completed),
    QZR_EVENT_ROW(Moved),       QZR_EVENT_ROW(Sized),        QZR_EVENT_ROW(Restored),
    QZR_EVENT_ROW(Maximized),   QZR_EVENT_ROW(Iconized),     QZR_EVENT_ROW(Docked),
    QZR_EVENT_ROW(UnDocked),
};

#undef QZR_EVENT_ROW

}  // namespace

std::span<const EventInfo> EventTable() {
  return kTable;
}

std::string_view EventName(int32_t code) {
  for (const EventInfo& e : kTable) {
    if (e.code == code) return e.name;
  }
  return {};
}

std::string EventLabel(int32_t code) {
  std::string_view name = EventName(code);
  if (!name.empty()) return std::string(name);
  char buf[32];
  std::snprintf(buf, sizeof buf, "EVENT:0x%X", static_cast<unsigned>(code));
  return buf;
}

}  // namespace qzr
