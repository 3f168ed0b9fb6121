#include "platform/report.h"

#include <cstdio>
#include <mutex>
#include <set>
#include <utility>

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

thread_local ReportScope* scope = nullptr;

}  // namespace

void report_begin() {
  Reports& r = reports();
  const std::lock_guard guard(r.lock);
  r.previous = std::move(r.current);
  r.current.clear();
  r.kept.clear();
}

void report_failure(const std::string& reason) {
  const std::string told = scope == nullptr ? reason : scope->name_ + ": " + reason;
  if (scope != nullptr && scope->kept_.empty()) scope->kept_ = told;
  Reports& r = reports();
  const std::lock_guard guard(r.lock);
  if (scope == nullptr && r.kept.empty()) r.kept = told;
  if (!r.current.insert(told).second || r.previous.count(told) != 0) return;
  std::fprintf(stderr, "wyke: %s\n", told.c_str());
}

std::string report_reason() {
  if (scope != nullptr) return scope->kept_;
  Reports& r = reports();
  const std::lock_guard guard(r.lock);
  return r.kept;
}

void report_keep(std::string reason) {
  Reports& r = reports();
  const std::lock_guard guard(r.lock);
  r.kept = std::move(reason);
}

ReportScope::ReportScope(std::string name) : name_(std::move(name)) { scope = this; }

ReportScope::~ReportScope() { scope = nullptr; }
