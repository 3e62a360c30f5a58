#ifndef HOST_CRYPTO_H
#define HOST_CRYPTO_H

#include "host/host_export.h"
#include "scrt/codec_impl_t.h"

/**
 * HMAC of @a data under @a key with the digest @a digest, as OpenSSL names
 * it (the contract-minimal host).
 *
 * With @a base64 the result is the Base64 text of the MAC and its NUL,
 * `length()` counting the NUL; without, the raw MAC bytes.  Any failure
 * leaves no result.  The result is wiped when released.
 */
class HOST_EXPORT HMAC_Generator : public Codec_Impl_T<unsigned char>
{
public:
  HMAC_Generator(const void* key, unsigned long key_length, const void* data, unsigned long data_length,
                 const char* digest, bool base64);
  ~HMAC_Generator();
};

/**
 * RSA decryption of @a data with the private key @a key, the DER bytes of
 * an unencrypted private key, as the key store gives them (the
 * contract-minimal host).
 *
 * With @a base64 the data is Base64 text without white space; without, the
 * raw ciphertext.  @a padding is OpenSSL's padding mode.  The result is
 * exactly the plaintext, with no NUL after it.  Any failure leaves no
 * result.  The key is parsed on every call.  The result is wiped when
 * released.
 */
class HOST_EXPORT RSA_Decoder : public Codec_Impl_T<unsigned char>
{
public:
  RSA_Decoder(const unsigned char* data, unsigned long data_length, const unsigned char* key,
              unsigned long key_length, bool base64, int padding);
  ~RSA_Decoder();
};

#endif /* HOST_CRYPTO_H */
