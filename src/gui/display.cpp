#include "gui/display.h"

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>
#include <xcb/xcb.h>

#include <cstdlib>
#include <cstring>

namespace {

const char* variable(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr && *value != '\0' ? value : nullptr;
}

bool x11_answers() {
  xcb_connection_t* connection = xcb_connect(nullptr, nullptr);
  const bool answers = xcb_connection_has_error(connection) == 0;
  xcb_disconnect(connection);
  return answers;
}

// The compositor's socket, where libwayland looks for it.
bool wayland_answers(const char* name) {
  std::string path = name;
  if (path[0] != '/') {
    const char* runtime = variable("XDG_RUNTIME_DIR");
    if (runtime == nullptr) return false;
    path = std::string(runtime) + "/" + path;
  }
  sockaddr_un address{};
  if (path.size() >= sizeof address.sun_path) return false;
  address.sun_family = AF_UNIX;
  std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
  const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return false;
  const bool answers = connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
  close(fd);
  return answers;
}

display_choice look_for_display() {
  if (variable("QT_QPA_PLATFORM") != nullptr) return {};
  std::string tried;
  if (const char* x11 = variable("DISPLAY")) {
    if (x11_answers()) return {"xcb", ""};
    tried = std::string("X11 at DISPLAY=") + x11 + " does not answer";
  } else {
    tried = "DISPLAY is not set (X11)";
  }
  if (const char* wayland = variable("WAYLAND_DISPLAY")) {
    if (wayland_answers(wayland)) return {"wayland", ""};
    tried += std::string(", Wayland at WAYLAND_DISPLAY=") + wayland + " does not answer";
  } else {
    tried += ", WAYLAND_DISPLAY is not set (Wayland)";
  }
  return {"", tried};
}

}  // namespace

const display_choice& find_display() {
  static const display_choice choice = look_for_display();
  return choice;
}
