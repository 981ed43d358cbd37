// glimmora ping WORKSTATION: one probe, as the check of a workstation runs it.
#include <cstdio>

#include "cli/commands.h"
#include "cli/option_parser.h"
#include "reachability/probe.h"
#include "resources/texts.h"

namespace glimmora::cli {

namespace {

constexpr char kPingUsage[] =
    "usage: glimmora ping WORKSTATION\n"
    "Sends up to three ICMP echo requests to the workstation's first IPv4 address.\n"
    "Exit status: 0 reply, 1 name not found, 2 no reply, 3 probe unavailable or\n"
    "out of memory, 64 usage error, 74 standard output not written.\n";

int ExitStatusFor(int pingResult) {
  switch (pingResult) {
    case PingReply:
      return 0;
    case PingHostNotFound:
      return 1;
    case PingTimedOut:
      return 2;
    default:
      return 3;
  }
}

}  // namespace

int RunPingCommand(const Arguments& arguments) {
  ParsedArguments parsed;
  std::string problem;
  if (!ParseArguments(arguments, {}, &parsed, &problem)) {
    std::fprintf(stderr, "glimmora ping: %s\n%s", problem.c_str(), kPingUsage);
    return kExitUsage;
  }
  if (parsed.help) {
    std::fputs(kPingUsage, stdout);
    return 0;
  }
  const Arguments& args = parsed.operands;
  if (args.size() != 1 || args[0].empty()) {
    std::fputs(kPingUsage, stderr);
    return kExitUsage;
  }
  const SocketLibraryUse sockets;
  // As at start-up: a missing echo service is reported once, and the probe
  // then says so in its own words.
  if (LoadIcmpLibrary() != 0) std::fprintf(stderr, "%s\n", LoadText(kTextIcmpLoadError).c_str());
  std::string resultText;
  const int result = PingHost(args[0], resultText);
  std::printf("%s\n", resultText.c_str());
  return ExitStatusFor(result);
}

}  // namespace glimmora::cli
