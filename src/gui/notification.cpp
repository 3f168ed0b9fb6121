#include "gui/notification.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusError>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDeadlineTimer>
#include <QObject>
#include <QStringList>
#include <QThread>
#include <QVariantMap>
#include <map>
#include <mutex>

#include "gui/application.h"
#include "gui/qt/qt_calls.h"
#include "platform/debug_log.h"

namespace {

const QString service = QStringLiteral("org.freedesktop.Notifications");
const QString path = QStringLiteral("/org/freedesktop/Notifications");
// A service that has not answered by then is taken as absent; the note is
// dropped, and the next one is sent anew.
constexpr int reply_timeout_ms = 3000;
// How long the application's end waits for the bus thread; a bus that hangs
// a connection keeps the thread, which then ends with the process.
constexpr int stop_bound_ms = 2000;

// A note as the bus thread sends it.
struct note {
  std::string message_id;
  QString app, icon, summary, body;
  QVariantMap hints;
  int expire_ms;
  std::optional<BMessage> on_click;
};

QString q(const std::string& text) { return QString::fromStdString(text); }

// The session bus's side: lives on the bus thread, where all of it runs.
class BusSide : public QObject {
  Q_OBJECT
 public:
  void send(const note& n);

 public Q_SLOTS:
  void action_invoked(uint id, const QString& action);
  void closed(uint id, uint reason);

 private:
  void shown(const note& n, uint id);

  bool listening_ = false;
  std::map<std::string, uint> on_screen_;  // message id -> the service's id
  std::map<uint, BMessage> on_click_;      // the service's id -> what a click posts
};

void BusSide::send(const note& n) {
  QDBusConnection bus = QDBusConnection::sessionBus();
  if (!bus.isConnected()) {
    debug_note("no desktop notification: no session bus (" + bus.lastError().message().toStdString() + ")");
    return;
  }
  if (!listening_) {
    // From any sender: only the ids this side was given count.
    listening_ = bus.connect(QString(), path, service, QStringLiteral("ActionInvoked"), this,
                             SLOT(action_invoked(uint, QString))) &&
                 bus.connect(QString(), path, service, QStringLiteral("NotificationClosed"), this,
                             SLOT(closed(uint, uint)));
  }
  const auto previous = on_screen_.find(n.message_id);
  const uint replaces = n.message_id.empty() || previous == on_screen_.end() ? 0 : previous->second;
  QStringList actions;
  if (n.on_click) actions << QStringLiteral("default") << QStringLiteral("Show");
  QDBusMessage call = QDBusMessage::createMethodCall(service, path, service, QStringLiteral("Notify"));
  call << n.app << replaces << n.icon << n.summary << n.body << actions << n.hints << n.expire_ms;
  auto* watcher = new QDBusPendingCallWatcher(bus.asyncCall(call, reply_timeout_ms), this);
  connect(watcher, &QDBusPendingCallWatcher::finished, this, [this, n](QDBusPendingCallWatcher* done) {
    done->deleteLater();
    const QDBusPendingReply<uint> reply = *done;
    if (reply.isError())
      debug_note("no desktop notification: " + reply.error().name().toStdString() + ": " +
                 reply.error().message().toStdString());
    else
      shown(n, reply.value());
  });
}

void BusSide::shown(const note& n, uint id) {
  if (!n.message_id.empty()) {
    uint& last = on_screen_[n.message_id];
    if (last != id) on_click_.erase(last);
    last = id;
  }
  if (n.on_click)
    on_click_[id] = *n.on_click;
  else
    on_click_.erase(id);
}

void BusSide::action_invoked(uint id, const QString& action) {
  const auto click = on_click_.find(id);
  if (action != QLatin1String("default") || click == on_click_.end()) return;
  gui_detail::post_to_qt([message = click->second]() mutable {
    if (be_app != nullptr) be_app->PostMessage(&message);
  });
}

void BusSide::closed(uint id, uint) {
  on_click_.erase(id);
  std::erase_if(on_screen_, [id](const auto& entry) { return entry.second == id; });
}

std::mutex bus_lock;
QThread* bus_thread = nullptr;  // both under bus_lock
BusSide* bus_side = nullptr;

// Run by QCoreApplication's destructor, on the Qt thread.
void end_bus_thread() {
  std::lock_guard lock(bus_lock);
  if (bus_thread == nullptr) return;
  bus_thread->quit();
  if (bus_thread->wait(QDeadlineTimer(stop_bound_ms))) delete bus_thread;
  bus_thread = nullptr;
  bus_side = nullptr;
}

// Starts the bus thread on first use; with bus_lock held. Null without an
// application.
BusSide* bus_side_locked() {
  if (bus_side != nullptr) return bus_side;
  if (QCoreApplication::instance() == nullptr) return nullptr;
  bus_thread = new QThread;
  bus_thread->setObjectName(QStringLiteral("wyke-notifications"));
  bus_side = new BusSide;
  bus_side->moveToThread(bus_thread);
  QObject::connect(bus_thread, &QThread::finished, bus_side, &QObject::deleteLater);
  bus_thread->start();
  qAddPostRoutine(end_bus_thread);
  return bus_side;
}

unsigned char urgency(notification_type type) {
  switch (type) {
    case B_IMPORTANT_NOTIFICATION:
    case B_ERROR_NOTIFICATION:
      return 2;  // critical
    case B_INFORMATION_NOTIFICATION:
    case B_PROGRESS_NOTIFICATION:
      break;
  }
  return 1;  // normal
}

}  // namespace

BNotification::BNotification(notification_type type) : type_(type) {}

status_t BNotification::Send(bigtime_t timeout) {
  note n{message_id_, q(group_), q(icon_), q(title_), q(content_), {}, -1, on_click_};
  n.hints.insert(QStringLiteral("urgency"), QVariant::fromValue(urgency(type_)));
  if (!category_.empty()) n.hints.insert(QStringLiteral("category"), q(category_));
  if (!desktop_entry_.empty()) n.hints.insert(QStringLiteral("desktop-entry"), q(desktop_entry_));
  if (timeout >= 0) n.expire_ms = static_cast<int>(std::min<bigtime_t>(timeout / 1000, INT32_MAX));
  std::lock_guard lock(bus_lock);
  BusSide* side = bus_side_locked();
  if (side == nullptr) return B_ERROR;
  QMetaObject::invokeMethod(side, [side, n] { side->send(n); }, Qt::QueuedConnection);
  return B_OK;
}

#include "notification.moc"
