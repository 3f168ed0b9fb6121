#include "platform/report.h"

#include <cstdio>
#include <mutex>
#include <set>

namespace {

struct Reports {
  std::mutex lock;
  std::set<std::string> previous;  // reasons of the check before this one
  std::set<std::string> current;   // reasons of this check
  std::string kept;                // the first reason of this check
};

Reports& reports() {
  static Reports instance;
  return instance;
}

}  // namespace

void report_begin() {
  Reports& r = reports();
  const std::lock_guard guard(r.lock);
  r.previous = std::move(r.current);
  r.current.clear();
  r.kept.clear();
}

void report_failure(const std::string& reason) {
  Reports& r = reports();
  const std::lock_guard guard(r.lock);
  if (r.kept.empty()) r.kept = reason;
  if (!r.current.insert(reason).second || r.previous.count(reason) != 0) return;
  std::fprintf(stderr, "wyke: %s\n", reason.c_str());
}

std::string report_reason() {
  Reports& r = reports();
  const std::lock_guard guard(r.lock);
  return r.kept;
}
