// quorvane-host encrypt: encrypts a secret for the appliance the way its
// web page does (RSA PKCS#1 v1.5 under the appliance's public key, Base64),
// so a login request can be made by hand.

#include <cstdio>
#include <string>

#include "scrt/secure_string.h"
#include "tools/common/options.h"
#include "tools/host/commands.h"
#include "tools/host/secret_input.h"
#include "tools/host/usage.h"

int cmd_encrypt(int argc, char** argv)
{
  tools::Options opts({"--pubkey"}, {});
  int rc = parse_command_line("encrypt", opts, argc, argv);
  if (rc >= 0)
    return rc;
  if (!opts.has("--pubkey"))
    return usage_error("encrypt", "--pubkey is required");

  secure_string secret;
  if (!read_secret_from_stdin(secret))
  {
    std::fprintf(stderr, "quorvane-host encrypt: cannot read the secret from stdin (at most %zu bytes)\n",
                 SECRET_MAX_INPUT);
    return 1;
  }
  if (secret.empty())
  {
    std::fprintf(stderr, "quorvane-host encrypt: the secret on stdin is empty\n");
    return 1;
  }
  std::string ciphertext;
  std::string error;
  if (!encrypt_for_appliance(opts.get("--pubkey"), secret, ciphertext, error))
  {
    std::fprintf(stderr, "quorvane-host encrypt: %s\n", error.c_str());
    return 1;
  }
  std::printf("%s\n", ciphertext.c_str());
  return std::fflush(stdout) == 0 ? 0 : 1;
}
