// Access from Windows tests to the test patch server that CTest runs beside them: its
// addresses, its served folder (through Wine's Z: drive), its faults and its request log.
#pragma once

#include <string>
#include <vector>

// False when the tests run without the server fixture (they then skip).
bool PatchServerAvailable();
int PatchServerPort();

// "https://127.0.0.1:PORT/Setup/live/StandaloneWindows64" and that plus "/" + relative.
std::string PatchServerBaseUrl();
std::string PatchServerUrl(const std::string& relative);

// Windows path of a file in the served folder; PutServedFile creates its directories.
std::string ServedPath(const std::string& relative);
void PutServedFile(const std::string& relative, const std::string& bytes);
void RemoveServedFile(const std::string& relative);

// Windows path of a file in the fixture's state folder (ready files, logs, the full disk).
std::string ServerStatePath(const std::string& name);

// A top-level text field of one JSON request-log line ("" when absent).
std::string LogField(const std::string& line, const std::string& name);

// Replaces the server's fault rules ("Player/a.zip=status:404", ...); empty clears them.
bool SetServerFaults(const std::vector<std::string>& rules);

// The request log: LogMark() now, then the JSON lines written after that mark.
long LogMark();
std::vector<std::string> RequestsSince(long mark);
