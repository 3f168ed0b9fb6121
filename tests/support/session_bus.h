// A session bus of the test's own (dbus-daemon with a configuration that
// starts no service) and a notification service on it that records each
// Notify call, as a desktop's would.
#pragma once

#include <QDBusConnection>
#include <QDBusVirtualObject>
#include <string>
#include <vector>

namespace wyke_test {

// Starts dbus-daemon, which ends with the test process, and returns its
// address once it listens (bounded); "" with `why` set when it cannot.
std::string start_session_bus(std::string& why);

struct recorded_note {
  std::string app, icon, summary, body, category, desktop_entry, first_action;
  uint replaces = 0, id = 0;  // id: the service's answer
};

// Lives on the Qt thread: it records while that thread handles events
// (pump_until).
class NotificationService : public QDBusVirtualObject {
 public:
  explicit NotificationService(const std::string& bus_address);
  ~NotificationService() override;
  // Owns org.freedesktop.Notifications on the bus, or gives it up.
  bool own_name(bool own);
  // The user clicks note `id`.
  void click(uint id);

  std::vector<recorded_note> notes;

 private:
  bool handleMessage(const QDBusMessage& message, const QDBusConnection& connection) override;
  QString introspect(const QString&) const override { return {}; }
  QDBusConnection connection_;
};

}  // namespace wyke_test
