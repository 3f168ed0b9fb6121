// The POP3 side of an account's check: the login's outcome as a failure
// text, or every message of the maildrop through the listing path.
#include <climits>
#include <optional>

#include "account_check.h"
#include "check_reason.h"
#include "listing.h"
#include "platform/report.h"
#include "pop3.h"

namespace {

// How the listing of one message ended.
enum class listed {
  fields,   // its answer ran to the "." line
  refused,  // "-ERR": no such message, skipped without a trace
  failed,   // TOP got no POP3 answer: nothing after it can be trusted
  cut,      // the answer ended with the connection, not with its "." line
  endless,  // the answer ran past max_header_bytes
};

// The header fields of message `i`, through the listing path, into the
// outcome. A refused TOP adds none, and neither does an endless answer; an
// answer cut short adds its lines but is not remembered: its header is not
// the one the next check reads.
listed list_message(POP3& mes, int i, const std::vector<std::string>& headers, account_outcome& outcome) {
  const status_t top = mes.TOP(i, 0);
  if (top == POP3::POP3_NG) return listed::refused;
  if (top != POP3::POP3_COMMAND_SUCSESS) return listed::failed;
  MessageListing listing(headers, outcome.text, outcome.lines);
  for (std::string p = mes.GetData(); !p.empty(); p = mes.GetData())
    if (!listing.add(std::move(p))) return listed::endless;
  listed_message message = listing.finish();
  if (!mes.ResponseEnded()) return listed::cut;
  outcome.messages.push_back(std::move(message));
  return listed::fields;
}

// A reason for a listing that stopped `where` ("at" or "after") message `i`.
std::string cut_short(const char* where, int i, int count, const std::string& why) {
  return "listing incomplete " + std::string(where) + " message " + std::to_string(i) + " of " +
         std::to_string(count) + ": " + why;
}

// Messages 1, 2, ... within the bounds of listing.h, into the outcome. The
// plain exchange asks the count again before each one; the secured ones keep
// the first, so that their TOPs can go out ahead. Empty when every message
// the count gave was listed; otherwise why the listing stopped.
std::string list_messages(POP3& mes, const std::vector<std::string>& headers, int count, account_outcome& outcome) {
  int refused = 0;
  for (int i = 1;; ++i) {
    if (mes.RecountsEachMessage()) {
      const std::optional<int> now = mes.MessageCount();
      // Past the last message the count ends the listing, whatever its answer.
      if (!now) return i <= count ? cut_short("at", i, count, command_failure("STAT", mes.GetLastMesg())) : "";
      count = *now;
    }
    if (i > count) return "";
    const auto top = [i] { return "TOP " + std::to_string(i) + " 0"; };
    switch (list_message(mes, i, headers, outcome)) {
      case listed::fields:
        refused = 0;
        break;
      case listed::refused:
        ++refused;
        break;
      case listed::failed:
        return cut_short("at", i, count, command_failure(top(), mes.GetLastMesg()));
      case listed::cut:
        return cut_short("at", i, count, answer_cut(top()));
      case listed::endless:
        // The rest of it would be read as the next replies.
        return cut_short("at", i, count,
                         "the answer to " + top() + " ran past " + std::to_string(max_header_bytes) + " bytes");
    }
    if (i == INT_MAX) return "";  // no message number after it
    // The bounds end only a listing with messages left: after the last one
    // comes the STAT that ends the listing, as ever.
    if (i == count) continue;
    if (refused == max_refused_in_a_row)
      return cut_short("after", i, count, "the server refused TOP for " + std::to_string(refused) +
                                              " messages in a row; it counts more messages than it has");
    if (outcome.text.size() >= max_text_bytes)
      return cut_short("after", i, count, "the list reached " + std::to_string(max_text_bytes) + " bytes");
    if (outcome.messages.size() >= max_listed_messages)
      return cut_short("after", i, count, "the list reached " + std::to_string(max_listed_messages) + " messages");
  }
}

// Every message, or "Error" when the server does not say how many there
// are: a failed count is never shown as an empty maildrop. A listing cut
// short ends in a line that says so.
account_outcome list_maildrop(POP3& mes, const std::vector<std::string>& headers) {
  account_outcome outcome;
  const std::optional<int> count = mes.MessageCount();
  if (!count) {
    report_failure("cannot count the messages: " + command_failure("STAT", mes.GetLastMesg()));
    outcome.text = "Error";
    return outcome;
  }
  outcome.listed = true;
  if (*count == 0) {
    outcome.complete = true;
    outcome.text = no_mail_text;
    return outcome;
  }
  outcome.lines = 0;
  const std::string why = list_messages(mes, headers, *count, outcome);
  outcome.complete = why.empty();
  if (outcome.complete) return outcome;
  report_failure(why);
  if (outcome.lines > 0) outcome.text += "\n";
  outcome.text += incomplete_text;
  ++outcome.lines;
  return outcome;
}

}  // namespace

account_outcome check_pop3_account(int index, const std::vector<std::string>& headers) {
  POP3 mes(index);
  account_outcome outcome;
  switch (mes.Connect()) {
    case POP3::POP3_UNKNOWN_HOST:
      outcome.text = "Unknown Host";
      break;
    case POP3::POP3_UNKNOWN_USER:
      outcome.text = "Unknown User";
      break;
    case POP3::POP3_WRONG_PASSWORD:
      outcome.text = "Wrong Password";
      break;
    case POP3::POP3_COMMAND_SUCSESS:
      outcome = list_maildrop(mes, headers);
      break;
    default:
      outcome.text = "Error";
  }
  mes.QUIT();
  return outcome;
}
