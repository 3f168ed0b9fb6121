#include "gui/alert.h"

#include <QMessageBox>
#include <QPushButton>

#include "gui/qt/qt_calls.h"

namespace {

QMessageBox::Icon icon_for(alert_type type) {
  switch (type) {
    case B_INFO_ALERT:
    case B_IDEA_ALERT:
      return QMessageBox::Information;
    case B_WARNING_ALERT:
      return QMessageBox::Warning;
    case B_STOP_ALERT:
      return QMessageBox::Critical;
    case B_EMPTY_ALERT:
      break;
  }
  return QMessageBox::NoIcon;
}

}  // namespace

BAlert::BAlert(const char* title, const char* text, const char* button0, const char* button1, const char* button2,
               button_width, alert_type type)
    : title_(title ? title : ""), text_(text ? text : ""), type_(type) {
  for (const char* label : {button0, button1, button2})
    if (label != nullptr) buttons_.emplace_back(label);
}

status_t BAlert::Go(BInvoker*) {
  gui_detail::post_to_qt([title = title_, text = text_, buttons = buttons_, type = type_] {
    auto* box = new QMessageBox(icon_for(type), QString::fromStdString(title), QString::fromStdString(text));
    for (const std::string& label : buttons) box->addButton(QString::fromStdString(label), QMessageBox::AcceptRole);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setModal(false);
    box->show();
  });
  delete this;
  return B_OK;
}
