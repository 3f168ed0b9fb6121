#include "netns.h"

#include <fcntl.h>
#include <grp.h>
#include <linux/capability.h>
#include <net/if.h>
#include <pwd.h>
#include <sched.h>
#include <sys/ioctl.h>
#include <sys/mount.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>

namespace wyke_test {

namespace {

// The user and group id of the test process inside its namespace.
constexpr unsigned inner_id = 1000;

bool entered = false;
std::string failure = "not attempted";
bool hosts_made = false;
std::string hosts_failure = "no private network";

bool write_file(const char* path, const std::string& text) {
  std::ofstream out(path);
  out << text;
  out.close();
  return !out.fail();
}

bool fail(const std::string& what) {
  failure = what + ": " + std::strerror(errno);
  return false;
}

bool bring_loopback_up() {
  int fd = socket(AF_INET, SOCK_DGRAM, 0);
  if (fd < 0) return fail("socket");
  ifreq req{};
  std::strncpy(req.ifr_name, "lo", IFNAMSIZ - 1);
  bool ok = ioctl(fd, SIOCGIFFLAGS, &req) == 0;
  if (ok) {
    req.ifr_flags |= IFF_UP | IFF_RUNNING;
    ok = ioctl(fd, SIOCSIFFLAGS, &req) == 0;
  }
  if (!ok) fail("bringing up lo");
  close(fd);
  return ok;
}

std::string read_file(const char* path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream all;
  all << in.rdbuf();
  return all.str();
}

bool hosts_fail(const std::string& what) {
  hosts_failure = what + ": " + std::strerror(errno);
  return false;
}

// Mounts a copy of `path` with `extra` appended over it. The copy is unlinked
// once mounted: the mount keeps it, and nothing is left behind.
bool overlay(const char* path, const std::string& extra) {
  std::string copy = (std::getenv("TMPDIR") ? std::string(std::getenv("TMPDIR")) : "/tmp") + "/wyke-etc-XXXXXX";
  const int fd = mkstemp(copy.data());
  if (fd < 0) return hosts_fail("mkstemp");
  close(fd);
  std::string text = read_file(path);
  if (!text.empty() && text.back() != '\n') text += '\n';
  const bool written = write_file(copy.c_str(), text + extra) && chmod(copy.c_str(), 0644) == 0;
  const bool mounted = written && mount(copy.c_str(), path, nullptr, MS_BIND, nullptr) == 0;
  if (!mounted) hosts_fail(std::string("mounting a private ") + path);
  unlink(copy.c_str());
  return mounted;
}

// A mount namespace of the process's own with the test host in /etc/hosts,
// and names for its ids where the system has none.
bool make_private_hosts() {
  if (unshare(CLONE_NEWNS) != 0) return hosts_fail("unshare(CLONE_NEWNS)");
  if (mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) return hosts_fail("making / private");
  if (!overlay("/etc/hosts", std::string(test_host_address) + " " + test_host_name + "\n")) return false;
  const std::string id = std::to_string(inner_id);
  if (getpwuid(inner_id) == nullptr && !overlay("/etc/passwd", "wyke-test:x:" + id + ":" + id + "::/:/bin/false\n"))
    return false;
  if (getgrgid(inner_id) == nullptr && !overlay("/etc/group", "wyke-test:x:" + id + ":\n")) return false;
  hosts_made = true;
  hosts_failure.clear();
  return true;
}

// Without capabilities a root test process obeys mode bits like a user's.
// Binding port 110 is the one privilege kept: it grants nothing on files.
bool drop_capabilities() {
  __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
  __user_cap_data_struct data[2]{};
  data[0].effective = data[0].permitted = 1u << CAP_NET_BIND_SERVICE;
  if (syscall(SYS_capset, &header, data) != 0) return fail("capset");
  return true;
}

}  // namespace

bool enter_private_network() {
  if (entered) return true;
  const uid_t uid = geteuid();
  const gid_t gid = getegid();
  if (unshare(CLONE_NEWUSER | CLONE_NEWNET) != 0) return fail("unshare");
  // Map an ordinary id inside onto ours outside: files we create stay ours.
  if (!write_file("/proc/self/setgroups", "deny")) return fail("setgroups");
  const std::string inner = std::to_string(inner_id) + " ";
  if (!write_file("/proc/self/uid_map", inner + std::to_string(uid) + " 1")) return fail("uid_map");
  if (!write_file("/proc/self/gid_map", inner + std::to_string(gid) + " 1")) return fail("gid_map");
  if (!bring_loopback_up()) return false;
  // Only the tests that need the test host skip without it.
  make_private_hosts();
  if (!drop_capabilities()) return false;
  entered = true;
  failure.clear();
  return true;
}

bool have_private_network() { return entered; }
const std::string& netns_failure() { return failure; }
bool have_private_hosts() { return hosts_made; }
const std::string& private_hosts_failure() { return hosts_failure; }

}  // namespace wyke_test
