// What is new: what a listing remembers of each message, whatever fields it
// shows, and the tracker's news through checks the notifier's table
// (test_notification) does not make: a listing cut short, repeated names.
#include <gtest/gtest.h>

#include "listing.h"
#include "news.h"

namespace {

using Lines = std::vector<std::string>;

struct ListedCase {
  const char* name;
  std::string header;
  Lines shown;
  listed_message want;  // identity "digest": any digest of the header
};

const std::vector<ListedCase> listed_cases = {
    {"fields_not_shown", "message-id:  <1@x> \r\nFROM: Ann\r\nsubject: Hi\r\n", {"To:"}, {"Message-ID <1@x>", "Ann", "Hi"}},
    {"folded_decoded_once", "Message-ID:\r\n <1@x>\r\nFrom: =?UTF-8?Q?=C3=89ve?=\r\n <e@x>\r\nSubject: a\r\n\tb\r\n",
     {"From:"}, {"Message-ID <1@x>", "\u00c9ve <e@x>", "a b"}},
    {"first_of_each", "Message-ID: <1@x>\r\nMessage-ID: <2@x>\r\nFrom: A\r\nFrom: B\r\n", {""}, {"Message-ID <1@x>", "A", ""}},
    {"made_safe", "From: \xe2\x80\xaemoc.live\r\n", {}, {"digest", "moc.live", ""}},
    {"empty_message_id", "Message-ID:  \r\nFrom: Ann\r\n", {"From:"}, {"digest", "Ann", ""}},
    {"message_id_too_long", "Message-ID: <" + std::string(1000, 'i') + ">\r\n", {}, {"digest", "", ""}},
    {"subject_bounded", "Subject: " + std::string(300, 'a') + "\r\n", {}, {"digest", "", std::string(253, 'a') + "\u2026"}},
    {"bare_lf_and_cut_short", "From: Ann\nSubject: x\r\n\tfolded\r\nX: y", {"Subject:"}, {"digest", "Ann", "x folded"}},
};

TEST(Listed, RemembersWhatAMessageIsKnownBy) {
  for (const ListedCase& c : listed_cases) {
    SCOPED_TRACE(c.name);
    std::string text;
    int lines = 0;
    listed_message got;
    ASSERT_TRUE(list_header_block(c.header, c.shown, text, lines, &got));
    EXPECT_EQ(c.want.identity == "digest" ? got.identity.substr(0, 14) : got.identity,
              c.want.identity == "digest" ? "header digest " : c.want.identity);
    EXPECT_EQ(got.from, c.want.from);
    EXPECT_EQ(got.subject, c.want.subject);
    // Fed line by line, as POP3 does, the message is known by the same name
    // and shows the same text.
    std::string streamed_text;
    int streamed_lines = 0;
    MessageListing streamed(c.shown, streamed_text, streamed_lines);
    for (std::string_view rest = c.header; !rest.empty();) {
      const std::size_t end = std::min(rest.find('\n'), rest.size() - 1) + 1;
      ASSERT_TRUE(streamed.add(rest.substr(0, end)));
      rest.remove_prefix(end);
    }
    EXPECT_EQ(streamed.finish().identity, got.identity);
    EXPECT_EQ(streamed_text, text);
  }
}

struct Check {
  bool listed, complete;
  Lines identities, news;
};

TEST(NewsTracker, ACutListingOnlyAddsAndANameCountsOnce) {
  const std::vector<Check> checks = {
      {false, false, {}, {}},  // a failure before the first listing
      {true, true, {"a", "b"}, {"a", "b"}},
      {true, false, {"a", "c", "c"}, {"c"}},
      {true, true, {"a", "b", "c"}, {}},
      {true, true, {"a"}, {}},
      {true, true, {"a", "b"}, {"b"}},
  };
  NewsTracker tracker;
  for (std::size_t i = 0; i < checks.size(); ++i) {
    account_outcome outcome{"", 1, checks[i].listed, {}, checks[i].complete};
    for (const std::string& id : checks[i].identities) outcome.messages.push_back({id, "", ""});
    Lines got;
    for (const listed_message& message : tracker.update(0, outcome).messages) got.push_back(message.identity);
    EXPECT_EQ(got, checks[i].news) << "check " << i;
    EXPECT_TRUE(tracker.update(1, {}).messages.empty()) << "another account's failure";
  }
}

}  // namespace
