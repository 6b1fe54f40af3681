#include "die.h"

#include <csignal>
#include <iostream>

std::ofstream TRACE_FILE;

void die_init(const std::string& TraceFile)
{
  // Standard output may be a pipe whose reader has gone away; its lines are
  // then dropped instead of the signal ending the process.
  std::signal(SIGPIPE, SIG_IGN);
  if (TRACE_FILE.is_open()) TRACE_FILE.close();
  TRACE_FILE.clear();
  TRACE_FILE.open(TraceFile.c_str(), std::ios::out | std::ios::trunc);
  if (TRACE_FILE.is_open()) TRACE_FILE.clear();
}

namespace {

void write_line(std::ostream& Out, char Marker, const std::string& Message)
{
  Out.put(Marker);
  Out.put(' ');
  Out.write(Message.data(), static_cast<std::streamsize>(Message.size()));
  Out.put('\n');
  Out.flush();
}

}  // namespace

void die_line(char Marker, const std::string& Message)
{
  write_line(TRACE_FILE, Marker, Message);
  // A failed write to standard output must not silence the lines after it.
  std::cout.clear();
  write_line(std::cout, Marker, Message);
}

void die_progress(const std::string& Message) { die_line('-', Message); }
void die_warning(const std::string& Message) { die_line('!', Message); }
void die_fatal(const std::string& Message) { die_line('*', Message); }
