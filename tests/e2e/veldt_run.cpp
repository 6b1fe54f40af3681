#include "veldt_run.h"

#include <algorithm>
#include <cstdio>
#include <functional>
#include <stdexcept>
#include <thread>

#include "temp_dir.h"

namespace {

// Between two looks at the trace: short, since tests time lines by it.
const milliseconds TRACE_POLL_PERIOD(2);
// Trace lines quoted when a wait fails.
const size_t QUOTED_LINES = 15;

}  // namespace

veldt_run::veldt_run(const std::vector<std::string>& Env)
{
  child_options Options;
  // Leak checks stay off for runs of the program: LeakSanitizer cannot name
  // the leaks inside the GL driver. Every other check stays on.
  Options.env = {path_variable(), "ASAN_OPTIONS=detect_leaks=0", "UBSAN_OPTIONS=print_stacktrace=1"};
  for (const std::string& Variable : Env) {
    // A variable the test sets takes the place of the default of its name.
    const std::string Name = Variable.substr(0, Variable.find('=') + 1);
    auto Same = std::find_if(Options.env.begin(), Options.env.end(),
                             [&Name](const std::string& Default) { return Default.rfind(Name, 0) == 0; });
    if (Same != Options.env.end()) Options.env.erase(Same);
    Options.env.push_back(Variable);
  }
  Options.out_file = "stdout.txt";
  Options.err_file = "stderr.txt";
  Start = std::chrono::steady_clock::now();
  Program = std::make_unique<child_process>(std::vector<std::string>{VELDT_PROGRAM}, Options);
}

void veldt_run::read_new_lines()
{
  FILE* File = std::fopen("trace.txt", "rb");
  if (!File) return;
  std::fseek(File, Offset, SEEK_SET);
  char Buffer[65536];
  size_t N = 0;
  const seen_time Now = std::chrono::steady_clock::now();
  while ((N = std::fread(Buffer, 1, sizeof Buffer, File)) > 0) {
    Offset += static_cast<long>(N);
    for (size_t i = 0; i < N; ++i) {
      if (Buffer[i] != '\n') {
        Partial += Buffer[i];
        continue;
      }
      Lines.push_back(Partial);
      Seen.push_back(Now);
      Partial.clear();
    }
  }
  std::fclose(File);
}

const std::vector<std::string>& veldt_run::lines()
{
  read_new_lines();
  return Lines;
}

std::string veldt_run::failure(const std::string& What)
{
  std::string Text = What + "; the trace ends with:\n";
  read_new_lines();
  for (size_t i = Lines.size() > QUOTED_LINES ? Lines.size() - QUOTED_LINES : 0; i < Lines.size(); ++i)
    Text += "  " + Lines[i] + "\n";
  return Text + "standard error:\n" + stderr_text();
}

size_t veldt_run::wait_for(const std::function<bool(size_t)>& Found, const std::string& What, milliseconds Timeout,
                          size_t From)
{
  const auto Deadline = std::chrono::steady_clock::now() + Timeout;
  for (;;) {
    // Whether it still runs is asked before the last read, so no line
    // written before the end is missed.
    const bool Running = Program->running();
    read_new_lines();
    for (size_t i = From; i < Lines.size(); ++i)
      if (Found(i)) return i;
    From = Lines.size();
    if (!Running) throw std::runtime_error(failure("the program ended before " + What));
    if (std::chrono::steady_clock::now() >= Deadline) throw std::runtime_error(failure("no " + What + " in time"));
    std::this_thread::sleep_for(TRACE_POLL_PERIOD);
  }
}

size_t veldt_run::wait_for_line(const std::string& Line, milliseconds Timeout, size_t From)
{
  return wait_for([&](size_t i) { return Lines[i] == Line; }, "the line \"" + Line + "\"", Timeout, From);
}

const std::string& veldt_run::line_after(size_t Index, milliseconds Timeout)
{
  return Lines[wait_for([](size_t) { return true; }, "a line after line " + std::to_string(Index), Timeout,
                        Index + 1)];
}

int veldt_run::wait_for_exit(milliseconds Timeout)
{
  std::optional<int> Status = Program->wait_for_exit(Timeout);
  if (!Status) throw std::runtime_error(failure("the program did not end in time"));
  read_new_lines();
  return *Status;
}

std::string veldt_run::stdout_text() const { return read_file("stdout.txt"); }
std::string veldt_run::stderr_text() const { return read_file("stderr.txt"); }
