#pragma once
// Internet availability probe and the process runner behind it.
#include <functional>
#include <string>
#include <vector>

namespace tarno {

// Runs a command line through the system's command interpreter and returns what it printed on
// standard output. Throws std::runtime_error("_popen() failed!") when no interpreter starts.
std::string RunCommand(const std::string& command_line);

// The seam through which the probe runs its command; tests feed it canned outputs.
using CommandRunner = std::function<std::string(const std::string& command_line)>;

// Public host asked by the probe; never a caster.
inline constexpr const char* kProbeHost = "www.google.com";

// One echo request with a short deadline, keeping only reply lines carrying "TTL=".
std::string ProbeCommandLine(const std::string& host);

// True when the probe host answered (the reply marker appears anywhere in the output).
bool IsInternetAvailable(const CommandRunner& runner = RunCommand);

// The addresses a host name or literal resolves to, as text; empty when it does not resolve.
using HostResolver = std::function<std::vector<std::string>(const std::string& host)>;
std::vector<std::string> ResolveHost(const std::string& host);

// True for a loopback, private, link-local or unique-local address literal.
bool IsLocalAddress(const std::string& address);

// True when every address the caster's host resolves to is local: a caster there is reachable
// without the public internet, so probing it would be wrong. Judged on the resolved addresses,
// never on the spelling ("127.1", a name in /etc/hosts, "[::1]").
bool IsLocalCasterAddress(const std::string& host, const HostResolver& resolve = ResolveHost);

}  // namespace tarno
