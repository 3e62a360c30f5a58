#ifndef TOOLS_HOST_COMMANDS_H
#define TOOLS_HOST_COMMANDS_H

/// The subcommands of quorvane-host.  argv[0] is the subcommand's name;
/// each parses its own flags and returns the process exit code.
int cmd_probe(int argc, char** argv);
int cmd_keygen(int argc, char** argv);
int cmd_encrypt(int argc, char** argv);
int cmd_rpc(int argc, char** argv);
int cmd_login(int argc, char** argv);
int cmd_serve(int argc, char** argv);

#endif /* TOOLS_HOST_COMMANDS_H */
