// Replaces the global operator new of a program that is built with
// new_probe.cpp: every allocation is counted, and while new_probe_fail is
// set every one fails, as it does for host code once memory has run out.
// Lua allocates through its own allocator and is left alone.
#pragma once

extern long new_probe_calls;
extern bool new_probe_fail;
