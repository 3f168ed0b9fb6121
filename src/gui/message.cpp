#include "gui/message.h"

status_t BMessage::AddInt32(const char* name, int32 value) {
  fields_.emplace_back(name, value);
  return B_OK;
}

status_t BMessage::AddString(const char* name, const char* value) {
  fields_.emplace_back(name, std::string(value ? value : ""));
  return B_OK;
}

status_t BMessage::AddPoint(const char* name, BPoint value) {
  fields_.emplace_back(name, value);
  return B_OK;
}

template <typename T, typename Out, typename Convert>
status_t BMessage::find(const char* name, Out* out, Convert convert) const {
  for (const auto& [field, held] : fields_) {
    if (field != name) continue;
    const T* value = std::get_if<T>(&held);
    if (value == nullptr) return B_BAD_TYPE;
    *out = convert(*value);
    return B_OK;
  }
  return B_NAME_NOT_FOUND;
}

status_t BMessage::FindInt32(const char* name, int32* value) const {
  return find<int32>(name, value, [](int32 held) { return held; });
}

status_t BMessage::FindString(const char* name, const char** value) const {
  return find<std::string>(name, value, [](const std::string& held) { return held.c_str(); });
}

status_t BMessage::FindPoint(const char* name, BPoint* value) const {
  return find<BPoint>(name, value, [](BPoint held) { return held; });
}
