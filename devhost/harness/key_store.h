#ifndef DEVHOST_KEY_STORE_H
#define DEVHOST_KEY_STORE_H

#include <cstddef>

/**
 * The development host's control of the host's key store
 * (`Host_Manager::instance()->rsa_prvkey()`), for its tools and tests.  Not
 * part of the host's interface: on the appliance the host has its key.  Both
 * hosts of this project implement it; another host that offers the harness
 * (docs/host-contract.md: "Building it against another host") implements it for its own
 * key store.
 */
namespace devhost
{
/// Largest key file the development host accepts, bytes.
constexpr std::size_t MAX_KEY_FILE = 64 * 1024;

/**
 * Loads the appliance's private key from the PEM file @a path, replacing
 * any loaded key (the old bytes are wiped).  False, with one error line and
 * an empty key, when the file cannot be read (the development host: also
 * when it is not a regular file, is empty or is larger than MAX_KEY_FILE;
 * a file that others may read is loaded with a warning).  A null @a path
 * forgets the key, so that the next `rsa_prvkey` consults the environment
 * (QUORVANE_HOST_KEY) again.  A reference that `rsa_prvkey` gave stays
 * valid until the next call, which must not run while a caller still uses
 * it.  Thread-safe.
 */
bool load_key_file(const char* path);
}  // namespace devhost

#endif /* DEVHOST_KEY_STORE_H */
