// The contract-minimal host's codecs, on OpenSSL's one-shot calls.  Where
// the host declarations leave a choice they differ from the development
// host: the HMAC's length() counts the text's NUL, the RSA key is DER (as
// this host's key store gives it), Base64 input may hold no white space,
// the plaintext has no NUL after it, and nothing is cached.
#include "host/crypto.h"

#include <openssl/core_names.h>
#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/rsa.h>
#include <openssl/x509.h>

#include <cstring>
#include <memory>
#include <vector>

#include "devhost/full/openssl_util.h"
#include "host/secure_memset.h"

namespace
{
// A buffer of @a n bytes that is wiped when it goes.
struct Wiped
{
  explicit Wiped(std::size_t n) : bytes(n) {}
  ~Wiped() { secure_memset(bytes.data(), 0, bytes.size()); }
  std::vector<unsigned char> bytes;
};

// Hands @a n bytes of @a from to the codec's result.
void keep(std::unique_ptr<unsigned char[]>& result, std::size_t& length, const unsigned char* from,
          std::size_t n)
{
  result.reset(new unsigned char[n == 0 ? 1 : n]);
  std::memcpy(result.get(), from, n);
  length = n;
}

void wipe(std::unique_ptr<unsigned char[]>& result, std::size_t length)
{
  if (result)
    secure_memset(result.get(), 0, length == 0 ? 1 : length);
}
}  // namespace

HMAC_Generator::HMAC_Generator(const void* key, unsigned long key_length, const void* data,
                               unsigned long data_length, const char* digest, bool base64)
{
  Wiped mac(EVP_MAX_MD_SIZE);
  std::size_t mac_length = 0;
  static const unsigned char EMPTY = 0;
  if (digest == nullptr ||
      EVP_Q_mac(nullptr, "HMAC", nullptr, digest, nullptr, key != nullptr ? key : &EMPTY, key_length,
                static_cast<const unsigned char*>(data != nullptr ? data : &EMPTY), data_length,
                mac.bytes.data(), mac.bytes.size(), &mac_length) == nullptr)
    return;
  if (!base64)
  {
    keep(result_, length_, mac.bytes.data(), mac_length);
    return;
  }
  Wiped text(4 * ((mac_length + 2) / 3) + 1);
  int n = EVP_EncodeBlock(text.bytes.data(), mac.bytes.data(), static_cast<int>(mac_length));
  keep(result_, length_, text.bytes.data(), static_cast<std::size_t>(n) + 1);
}

HMAC_Generator::~HMAC_Generator()
{
  wipe(result_, length_);
}

RSA_Decoder::RSA_Decoder(const unsigned char* data, unsigned long data_length, const unsigned char* key,
                         unsigned long key_length, bool base64, int padding)
{
  if (data == nullptr || data_length == 0 || key == nullptr || key_length == 0 || data_length > 4096)
    return;
  std::vector<unsigned char> cipher(data, data + data_length);
  if (base64)
  {
    // EVP_DecodeBlock counts "=" padding as zero bytes; they are dropped.
    if (data_length % 4 != 0)
      return;
    std::vector<unsigned char> decoded(data_length / 4 * 3);
    int n = EVP_DecodeBlock(decoded.data(), data, static_cast<int>(data_length));
    if (n < 0)
      return;
    std::size_t pad = (data[data_length - 1] == '=') + (data[data_length - 2] == '=');
    decoded.resize(static_cast<std::size_t>(n) - pad);
    cipher.swap(decoded);
  }
  const unsigned char* der = key;
  devhost::Pkey_Ptr pkey(d2i_AutoPrivateKey(nullptr, &der, static_cast<long>(key_length)));
  if (!pkey)
    return;
  devhost::Pkey_Ctx_Ptr ctx(EVP_PKEY_CTX_new(pkey.get(), nullptr));
  std::size_t out_length = 0;
  if (!ctx || EVP_PKEY_decrypt_init(ctx.get()) != 1 || EVP_PKEY_CTX_set_rsa_padding(ctx.get(), padding) != 1)
    return;
#ifdef OSSL_ASYM_CIPHER_PARAM_IMPLICIT_REJECTION
  // A ciphertext that does not decrypt must give no result, not random bytes.
  unsigned int implicit = 0;
  OSSL_PARAM params[] = {OSSL_PARAM_construct_uint(OSSL_ASYM_CIPHER_PARAM_IMPLICIT_REJECTION, &implicit),
                         OSSL_PARAM_construct_end()};
  if (padding == RSA_PKCS1_PADDING && EVP_PKEY_CTX_set_params(ctx.get(), params) != 1)
    return;
#endif
  if (EVP_PKEY_decrypt(ctx.get(), nullptr, &out_length, cipher.data(), cipher.size()) != 1)
    return;
  Wiped plain(out_length);
  if (EVP_PKEY_decrypt(ctx.get(), plain.bytes.data(), &out_length, cipher.data(), cipher.size()) != 1)
    return;
  keep(result_, length_, plain.bytes.data(), out_length);
}

RSA_Decoder::~RSA_Decoder()
{
  wipe(result_, length_);
}
