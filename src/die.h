// The trace log: every line goes to "trace.txt" and then to standard output.
#pragma once

#include <fstream>
#include <string>

// The trace file; closed by its own destructor when the process exits.
extern std::ofstream TRACE_FILE;

// Opens (truncates) the trace file. On failure the stream stays failed and
// only standard output receives lines. Writes nothing.
void die_init(const std::string& TraceFile);

// Writes Marker, a blank, Message and a line end to the trace file, flushes,
// then the same to standard output, flushes.
void die_line(char Marker, const std::string& Message);

void die_progress(const std::string& Message);  // marker '-'
void die_warning(const std::string& Message);   // marker '!'
void die_fatal(const std::string& Message);     // marker '*'; never ends the process
