// The command line: what each set of arguments makes the program do, and the
// help's promise to name this user's files and every key of an account.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "command_line.h"
#include "temp_config.h"

namespace {

using Args = std::vector<std::string>;

struct ArgsCase {
  const char* name;
  Args arguments;
  bool run;
  bool debug;
  int status;
  std::string out_has;  // empty: stdout must be empty
  std::string err_has;  // empty: stderr must be empty
};

const ArgsCase args_cases[] = {
    {"no arguments runs as always", {}, true, false, 0, "", ""},
    {"debug runs with the log", {"--debug"}, true, true, 0, "", ""},
    {"debug twice is still debug", {"--debug", "--debug"}, true, true, 0, "", ""},
    {"help", {"--help"}, false, false, 0, "Usage: wyke", ""},
    {"short help", {"-h"}, false, false, 0, "Usage: wyke", ""},
    {"version", {"--version"}, false, false, 0, "wyke " WYKE_VERSION "\n", ""},
    {"help wins over version", {"--version", "--help"}, false, false, 0, "Options:", ""},
    {"help with debug still only helps", {"--debug", "-h"}, false, false, 0, "Usage: wyke", ""},
    {"unknown option", {"--verbose"}, false, false, 2, "", "unknown option --verbose\nUsage: wyke"},
    {"unknown option beside help", {"--help", "-x"}, false, false, 2, "", "unknown option -x"},
    {"a toolkit option is not ours", {"-platform", "xcb"}, false, false, 2, "", "unknown option -platform"},
    {"prefix of an option", {"--deb"}, false, false, 2, "", "unknown option --deb"},
    {"option with a value", {"--debug=1"}, false, false, 2, "", "unknown option --debug=1"},
    {"a stray word", {"inbox"}, false, false, 2, "", "unexpected argument inbox"},
    {"an empty argument", {""}, false, false, 2, "", "unexpected argument \n"},
};

TEST(CommandLine, EachSetOfArgumentsDoesWhatItSays) {
  for (const ArgsCase& c : args_cases) {
    SCOPED_TRACE(c.name);
    const command_line line = read_command_line(c.arguments);
    EXPECT_EQ(line.run, c.run);
    EXPECT_EQ(line.debug, c.debug);
    EXPECT_EQ(line.exit_status, c.status);
    if (c.out_has.empty())
      EXPECT_EQ(line.out, "");
    else
      EXPECT_NE(line.out.find(c.out_has), std::string::npos) << line.out;
    if (c.err_has.empty())
      EXPECT_EQ(line.err, "");
    else
      EXPECT_NE(line.err.find(c.err_has), std::string::npos) << line.err;
  }
}

TEST(CommandLine, ReadsArgvAfterTheProgramName) {
  const char* argv[] = {"--version", "--debug", nullptr};
  const command_line line = read_command_line(2, argv);
  EXPECT_TRUE(line.run) << "argv[0] is the program, not an option";
  EXPECT_TRUE(line.debug);
}

TEST(CommandLine, HelpNamesThisUsersFiles) {
  wyke_test::TempConfigHome home;
  const std::string help = help_text();
  EXPECT_NE(help.find("  " + home.dir() + "/Mail/accounts\n"), std::string::npos) << help;
  EXPECT_NE(help.find("  " + home.dir() + "/Wyke\n"), std::string::npos) << help;
}

TEST(CommandLine, HelpWithoutASettingsFolderStillSaysWhereItWouldBe) {
  wyke_test::TempConfigHome home;
  const std::string missing = home.dir() + "/not-made-yet";
  setenv("XDG_CONFIG_HOME", missing.c_str(), 1);
  const std::string help = help_text();
  EXPECT_NE(help.find("  " + missing + "/Mail/accounts\n"), std::string::npos) << help;
  EXPECT_FALSE(std::filesystem::exists(missing)) << "asking for help makes no folder";
}

TEST(CommandLine, HelpListsEveryKeyOfAnAccount) {
  const std::string help = help_text();
  for (const char* key : {"host", "user", "password", "password_command", "security", "port", "cafile", "fingerprint",
                          "auth", "oauth_token_command"}) {
    SCOPED_TRACE(key);
    EXPECT_NE(help.find(std::string("\n  ") + key + " = "), std::string::npos);
  }
  for (const char* value : {"none|starttls|tls", "user|xoauth2"}) EXPECT_NE(help.find(value), std::string::npos);
}

}  // namespace
