// Message boxes with Qt Widgets.

#include "ui/qt/message_box.h"

#include <QAbstractButton>
#include <QApplication>
#include <QGuiApplication>
#include <QPushButton>
#include <QString>
#include <QStringList>

#include "ui/message.h"
#include "ui/qt/icons.h"

namespace qzr {
namespace {

constexpr int kButtonOrder[] = {kButtonOk,    kButtonYes,    kButtonNo,     kButtonAbort,
                                kButtonRetry, kButtonIgnore, kButtonCancel, kButtonHelp};

QMessageBox::ButtonRole RoleOf(int button) {
  switch (button) {
    case kButtonOk:
      return QMessageBox::AcceptRole;
    case kButtonYes:
      return QMessageBox::YesRole;
    case kButtonNo:
      return QMessageBox::NoRole;
    case kButtonAbort:
      return QMessageBox::RejectRole;
    case kButtonRetry:
      return QMessageBox::AcceptRole;
    case kButtonIgnore:
      return QMessageBox::AcceptRole;
    case kButtonCancel:
      return QMessageBox::RejectRole;
    case kButtonHelp:
      return QMessageBox::HelpRole;
  }
  return QMessageBox::AcceptRole;
}

const char* kButtonProperty = "qzrButton";

}  // namespace

QMessageBox* BuildMessageBox(const MessageRequest& request, QWidget* parent) {
  auto* box = new QMessageBox(parent);
  box->setAttribute(Qt::WA_DeleteOnClose, false);
  box->setWindowModality(Qt::ApplicationModal);
  box->setTextFormat(Qt::PlainText);
  QString caption = QString::fromUtf8(request.caption);
  box->setWindowTitle(caption.isEmpty() ? QGuiApplication::applicationDisplayName() : caption);
  QStringList lines;
  for (const std::string& line : MessageLines(request.text)) lines << QString::fromUtf8(line);
  box->setText(lines.join(QLatin1Char('\n')));
  switch (request.icon) {
    case kIconHand:
      box->setIcon(QMessageBox::Critical);
      break;
    case kIconQuestion:
      box->setIcon(QMessageBox::Question);
      break;
    case kIconExclamation:
      box->setIcon(QMessageBox::Warning);
      break;
    case kIconAsterisk:
      box->setIcon(QMessageBox::Information);
      break;
    case kIconApplication:
      box->setIconPixmap(IconByName("AutoformatDoc.ico").pixmap(48, 48));
      break;
    default:
      box->setIcon(QMessageBox::NoIcon);
      break;
  }
  int buttons = request.buttons & kAllButtons;
  if (buttons == 0) buttons = kButtonOk;
  QPushButton* escape = nullptr;
  for (int bit : kButtonOrder) {
    if (!(buttons & bit)) continue;
    std::string_view text = ButtonCaption(bit);
    QPushButton* b = box->addButton(
        QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())), RoleOf(bit));
    b->setProperty(kButtonProperty, bit);
    if (bit == request.default_button) box->setDefaultButton(b);
    if (bit == kButtonCancel || (bit == kButtonOk && buttons == kButtonOk)) escape = b;
  }
  box->setEscapeButton(escape);
  return box;
}

int AnswerOf(QMessageBox* box, int default_button) {
  QAbstractButton* clicked = box->clickedButton();
  if (clicked == nullptr) return default_button;
  bool ok = false;
  int bit = clicked->property(kButtonProperty).toInt(&ok);
  return ok ? bit : default_button;
}

int RunMessageBox(const MessageRequest& request, QWidget* parent) {
  QMessageBox* box = BuildMessageBox(request, parent);
  box->exec();
  int answer = AnswerOf(box, request.default_button);
  delete box;
  return answer;
}

}  // namespace qzr
