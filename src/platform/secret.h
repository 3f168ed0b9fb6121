// Clearing memory that held a password before it is given back.
#pragma once

#include <string.h>  // explicit_bzero, which the optimiser may not drop

#include <string>

// Clears every byte the string owns, its spare capacity too, then empties it.
inline void wipe_secret(std::string& text) {
  text.resize(text.capacity());
  explicit_bzero(text.data(), text.size());
  text.clear();
}
