#pragma once

// Answers --version and --help; any other argument is a usage error. Returns the exit status.
int RunCommandLineOption(const char* option);
