#ifndef TOOLS_HOST_USAGE_H
#define TOOLS_HOST_USAGE_H

#include <cstdio>
#include <string>

#include "tools/common/options.h"

/// Largest line `quorvane-host rpc` takes by default, bytes (--max-line).
constexpr std::size_t RPC_DEFAULT_MAX_LINE = 1024 * 1024;
/// Requests that may wait for a worker in `quorvane-host rpc` by default (--max-queue).
constexpr std::size_t RPC_DEFAULT_MAX_QUEUE = 64;

/// Requests `quorvane-host serve` has in hand at most by default (--max-in-flight).
constexpr long long SERVE_DEFAULT_MAX_IN_FLIGHT = 16;
/// Seconds a client of `quorvane-host serve` may be silent while its request is read (--read-timeout).
constexpr long long SERVE_DEFAULT_READ_TIMEOUT = 10;

/**
 * Writes the usage of the subcommand @a command to @a out, or the
 * program's own (the list of subcommands) when @a command is null or not
 * one of them.
 */
void print_usage(const char* command, std::FILE* out);

/// Writes "quorvane-host COMMAND: WHY" and the command's usage to stderr;
/// returns 2, the exit status of a wrong command line.
int usage_error(const char* command, const std::string& why);

/**
 * Parses the subcommand's arguments into @a opts (every subcommand takes
 * --help and -h).  Returns -1 when the command should run; otherwise the
 * exit status, after the usage went to stdout (--help: 0) or, with the
 * error, to stderr (a wrong option: 2).
 */
int parse_command_line(const char* command, tools::Options& opts, int argc, char** argv);

#endif /* TOOLS_HOST_USAGE_H */
