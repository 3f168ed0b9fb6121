// What arrived since the last check: for each account, the messages its last
// successful check listed, kept in memory only. Pure; one object belongs to
// one thread (the notifier's).
#pragma once

#include <map>
#include <string>
#include <unordered_set>
#include <vector>

#include "account_check.h"

struct news {
  // The account's first listing: its messages were waiting, not new.
  bool waiting = false;
  // In the order listed; none when nothing is new.
  std::vector<listed_message> messages;
};

class NewsTracker {
 public:
  // The messages of `outcome` that the last listing of `account` did not
  // hold (each identity once); at its first listing, every one. A failed
  // check gives none and changes nothing, so what it hid is not new at the
  // next listing. A listing that stopped short only adds to what is known:
  // the messages it did not reach are not gone. `account` is the account's
  // index in the accounts file.
  news update(int account, const account_outcome& outcome);

 private:
  std::map<int, std::unordered_set<std::string>> known_;
};
