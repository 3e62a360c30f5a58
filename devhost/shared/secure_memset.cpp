#include "host/secure_memset.h"

#include <openssl/crypto.h>

void* secure_memset(void* p, int value, std::size_t count)
{
  if (p == nullptr || count == 0)
    return p;
  if (value == 0)
  {
    // OPENSSL_cleanse writes through a volatile function pointer, so the
    // compiler cannot drop it as a dead store before a free.
    OPENSSL_cleanse(p, count);
    return p;
  }
  volatile unsigned char* bytes = static_cast<volatile unsigned char*>(p);
  for (std::size_t i = 0; i < count; ++i)
    bytes[i] = static_cast<unsigned char>(value);
  return p;
}
