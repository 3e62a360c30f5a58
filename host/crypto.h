#ifndef HOST_CRYPTO_H
#define HOST_CRYPTO_H

#include "host/host_export.h"
#include "scrt/codec_impl_t.h"

/**
 * HMAC (RFC 2104) of @a data under @a key with the digest @a digest
 * ("sha256", "sha512", ... as OpenSSL names them; not XOFs such as SHAKE).
 *
 * With @a base64 the result is the Base64 text of the MAC (standard
 * alphabet, "=" padded, no line breaks), NUL-terminated, `length()` not
 * counting the NUL; without, the raw MAC bytes.  An empty key or empty data
 * is valid.  An unknown digest name (logged once per call as a warning),
 * a null pointer with a non-zero length, or any OpenSSL failure leaves no
 * result.  Every buffer that held the MAC or key-derived state is wiped
 * before the constructor returns.  Thread-safe: calls on different threads
 * share nothing but the digest, fetched once per process and name.
 */
class HOST_EXPORT HMAC_Generator : public Codec_Impl_T<unsigned char>
{
public:
  HMAC_Generator(const void* key, unsigned long key_length, const void* data, unsigned long data_length,
                 const char* digest, bool base64);
  ~HMAC_Generator();
};

/**
 * RSA decryption of @a data with the private key @a key, the PEM text of an
 * unencrypted RSA private key (PKCS#1 or PKCS#8).
 *
 * With @a base64 the data is Base64 text (white space between groups
 * allowed); without, the raw ciphertext.  Either way the ciphertext must be
 * exactly the modulus length.  @a padding is OpenSSL's padding mode: 1 for
 * PKCS#1 v1.5, 4 for OAEP (SHA-1); others are refused.
 *
 * The result is the plaintext, followed by a NUL that `length()` does not
 * count.  Any failure (empty input, bad Base64, a key that does not parse,
 * wrong key, bad padding) leaves no result and no partial plaintext; the
 * caller reports it.  Only a key that does not parse is logged, as a
 * warning, since it is a configuration fault rather than a bad request.
 * The result is wiped when released.
 *
 * The parsed key of the last call is kept, keyed by a digest of @a key, so
 * later decodes with the same key skip parsing.  Thread-safe.
 */
class HOST_EXPORT RSA_Decoder : public Codec_Impl_T<unsigned char>
{
public:
  RSA_Decoder(const unsigned char* data, unsigned long data_length, const unsigned char* key,
              unsigned long key_length, bool base64, int padding);
  ~RSA_Decoder();
};

#endif /* HOST_CRYPTO_H */
