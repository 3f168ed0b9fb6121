// A fresh settings folder for one test: XDG_CONFIG_HOME points at a new
// temporary folder for the fixture's lifetime and is removed afterwards.
#pragma once

#include <string>

namespace wyke_test {

class TempConfigHome {
 public:
  TempConfigHome();
  ~TempConfigHome();
  TempConfigHome(const TempConfigHome&) = delete;
  TempConfigHome& operator=(const TempConfigHome&) = delete;

  const std::string& dir() const { return dir_; }
  std::string path(const std::string& leaf) const { return dir_ + "/" + leaf; }

  // Writes a file below the folder (parents created), with the given mode.
  void write(const std::string& leaf, const std::string& bytes, unsigned mode = 0644) const;
  // The whole file, or "<missing>" when it cannot be read.
  std::string read(const std::string& leaf) const;

 private:
  std::string dir_;
  std::string saved_;
  bool had_saved_ = false;
};

}  // namespace wyke_test
