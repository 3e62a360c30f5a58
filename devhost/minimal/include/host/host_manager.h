#ifndef HOST_HOST_MANAGER_H
#define HOST_HOST_MANAGER_H

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
   * named by QUORVANE_HOST_KEY.
   */
  const secure_ustring& rsa_prvkey();

private:
  Host_Manager();
};

#endif /* HOST_HOST_MANAGER_H */
