// What is new: what a listing remembers of each message, whatever fields it
// shows, and which messages the tracker tells of from one check to the next.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "listing.h"
#include "news.h"

namespace {

using Lines = std::vector<std::string>;

listed_message listed(const std::string& header, const Lines& shown = {"From:", "Subject:"}) {
  std::string text;
  int lines = 0;
  listed_message message;
  EXPECT_TRUE(list_header_block(header, shown, text, lines, &message));
  return message;
}

struct ListedCase {
  const char* name;
  std::string header;
  Lines shown;
  listed_message want;  // an identity of "digest" stands for any header digest
};

const std::string long_subject = "Subject: " + std::string(300, 'a') + "\r\n";

const std::vector<ListedCase> listed_cases = {
    {"shown_fields", "Message-ID: <1@x>\r\nFrom: Ann\r\nSubject: Hi\r\n", {"From:", "Subject:"},
     {"Message-ID <1@x>", "Ann", "Hi"}},
    {"fields_not_shown", "message-id:  <1@x> \r\nFROM: Ann\r\nsubject: Hi\r\n", {"To:"}, {"Message-ID <1@x>", "Ann", "Hi"}},
    {"folded_and_decoded", "Message-ID:\r\n <1@x>\r\nFrom: =?UTF-8?Q?=C3=89ve?=\r\n <e@x>\r\nSubject: a\r\n\tb\r\n", {"From:"},
     {"Message-ID <1@x>", "\u00c9ve <e@x>", "a b"}},
    {"first_of_each_field", "Message-ID: <1@x>\r\nMessage-ID: <2@x>\r\nFrom: A\r\nFrom: B\r\n", {"From:"},
     {"Message-ID <1@x>", "A", ""}},
    {"made_safe", "From: \xe2\x80\xaemoc.live\r\n", {}, {"digest", "moc.live", ""}},
    {"no_message_id", "From: Ann\r\n", {"From:"}, {"digest", "Ann", ""}},
    {"empty_message_id", "Message-ID:  \r\nFrom: Ann\r\n", {"From:"}, {"digest", "Ann", ""}},
    {"message_id_too_long", "Message-ID: <" + std::string(1000, 'i') + ">\r\n", {}, {"digest", "", ""}},
    {"long_subject_bounded", long_subject, {}, {"digest", "", std::string(253, 'a') + "\u2026"}},
};

TEST(Listed, RemembersWhatAMessageIsKnownBy) {
  for (const ListedCase& c : listed_cases) {
    SCOPED_TRACE(c.name);
    const listed_message got = listed(c.header, c.shown);
    if (std::string(c.want.identity) == "digest")
      EXPECT_EQ(got.identity.rfind("header digest ", 0), 0u) << got.identity;
    else
      EXPECT_EQ(got.identity, c.want.identity);
    EXPECT_EQ(got.from, c.want.from);
    EXPECT_EQ(got.subject, c.want.subject);
  }
}

TEST(Listed, ADigestIsTheSameForTheSameHeaderOnly) {
  const std::string header = "From: Ann\r\nDate: Mon, 7 Dec 2026 10:00:00 +0000\r\n";
  EXPECT_EQ(listed(header).identity, listed(header).identity);
  EXPECT_EQ(listed(header).identity, listed("From: Ann\nDate: Mon, 7 Dec 2026 10:00:00 +0000\n").identity);
  EXPECT_NE(listed(header).identity, listed("From: Ann\r\nDate: Mon, 7 Dec 2026 10:00:01 +0000\r\n").identity);
}

// One account's checks in a row, and what each tells.
struct Check {
  const char* name;
  bool listed, complete;
  Lines identities;
  bool waiting;
  Lines news;
};

const std::vector<Check> checks = {
    {"failure_before_the_first_listing", false, false, {}, false, {}},
    {"first_listing_is_waiting", true, true, {"a", "b"}, true, {"a", "b"}},
    {"same_again", true, true, {"a", "b"}, false, {}},
    {"one_new_twice_in_a_listing", true, true, {"a", "b", "c", "c"}, false, {"c"}},
    {"failure_changes_nothing", false, false, {}, false, {}},
    {"after_the_failure", true, true, {"a", "b", "c"}, false, {}},
    {"cut_short_forgets_nothing", true, false, {"a", "d"}, false, {"d"}},
    {"after_the_cut", true, true, {"a", "b", "c", "d"}, false, {}},
    {"gone", true, true, {"a"}, false, {}},
    {"back_again_is_new", true, true, {"a", "b"}, false, {"b"}},
};

TEST(NewsTracker, TellsWhatTheLastListingDidNotHold) {
  NewsTracker tracker;
  for (const Check& c : checks) {
    SCOPED_TRACE(c.name);
    account_outcome outcome;
    outcome.listed = c.listed;
    outcome.complete = c.complete;
    for (const std::string& id : c.identities) outcome.messages.push_back({id, "", ""});
    const news found = tracker.update(0, outcome);
    EXPECT_EQ(found.waiting, c.waiting);
    Lines got;
    for (const listed_message& message : found.messages) got.push_back(message.identity);
    EXPECT_EQ(got, c.news);
    // Another account's first listing is its own.
    EXPECT_EQ(tracker.update(1, {}).messages.size(), 0u);
  }
}

}  // namespace
