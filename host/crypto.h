#ifndef HOST_CRYPTO_H
#define HOST_CRYPTO_H

#include "host/host_export.h"
#include "scrt/codec_impl_t.h"

/**
 * HMAC of @a data under @a key with the digest @a digest ("sha256", ...).
 * With @a base64 the result is the Base64 text of the MAC, NUL-terminated,
 * `length()` not counting the NUL; without, the raw MAC bytes.
 * Unknown digest names and any failure leave no result.  Thread-safe.
 */
class HOST_EXPORT HMAC_Generator : public Codec_Impl_T<unsigned char>
{
public:
  HMAC_Generator(const void* key, unsigned long key_length, const void* data,
                 unsigned long data_length, const char* digest, bool base64);
  ~HMAC_Generator();
};

/**
 * RSA decryption of @a data with the private key @a key (PEM text).
 * With @a base64 the data is Base64 text.  @a padding is OpenSSL's padding
 * mode: 1 for PKCS#1 v1.5, 4 for OAEP.  Any failure leaves no result and no
 * partial plaintext; the result is wiped when released.  Thread-safe.
 */
class HOST_EXPORT RSA_Decoder : public Codec_Impl_T<unsigned char>
{
public:
  RSA_Decoder(const unsigned char* data, unsigned long data_length, const unsigned char* key,
              unsigned long key_length, bool base64, int padding);
  ~RSA_Decoder();
};

#endif /* HOST_CRYPTO_H */
