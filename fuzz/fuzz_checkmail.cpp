// Feeds arbitrary bytes to a whole mail check as everything the server says,
// and checks what the notifier would show: the count matches the lines of
// the text, and the text stays within what the server sent can explain.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "pop3.h"
#include "pop3_peer.h"
#include "require.h"
#include "wyke.h"

namespace {

const std::vector<std::string> header_lists[] = {
    {"From:", "Subject:"},
    {""},  // every line, the blank one included
    {"Subj", "From:", "From:"},
};

// n lines are joined by n - 1 newlines; a line may be empty.
bool count_matches(int lines, const std::string& text) {
  const auto newlines = std::count(text.begin(), text.end(), '\n');
  return lines == 0 ? text.empty() : newlines == lines - 1;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 2) return 0;
  fuzz::prepare_pop3_account();
  pop3_read_size = data[0] & 1 ? 1 : 4096;
  const std::vector<std::string>& headers = header_lists[data[1] % std::size(header_lists)];
  const std::string_view answer(reinterpret_cast<const char*>(data + 2), size - 2);
  fuzz::ScriptedPeer server(answer);
  const int lines = WykeView::checkmail(headers);
  REQUIRE(count_matches(lines, wyke_header));
  REQUIRE(wyke_header.find('\r') == std::string::npos);
  // Each shown field comes from at least one line the server sent, and a
  // decoded word is never longer than its conversion area allows.
  REQUIRE(wyke_header.size() <= 256 * answer.size() + 64);
  return 0;
}
