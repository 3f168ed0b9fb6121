// Desktop notifications: a note shown by the desktop's notification service
// (org.freedesktop.Notifications on the session bus), whatever the window
// manager and whether X11 or Wayland. Sending never waits for the bus: the
// bus is spoken to on a thread of its own, and a desktop without the service
// drops the note with a line in the --debug log.
#pragma once

#include <optional>
#include <string>

#include "gui/message.h"
#include "platform/types.h"

enum notification_type {
  B_INFORMATION_NOTIFICATION,
  B_IMPORTANT_NOTIFICATION,
  B_ERROR_NOTIFICATION,
  B_PROGRESS_NOTIFICATION,
};

class BNotification {
 public:
  explicit BNotification(notification_type type);

  // The application's name as the desktop shows it.
  void SetGroup(const std::string& group) { group_ = group; }
  // The summary line, plain text.
  void SetTitle(const std::string& title) { title_ = title; }
  // The body; the desktop reads <b>, <i> and entities in it, so text from
  // elsewhere goes in escaped.
  void SetContent(const std::string& content) { content_ = content; }
  // A later note with the same id replaces the one on the screen instead of
  // joining it.
  void SetMessageID(const std::string& id) { message_id_ = id; }
  // An icon name of the desktop's icon theme.
  void SetIconName(const std::string& name) { icon_ = name; }
  // What the note is about, in the desktop's words ("email.arrived").
  void SetCategory(const std::string& category) { category_ = category; }
  // The desktop entry (without ".desktop") the note comes from.
  void SetDesktopEntry(const std::string& entry) { desktop_entry_ = entry; }
  // Posted to the application when the user clicks the note.
  void SetOnClickMessage(const BMessage& message) { on_click_ = message; }

  // Hands the note to the bus thread and returns at once. `timeout`: how
  // long it stays, in microseconds; negative leaves it to the desktop. B_OK,
  // or B_ERROR when there is no application to send from. Any thread.
  status_t Send(bigtime_t timeout = -1);

 private:
  notification_type type_;
  std::string group_, title_, content_, message_id_, icon_, category_, desktop_entry_;
  std::optional<BMessage> on_click_;
};
