// A fresh temporary directory that becomes the working directory for the
// life of the object; the old working directory and the files are restored
// and removed afterwards.
#pragma once

#include <string>
#include <vector>

class temp_dir {
 public:
  temp_dir();
  ~temp_dir();
  temp_dir(const temp_dir&) = delete;
  temp_dir& operator=(const temp_dir&) = delete;

  const std::string& path() const { return Path; }

 private:
  std::string Path;
  std::string OldCwd;
};

// Writes Text to File (relative to the working directory), creating the
// folders on its way.
void write_file(const std::string& File, const std::string& Text);
std::string read_file(const std::string& File);
// The lines of Text without their line ends.
std::vector<std::string> split_lines(const std::string& Text);
