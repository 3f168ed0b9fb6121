// A session bus of the test's own (dbus-daemon with a configuration that
// starts no service) and a notification service on it that records each
// Notify call, as a desktop's would.
#pragma once

#include <sys/types.h>

#include <QDBusConnection>
#include <QStringList>
#include <QThread>
#include <QVariantMap>
#include <chrono>
#include <memory>
#include <string>
#include <vector>

namespace wyke_test {

class SessionBus {
 public:
  // Starts dbus-daemon, waiting (bounded) for its address; address() stays
  // empty and error() says why when it cannot.
  SessionBus();
  ~SessionBus();  // SIGKILL: it keeps nothing worth a clean end
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
  uint id = 0;  // the service's answer
};

class NotificationService {
 public:
  explicit NotificationService(const std::string& bus_address);
  ~NotificationService();
  // Owns org.freedesktop.Notifications on the bus, or gives it up.
  bool take_name();
  void give_up_name();
  std::vector<recorded_note> notes() const;
  // True once a note with `summary` came after the first `from`, false after `timeout`.
  bool wait_for_note(const QString& summary, std::size_t from, std::chrono::milliseconds timeout) const;
  // The user clicks note `id`.
  void click(uint id);

 private:
  class Object;
  QDBusConnection connection_;
  QThread thread_;
  std::unique_ptr<Object> object_;
};

}  // namespace wyke_test
