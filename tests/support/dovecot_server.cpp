#include "dovecot_server.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <grp.h>
#include <linux/capability.h>
#include <netinet/in.h>
#include <poll.h>
#include <pwd.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "netns.h"
#include "programs.h"

namespace wyke_test {

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

// Dovecot starts in well under a second; a loaded machine gets far more.
constexpr auto start_bound = 20s;
constexpr auto stop_bound = 10s;

void write_text(const fs::path& path, const std::string& text) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << text;
}

// Maildir files hold lines ending in LF; the server sends CR LF.
std::string with_lf(const std::string& message) {
  std::string out;
  out.reserve(message.size());
  for (std::size_t i = 0; i < message.size(); ++i)
    if (!(message[i] == '\r' && i + 1 < message.size() && message[i + 1] == '\n')) out += message[i];
  return out;
}

bool accepts(const char* address, std::uint16_t port) {
  const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return false;
  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_port = htons(port);
  inet_pton(AF_INET, address, &to.sin_addr);
  const bool ok = connect(fd, reinterpret_cast<const sockaddr*>(&to), sizeof to) == 0;
  close(fd);
  return ok;
}

// True when the process behind `pidfd` ended within `wait`.
bool ends_within(int pidfd, std::chrono::milliseconds wait) {
  pollfd ended{pidfd, POLLIN, 0};
  return poll(&ended, 1, static_cast<int>(wait.count())) == 1;
}

// In the child before exec: the binding of ports below 1024, which the test
// process holds, passes to Dovecot as an ambient capability.
void pass_port_binding_on() {
  __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
  __user_cap_data_struct data[2]{};
  if (syscall(SYS_capget, &header, data) != 0) return;
  data[0].inheritable |= 1u << CAP_NET_BIND_SERVICE;
  if (syscall(SYS_capset, &header, data) != 0) return;
  prctl(PR_CAP_AMBIENT, PR_CAP_AMBIENT_RAISE, CAP_NET_BIND_SERVICE, 0, 0);
}

}  // namespace

DovecotServer::DovecotServer(std::vector<std::string> maildrop) : maildrop_(std::move(maildrop)) {}

DovecotServer::~DovecotServer() {
  stop();
  if (!dir_.empty()) {
    std::error_code ec;
    fs::remove_all(dir_, ec);
  }
}

std::string DovecotServer::unavailable() {
  if (!have_private_network()) return "no private network namespace: " + netns_failure();
  if (!have_private_hosts()) return "no private /etc/hosts: " + private_hosts_failure();
  if (find_program("dovecot").empty()) return "no dovecot command (Debian packages dovecot-core, dovecot-pop3d, dovecot-imapd)";
  if (find_program("openssl").empty()) return "no openssl command (Debian package openssl)";
  if (!fs::exists("/usr/lib/dovecot/imap")) return "no Dovecot IMAP server (Debian package dovecot-imapd)";
  return {};
}

std::string DovecotServer::log() const {
  std::ifstream in(fs::path(dir_) / "dovecot.log", std::ios::binary);
  std::ostringstream all;
  all << in.rdbuf();
  return all.str();
}

// A CA and the server's certificate for test_host_name, valid two days;
// P-256 keys, made in milliseconds where RSA keys would slow every run.
bool DovecotServer::make_certificates() {
  const std::string openssl = find_program("openssl");
  write_text(fs::path(dir_) / "server.ext",
             std::string("subjectAltName = DNS:") + test_host_name + "\nextendedKeyUsage = serverAuth\n");
  const std::vector<std::string> key = {"-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1", "-nodes"};
  const auto with_key = [&](std::vector<std::string> args, std::vector<std::string> rest) {
    args.insert(args.end(), key.begin(), key.end());
    args.insert(args.end(), rest.begin(), rest.end());
    return args;
  };
  const std::vector<std::vector<std::string>> steps = {
      with_key({openssl, "req", "-x509"},
               {"-keyout", dir_ + "/ca.key", "-out", ca_file(), "-days", "2", "-subj", "/CN=Wyke throw-away test CA",
                "-addext", "basicConstraints=critical,CA:TRUE", "-addext", "keyUsage=critical,keyCertSign,cRLSign"}),
      with_key({openssl, "req"}, {"-keyout", dir_ + "/server.key", "-out", dir_ + "/server.csr", "-subj",
                                  std::string("/CN=") + test_host_name}),
      {openssl, "x509", "-req", "-in", dir_ + "/server.csr", "-CA", ca_file(), "-CAkey", dir_ + "/ca.key",
       "-CAcreateserial", "-out", dir_ + "/server.crt", "-days", "2", "-extfile", dir_ + "/server.ext"},
  };
  std::string output;
  for (const auto& step : steps) {
    if (!run_program(step, output)) {
      error_ = "openssl " + step[1] + " failed: " + output;
      return false;
    }
  }
  // "sha256 Fingerprint=AB:CD:...\n"
  if (!run_program({openssl, "x509", "-in", dir_ + "/server.crt", "-noout", "-fingerprint", "-sha256"}, output) ||
      output.find('=') == std::string::npos) {
    error_ = "openssl x509 -fingerprint failed: " + output;
    return false;
  }
  fingerprint_ = output.substr(output.find('=') + 1);
  fingerprint_.erase(fingerprint_.find_last_not_of(" \r\n") + 1);
  return true;
}

bool DovecotServer::write_files() {
  std::string templ = (fs::temp_directory_path() / "wyke-dovecot-XXXXXX").string();
  if (!mkdtemp(templ.data())) {
    error_ = "mkdtemp failed";
    return false;
  }
  dir_ = templ;
  const fs::path dir(dir_);
  if (!make_certificates()) return false;

  const fs::path maildir = dir / "mail" / user;
  for (const char* sub : {"cur", "new", "tmp"}) fs::create_directories(maildir / sub);
  // The server lists new files in the order of their names.
  for (std::size_t i = 0; i < maildrop_.size(); ++i) {
    const bool seen = std::find(seen_.begin(), seen_.end(), i) != seen_.end();
    write_text(maildir / "cur" / (std::to_string(1700000000 + i) + ".M" + std::to_string(i) + "P1.wyke:2," +
                                  (seen ? "S" : "")),
               with_lf(maildrop_[i]));
  }
  write_text(dir / "passwd", std::string(user) + ":{PLAIN}" + password + "::::::\n");
  for (const char* sub : {"run", "state"}) fs::create_directories(dir / sub);

  const passwd* me = getpwuid(geteuid());
  const group* my_group = getgrgid(getegid());
  if (me == nullptr || my_group == nullptr) {
    error_ = "the test's user or group has no name";
    return false;
  }
  const std::string listen = std::string(test_host_address) + (plain_loopback_ ? ", 127.0.0.1" : "");
  std::ostringstream conf;
  conf << "# Written by the test; nothing here comes from the system's configuration.\n"
       << "protocols = pop3 imap\n"
       << "listen = " << listen << "\n"
       << "base_dir = " << dir_ << "/run\n"
       << "state_dir = " << dir_ << "/state\n"
       << "instance_name = wyke-test\n"
       << "log_path = " << dir_ << "/dovecot.log\n"
       << "auth_verbose = yes\n"
       << "ssl = required\n"
       << "disable_plaintext_auth = yes\n"
       << "ssl_min_protocol = TLSv1.2\n"
       << "ssl_cert = <" << dir_ << "/server.crt\n"
       << "ssl_key = <" << dir_ << "/server.key\n"
       // Every process runs as the test's own user, without chroot.
       << "default_internal_user = " << me->pw_name << "\n"
       << "default_internal_group = " << my_group->gr_name << "\n"
       << "default_login_user = " << me->pw_name << "\n"
       << "first_valid_uid = " << geteuid() << "\n"
       << "first_valid_gid = " << getegid() << "\n"
       << "mail_location = maildir:" << dir_ << "/mail/%u\n"
       << "passdb {\n  driver = passwd-file\n  args = scheme=PLAIN username_format=%u " << dir_ << "/passwd\n}\n"
       << "userdb {\n  driver = static\n  args = uid=" << geteuid() << " gid=" << getegid() << " home=" << dir_
       << "/mail/%u\n}\n"
       << "service pop3-login {\n  chroot =\n"
       << "  inet_listener pop3 {\n    port = " << starttls_port << "\n  }\n"
       << "  inet_listener pop3s {\n    port = " << tls_port << "\n    ssl = yes\n  }\n}\n"
       << "service imap-login {\n  chroot =\n"
       << "  inet_listener imap {\n    port = " << imap_starttls_port << "\n  }\n"
       << "  inet_listener imaps {\n    port = " << imap_tls_port << "\n    ssl = yes\n  }\n}\n"
       << "service anvil {\n  chroot =\n}\n";
  write_text(dir / "dovecot.conf", conf.str());
  return true;
}

bool DovecotServer::start() {
  if (const std::string why = unavailable(); !why.empty()) {
    error_ = why;
    return false;
  }
  return write_files() && launch();
}

bool DovecotServer::restart() {
  stop();
  return launch();
}

bool DovecotServer::launch() {
  const std::string dovecot = find_program("dovecot");
  const std::string conf = dir_ + "/dovecot.conf", out = dir_ + "/dovecot.out";
  const char* const argv[] = {dovecot.c_str(), "-F", "-c", conf.c_str(), nullptr};
  pid_ = fork();
  if (pid_ == 0) {
    prctl(PR_SET_PDEATHSIG, SIGTERM);  // never outlives a crashed test
    const int fd = open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    dup2(fd, STDOUT_FILENO);
    dup2(fd, STDERR_FILENO);
    pass_port_binding_on();
    execv(argv[0], const_cast<char* const*>(argv));
    _exit(127);
  }
  if (pid_ < 0) {
    error_ = "fork failed";
    return false;
  }
  if (wait_until_listening()) return true;
  std::ifstream early(out);
  std::ostringstream said;
  said << early.rdbuf();
  // Appended piece by piece: GCC 12 at -O3 warns falsely on one "\n" + ... chain.
  error_.append("\n").append(said.str()).append(log());
  stop();
  return false;
}

bool DovecotServer::wait_until_listening() {
  const int pidfd = static_cast<int>(syscall(SYS_pidfd_open, pid_, 0));
  if (pidfd < 0) {
    error_ = "pidfd_open failed";
    return false;
  }
  const auto deadline = std::chrono::steady_clock::now() + start_bound;
  bool up = false;
  while (!up && std::chrono::steady_clock::now() < deadline) {
    up = true;
    for (const std::uint16_t port : {starttls_port, tls_port, imap_starttls_port, imap_tls_port})
      up = up && accepts(test_host_address, port);
    // Until it listens, the only event to wait for is its end.
    if (!up && ends_within(pidfd, 10ms)) {
      error_ = "dovecot ended at start-up";
      close(pidfd);
      return false;
    }
  }
  close(pidfd);
  if (!up) error_ = "dovecot did not listen within " + std::to_string(start_bound.count()) + " s";
  return up;
}

void DovecotServer::deliver(const std::string& message, const std::string& name, const std::string& folder) {
  // Maildir++: INBOX at the top, every other mailbox in a ".NAME" folder.
  const fs::path maildir = fs::path(dir_) / "mail" / user / (folder.empty() ? "" : "." + folder);
  for (const char* sub : {"cur", "new", "tmp"}) fs::create_directories(maildir / sub);
  write_text(maildir / "tmp" / name, with_lf(message));
  fs::rename(maildir / "tmp" / name, maildir / "new" / name);
}

std::map<std::string, std::string> DovecotServer::flags() const {
  std::map<std::string, std::string> found;
  const fs::path maildir = fs::path(dir_) / "mail" / user;
  for (const char* sub : {"cur", "new"})
    for (const auto& file : fs::directory_iterator(maildir / sub)) {
      const std::string name = file.path().filename().string();
      const std::size_t info = name.find(":2,");
      found[name.substr(0, name.find(':'))] = info == std::string::npos ? "" : name.substr(info + 3);
    }
  return found;
}

void DovecotServer::stop() {
  if (pid_ <= 0) return;
  const int pidfd = static_cast<int>(syscall(SYS_pidfd_open, pid_, 0));
  kill(pid_, SIGTERM);
  if (pidfd < 0 || !ends_within(pidfd, stop_bound)) kill(pid_, SIGKILL);
  if (pidfd >= 0) close(pidfd);
  waitpid(pid_, nullptr, 0);
  pid_ = -1;
}

}  // namespace wyke_test
