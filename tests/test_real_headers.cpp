// Header blocks as real mail carries them, through a whole check: the line the
// notifier shows for each, exactly. Unfolding, encoded words in many charsets,
// field names in any case, broken words, and text that tries to lie.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "netns.h"
#include "pop3_account.h"
#include "pop3_server.h"
#include "repeat.h"
#include "temp_config.h"
#include "wyke.h"

namespace {

using wyke_test::repeat;

struct RealHeader {
  const char* name;
  std::string block;  // header lines, CR LF each
  std::string shown;  // wyke_header after the check
};

const std::string rlo = "\u202e";
const std::string word_75 = "=?UTF-8?Q?" + repeat("a", 63) + "?=";

const std::vector<RealHeader> real_headers = {
    // Unfolding: the folding blanks stay, a TAB shows as a space.
    {"folded_plain_subject", "Subject: Quarterly report for\r\n the northern region\r\n",
     "Subject: Quarterly report for the northern region"},
    {"folded_with_a_tab", "Subject: Nightly build finished: 1,204 tests passed,\r\n\t3 skipped\r\n",
     "Subject: Nightly build finished: 1,204 tests passed, 3 skipped"},
    {"tab_inside_a_line", "Subject: a\tb\r\n", "Subject: a b"},
    {"continuation_of_an_unshown_field", "To: a,\r\n b\r\nSubject: s\r\n", "Subject: s"},
    // Q: "_" is a space in every charset.
    {"q_underscore_latin1", "Subject: =?ISO-8859-1?Q?Caf=E9_au_lait?=\r\n", "Subject: Café au lait"},
    {"q_underscore_utf8_name", "From: =?UTF-8?Q?J=C3=BCrgen_M=C3=BCller?= <jm@example.de>\r\n",
     "From: Jürgen Müller <jm@example.de>"},
    // Adjacent words: the blanks between them go, the blanks by plain text stay.
    {"adjacent_words_in_two_charsets", "Subject: =?ISO-8859-1?Q?Caf=E9?= =?UTF-8?Q?_cr=C3=A8me?=\r\n",
     "Subject: Café crème"},
    {"adjacent_words_across_a_fold",
     "Subject: =?UTF-8?B?UXVhcnRlcmx5IHJlcG9ydCBmb3IgdGhl?=\r\n =?UTF-8?B?IG5vcnRoZXJuIHJlZ2lvbg==?=\r\n",
     "Subject: Quarterly report for the northern region"},
    {"adjacent_words_across_a_tab_fold", "From: =?UTF-8?Q?J=C3=BCrgen?=\r\n\t=?UTF-8?Q?_M=C3=BCller?= <jm@example.de>\r\n",
     "From: Jürgen Müller <jm@example.de>"},
    {"blank_by_plain_text_stays", "Subject: =?UTF-8?Q?Gr=C3=BC=C3=9Fe?= aus =?UTF-8?Q?K=C3=B6ln?=\r\n",
     "Subject: Grüße aus Köln"},
    {"folded_q_word_then_text", "Subject: Re:\r\n =?ISO-8859-1?Q?R=FCckmeldung?=\r\n zum Angebot\r\n",
     "Subject: Re: Rückmeldung zum Angebot"},
    // Charsets beyond ISO 8859, labels in any case.
    {"koi8_r", "Subject: =?KOI8-R?B?8NLJ18XUIMnaIO3P08vX2Q==?=\r\n", "Subject: Привет из Москвы"},
    {"windows_1251", "Subject: =?windows-1251?Q?=D1=F7=B8=F2_=ED=E0_=EE=EF=EB=E0=F2=F3?=\r\n",
     "Subject: Счёт на оплату"},
    {"windows_1252", "Subject: =?windows-1252?Q?=93Smart=94_quotes_=96_caf=E9?=\r\n",
     "Subject: “Smart” quotes – café"},
    {"gb2312", "Subject: =?GB2312?B?u+HS6c2o1qo=?=\r\n", "Subject: 会议通知"},
    {"gb2312_label_on_gbk_text", "Subject: =?gb2312?B?zNWGtNDCuOg=?=\r\n", "Subject: 陶喆新歌"},
    {"big5", "Subject: =?big5?B?t3zEs7Nxqr4=?=\r\n", "Subject: 會議通知"},
    {"euc_kr", "Subject: =?EUC-KR?B?vsiz58fPvLy/5A==?=\r\n", "Subject: 안녕하세요"},
    {"ks_c_5601_label_on_cp949_text", "Subject: =?ks_c_5601-1987?B?jGO55rCix88=?=\r\n", "Subject: 똠방각하"},
    {"shift_jis", "Subject: =?shift_jis?B?gqiSbYLngrk=?=\r\n", "Subject: お知らせ"},
    {"iso_2022_jp", "Subject: =?ISO-2022-JP?B?GyRCMnE1RCROJCpDTiRpJDsbKEI=?=\r\n", "Subject: 会議のお知らせ"},
    {"language_suffix_ignored", "From: =?US-ASCII*EN?Q?Keith_Moore?= <moore@cs.utk.edu>\r\n",
     "From: Keith Moore <moore@cs.utk.edu>"},
    {"unknown_label_kept_as_it_stood", "Subject: =?x-no-such-charset?Q?abc?= end\r\n",
     "Subject: =?x-no-such-charset?Q?abc?= end"},
    {"unknown_label_beside_a_known_one", "Subject: =?x-no-such?Q?a?= =?UTF-8?Q?b?=\r\n",
     "Subject: =?x-no-such?Q?a?= b"},
    {"iconv_option_in_label_refused", "Subject: =?UTF-8//TRANSLIT?Q?x?=\r\n", "Subject: =?UTF-8//TRANSLIT?Q?x?="},
    // Quoted strings: what stands between double quotes is not decoded.
    {"word_in_a_quoted_name", "From: \"=?UTF-8?Q?Ann?=\" <ann@example.org>\r\n",
     "From: \"=?UTF-8?Q?Ann?=\" <ann@example.org>"},
    {"word_before_a_quoted_string", "From: =?UTF-8?Q?Ann?= \"Berg\" <ann@example.org>\r\n",
     "From: Ann \"Berg\" <ann@example.org>"},
    {"escaped_quote_inside_a_quoted_string", "From: \"a \\\" =?UTF-8?Q?b?=\" =?UTF-8?Q?c?=\r\n",
     "From: \"a \\\" =?UTF-8?Q?b?=\" c"},
    // Field names in any case, shown as the message spells them.
    {"lower_case_subject", "subject: quiet\r\n", "subject: quiet"},
    {"upper_case_from", "FROM: =?UTF-8?Q?Ann?= <ann@example.org>\r\n", "FROM: Ann <ann@example.org>"},
    // The 75-byte limit of a word: one at it decodes, and so does a longer one.
    {"word_of_75_bytes", "Subject: " + word_75 + "\r\n", "Subject: " + repeat("a", 63)},
    {"word_of_76_bytes", "Subject: =?UTF-8?Q?" + repeat("a", 64) + "?=\r\n", "Subject: " + repeat("a", 64)},
    // Malformed words.
    {"word_without_end", "Subject: =?UTF-8?Q?broken\r\n", "Subject: =?UTF-8?Q?broken"},
    {"unknown_encoding", "Subject: =?UTF-8?X?abc?= x\r\n", "Subject: Unknown encoding. x"},
    {"b_text_outside_the_alphabet", "Subject: =?UTF-8?B?!!!!?=\r\n", "Subject: Decode Error"},
    {"q_escape_not_hex", "Subject: =?UTF-8?Q?a=ZZb?=\r\n", "Subject: a=ZZb"},
    {"invalid_utf8_in_a_word", "Subject: =?UTF-8?Q?a=C3b?=\r\n", "Subject: a\x1a" "b"},
    {"encoded_line_break", "Subject: =?UTF-8?Q?a=0D=0AFrom:_boss?=\r\n", "Subject: a  From: boss"},
    // Text that cannot lie: format characters go, raw or encoded.
    {"raw_right_to_left_override", "From: rtl " + rlo + "moc.live@ecnalab\r\n", "From: rtl moc.live@ecnalab"},
    {"encoded_override_and_isolates", "From: =?UTF-8?Q?=E2=80=AEmoc.live=E2=81=A6@=E2=81=A9ecnalab?=\r\n",
     "From: moc.live@ecnalab"},
};

class RealHeaders : public testing::Test {
 protected:
  void SetUp() override {
    WYKE_REQUIRE_PRIVATE_NETWORK();
    write_account(home, "127.0.0.1");
  }
  void TearDown() override { wyke_header.clear(); }

  wyke_test::TempConfigHome home;
  wyke_test::ShortSessionWaits waits;
};

TEST_F(RealHeaders, EachShowsAsACarefulReaderWould) {
  for (const RealHeader& c : real_headers) {
    SCOPED_TRACE(c.name);
    wyke_test::ScriptedPop3Server server{{"Date: today\r\n" + c.block + "\r\nbody\r\n"}};
    ASSERT_TRUE(server.start("127.0.0.1", pop3port)) << server.error();
    EXPECT_EQ(WykeView::checkmail({"From:", "Subject:"}), 1);
    EXPECT_EQ(wyke_header, c.shown);
  }
}

}  // namespace
