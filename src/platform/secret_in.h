// Where a line sent to a server carries a secret, so that whoever shows the
// line (the debug log) can hide that part.
#pragma once

// Whether a line sent carries a secret after its first word ("PASS x",
// "AUTH XOAUTH2 <initial response>") or is a secret as a whole (the answer
// to a SASL challenge).
enum class secret_in { none, argument, whole_line };
