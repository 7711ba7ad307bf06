#pragma once
// What the running process is, as the platform tells it
// (posix/Process.cpp, win32/Process.cpp).
#include <string>
#include <vector>

namespace ristova {

// The process's id, as the system's tools show it.
long ProcessId();

// The program's arguments as UTF-8, argv[0] first. On Windows they are taken
// from the wide command line, so that a folder name outside the ANSI code
// page arrives whole.
std::vector<std::string> ProgramArguments(int argc, char** argv);

// The console shows the program's UTF-8 lines as they are (Windows' console
// would read them in its code page; POSIX terminals need nothing).
void UseUtf8Console();

// This machine's name; "localhost" when it has none.
std::string HostName();

// Whether the program runs under Wine rather than on Windows itself.
bool UnderWine();

}  // namespace ristova
