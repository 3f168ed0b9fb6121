#include "news.h"

news NewsTracker::update(int account, const account_outcome& outcome) {
  news found;
  if (!outcome.listed) return found;
  const auto previous = known_.find(account);
  found.waiting = previous == known_.end();
  std::unordered_set<std::string> now;
  for (const listed_message& message : outcome.messages) {
    const bool known = !found.waiting && previous->second.count(message.identity) > 0;
    if (now.insert(message.identity).second && !known) found.messages.push_back(message);
  }
  if (found.waiting || outcome.complete)
    known_[account] = std::move(now);
  else
    previous->second.merge(now);
  return found;
}
