#ifndef HOST_HOST_MANAGER_H
#define HOST_HOST_MANAGER_H

#include <string>

#include "host/host_export.h"
#include "scrt/secure_string.h"

/// Key material: bytes whose heap storage is wiped when released.
typedef std::basic_string<unsigned char, std::char_traits<unsigned char>, secure_allocator<unsigned char>>
    secure_ustring;

/**
 * The appliance's own facilities.  One per process, created on first use.
 */
class HOST_EXPORT Host_Manager
{
public:
  /// The process's manager.  Thread-safe.
  static Host_Manager* instance();

  /**
   * The appliance's RSA private key, in the form the host's `RSA_Decoder`
   * takes; empty when the appliance has none.  Where the key comes from is
   * the host's.  Thread-safe; the reference stays valid for the process's
   * life, and the key's storage is wiped when released.
   */
  const secure_ustring& rsa_prvkey();

private:
  Host_Manager();
};

#endif /* HOST_HOST_MANAGER_H */
