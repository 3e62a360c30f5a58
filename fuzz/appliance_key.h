#ifndef FUZZ_APPLIANCE_KEY_H
#define FUZZ_APPLIANCE_KEY_H

#include <cstddef>
#include <string>

/**
 * The login fuzz target's throwaway appliance key, and the encryption the
 * appliance's web page does with it, so that a "secret_key" the target puts
 * in gets past the handler's decryption.  A step that fails ends the
 * process through `setup_failed`: the run cannot go on without it.  One
 * fuzzing thread; not thread-safe.
 */
namespace login_fuzz
{
/// The longest secret `encrypt` takes: PKCS#1 v1.5 under a 1024-bit key.
constexpr std::size_t MAX_PLAINTEXT = 117;

/// Prints "login_rpc_fuzz: " and @a what to stderr and exits with 1.
[[noreturn]] void setup_failed(const char* what);

/// Generates the key and has the host's key store take it as the
/// appliance's.  Call once, before `encrypt`.
void make_appliance_key();

/// Base64 of the PKCS#1 v1.5 encryption of @a secret (at most
/// MAX_PLAINTEXT bytes) under the key, as the appliance's web page makes it.
std::string encrypt(const std::string& secret);

}  // namespace login_fuzz

#endif /* FUZZ_APPLIANCE_KEY_H */
