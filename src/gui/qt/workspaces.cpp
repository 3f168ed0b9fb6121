#include "gui/qt/workspaces.h"

#include <QGuiApplication>
#include <QWidget>
#include <dlfcn.h>
#include <xcb/xcb.h>

#include <cstdlib>
#include <cstring>

namespace gui_detail {

namespace {

// Qt has no call for it, but its X11 platform has libxcb loaded already: the
// functions come from there, so the kit needs no X11 library of its own.
struct Xcb {
  decltype(&xcb_intern_atom) intern_atom;
  decltype(&xcb_intern_atom_reply) intern_atom_reply;
  decltype(&xcb_change_property) change_property;
  decltype(&xcb_flush) flush;
};

bool load(void* library, Xcb& xcb) {
  xcb.intern_atom = reinterpret_cast<decltype(xcb.intern_atom)>(dlsym(library, "xcb_intern_atom"));
  xcb.intern_atom_reply = reinterpret_cast<decltype(xcb.intern_atom_reply)>(dlsym(library, "xcb_intern_atom_reply"));
  xcb.change_property = reinterpret_cast<decltype(xcb.change_property)>(dlsym(library, "xcb_change_property"));
  xcb.flush = reinterpret_cast<decltype(xcb.flush)>(dlsym(library, "xcb_flush"));
  return xcb.intern_atom && xcb.intern_atom_reply && xcb.change_property && xcb.flush;
}

// Sets a 32-bit CARDINAL property of the window's X11 window.
void set_cardinal(QWidget* window, const char* name, uint32_t value) {
  auto* x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
  if (x11 == nullptr || x11->connection() == nullptr) return;
  void* library = dlopen("libxcb.so.1", RTLD_LAZY | RTLD_NOLOAD);
  if (library == nullptr) return;
  Xcb xcb{};
  if (load(library, xcb)) {
    xcb_connection_t* connection = x11->connection();
    xcb_intern_atom_reply_t* atom = xcb.intern_atom_reply(
        connection, xcb.intern_atom(connection, 0, uint16_t(std::strlen(name)), name), nullptr);
    if (atom != nullptr) {
      xcb.change_property(connection, XCB_PROP_MODE_REPLACE, static_cast<xcb_window_t>(window->winId()), atom->atom,
                          XCB_ATOM_CARDINAL, 32, 1, &value);
      xcb.flush(connection);
      std::free(atom);
    }
  }
  dlclose(library);
}

}  // namespace

void show_on_every_workspace(QWidget* window) {
  set_cardinal(window, "_NET_WM_DESKTOP", 0xFFFFFFFF);  // the EWMH value for all desktops
}

}  // namespace gui_detail
