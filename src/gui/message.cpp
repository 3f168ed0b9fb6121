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

template <typename T>
status_t BMessage::find(const char* name, const T** value) const {
  for (const auto& [field, held] : fields_) {
    if (field != name) continue;
    *value = std::get_if<T>(&held);
    return *value ? B_OK : B_BAD_TYPE;
  }
  return B_NAME_NOT_FOUND;
}

status_t BMessage::FindInt32(const char* name, int32* value) const {
  const int32* found = nullptr;
  const status_t status = find(name, &found);
  if (status == B_OK) *value = *found;
  return status;
}

status_t BMessage::FindString(const char* name, const char** value) const {
  const std::string* found = nullptr;
  const status_t status = find(name, &found);
  if (status == B_OK) *value = found->c_str();
  return status;
}

status_t BMessage::FindPoint(const char* name, BPoint* value) const {
  const BPoint* found = nullptr;
  const status_t status = find(name, &found);
  if (status == B_OK) *value = *found;
  return status;
}
