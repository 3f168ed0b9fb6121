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
#include <deque>
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

// A note on its way to the bus thread: plain std types only. Qt's
// implicitly shared data (QString, QVariant) is made, copied and freed on the
// bus thread alone, so no reference count is shared between threads.
struct note {
  std::string message_id, app, icon, summary, body, category, desktop_entry;
  unsigned char urgency;
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
  // Sends every note waiting for the bus thread. Bus thread.
  void send_waiting();
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
  QVariantMap hints{{QStringLiteral("urgency"), QVariant::fromValue(n.urgency)}};
  if (!n.category.empty()) hints.insert(QStringLiteral("category"), q(n.category));
  if (!n.desktop_entry.empty()) hints.insert(QStringLiteral("desktop-entry"), q(n.desktop_entry));
  QDBusMessage call = QDBusMessage::createMethodCall(service, path, service, QStringLiteral("Notify"));
  call << q(n.app) << replaces << q(n.icon) << q(n.summary) << q(n.body) << actions << hints << n.expire_ms;
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
QThread* bus_thread = nullptr;  // all three under bus_lock
BusSide* bus_side = nullptr;
std::deque<note> waiting;  // handed over by Send, oldest first

void BusSide::send_waiting() {
  std::deque<note> notes;
  {
    std::lock_guard lock(bus_lock);
    notes.swap(waiting);
  }
  for (const note& n : notes) send(n);
}

// Run by QCoreApplication's destructor, on the Qt thread.
void end_bus_thread() {
  std::lock_guard lock(bus_lock);
  if (bus_thread == nullptr) return;
  bus_thread->quit();
  if (bus_thread->wait(QDeadlineTimer(stop_bound_ms))) delete bus_thread;
  bus_thread = nullptr;
  bus_side = nullptr;
  waiting.clear();
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
  const int expire_ms = timeout < 0 ? -1 : static_cast<int>(std::min<bigtime_t>(timeout / 1000, INT32_MAX));
  std::lock_guard lock(bus_lock);
  BusSide* side = bus_side_locked();
  if (side == nullptr) return B_ERROR;
  waiting.push_back({message_id_, group_, icon_, title_, content_, category_, desktop_entry_, urgency(type_), expire_ms,
                     on_click_});
  // One wake-up for a queue that was empty; by name, so the call carries no
  // data of ours across.
  if (waiting.size() == 1) QMetaObject::invokeMethod(side, "send_waiting", Qt::QueuedConnection);
  return B_OK;
}

#include "notification.moc"
