// Alerts: a small window with a text and buttons, which closes and deletes
// itself when a button is pressed.
#pragma once

#include <string>
#include <vector>

#include "platform/types.h"

enum button_width { B_WIDTH_AS_USUAL, B_WIDTH_FROM_WIDEST, B_WIDTH_FROM_LABEL };
enum alert_type { B_EMPTY_ALERT, B_INFO_ALERT, B_IDEA_ALERT, B_WARNING_ALERT, B_STOP_ALERT };

// Where the platform would report the button pressed; alerts here report to
// nobody, so only a null invoker is ever given.
class BInvoker;

class BAlert {
 public:
  // The button widths follow the desktop's style whatever `width` says.
  BAlert(const char* title, const char* text, const char* button0, const char* button1 = nullptr,
         const char* button2 = nullptr, button_width width = B_WIDTH_AS_USUAL, alert_type type = B_INFO_ALERT);

  // Shows the alert and returns at once, without waiting for a button; the
  // alert object is deleted (the window stays until a button is pressed).
  // Any thread.
  status_t Go(BInvoker* invoker = nullptr);

  const char* Title() const { return title_.c_str(); }
  const char* Text() const { return text_.c_str(); }

 private:
  ~BAlert() = default;

  std::string title_;
  std::string text_;
  std::vector<std::string> buttons_;
  alert_type type_;
};
