#include "netns.h"

#include <fcntl.h>
#include <linux/capability.h>
#include <net/if.h>
#include <sched.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <fstream>

namespace wyke_test {

namespace {

bool entered = false;
std::string failure = "not attempted";

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
  if (!write_file("/proc/self/uid_map", "1000 " + std::to_string(uid) + " 1")) return fail("uid_map");
  if (!write_file("/proc/self/gid_map", "1000 " + std::to_string(gid) + " 1")) return fail("gid_map");
  if (!bring_loopback_up()) return false;
  if (!drop_capabilities()) return false;
  entered = true;
  failure.clear();
  return true;
}

bool have_private_network() { return entered; }
const std::string& netns_failure() { return failure; }

}  // namespace wyke_test
