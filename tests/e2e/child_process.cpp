#include "child_process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <stdexcept>
#include <thread>

namespace {

using clock_type = std::chrono::steady_clock;

// How often an ending child is looked for.
const milliseconds POLL_PERIOD(5);

std::vector<char*> c_strings(const std::vector<std::string>& Strings)
{
  std::vector<char*> Result;
  for (const std::string& S : Strings) Result.push_back(const_cast<char*>(S.c_str()));
  Result.push_back(nullptr);
  return Result;
}

class file_actions {
 public:
  file_actions() { posix_spawn_file_actions_init(&Actions); }
  ~file_actions() { posix_spawn_file_actions_destroy(&Actions); }
  file_actions(const file_actions&) = delete;
  file_actions& operator=(const file_actions&) = delete;
  posix_spawn_file_actions_t* get() { return &Actions; }

 private:
  posix_spawn_file_actions_t Actions;
};

std::string command_text(const std::vector<std::string>& Args)
{
  std::string Text;
  for (const std::string& Arg : Args) Text += (Text.empty() ? "" : " ") + Arg;
  return Text;
}

pid_t spawn(const std::vector<std::string>& Args, const std::vector<std::string>& Env, file_actions& Actions)
{
  std::vector<char*> Argv = c_strings(Args);
  std::vector<char*> Envp = c_strings(Env);
  pid_t Pid = 0;
  int Error = posix_spawnp(&Pid, Argv[0], Actions.get(), nullptr, Argv.data(), Envp.data());
  if (Error != 0) throw std::runtime_error("can't start " + Args[0] + ": " + std::strerror(Error));
  return Pid;
}

}  // namespace

child_process::child_process(const std::vector<std::string>& Args, const child_options& Options)
{
  file_actions Actions;
  posix_spawn_file_actions_addopen(Actions.get(), 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(Actions.get(), 1, Options.out_file.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  posix_spawn_file_actions_addopen(Actions.get(), 2, Options.err_file.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  if (Options.pass_fd >= 0) posix_spawn_file_actions_adddup2(Actions.get(), Options.pass_fd, 3);
  Pid = spawn(Args, Options.env, Actions);
}

child_process::~child_process()
{
  if (!running()) return;
  kill(Pid, SIGKILL);
  waitpid(Pid, nullptr, 0);
}

bool child_process::running()
{
  if (Status) return false;
  int S = 0;
  if (waitpid(Pid, &S, WNOHANG) != Pid) return true;
  Status = S;
  return false;
}

std::optional<int> child_process::wait_for_exit(milliseconds Timeout)
{
  const auto Deadline = clock_type::now() + Timeout;
  while (running() && clock_type::now() < Deadline) std::this_thread::sleep_for(POLL_PERIOD);
  return Status;
}

void child_process::stop(milliseconds Timeout)
{
  if (!running()) return;
  kill(Pid, SIGTERM);
  if (wait_for_exit(Timeout)) return;
  kill(Pid, SIGKILL);
  wait_for_exit(Timeout);
}

std::string run_tool(const std::vector<std::string>& Args, const std::vector<std::string>& Env, milliseconds Timeout)
{
  int Pipe[2];
  if (pipe2(Pipe, O_CLOEXEC) != 0) throw std::runtime_error("pipe failed");
  file_actions Actions;
  posix_spawn_file_actions_addopen(Actions.get(), 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_adddup2(Actions.get(), Pipe[1], 1);
  pid_t Pid = spawn(Args, Env, Actions);
  close(Pipe[1]);

  // Read until the tool closes its output, then collect its status.
  const auto Deadline = clock_type::now() + Timeout;
  std::string Output;
  char Buffer[4096];
  bool Open = true;
  while (Open && clock_type::now() < Deadline) {
    pollfd P{Pipe[0], POLLIN, 0};
    if (poll(&P, 1, static_cast<int>(POLL_PERIOD.count())) <= 0) continue;
    ssize_t N = read(Pipe[0], Buffer, sizeof Buffer);
    if (N > 0)
      Output.append(Buffer, static_cast<size_t>(N));
    else if (N == 0 || errno != EINTR)
      Open = false;
  }
  close(Pipe[0]);
  int Status = 0;
  while (waitpid(Pid, &Status, WNOHANG) == 0) {
    if (clock_type::now() >= Deadline) {
      kill(Pid, SIGKILL);
      waitpid(Pid, nullptr, 0);
      throw std::runtime_error(command_text(Args) + " did not end in time");
    }
    std::this_thread::sleep_for(POLL_PERIOD);
  }
  if (!WIFEXITED(Status) || WEXITSTATUS(Status) != 0)
    throw std::runtime_error(command_text(Args) + " failed: " + describe_status(Status));
  return Output;
}

std::string path_variable()
{
  const char* Path = std::getenv("PATH");
  return std::string("PATH=") + (Path ? Path : "/usr/bin:/bin");
}

std::string describe_status(int Status)
{
  if (WIFEXITED(Status)) return "exit " + std::to_string(WEXITSTATUS(Status));
  if (WIFSIGNALED(Status)) return "signal " + std::to_string(WTERMSIG(Status));
  return "status " + std::to_string(Status);
}
