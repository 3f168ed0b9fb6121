// A session bus of the test's own (Debian's dbus-daemon, its own
// configuration: no service is ever started for it) and a notification
// service on it that records each Notify call, as a desktop's would.
#pragma once

#include <QDBusConnection>
#include <QString>
#include <QStringList>
#include <QThread>
#include <QVariantMap>
#include <chrono>
#include <memory>
#include <string>
#include <sys/types.h>
#include <vector>

namespace wyke_test {

class SessionBus {
 public:
  SessionBus() = default;
  ~SessionBus();  // ends the daemon by its process id
  SessionBus(const SessionBus&) = delete;
  SessionBus& operator=(const SessionBus&) = delete;

  // Starts dbus-daemon and waits (bounded) for its address. False with the
  // reason in error().
  bool start();
  const std::string& address() const { return address_; }
  const std::string& error() const { return error_; }

 private:
  std::string dir_, address_, error_;
  pid_t pid_ = -1;
};

struct recorded_note {
  QString app, icon, summary, body;
  uint replaces = 0;
  QStringList actions;
  QVariantMap hints;
  uint id = 0;  // what the service answered
};

class NotificationService {
 public:
  explicit NotificationService(const std::string& bus_address);
  ~NotificationService();

  // Owns org.freedesktop.Notifications on the bus, or gives it up.
  bool take_name();
  void give_up_name();
  // False: calls are recorded and never answered, as by a service that hangs.
  void answer(bool yes);
  std::vector<recorded_note> notes() const;
  // True once a note with this summary came after the first `from` notes,
  // false after `timeout`.
  bool wait_for_note(const QString& summary, std::size_t from, std::chrono::milliseconds timeout) const;
  // The user clicks note `id`: ActionInvoked with "default".
  void click(uint id);

 private:
  class Object;
  QDBusConnection connection_;
  QThread thread_;
  std::unique_ptr<Object> object_;
};

}  // namespace wyke_test
