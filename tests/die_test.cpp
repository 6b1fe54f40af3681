#include "die.h"

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <streambuf>
#include <string>
#include <vector>

#include "itostr.h"
#include "temp_dir.h"
#include "trace_capture.h"

namespace {

// Stands in for standard output and notes, at the first byte of every line
// it receives, what the trace file held at that moment.
class snapshot_buf : public std::streambuf {
 public:
  explicit snapshot_buf(const std::string& TraceFile) : File(TraceFile) {}

  std::string received;
  std::vector<std::string> file_at_line_start;

 protected:
  int_type overflow(int_type C) override
  {
    if (!traits_type::eq_int_type(C, traits_type::eof())) note(traits_type::to_char_type(C));
    return traits_type::not_eof(C);
  }
  std::streamsize xsputn(const char* S, std::streamsize N) override
  {
    for (std::streamsize i = 0; i < N; ++i) note(S[i]);
    return N;
  }

 private:
  std::string File;

  void note(char C)
  {
    if (received.empty() || received.back() == '\n') file_at_line_start.push_back(read_file(File));
    received += C;
  }
};

// Stands in for standard output and counts the bytes it receives.
class counting_buf : public std::streambuf {
 public:
  long long bytes = 0;

 protected:
  int_type overflow(int_type C) override
  {
    if (!traits_type::eq_int_type(C, traits_type::eof())) ++bytes;
    return traits_type::not_eof(C);
  }
  std::streamsize xsputn(const char*, std::streamsize N) override
  {
    bytes += N;
    return N;
  }
};

// Points std::cout at another buffer for its life.
class cout_redirect {
 public:
  explicit cout_redirect(std::streambuf* Buffer) : Old(std::cout.rdbuf(Buffer)) {}
  ~cout_redirect()
  {
    std::cout.rdbuf(Old);
    std::cout.clear();
  }

 private:
  std::streambuf* Old;
};

}  // namespace

TEST(DieTest, EachLineReachesTraceFileCompleteBeforeStandardOutputGetsIt)
{
  temp_dir Dir;
  die_init("trace.txt");
  snapshot_buf Out("trace.txt");
  {
    cout_redirect Redirect(&Out);
    die_progress("main: initializing SDL");
    die_warning("");
    die_fatal("texture get fatal: texture " + itostr(-1) + " out of range");
    die_warning("--- [string \"x\"]:1: boom\nstack traceback:\n\t[C]: in ?");
    die_progress("still running after a fatal line");
  }
  const std::vector<std::string> Lines = {
      "- main: initializing SDL\n",
      "! \n",
      "* texture get fatal: texture -1 out of range\n",
      "! --- [string \"x\"]:1: boom\nstack traceback:\n\t[C]: in ?\n",
      "- still running after a fatal line\n",
  };
  std::string Expected;
  for (const std::string& Line : Lines) Expected += Line;
  EXPECT_EQ(read_file("trace.txt"), Expected);
  EXPECT_EQ(Out.received, Expected);

  // A message's own line breaks start no new log line, so stdout sees one
  // line start per physical line; the file already held every line written
  // so far, and nothing of the next.
  std::vector<std::string> Physical;
  std::string FileSoFar;
  for (const std::string& Line : Lines) {
    FileSoFar += Line;
    Physical.insert(Physical.end(), std::count(Line.begin(), Line.end(), '\n'), FileSoFar);
  }
  EXPECT_EQ(Out.file_at_line_start, Physical);
}

TEST(DieTest, InitEmptiesAnExistingTraceFile)
{
  trace_capture Capture;  // keeps the test's own stdout clean
  temp_dir Dir;
  write_file("trace.txt", "- a stale line from an earlier run\n");
  die_init("trace.txt");
  EXPECT_TRUE(TRACE_FILE.good());
  EXPECT_EQ(read_file("trace.txt"), "");
  die_progress("main: fresh");
  EXPECT_EQ(read_file("trace.txt"), "- main: fresh\n");
  EXPECT_EQ(Capture.stdout_text(), "- main: fresh\n");
}

TEST(DieTest, UnopenableTraceFileStillLeavesEveryLineOnStandardOutput)
{
  trace_capture Capture;
  temp_dir Dir;
  std::filesystem::create_directory("trace.txt");
  die_init("trace.txt");
  EXPECT_TRUE(TRACE_FILE.fail());
  die_progress("one");
  die_fatal("two " + itostr(-42));
  die_warning("three");
  EXPECT_EQ(Capture.stdout_text(), "- one\n* two -42\n! three\n");
  EXPECT_TRUE(std::filesystem::is_directory("trace.txt"));

  // A later successful open clears the failure.
  die_init("other.txt");
  EXPECT_TRUE(TRACE_FILE.good());
  die_progress("four");
  EXPECT_EQ(read_file("other.txt"), "- four\n");
}

TEST(DieTest, DisconnectedStandardOutputNeitherStopsTheFileNorLaterStdoutLines)
{
  temp_dir Dir;
  die_init("trace.txt");
  snapshot_buf Out("trace.txt");
  {
    cout_redirect Redirect(nullptr);  // every write to stdout fails
    die_progress("first");
    die_warning("second");
  }
  {
    cout_redirect Redirect(&Out);
    std::cout.setstate(std::ios::badbit);  // left failed by an earlier write
    die_progress("third");
  }
  EXPECT_EQ(read_file("trace.txt"), "- first\n! second\n- third\n");
  EXPECT_EQ(Out.received, "- third\n");
}

TEST(DieTest, ALineTheFileCannotTakeWholeIsDroppedAndTheLinesAfterItArrive)
{
  temp_dir Dir;
  // The file-size limit stands in for a full disk; it is the child's own.
  const pid_t Child = fork();
  ASSERT_GE(Child, 0);
  if (Child == 0) {
    close(1);  // the trace file must not take standard output's number
    die_init("trace.txt");
    rlimit Full = {22, RLIM_INFINITY};
    setrlimit(RLIMIT_FSIZE, &Full);
    die_progress("line 1");  // nine bytes a line: the third fits in part
    die_progress("line 2");
    die_progress("line 3");
    rlimit Room = {RLIM_INFINITY, RLIM_INFINITY};
    setrlimit(RLIMIT_FSIZE, &Room);
    die_progress("line 4");
    std::exit(0);  // the trace file is closed by its exit handler
  }
  int Status = 0;
  ASSERT_EQ(Child, waitpid(Child, &Status, 0));
  EXPECT_TRUE(WIFEXITED(Status) && WEXITSTATUS(Status) == 0) << Status;
  EXPECT_EQ(read_file("trace.txt"), "- line 1\n- line 2\n- line 4\n");
}

TEST(DieTest, TheTraceFileTakesNoLineBeyondItsLimitAndSaysSoWhileStandardOutputGetsEveryLine)
{
  temp_dir Dir;
  die_init("trace.txt");
  counting_buf Out;
  const std::string Big(100 << 20, 'x');
  const std::string Full = "! trace warning: the trace file is full at 256 MiB; later lines go to standard output only\n";
  {
    cout_redirect Redirect(&Out);
    die_progress(Big);
    die_progress(Big);
    die_progress(Big);  // would take the file past 256 MiB
    die_progress("after");
  }
  const long long Line = static_cast<long long>(Big.size()) + 3;
  EXPECT_EQ(2 * Line + static_cast<long long>(Full.size()), static_cast<long long>(std::filesystem::file_size("trace.txt")));
  std::ifstream File("trace.txt", std::ios::binary);
  File.seekg(2 * Line - 3);
  std::string End(3 + Full.size(), '\0');
  File.read(&End[0], static_cast<std::streamsize>(End.size()));
  EXPECT_EQ("xx\n" + Full, End);
  EXPECT_EQ(3 * Line + static_cast<long long>(Full.size()) + 8, Out.bytes);
}
