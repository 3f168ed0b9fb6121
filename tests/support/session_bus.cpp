#include "session_bus.h"

#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <unistd.h>

#include <QDBusArgument>
#include <QDBusMessage>
#include <cstring>
#include <fstream>

#include "programs.h"

namespace wyke_test {

namespace {

const QString notifications = QStringLiteral("org.freedesktop.Notifications");
const QString notifications_path = QStringLiteral("/org/freedesktop/Notifications");

}  // namespace

std::string start_session_bus(std::string& why) {
  const std::string daemon = find_program("dbus-daemon");
  char config[] = "/tmp/wyke-bus.XXXXXX";
  const int config_fd = mkstemp(config);
  int out[2];
  if (daemon.empty() || config_fd < 0 || pipe(out) != 0) {
    why = "no dbus-daemon (Debian package dbus) or no temporary file";
    return "";
  }
  close(config_fd);
  // An abstract socket: it goes with the test's network namespace.
  std::ofstream(config) << "<busconfig><type>session</type><listen>unix:tmpdir=/tmp</listen><auth>EXTERNAL</auth>"
                           "<policy context=\"default\"><allow send_destination=\"*\" eavesdrop=\"true\"/><allow eavesdrop=\"true\"/>"
                           "<allow own=\"*\"/></policy>"
                           "</busconfig>\n";
  const std::string config_arg = std::string("--config-file=") + config;
  const std::string print_arg = "--print-address=" + std::to_string(out[1]);
  if (fork() == 0) {
    prctl(PR_SET_PDEATHSIG, SIGKILL);  // forked by the main thread: ends with the process
    execl(daemon.c_str(), daemon.c_str(), "--nofork", config_arg.c_str(), print_arg.c_str(), nullptr);
    _exit(127);
  }
  close(out[1]);
  // The address, in one write once the daemon listens; nothing when it fails.
  pollfd ready{out[0], POLLIN, 0};
  char line[512] = {};
  if (poll(&ready, 1, 10000) != 1 || read(out[0], line, sizeof line - 1) <= 0)
    why = "dbus-daemon gave no address within 10 s";
  close(out[0]);
  unlink(config);
  return std::string(line, std::strcspn(line, "\n"));
}

NotificationService::NotificationService(const std::string& bus_address)
    : connection_(QDBusConnection::connectToBus(QString::fromStdString(bus_address), QStringLiteral("recorder"))) {
  connection_.registerVirtualObject(notifications_path, this);
}

NotificationService::~NotificationService() {
  connection_.unregisterObject(notifications_path);
  QDBusConnection::disconnectFromBus(QStringLiteral("recorder"));
}

bool NotificationService::own_name(bool own) {
  return own ? connection_.registerService(notifications) : connection_.unregisterService(notifications);
}

void NotificationService::click(uint id) {
  QDBusMessage signal = QDBusMessage::createSignal(notifications_path, notifications, QStringLiteral("ActionInvoked"));
  signal << id << QStringLiteral("default");
  connection_.send(signal);
}

bool NotificationService::handleMessage(const QDBusMessage& message, const QDBusConnection& connection) {
  const QList<QVariant> a = message.arguments();
  if (message.member() != QLatin1String("Notify") || a.size() != 8) return false;
  const QVariantMap hints = qdbus_cast<QVariantMap>(a[6]);
  recorded_note& note = notes.emplace_back(recorded_note{
      a[0].toString().toStdString(), a[2].toString().toStdString(), a[3].toString().toStdString(),
      a[4].toString().toStdString(), hints.value("category").toString().toStdString(),
      hints.value("desktop-entry").toString().toStdString(), a[5].toStringList().value(0).toStdString(), a[1].toUInt()});
  note.id = note.replaces != 0 ? note.replaces : static_cast<uint>(notes.size());
  connection.send(message.createReply(QVariant::fromValue(note.id)));
  return true;
}

}  // namespace wyke_test
