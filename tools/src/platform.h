#pragma once
// The few calls that differ between Linux and Windows, kept in one place.
#include <cstdio>
#include <ctime>
#include <string>

namespace tarno {

// Numeric identifier of the calling thread, as the operating system shows it.
unsigned long CurrentThreadNumber();

// Thread-safe local-time breakdown.
void LocalTime(std::time_t t, std::tm* out);

// Opens `path` to append, creating it readable and writable by the user alone: log lines name
// the caster, the mount point and the user's position. Null on failure, errno set.
std::FILE* OpenPrivateForAppend(const std::string& path);

// Names the calling thread for `top -H`, `ps -L` and debuggers: at most 15 characters, longer
// names are cut. Nothing happens where the system has no thread names.
void NameThisThread(const char* name);

// The width in columns of the terminal standard error shows on; 0 when it is no terminal.
int StderrTerminalColumns();

}  // namespace tarno
