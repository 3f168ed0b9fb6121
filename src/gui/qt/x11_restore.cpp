#include "gui/qt/x11_restore.h"

#include <QGuiApplication>
#include <QWidget>
#include <xcb/xcb.h>

#include <cstdlib>
#include <cstring>
#include <memory>

namespace gui_detail {

namespace {

constexpr uint32_t normal_state = 1;  // ICCCM's NormalState

template <class Reply>
using reply_ptr = std::unique_ptr<Reply, decltype(&std::free)>;

xcb_atom_t change_state_atom(xcb_connection_t* connection) {
  static xcb_atom_t atom = XCB_ATOM_NONE;  // Qt thread only; one display
  if (atom != XCB_ATOM_NONE) return atom;
  const char name[] = "WM_CHANGE_STATE";
  reply_ptr<xcb_intern_atom_reply_t> reply(
      xcb_intern_atom_reply(connection, xcb_intern_atom(connection, 0, sizeof name - 1, name), nullptr), &std::free);
  if (reply) atom = reply->atom;
  return atom;
}

}  // namespace

bool ask_window_manager_to_restore(QWidget& window) {
  auto* x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
  // Qt's offscreen platform answers too, with no connection.
  xcb_connection_t* connection = x11 != nullptr ? x11->connection() : nullptr;
  if (connection == nullptr || window.windowHandle() == nullptr) return false;
  const auto id = static_cast<xcb_window_t>(window.winId());
  const xcb_atom_t atom = change_state_atom(connection);
  reply_ptr<xcb_query_tree_reply_t> tree(xcb_query_tree_reply(connection, xcb_query_tree(connection, id), nullptr),
                                         &std::free);
  if (atom == XCB_ATOM_NONE || !tree) return false;

  xcb_client_message_event_t event;
  std::memset(&event, 0, sizeof event);
  event.response_type = XCB_CLIENT_MESSAGE;
  event.format = 32;
  event.window = id;
  event.type = atom;
  event.data.data32[0] = normal_state;
  xcb_send_event(connection, 0, tree->root,
                 XCB_EVENT_MASK_SUBSTRUCTURE_REDIRECT | XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY,
                 reinterpret_cast<const char*>(&event));
  xcb_flush(connection);
  return true;
}

}  // namespace gui_detail
