#include "command_line.h"

#include <cstdio>

#include "platform/storage.h"

namespace {

constexpr const char* usage =
    "Usage: wyke [--debug]\n"
    "       wyke --help | --version\n";

// Where a file of the settings folder is for this user: a folder that does
// not exist yet is named as the notifier will make it.
std::string settings_file(const char* leaf) {
  const std::string folder = settings_folder();
  if (!folder.empty()) return folder + "/" + leaf;
  return std::string("~/.config/") + leaf + " (or $XDG_CONFIG_HOME/" + leaf + ")";
}

command_line finished(int status, std::string out, std::string err = {}) {
  command_line line;
  line.run = false;
  line.exit_status = status;
  line.out = std::move(out);
  line.err = std::move(err);
  return line;
}

}  // namespace

int command_line::finish() const {
  std::fputs(out.c_str(), stdout);
  std::fputs(err.c_str(), stderr);
  return exit_status;
}

std::string help_text() {
  return std::string(usage) +
         "\n"
         "Shows the From: and Subject: lines of the mail waiting on your POP3 server\n"
         "in a small window, and checks again every few minutes.\n"
         "\n"
         "Options:\n"
         "  --debug       print each check's POP3 exchange on stderr with time stamps;\n"
         "                passwords and tokens are shown as ***\n"
         "  -h, --help    print this help and exit\n"
         "  --version     print the version and exit\n"
         "\n"
         "Files:\n"
         "  " + settings_file("Mail/accounts") + "\n"
         "      your POP3 account: the first [account] is used. Read afresh at every\n"
         "      check, and refused while others may read it (chmod 600).\n"
         "  " + settings_file("Wyke") + "\n"
         "      the notifier's settings: fontsize, checktime, closetime, header, and\n"
         "      notify = no to send no desktop notification of new mail.\n"
         "      Written with the defaults on first start, and by the settings window\n"
         "      (right click on the notifier).\n"
         "\n"
         "Keys of an [account] (key = value, one a line; # starts a comment):\n"
         "  host = NAME                  the POP3 server, a name or an address\n"
         "  user = NAME                  the login name\n"
         "  password = TEXT              the password, or instead:\n"
         "  password_command = CMD       a shell command that prints the password\n"
         "  security = none|starttls|tls\n"
         "                               none (default): plain text on port 110;\n"
         "                               starttls: STLS on port 110; tls: port 995\n"
         "  port = N                     1-65535 (default 110, or 995 for tls)\n"
         "  cafile = PATH                a PEM file of certificates to trust as well\n"
         "  fingerprint = HEX            SHA-256 fingerprint of the server's certificate\n"
         "  auth = user|xoauth2          USER and PASS (default), or OAuth 2.0\n"
         "  oauth_token_command = CMD    a shell command that prints an access token\n"
         "                               (auth = xoauth2, with starttls or tls)\n"
         "  protocol = pop3|imap         POP3 (default), or the unseen mail over IMAP\n"
         "                               (ports 143, or 993 for tls; IDLE when offered)\n"
         "  mailbox = NAME               with imap: the mailbox to list (default INBOX)\n"
         "\n"
         "Example:\n"
         "  [account]\n"
         "  host = pop.example.org\n"
         "  user = alice\n"
         "  security = tls\n"
         "  password_command = pass show mail/pop.example.org\n"
         "\n"
         "More in wyke(1).\n";
}

command_line read_command_line(const std::vector<std::string>& arguments) {
  bool help = false;
  bool version = false;
  bool debug = false;
  for (const std::string& argument : arguments) {
    if (argument == "--help" || argument == "-h")
      help = true;
    else if (argument == "--version")
      version = true;
    else if (argument == "--debug")
      debug = true;
    else
      return finished(usage_exit_status, {},
                      "wyke: " + std::string(argument.starts_with('-') ? "unknown option " : "unexpected argument ") +
                          argument + "\n" + usage + "Try 'wyke --help' for more.\n");
  }
  if (help) return finished(0, help_text());
  if (version) return finished(0, std::string("wyke ") + WYKE_VERSION + "\n");
  command_line line;
  line.debug = debug;
  return line;
}

command_line read_command_line(int argc, const char* const* argv) {
  std::vector<std::string> arguments;
  for (int i = 1; i < argc; ++i) arguments.emplace_back(argv[i]);
  return read_command_line(arguments);
}
