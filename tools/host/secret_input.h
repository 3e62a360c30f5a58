#ifndef TOOLS_HOST_SECRET_INPUT_H
#define TOOLS_HOST_SECRET_INPUT_H

#include <cstddef>
#include <string>

#include "scrt/secure_string.h"

/// Largest secret accepted, bytes; a 2048-bit key encrypts at most 245.
const std::size_t SECRET_MAX_INPUT = 4096;

/**
 * Reads a secret from standard input into @a secret (one trailing line
 * break dropped), through a wiped block, never through stdio's buffers.
 * False on a read error or more than SECRET_MAX_INPUT bytes.
 */
bool read_secret_from_stdin(secure_string& secret);

/**
 * Encrypts @a secret for the appliance as its web page does: RSA PKCS#1
 * v1.5 under the public half of the PEM key in @a key_file (a public key or
 * a private key), Base64.  False with @a error set on failure.
 */
bool encrypt_for_appliance(const std::string& key_file, const secure_string& secret, std::string& base64,
                           std::string& error);

/**
 * The public half of the appliance's key in the host's key store (loaded
 * from --key or QUORVANE_HOST_KEY), as PEM ("BEGIN PUBLIC KEY").  False
 * with @a error set when there is no key or it is not an RSA private key.
 */
bool appliance_public_key(std::string& pem, std::string& error);

#endif /* TOOLS_HOST_SECRET_INPUT_H */
