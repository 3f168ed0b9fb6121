#include "xoauth2.h"

#include <algorithm>
#include <vector>

#include "platform/base64.h"
#include "platform/secret.h"

std::string xoauth2_response(std::string_view user, std::string_view token) {
  constexpr std::string_view user_key = "user=", auth_key = "\x01" "auth=Bearer ", end = "\x01\x01";
  std::string plain;
  plain.reserve(user_key.size() + user.size() + auth_key.size() + token.size() + end.size());
  plain.append(user_key).append(user).append(auth_key).append(token).append(end);
  std::string encoded = encode_base64(plain);
  wipe_secret(plain);
  return encoded;
}

std::string xoauth2_refusal_status(std::string_view challenge) {
  std::vector<char> bytes(challenge.size());
  const ssize_t length = decode_base64(bytes.data(), challenge.data(), static_cast<off_t>(challenge.size()));
  const std::string_view json(bytes.data(), static_cast<std::size_t>(std::max<ssize_t>(length, 0)));

  // Enough of JSON for the one member: "status", a colon, then a string or
  // a bare word (a number), blanks allowed between.
  const std::string_view key = "\"status\"";
  std::string_view rest = json.substr(std::min(json.find(key), json.size()));
  if (rest.empty()) return {};
  rest.remove_prefix(key.size());
  const auto skip_blanks = [&] {
    while (!rest.empty() && (rest.front() == ' ' || rest.front() == '\t' || rest.front() == '\r' || rest.front() == '\n'))
      rest.remove_prefix(1);
  };
  skip_blanks();
  if (rest.empty() || rest.front() != ':') return {};
  rest.remove_prefix(1);
  skip_blanks();
  const bool quoted = !rest.empty() && rest.front() == '"';
  if (quoted) rest.remove_prefix(1);
  std::string status;
  for (const char c : rest) {
    if (quoted ? c == '"' : (c == ',' || c == '}' || c == ' ')) break;
    if (status.size() == max_xoauth2_status) break;
    status += static_cast<unsigned char>(c) < 0x20 || static_cast<unsigned char>(c) >= 0x7f ? '?' : c;
  }
  return status;
}
