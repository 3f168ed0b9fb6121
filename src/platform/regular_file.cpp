#include "platform/regular_file.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace {

const char* kind_of(mode_t mode) {
  if (S_ISFIFO(mode)) return "a named pipe";
  if (S_ISDIR(mode)) return "a folder";
  if (S_ISCHR(mode) || S_ISBLK(mode)) return "a device";
  if (S_ISSOCK(mode)) return "a socket";
  return "something";
}

int refuse(int fd, int error, std::string& why, std::string reason) {
  if (fd >= 0) close(fd);
  why = std::move(reason);
  errno = error;
  return -1;
}

}  // namespace

int open_regular_file(const std::string& path, struct stat& st, std::string& why) {
  // O_NOCTTY: a terminal device must not become the process's terminal on
  // its way to being refused.
  const int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) return refuse(fd, errno, why, std::strerror(errno));
  if (fstat(fd, &st) != 0) return refuse(fd, errno, why, std::strerror(errno));
  if (!S_ISREG(st.st_mode))
    return refuse(fd, EINVAL, why, std::string("it is ") + kind_of(st.st_mode) + ", not a regular file");
  // Reads of a regular file never wait anyway; the flag goes so that the
  // descriptor behaves as any other.
  const int flags = fcntl(fd, F_GETFL);
  if (flags < 0 || fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0) return refuse(fd, errno, why, std::strerror(errno));
  return fd;
}
