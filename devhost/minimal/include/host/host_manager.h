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
 * The appliance's own facilities (the contract-minimal host).  One per
 * process, created on first use.
 */
class HOST_EXPORT Host_Manager
{
public:
  /// The process's manager.  Thread-safe.
  static Host_Manager* instance();

  /**
   * The appliance's RSA private key as DER bytes; empty when none is
   * configured or it could not be read.  The first call reads the PEM file
   * named by QUORVANE_HOST_KEY, unless `key_file` named one.  The reference
   * stays valid until the next `key_file` call.
   */
  const secure_ustring& rsa_prvkey();

  /// Test harness: loads the PEM key file @a path (its DER bytes kept); false
  /// and an empty key when it cannot be read.  Null forgets the key.
  bool key_file(const char* path);

private:
  Host_Manager();

  std::mutex lock_;
  bool loaded_;
  secure_ustring key_;
};

#endif /* HOST_HOST_MANAGER_H */
