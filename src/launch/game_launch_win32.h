// Starting the game executable from the launcher's folder with the launcher's arguments.
#pragma once

// Prepares LaunchExecuteInfo: all zero, its size, and the verb "runas" on major version 6.
void PrepareLaunchExecuteInfo(int osMajorVersion);

// Starts ExeDirectory\GameExecutable with arguments (shell first, CreateProcessA second).
// Returns 1 when the game started; 0 after the error box was closed. Arguments longer than
// 1023 characters, or a path that does not fit, are refused rather than passed on cut.
int StartGame(const char* arguments);
