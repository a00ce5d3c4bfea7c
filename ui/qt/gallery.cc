// The gallery window and its sample data.

#include "ui/qt/gallery.h"

#include <algorithm>
#include <cstring>
#include <string_view>

#include "runtime/core/text.h"
#include "runtime/values/ufo.h"
#include "ui/event.h"
#include "ui/message.h"

namespace qzr {
namespace {

WindowDef MakeGalleryDef() {
  WindowDef d;
  d.resource = "qzrfunctions$gallery";
  d.name = "GALLERY";
  d.caption = "QZR Functions Database \xE2\x80\x94 control gallery";
  d.font = "MS Sans Serif";
  d.font_size = 8;
  d.icon = "AutoformatDoc.ico";
  d.at = {0, 0, 420, 300};
  d.resizable = true;
  using K = ControlKind;
  auto add = [&d](K kind, const char* name, Rect at, int parent = 0,
                  uint32_t flags = 0) -> ControlDef& {
    ControlDef c;
    c.kind = kind;
    c.name = name;
    c.at = at;
    c.parent = parent;
    c.flags = flags;
    d.controls.push_back(c);
    return d.controls.back();
  };
  add(K::kSheet, "?SHEET", {4, 4, 412, 270});
  add(K::kTab, "?TAB1", {}, kGallerySheet).text = "&Controls";
  add(K::kTab, "?TAB2", {}, kGallerySheet).text = "&Second";
  add(K::kPrompt, "?NAME:PROMPT", {12, 24, 36, 10}, kGalleryTab1).text = "&Name:";
  ControlDef& name = add(K::kEntry, "?NAME", {50, 23, 100, 12}, kGalleryTab1);
  name.picture = "@s20";
  name.tip = "Up to 20 bytes of UTF-8";
  add(K::kPrompt, "?COUNT:PROMPT", {160, 24, 30, 10}, kGalleryTab1).text = "C&ount:";
  add(K::kEntry, "?COUNT", {192, 23, 40, 12}, kGalleryTab1).picture = "@n5";
  add(K::kString, "?STRING", {242, 24, 120, 10}, kGalleryTab1).text =
      "A string: gr\xC3\xBC\xC3\x9F \xE2\x82\xAC \xCE\xA9";
  add(K::kCheck, "?COMPLETE", {12, 40, 80, 10}, kGalleryTab1).text = "Co&mplete";
  add(K::kGroup, "?GROUP", {8, 54, 200, 140}, kGalleryTab1).text = "Texts";
  add(K::kText, "?DESCRIPTION", {14, 66, 188, 34}, kGalleryGroup, kControlVScroll).picture =
      "@s255";
  ControlDef& code =
      add(K::kText, "?CODE", {14, 104, 188, 84}, kGalleryGroup, kControlVScroll | kControlHScroll);
  code.font = "Courier New";
  ControlDef& list = add(K::kList, "?LIST", {214, 40, 196, 120}, kGalleryTab1,
                         kControlImmediate | kControlVScroll);
  list.format = "14L(2)I~~@p p@100L(2)|M~Title~@s30@100L(2)|M~Link~@s40@";
  list.tip = "Browsing Records";
  add(K::kRegion, "?LIST:HEADER", {214, 40, 196, 10}, kGalleryList, kControlHeaderRegion);
  add(K::kImage, "?IMAGE", {214, 166, 24, 24}, kGalleryTab1).icon = "AutoformatDoc.ico";
  ControlDef& region = add(K::kRegion, "?REGION", {244, 166, 60, 24}, kGalleryTab1);
  region.tip = "A region takes clicks";
  region.cursor = "hand2.cur";
  ControlDef& save = add(K::kButton, "?SAVE", {300, 280, 54, 14}, 0, kControlDefault);
  save.text = "&Save";
  save.tip = "Save Data to Database and Close Window";
  save.cursor = "hand.cur";
  ControlDef& close = add(K::kButton, "?CLOSE", {360, 280, 54, 14});
  close.text = "Cl&ose";
  close.cursor = "hand.cur";
  add(K::kString, "?ONTAB2", {12, 24, 120, 10}, kGalleryTab2).text = "Only on the second tab";
  add(K::kEntry, "?OTHER", {12, 40, 80, 12}, kGalleryTab2).picture = "@s10";
  return d;
}

void SetString(char* field, size_t size, std::string_view text) {
  std::memset(field, ' ', size);
  std::memcpy(field, text.data(), std::min(size, text.size()));
}

std::string Trimmed(const char* field, size_t size) {
  return std::string(TrimRight(std::string_view(field, size), std::string_view(" \0", 2)));
}

const char kSampleCode[] =
    "#include <stdio.h>\n"
    "\n"
    "/* Prints a greeting. */\n"
    "int main(void) {\n"
    "  for (int i = 0; i < 3; ++i) {\n"
    "    printf(\"hello %d\\n\", i);\n"
    "  }\n"
    "  return 0;\n"
    "}\n";

}  // namespace

const WindowDef& GalleryDef() {
  static const WindowDef* def = new WindowDef(MakeGalleryDef());
  return *def;
}

GalleryData::GalleryData() : CODE(new char[kGalleryCodeSize]) {
  SetString(NAME, sizeof NAME, "");
  std::memset(DESCRIPTION, 0, sizeof DESCRIPTION);
  SetString(CODE.get(), kGalleryCodeSize, "");
  SetString(OTHER, sizeof OTHER, "");
  rows.Field("FULL", &Row::FULL);
  rows.Field("ICON", &Row::ICON);
  rows.Field("TITLE", &Row::TITLE);
  rows.Field("LINK", &Row::LINK);
}

void GalleryData::Fill(int n) {
  SetString(NAME, sizeof NAME,
            "Gr\xC3\xBC\xC3\x9F"
            "e");
  COUNT = 42;
  COMPLETE = 1;
  std::string description = "A function that greets the world three times.\nIts second line.";
  std::memset(DESCRIPTION, 0, sizeof DESCRIPTION);
  std::memcpy(DESCRIPTION, description.data(), description.size());
  SetCode(kSampleCode);
  SetString(OTHER, sizeof OTHER, "other");
  FREE(&rows);
  static const char* kTitles[] = {"Date to text", "Quick sort", "Trim blanks", "Caf\xC3\xA9 menu",
                                  "Euro \xE2\x82\xAC sum"};
  for (int i = 1; i <= n; ++i) {
    rows.record.FULL = i % 3 == 0 ? 0 : 1;
    rows.record.ICON = rows.record.FULL == 1 ? 1 : 2;
    std::string title = std::string(kTitles[(i - 1) % 5]) + " " + std::to_string(i);
    SetString(rows.record.TITLE, sizeof rows.record.TITLE, title);
    SetString(rows.record.LINK, sizeof rows.record.LINK,
              "https://forum.example/t/" + std::to_string(1000 + i));
    ADD(&rows);
  }
}

void GalleryData::Bind(Window* w) {
  w->Use(kGalleryName, UfoString(NAME, sizeof NAME));
  w->Use(kGalleryCount, UfoLong(&COUNT));
  w->Use(kGalleryComplete, UfoByte(&COMPLETE));
  w->Use(kGalleryDescription, UfoCString(DESCRIPTION, sizeof DESCRIPTION));
  w->Use(kGalleryCode, UfoString(CODE.get(), kGalleryCodeSize));
  w->Use(kGalleryOther, UfoString(OTHER, sizeof OTHER));
  w->From(kGalleryList, &rows);
  w->SetIcon(kGalleryList, 1, "~14.ico");
  w->SetIcon(kGalleryList, 2, "~16.ico");
}

std::string GalleryData::Name() const {
  return Trimmed(NAME, sizeof NAME);
}

std::string GalleryData::Code() const {
  return Trimmed(CODE.get(), kGalleryCodeSize);
}

void GalleryData::SetCode(const std::string& code) {
  SetString(CODE.get(), kGalleryCodeSize, code);
}

int RunGallery() {
  Window w(GalleryDef());
  if (!w.Open()) {
    MessageBox(w.OpenError(), "Control gallery", kIconHand);
    return 1;
  }
  GalleryData data;
  data.Fill(12);
  data.Bind(&w);
  w.Display();
  w.Select(kGalleryName);
  Event e;
  while (w.Accept(&e)) {
    if (e.code == EVENT::Accepted && e.control == kGalleryClose) {
      w.Post(EVENT::CloseWindow);
    } else if (e.code == EVENT::Accepted && e.control == kGallerySave) {
      if (w.Update()) {
        MessageBox("Saved: " + data.Name() + "|" + std::to_string(data.COUNT) + ", " +
                       (data.COMPLETE ? "complete" : "not complete"),
                   "Control gallery", kIconAsterisk);
      }
    } else if (e.code == EVENT::Accepted && e.control == kGalleryHeader) {
      // Columns 2 and 3 show TITLE and LINK.
      if (e.param == 2 || e.param == 3) {
        SORT(&data.rows, e.param == 2 ? "+TITLE" : "+LINK");
        w.Display(kGalleryList);
      }
    }
    w.Default(e);
  }
  return 0;
}

}  // namespace qzr
