#ifndef HOST_HOST_MANAGER_H
#define HOST_HOST_MANAGER_H

#include <mutex>
#include <string>

#include "host/host_export.h"
#include "scrt/secure_string.h"

/// Key material: bytes whose heap storage is wiped when released.
typedef std::basic_string<unsigned char, std::char_traits<unsigned char>,
                          secure_allocator<unsigned char>>
    secure_ustring;

/**
 * The appliance's own facilities.  One per process, created on first use.
 */
class HOST_EXPORT Host_Manager
{
public:
  static Host_Manager* instance();

  /**
   * The appliance's RSA private key, PEM bytes; empty when none is
   * configured.  Loaded on first use from the file set by `key_file` or
   * named by QUORVANE_HOST_KEY.  The reference stays valid until the key
   * file is changed.  Thread-safe.
   */
  const secure_ustring& rsa_prvkey();

  /// Names the key file, replacing any loaded key; false (logged) when the
  /// file cannot be read.
  bool key_file(const char* path);

private:
  Host_Manager();
  bool load_locked(const char* path);

  std::mutex lock_;
  bool loaded_;
  secure_ustring key_;
};

#endif /* HOST_HOST_MANAGER_H */
