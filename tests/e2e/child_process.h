// Programs that an end-to-end test starts: each with an environment of the
// test's choosing, and never waited for without a time limit, so a hung
// program fails its test instead of hanging the run.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <optional>
#include <string>
#include <vector>

using std::chrono::milliseconds;

struct child_options {
  std::vector<std::string> env;  // the whole environment, NAME=value
  std::string out_file = "/dev/null";
  std::string err_file = "/dev/null";
  int pass_fd = -1;  // a descriptor the child gets as descriptor 3
};

class child_process {
 public:
  child_process(const std::vector<std::string>& Args, const child_options& Options);
  // Kills the child if it still runs, and reaps it.
  ~child_process();
  child_process(const child_process&) = delete;
  child_process& operator=(const child_process&) = delete;

  pid_t pid() const { return Pid; }
  // False once the child has ended (it is reaped then).
  bool running();
  // The child's wait status once it has ended within Timeout; nothing when
  // it still runs then.
  std::optional<int> wait_for_exit(milliseconds Timeout);
  // SIGTERM, then SIGKILL if it has not ended within Timeout.
  void stop(milliseconds Timeout = milliseconds(3000));

 private:
  pid_t Pid;
  std::optional<int> Status;
};

// Runs a short-lived tool to its end within Timeout and returns its
// standard output; throws when it fails, is killed or overruns.
std::string run_tool(const std::vector<std::string>& Args, const std::vector<std::string>& Env,
                     milliseconds Timeout = milliseconds(10000));

// PATH=, as the test has it: the children find their tools by it.
std::string path_variable();

// The wait status as a readable text: "exit 0", "signal 9".
std::string describe_status(int Status);
