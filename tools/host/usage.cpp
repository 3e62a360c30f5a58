#include "tools/host/usage.h"

#include <cstring>

namespace
{
struct Usage
{
  const char* command;
  const char* summary;  ///< one line for the program's usage
  const char* text;     ///< the command's whole usage
};

const Usage USAGES[] = {
    {"probe", "load the module and print its instances and their states",
     "usage: quorvane-host probe [--module FILE]\n"
     "Loads the module, creates its instance provider through the exported factory\n"
     "and prints the instances and their states as JSON.\n"
     "  --module FILE     the module to load (default: the one built or installed\n"
     "                    beside this program)\n"},
    {"keygen", "make the appliance's RSA key pair",
     "usage: quorvane-host keygen --out DIR [--force]\n"
     "Writes DIR/appliance.key (PEM RSA 2048-bit private key, mode 0600) and\n"
     "DIR/appliance.pub (PEM public key, for 'quorvane-host encrypt').  DIR is made,\n"
     "mode 0700, when it does not exist and its parent does.\n"
     "  --out DIR         where to write the key pair\n"
     "  --force           replace existing files\n"},
    {"encrypt", "encrypt a secret read on stdin for the appliance",
     "usage: quorvane-host encrypt --pubkey FILE\n"
     "Reads a secret from stdin (one trailing line break dropped) and prints its RSA\n"
     "PKCS#1 v1.5 ciphertext under the PEM key FILE in Base64, as the appliance's\n"
     "web page sends it.\n"
     "  --pubkey FILE     the appliance's public key (a private key works too)\n"},
    {"login", "log in once through the module's login handler",
     "usage: quorvane-host login [--module FILE] --key FILE --host H [--port N] [--ssl]\n"
     "                           --access-key AK [--ca-file F] [--timeout S]\n"
     "Sends one login request through the module's login handler and prints the\n"
     "reply.  The account's secret key comes from QUORVANE_SECRET_KEY, which is\n"
     "removed from the environment once read, or else from stdin.\n"
     "  --module FILE     the module to load (default: the one beside this program)\n"
     "  --key FILE        the appliance's private key (PEM): the secret is encrypted\n"
     "                    under its public half and the handler decrypts it\n"
     "  --host H          the service's host name or IP address\n"
     "  --port N          the service's port, 1 to 65535 (default 30188)\n"
     "  --ssl             talk HTTPS to the service\n"
     "  --access-key AK   the account's access key\n"
     "  --ca-file F       the CA bundle (PEM) that verifies the service's certificate\n"
     "                    (default: QUORVANE_CA_FILE, else the system's)\n"
     "  --timeout S       limit of the whole exchange, seconds (default 30)\n"
     "Exit status 0 when the reply is a success, 1 when it is an error.\n"},
    {"rpc", "JSON-RPC 2.0 messages on stdin, one per line, to the login handler",
     "usage: quorvane-host rpc [--module FILE] [--key FILE] [--ca-file F] [--timeout S]\n"
     "                         [--method NAME] [--threads N] [--max-line BYTES]\n"
     "                         [--max-queue N]\n"
     "Reads JSON-RPC 2.0 messages (single or batch) from stdin, one per line, hands\n"
     "the requests for method NAME to the module's login handler, which runs them on\n"
     "its worker threads, and writes the replies to stdout, one per line, in the\n"
     "order they are ready; log lines go to stderr.\n"
     "  --module FILE     the module to load (default: the one beside this program)\n"
     "  --key FILE        the appliance's private key (default: QUORVANE_HOST_KEY)\n"
     "  --ca-file F       the CA bundle that verifies the services' certificates\n"
     "  --timeout S       limit of each exchange with a service, seconds (default 30)\n"
     "  --method NAME     the method handed to the handler (default login)\n"
     "  --threads N       worker threads, 1 to 256 (default 4)\n"
     "  --max-line BYTES  a longer line is answered with error -32600 and skipped,\n"
     "                    never held whole (default 1048576)\n"
     "  --max-queue N     at most N requests wait for a worker; reading pauses while\n"
     "                    that many do (default 64)\n"},
    {"serve", "the web service agent: the login page and JSON-RPC over HTTP",
     "usage: quorvane-host serve [--module FILE] [--key FILE] [--listen ADDR:PORT]\n"
     "                           [--assets DIR] [--tls-cert FILE --tls-key FILE]\n"
     "                           [--allow-origin ORIGIN]... [--max-in-flight N]\n"
     "                           [--read-timeout S] [--ca-file F] [--timeout S]\n"
     "                           [--method NAME] [--threads N] [--max-line BYTES]\n"
     "Serves, until SIGINT or SIGTERM, the login page (GET /), the appliance key's\n"
     "public half (GET /appliance.pub) and JSON-RPC 2.0 over HTTP (POST /rpc, with\n"
     "Content-Type: application/json), whose requests for method NAME go to the\n"
     "module's login handler as those of 'rpc' do.  Prints \"listening on ADDR:PORT\"\n"
     "first; one access-log line per request goes to stderr, never a body.\n"
     "  --module FILE     the module to load (default: the one beside this program)\n"
     "  --key FILE        the appliance's private key (default: QUORVANE_HOST_KEY)\n"
     "  --listen ADDR:PORT  where to listen (default 127.0.0.1:0, an ephemeral port)\n"
     "  --assets DIR      the login page's files (default: ../share/quorvane-devhost/web\n"
     "                    beside this program's folder)\n"
     "  --tls-cert FILE   serve HTTPS with this certificate (PEM) ...\n"
     "  --tls-key FILE    ... and its private key (PEM)\n"
     "  --allow-origin ORIGIN  also take requests whose Origin is ORIGIN\n"
     "                    (SCHEME://HOST[:PORT]); others but the server's own get 403\n"
     "  --max-in-flight N  requests in hand at most, 1 to 1024; more get 503\n"
     "                    (default 16)\n"
     "  --read-timeout S  a client silent this long while its request is read is\n"
     "                    dropped, 1 to 3600 seconds (default 10)\n"
     "  --ca-file F       the CA bundle that verifies the services' certificates\n"
     "  --timeout S       limit of each exchange with a service, seconds (default 30)\n"
     "  --method NAME     the method handed to the handler (default login)\n"
     "  --threads N       the handler's worker threads, 1 to 256 (default 4)\n"
     "  --max-line BYTES  a longer body gets 413 (default 1048576)\n"},
};

const Usage* find(const char* command)
{
  for (const Usage& u : USAGES)
    if (command != nullptr && std::strcmp(command, u.command) == 0)
      return &u;
  return nullptr;
}
}  // namespace

void print_usage(const char* command, std::FILE* out)
{
  if (const Usage* u = find(command))
  {
    std::fputs(u->text, out);
    return;
  }
  std::fputs(
      "usage: quorvane-host COMMAND [OPTIONS]\n"
      "The development host: loads the Quorvane module as the appliance's host does\n"
      "and drives its handlers.\n"
      "\n"
      "commands:\n",
      out);
  for (const Usage& u : USAGES)
    std::fprintf(out, "  %-9s %s\n", u.command, u.summary);
  std::fputs(
      "\n"
      "'quorvane-host COMMAND --help' describes the options of one command.\n"
      "Exit status: 0 on success, 1 on a failure, 2 on a wrong command line.\n",
      out);
}

int usage_error(const char* command, const std::string& why)
{
  std::fprintf(stderr, "quorvane-host %s: %s\n", command, why.c_str());
  print_usage(command, stderr);
  return 2;
}

int parse_command_line(const char* command, tools::Options& opts, int argc, char** argv)
{
  if (!opts.parse(argc, argv))
    return usage_error(command, opts.error());
  if (opts.has("--help") || opts.has("-h"))
  {
    print_usage(command, stdout);
    return std::fflush(stdout) == 0 ? 0 : 1;
  }
  return -1;
}
