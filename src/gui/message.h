// Messages: a 32-bit code and named, typed fields.
#pragma once

#include <cerrno>
#include <string>
#include <utility>
#include <variant>
#include <vector>

#include "gui/geometry.h"
#include "platform/types.h"

// A four-character code with the first character in the most significant
// byte, as the platform writes 'wksv'.
constexpr uint32 message_code(const char (&code)[5]) {
  return (uint32(uint8(code[0])) << 24) | (uint32(uint8(code[1])) << 16) |
         (uint32(uint8(code[2])) << 8) | uint32(uint8(code[3]));
}

// --- Codes the kit sends ------------------------------------------------------

inline constexpr uint32 B_QUIT_REQUESTED = message_code("_QRQ");   // 0x5F515251
inline constexpr uint32 B_ABOUT_REQUESTED = message_code("_ABR");
inline constexpr uint32 B_MOUSE_DOWN = message_code("_MDN");       // "buttons", "where"

// Bits of the "buttons" field of B_MOUSE_DOWN, or-ed for chords.
inline constexpr int32 B_PRIMARY_MOUSE_BUTTON = 1;
inline constexpr int32 B_SECONDARY_MOUSE_BUTTON = 2;
inline constexpr int32 B_TERTIARY_MOUSE_BUTTON = 4;

inline constexpr status_t B_NAME_NOT_FOUND = -ENOMSG;
inline constexpr status_t B_BAD_TYPE = -EPROTOTYPE;

// A plain value: one thread at a time. Posting a message posts a copy.
class BMessage {
 public:
  BMessage() = default;
  explicit BMessage(uint32 code) : what(code) {}

  uint32 what = 0;

  // --- Adding fields ----------------------------------------------------------
  // A name may be added more than once; Find gives the first value.
  status_t AddInt32(const char* name, int32 value);
  status_t AddString(const char* name, const char* value);
  status_t AddPoint(const char* name, BPoint value);

  // --- Finding fields ---------------------------------------------------------
  // B_NAME_NOT_FOUND when there is no such field, B_BAD_TYPE when it holds
  // another type; `value` is left alone then.
  status_t FindInt32(const char* name, int32* value) const;
  // The string stays valid as long as the message does.
  status_t FindString(const char* name, const char** value) const;
  status_t FindPoint(const char* name, BPoint* value) const;

 private:
  using Value = std::variant<int32, std::string, BPoint>;

  // Stores convert(value) of the first field `name` holding a T.
  template <typename T, typename Out, typename Convert>
  status_t find(const char* name, Out* out, Convert convert) const;

  std::vector<std::pair<std::string, Value>> fields_;
};
