// A check's work on each field it shows, decode_header and then shown_field,
// on the fields a check typically meets, in lines and bytes per second.
#include <benchmark/benchmark.h>

#include <string>

#include "mimetool.h"
#include "shown_field.h"

namespace {

std::string folded_subject() {
  // About 900 bytes: a long subject folded into encoded words of each kind.
  std::string line = "Subject:";
  while (line.size() < 880)
    line += " =?UTF-8?B?5pel5pys6Kqe44Gu5Lu25ZCN?= =?ISO-8859-1?Q?R=E9sum=E9_du_jour?= plain words";
  return line;
}

void decode(benchmark::State& state, const std::string& line) {
  for (auto _ : state) benchmark::DoNotOptimize(shown_field(decode_header(line)));
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(line.size()));
  state.counters["lines/s"] = benchmark::Counter(static_cast<double>(state.iterations()),
                                                 benchmark::Counter::kIsRate);
}

BENCHMARK_CAPTURE(decode, plain, std::string("Subject: Minutes of the weekly meeting, 3 June"));
BENCHMARK_CAPTURE(decode, q_word, std::string("Subject: =?ISO-8859-1?Q?Caf=E9_cr=E8me?= tonight"));
BENCHMARK_CAPTURE(decode, b_word, std::string("Subject: =?UTF-8?B?44GT44KT44Gr44Gh44Gv?="));
BENCHMARK_CAPTURE(decode, iso_2022_jp,
                  std::string("Subject: =?ISO-2022-JP?B?GyRCJDMkcyRLJEEkTxsoQg==?="));
BENCHMARK_CAPTURE(decode, folded_900_bytes, folded_subject());
BENCHMARK_CAPTURE(decode, koi8_r, std::string("Subject: =?KOI8-R?B?8NLJ18XUIMnaIO3P08vX2Q==?="));
BENCHMARK_CAPTURE(decode, adjacent_words_unfolded,
                  std::string("Subject: =?GB2312?B?u+HS6c2o1qo=?=\t=?UTF-8?B?5a2j5bqm5oC757uT?= =?ISO-8859-1?Q?_caf=E9?="));

}  // namespace

BENCHMARK_MAIN();
