#ifndef HOST_HOST_MANAGER_H
#define HOST_HOST_MANAGER_H

#include <mutex>
#include <string>

#include "host/host_export.h"
#include "scrt/secure_string.h"

/// Key material: bytes whose heap storage is wiped when released.
typedef std::basic_string<unsigned char, std::char_traits<unsigned char>, secure_allocator<unsigned char>>
    secure_ustring;

/**
 * The appliance's own facilities.  One per process, created on first use
 * and destroyed at exit (the key's storage wiped then).
 */
class HOST_EXPORT Host_Manager
{
public:
  /// The process's manager.  Thread-safe.
  static Host_Manager* instance();

  /// Largest key file accepted, bytes.
  static constexpr std::size_t MAX_KEY_FILE = 64 * 1024;

  /**
   * The appliance's RSA private key, the PEM bytes of the key file; empty
   * when none is configured or the file could not be read.
   *
   * The first call after construction (or after `key_file(nullptr)`) loads
   * the file named by the environment variable QUORVANE_HOST_KEY, unless
   * `key_file` named one.  Thread-safe: concurrent first calls load once.
   * The reference stays valid until the next `key_file` call, which must
   * not run while a caller still uses it.
   */
  const secure_ustring& rsa_prvkey();

  /**
   * Loads the key from @a path, replacing any loaded key (the old bytes are
   * wiped).  False, with one error line and an empty key, when the file
   * cannot be read, is empty or is larger than MAX_KEY_FILE.  A file that
   * others may read is loaded with a warning.  A null @a path forgets the
   * key, so that the next `rsa_prvkey` consults the environment again.
   */
  bool key_file(const char* path);

private:
  Host_Manager();
  bool load_locked(const char* path);

  std::mutex lock_;
  bool loaded_;
  secure_ustring key_;
};

#endif /* HOST_HOST_MANAGER_H */
