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

// A text that holds a secret for as long as it lives, and is wiped then.
struct SecretText {
  std::string text;
  SecretText() = default;
  SecretText(const SecretText&) = delete;
  SecretText& operator=(const SecretText&) = delete;
  ~SecretText() { wipe_secret(text); }
};
