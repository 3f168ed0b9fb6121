#include "platform/secret_file.h"

#include <unistd.h>

std::string secret_file_fault(const struct stat& st, const std::string& path) {
  if (st.st_uid != geteuid())
    return "it holds passwords and belongs to another user (uid " + std::to_string(st.st_uid) + ", not " +
           std::to_string(geteuid()) + ")";
  if ((st.st_mode & 077) != 0) return "it holds passwords and others may read or write it (chmod 600 " + path + ")";
  return "";
}
