#include "temp_dir.h"

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace fs = std::filesystem;

temp_dir::temp_dir()
{
  OldCwd = fs::current_path().string();
  std::string Template = (fs::temp_directory_path() / "veldt-test-XXXXXX").string();
  if (!mkdtemp(&Template[0])) throw std::runtime_error("mkdtemp failed");
  Path = Template;
  fs::current_path(Path);
}

temp_dir::~temp_dir()
{
  std::error_code Ignored;
  fs::current_path(OldCwd, Ignored);
  fs::remove_all(Path, Ignored);
}

void write_file(const std::string& File, const std::string& Text)
{
  fs::path P(File);
  if (P.has_parent_path()) fs::create_directories(P.parent_path());
  std::ofstream Out(File, std::ios::binary | std::ios::trunc);
  Out.write(Text.data(), static_cast<std::streamsize>(Text.size()));
}

std::string read_file(const std::string& File)
{
  std::ifstream In(File, std::ios::binary);
  std::ostringstream Text;
  Text << In.rdbuf();
  return Text.str();
}

std::vector<std::string> split_lines(const std::string& Text)
{
  std::vector<std::string> Lines;
  std::istringstream In(Text);
  for (std::string Line; std::getline(In, Line);) Lines.push_back(Line);
  return Lines;
}
