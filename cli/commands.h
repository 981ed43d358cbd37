#pragma once
// The subcommands of the glimmora command-line program. Each takes the
// arguments after its own name and returns the process exit status.

#include <string>
#include <vector>

namespace glimmora::cli {

using Arguments = std::vector<std::string>;

// Exit status of every command for a command line that cannot be understood
// (the sysexits code: 2 already means "no reply" or "not opened" to ping and check).
inline constexpr int kExitUsage = 64;
// Exit status of every command whose standard output could not be written.
inline constexpr int kExitOutputError = 74;

int RunEdidCommand(const Arguments& args);
int RunPingCommand(const Arguments& args);
int RunCheckCommand(const Arguments& args);
int RunBatchCommand(const Arguments& args);
int RunRestoreServicesCommand(const Arguments& args);
int RunDiffCommand(const Arguments& args);

}  // namespace glimmora::cli
