#include "gui/qt/peer.h"

#include <QApplication>
#include <QTextDocument>
#include <QVariant>

#include <cmath>

namespace gui_detail {

namespace {
constexpr const char* token_property = "wyke_view_token";
constexpr const char* mode_property = "wyke_resizing_mode";
constexpr const char* tool_tip_property = "wyke_tool_tip";
// A few dozen wrapped lines on a screen; a header can be far longer.
constexpr qsizetype max_tool_tip_chars = 2000;

int pixel(float coordinate) { return static_cast<int>(std::lround(coordinate)); }
}  // namespace

QRect to_qrect(const BRect& r) {
  return QRect(QPoint(pixel(r.left), pixel(r.top)), QPoint(pixel(r.right), pixel(r.bottom)));
}

BRect to_brect(const QRect& r) {
  return BRect(float(r.left()), float(r.top()), float(r.right()), float(r.bottom()));
}

QColor to_qcolor(const rgb_color& c) { return QColor(c.red, c.green, c.blue, c.alpha); }

QFont to_qfont(float size) {
  QFont f = QApplication::font();
  f.setPixelSize(std::max(1, pixel(size)));
  return f;
}

void set_view_identity(QWidget* widget, uint64 token, uint32 resizing_mode) {
  widget->setProperty(token_property, QVariant::fromValue<qulonglong>(token));
  widget->setProperty(mode_property, QVariant::fromValue<uint>(resizing_mode));
}

uint64 view_token(const QWidget* widget) { return widget->property(token_property).toULongLong(); }

bool stands_for_view(const QWidget* widget) { return widget->property(token_property).isValid(); }

uint32 view_resizing_mode(const QWidget* widget) { return widget->property(mode_property).toUInt(); }

QString plain_tool_tip_markup(const QString& text) {
  if (text.isEmpty()) return text;
  const QString shown = text.size() > max_tool_tip_chars ? text.left(max_tool_tip_chars) + QChar(0x2026) : text;
  return Qt::convertFromPlainText(shown, Qt::WhiteSpaceNormal);
}

void set_plain_tool_tip(QWidget& widget, const std::string& text) {
  widget.setProperty(tool_tip_property, QString::fromStdString(text));
  widget.setToolTip(plain_tool_tip_markup(QString::fromStdString(text)));
}

std::string plain_tool_tip(const QWidget& widget) {
  return widget.property(tool_tip_property).toString().toStdString();
}

}  // namespace gui_detail
