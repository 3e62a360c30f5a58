#ifndef HOST_CRYPTO_H
#define HOST_CRYPTO_H

#include "host/host_export.h"
#include "scrt/codec_impl_t.h"

/**
 * HMAC of @a data under @a key with the digest named @a digest ("sha256").
 *
 * True (a result held) on success.  With @a base64 `get()` is the Base64
 * text of the MAC, NUL-terminated; whether `length()` counts that NUL is
 * the host's choice, so callers read the text up to its NUL.  Without
 * @a base64, the raw MAC bytes.  On any failure no result is held.
 * Thread-safe.
 */
class HOST_EXPORT HMAC_Generator : public Codec_Impl_T<unsigned char>
{
public:
  HMAC_Generator(const void* key, unsigned long key_length, const void* data, unsigned long data_length,
                 const char* digest, bool base64);
  ~HMAC_Generator();
};

/**
 * RSA decryption of @a data with the private key @a key, in the form
 * `Host_Manager::rsa_prvkey()` gives it.
 *
 * With @a base64 the data is Base64 text; without, the raw ciphertext.
 * @a padding is OpenSSL's padding mode (1: PKCS#1 v1.5).  True (a result
 * held) on success: `get()` and `length()` are exactly the plaintext, with
 * no terminator promised.  On any failure no result is held and no partial
 * plaintext is left; the caller reports it.  The result's storage is wiped
 * when released.  Thread-safe.
 */
class HOST_EXPORT RSA_Decoder : public Codec_Impl_T<unsigned char>
{
public:
  RSA_Decoder(const unsigned char* data, unsigned long data_length, const unsigned char* key,
              unsigned long key_length, bool base64, int padding);
  ~RSA_Decoder();
};

#endif /* HOST_CRYPTO_H */
