#include "session_bus.h"

#include <QDBusArgument>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusVirtualObject>
#include <algorithm>
#include <condition_variable>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include "programs.h"

namespace wyke_test {

namespace {

const QString notifications = QStringLiteral("org.freedesktop.Notifications");
const QString notifications_path = QStringLiteral("/org/freedesktop/Notifications");

// The first line `fd` gives within `limit`, without its LF; "" otherwise.
std::string read_line(int fd, std::chrono::milliseconds limit) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  std::string line;
  char c = 0;
  for (;;) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    pollfd ready{fd, POLLIN, 0};
    if (left.count() <= 0 || poll(&ready, 1, static_cast<int>(left.count())) != 1 || read(fd, &c, 1) != 1) return "";
    if (c == '\n') return line;
    line += c;
  }
}

}  // namespace

SessionBus::SessionBus() {
  const std::string daemon = find_program("dbus-daemon");
  char dir[] = "/tmp/wyke-bus.XXXXXX";
  int out[2];
  if (daemon.empty() || mkdtemp(dir) == nullptr || pipe(out) != 0) {
    error_ = "no dbus-daemon (Debian package dbus) or no temporary folder";
    return;
  }
  dir_ = dir;
  std::ofstream(dir_ + "/bus.conf") << "<busconfig><type>session</type><listen>unix:path=" << dir_
                                    << "/socket</listen><auth>EXTERNAL</auth><policy context=\"default\">"
                                       "<allow send_destination=\"*\" eavesdrop=\"true\"/><allow eavesdrop=\"true\"/><allow own=\"*\"/>"
                                       "</policy></busconfig>\n";
  const std::string config = "--config-file=" + dir_ + "/bus.conf", print = "--print-address=" + std::to_string(out[1]);
  pid_ = fork();
  if (pid_ == 0) {
    prctl(PR_SET_PDEATHSIG, SIGKILL);  // never outlives a crashed test
    execl(daemon.c_str(), daemon.c_str(), "--nofork", config.c_str(), print.c_str(), nullptr);
    _exit(127);
  }
  close(out[1]);
  address_ = read_line(out[0], std::chrono::seconds(10));
  close(out[0]);
  if (address_.empty()) error_ = "dbus-daemon gave no address within 10 s";
}

SessionBus::~SessionBus() {
  if (pid_ > 0) {
    kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
  }
  if (!dir_.empty()) std::filesystem::remove_all(dir_);
}

// Runs on the service's own thread.
class NotificationService::Object : public QDBusVirtualObject {
 public:
  bool handleMessage(const QDBusMessage& message, const QDBusConnection& connection) override {
    if (message.member() != QLatin1String("Notify") || message.arguments().size() != 8) return false;
    const QList<QVariant> a = message.arguments();
    std::unique_lock lock(mutex);
    recorded_note note{a[0].toString(), a[2].toString(), a[3].toString(),          a[4].toString(),
                       a[1].toUInt(),   a[5].toStringList(), qdbus_cast<QVariantMap>(a[6]), 0};
    note.id = note.replaces != 0 ? note.replaces : ++last_id;
    notes.push_back(note);
    changed.notify_all();
    connection.send(message.createReply(QVariant::fromValue(note.id)));
    return true;
  }
  QString introspect(const QString&) const override { return {}; }

  mutable std::mutex mutex;
  mutable std::condition_variable changed;
  std::vector<recorded_note> notes;
  uint last_id = 0;
};

NotificationService::NotificationService(const std::string& bus_address)
    : connection_(QDBusConnection::connectToBus(QString::fromStdString(bus_address), QStringLiteral("recorder"))),
      object_(std::make_unique<Object>()) {
  object_->moveToThread(&thread_);
  thread_.start();
  connection_.registerVirtualObject(notifications_path, object_.get());
}

NotificationService::~NotificationService() {
  connection_.unregisterObject(notifications_path);
  thread_.quit();
  thread_.wait();
  QDBusConnection::disconnectFromBus(QStringLiteral("recorder"));
}

bool NotificationService::take_name() { return connection_.registerService(notifications); }
void NotificationService::give_up_name() { connection_.unregisterService(notifications); }

std::vector<recorded_note> NotificationService::notes() const {
  std::lock_guard lock(object_->mutex);
  return object_->notes;
}

bool NotificationService::wait_for_note(const QString& summary, std::size_t from,
                                        std::chrono::milliseconds timeout) const {
  std::unique_lock lock(object_->mutex);
  return object_->changed.wait_for(lock, timeout, [&] {
    const auto& notes = object_->notes;
    return std::any_of(notes.begin() + static_cast<long>(std::min(from, notes.size())), notes.end(),
                       [&](const recorded_note& note) { return note.summary == summary; });
  });
}

void NotificationService::click(uint id) {
  QDBusMessage signal = QDBusMessage::createSignal(notifications_path, notifications, QStringLiteral("ActionInvoked"));
  signal << id << QStringLiteral("default");
  connection_.send(signal);
}

}  // namespace wyke_test
