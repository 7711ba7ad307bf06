#pragma once
// The process-wide diagnostic log behind WriteCommLog (declared in
// MyComm32.h): one name, one file, shared by every instance and worker.
#include <string>

namespace ristova::commlog {

// The most recently assigned CommsLogFileName of any instance.
void SetName(const std::string& name);
std::string Name();
// Creates the file under that name, emptying it; replaces a file already open.
void Create(const std::string& name);
void Close();

}  // namespace ristova::commlog
