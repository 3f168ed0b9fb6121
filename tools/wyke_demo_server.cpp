// wyke-demo-server: serves the messages of a folder (one file each, sorted by
// name) over POP3 until it is interrupted, for `make demo`.
//   wyke-demo-server MAILDROP_DIR [ADDRESS [PORT]]
// Login: user "demo", password "demo". Prints "ready PORT" once it listens.
#include <algorithm>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "pop3_server.h"

namespace {

std::vector<std::string> read_maildrop(const std::filesystem::path& folder) {
  std::vector<std::filesystem::path> files;
  for (const auto& entry : std::filesystem::directory_iterator(folder))
    if (entry.is_regular_file()) files.push_back(entry.path());
  std::sort(files.begin(), files.end());
  std::vector<std::string> messages;
  for (const auto& file : files) {
    std::ifstream in(file, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    messages.push_back(text.str());
  }
  return messages;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2 || argc > 4) {
    std::fprintf(stderr, "usage: %s MAILDROP_DIR [ADDRESS [PORT]]\n", argv[0]);
    return 2;
  }
  std::error_code ec;
  if (!std::filesystem::is_directory(argv[1], ec)) {
    std::fprintf(stderr, "wyke-demo-server: %s is not a folder\n", argv[1]);
    return 2;
  }
  const std::string address = argc > 2 ? argv[2] : "127.0.0.1";
  const int port = argc > 3 ? std::atoi(argv[3]) : 110;

  // Wait for the end in sigwait, so the server's thread never sees the signals.
  sigset_t stop_signals;
  sigemptyset(&stop_signals);
  sigaddset(&stop_signals, SIGINT);
  sigaddset(&stop_signals, SIGTERM);
  sigaddset(&stop_signals, SIGHUP);
  pthread_sigmask(SIG_BLOCK, &stop_signals, nullptr);

  wyke_test::ScriptedPop3Server server(read_maildrop(argv[1]));
  server.set_login("demo", "demo");
  if (!server.start(address, static_cast<std::uint16_t>(port))) {
    std::fprintf(stderr, "wyke-demo-server: cannot listen on %s:%d: %s\n", address.c_str(), port,
                 server.error().c_str());
    return 1;
  }
  std::printf("ready %u\n", server.port());
  std::fflush(stdout);
  int signal_number = 0;
  sigwait(&stop_signals, &signal_number);
  server.stop();
  return 0;
}
