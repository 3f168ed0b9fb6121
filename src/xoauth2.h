// SASL XOAUTH2, the sign-in with an OAuth 2.0 access token that the large
// mail providers ask for: the client's string, and what a refusal says.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

// The longest refusal status kept for the user.
inline constexpr std::size_t max_xoauth2_status = 64;

// The base64 of "user=USER\x01auth=Bearer TOKEN\x01\x01". A secret: the
// caller wipes it.
std::string xoauth2_response(std::string_view user, std::string_view token);

// The "status" member of the JSON error that a server sends, in base64, in
// its "+ " challenge when it refuses the token ({"status":"401",...}), as
// printable ASCII (any other byte a "?"); empty when the challenge holds none.
std::string xoauth2_refusal_status(std::string_view challenge);
