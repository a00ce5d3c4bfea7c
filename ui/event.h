// Event codes: what a window's accept loop hands to the procedure, with the
// names used in traces and the window-message numbers that carry them.
//
// An event code is a 32-bit signed integer. Inside the window system an event
// travels as a message whose number is the code plus kEventMessageBase
// (0xA000); message numbers from kSystemMessageBase (0xB000) up are the window
// system's own and never reach a procedure. Posting therefore accepts only the
// codes 0 to kEventCodeLimit - 1 (0xFFF).
//
// The codes are spelt as the system names them, inside the namespace EVENT:
// `EVENT::Accepted` is "EVENT:Accepted".
//
// Constant data only; safe from any thread.

#ifndef QZR_UI_EVENT_H_
#define QZR_UI_EVENT_H_

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace qzr {

inline constexpr int32_t kEventMessageBase = 0xA000;
inline constexpr int32_t kSystemMessageBase = 0xB000;
// Codes from here up would reach the window system's own messages.
inline constexpr int32_t kEventCodeLimit = kSystemMessageBase - kEventMessageBase;

namespace EVENT {
// Field events: addressed to a control.
inline constexpr int32_t Accepted = 1;
inline constexpr int32_t NewSelection = 2;
inline constexpr int32_t ScrollUp = 3;
inline constexpr int32_t ScrollDown = 4;
inline constexpr int32_t PageUp = 5;
inline constexpr int32_t PageDown = 6;
inline constexpr int32_t ScrollTop = 7;
inline constexpr int32_t ScrollBottom = 8;
inline constexpr int32_t Locate = 9;
inline constexpr int32_t MouseUp = 10;
inline constexpr int32_t MouseIn = 11;
inline constexpr int32_t MouseOut = 12;
inline constexpr int32_t MouseMove = 13;
inline constexpr int32_t VBXevent = 14;
inline constexpr int32_t AlertKey = 15;
inline constexpr int32_t PreAlert = 16;
inline constexpr int32_t Dragging = 17;
inline constexpr int32_t Drag = 18;
inline constexpr int32_t Drop = 19;
inline constexpr int32_t ScrollDrag = 20;
inline constexpr int32_t TabChanging = 21;
inline constexpr int32_t Expanding = 22;
inline constexpr int32_t Contracting = 23;
inline constexpr int32_t Expanded = 24;
inline constexpr int32_t Contracted = 25;
inline constexpr int32_t Rejected = 26;
inline constexpr int32_t DroppingDown = 27;
inline constexpr int32_t DroppedDown = 28;
inline constexpr int32_t ScrollTrack = 29;
inline constexpr int32_t ColumnResize = 30;
inline constexpr int32_t Selected = 0x101;
inline constexpr int32_t Selecting = 0x102;
// Window events: addressed to the window (control 0).
inline constexpr int32_t CloseWindow = 0x201;
inline constexpr int32_t CloseDown = 0x202;
inline constexpr int32_t OpenWindow = 0x203;
inline constexpr int32_t OpenFailed = 0x204;
inline constexpr int32_t LoseFocus = 0x205;
inline constexpr int32_t GainFocus = 0x206;
// 0x207 is not assigned.
inline constexpr int32_t Suspend = 0x208;
inline constexpr int32_t Resume = 0x209;
inline constexpr int32_t Notify = 0x20A;
inline constexpr int32_t Timer = 0x20B;
inline constexpr int32_t DDErequest = 0x20C;
inline constexpr int32_t DDEadvise = 0x20D;
inline constexpr int32_t DDEdata = 0x20E;
inline constexpr int32_t DDEexecute = 0x20F;
inline constexpr int32_t DDEpoke = 0x210;
inline constexpr int32_t DDEclosed = 0x211;
inline constexpr int32_t Move = 0x220;
inline constexpr int32_t Size = 0x221;
inline constexpr int32_t Restore = 0x222;
inline constexpr int32_t Maximize = 0x223;
inline constexpr int32_t Iconize = 0x224;
inline constexpr int32_t Completed = 0x225;
inline constexpr int32_t Moved = 0x230;
inline constexpr int32_t Sized = 0x231;
inline constexpr int32_t Restored = 0x232;
inline constexpr int32_t Maximized = 0x233;
inline constexpr int32_t Iconized = 0x234;
inline constexpr int32_t Docked = 0x235;
inline constexpr int32_t UnDocked = 0x236;
inline constexpr int32_t BuildFile = 0x240;
inline constexpr int32_t BuildKey = 0x241;
inline constexpr int32_t BuildDone = 0x242;
}  // namespace EVENT

// One entry of the name table.
struct EventInfo {
  std::string_view name;  // "EVENT:Accepted"
  int32_t code;
  int32_t message;  // code + kEventMessageBase
};

// The name table: every code above, in the order of the list above except
// that the three build events stand before EVENT:Move.
std::span<const EventInfo> EventTable();

// "EVENT:Accepted" for a known code; "" for any other.
std::string_view EventName(int32_t code);

// The name, or "EVENT:0x3FF" (the code in upper-case hexadecimal) for a code
// without one: for traces.
std::string EventLabel(int32_t code);

// One event as an accept loop delivers it.
struct Event {
  int32_t code = 0;     // EVENT::...
  int32_t control = 0;  // the control it is addressed to; 0 for a window event
  // The key or mouse code that caused it (ui/keycodes.h); 0 for an event the
  // program posted or the window system raised on its own.
  int32_t keycode = 0;
  // Event-specific: EVENT:ScrollDrag the thumb position 0..100; a header
  // click (EVENT:Accepted on a header region) the 1-based column; EVENT:Sized
  // and EVENT:Moved 0; otherwise what the poster gave (Post's `param`).
  int32_t param = 0;

  int32_t message() const { return code + kEventMessageBase; }
  bool is_window_event() const { return control == 0; }
};

}  // namespace qzr

#endif  // QZR_UI_EVENT_H_
