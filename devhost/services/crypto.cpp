#include "host/crypto.h"

#include <climits>
#include <cstring>
#include <map>
#include <mutex>
#include <new>
#include <string>
#include <utility>
#include <vector>

#include <ace/Log_Msg.h>
#include <openssl/core_names.h>
#include <openssl/crypto.h>
#include <openssl/pem.h>
#include <openssl/rsa.h>

#include "devhost/services/openssl_util.h"
#include "host/secure_memset.h"

namespace
{
// A result buffer that is wiped on every path that does not hand it over:
// a failed decryption may have left partial plaintext in it.
class Wiped_Buffer
{
public:
  explicit Wiped_Buffer(std::size_t capacity) : data_(new unsigned char[capacity]()), capacity_(capacity) {}
  ~Wiped_Buffer()
  {
    if (data_)
      secure_memset(data_.get(), 0, capacity_);
  }
  unsigned char* get() { return data_.get(); }
  std::size_t capacity() const { return capacity_; }
  std::unique_ptr<unsigned char[]> release() { return std::move(data_); }

private:
  std::unique_ptr<unsigned char[]> data_;
  std::size_t capacity_;
};

// ---------------------------------------------------------------- HMAC

// OpenSSL 3 looks the algorithm up in its provider store on every HMAC()
// call, and setting a digest by name on a MAC context looks the digest up
// too.  Both lookups happen here once: the MAC once per process, and one
// keyless template context per digest name, which each call duplicates and
// keys.  Duplicating instead of sharing one context keeps calls on
// different threads independent, and the keyed copy is freed (and cleansed
// by OpenSSL) as soon as the call ends, so no key-derived state lingers.
class Hmac_Templates
{
public:
  Hmac_Templates() : mac_(EVP_MAC_fetch(nullptr, OSSL_MAC_NAME_HMAC, nullptr)) {}

  devhost::Mac_Ctx_Ptr context(const char* digest)
  {
    if (!mac_ || digest == nullptr)
      return devhost::Mac_Ctx_Ptr();
    std::lock_guard<std::mutex> guard(lock_);
    std::map<std::string, devhost::Mac_Ctx_Ptr>::iterator it = templates_.find(digest);
    if (it == templates_.end())
    {
      devhost::Mac_Ctx_Ptr tmpl(EVP_MAC_CTX_new(mac_.get()));
      if (!tmpl)
        return devhost::Mac_Ctx_Ptr();
      OSSL_PARAM params[] = {
          OSSL_PARAM_construct_utf8_string(OSSL_MAC_PARAM_DIGEST, const_cast<char*>(digest), 0),
          OSSL_PARAM_construct_end()};
      if (EVP_MAC_CTX_set_params(tmpl.get(), params) != 1)
      {
        // Unknown names are not remembered: a caller that keeps passing
        // one pays a failed lookup each time, but the map cannot grow
        // without bound.
        ACE_DEBUG((LM_WARNING, ACE_TEXT("HMAC_Generator: unknown digest '%C'\n"), digest));
        return devhost::Mac_Ctx_Ptr();
      }
      it = templates_.emplace(digest, std::move(tmpl)).first;
    }
    return devhost::Mac_Ctx_Ptr(EVP_MAC_CTX_dup(it->second.get()));
  }

private:
  devhost::Mac_Ptr mac_;
  std::mutex lock_;
  std::map<std::string, devhost::Mac_Ctx_Ptr> templates_;
};

Hmac_Templates& hmac_templates()
{
  // Constructed on first use; its fetch initialises OpenSSL first, so
  // OpenSSL's exit-time cleanup is registered before (and runs after) this
  // object's destructor.
  static Hmac_Templates templates;
  return templates;
}

// ---------------------------------------------------------------- RSA

// The parsed private key of the last decode.  Parsing a PEM key costs more
// than the decryption itself, and the host decodes with one key for its
// whole life.  The cache is keyed by the SHA-256 of the key bytes (never
// the bytes themselves); a different key replaces the entry.  Decoders hold
// their own reference, so a replacement never frees a key in use, and
// EVP_PKEY_free clears the private numbers when the last one goes.
class Key_Cache
{
public:
  Key_Cache() : sha256_(nullptr), valid_(false)
  {
    OPENSSL_init_crypto(0, nullptr);
    sha256_.reset(EVP_MD_fetch(nullptr, "SHA256", nullptr));
    std::memset(digest_, 0, sizeof digest_);
  }
  ~Key_Cache() { secure_memset(digest_, 0, sizeof digest_); }

  std::shared_ptr<EVP_PKEY> get(const unsigned char* pem, std::size_t length)
  {
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int digest_length = 0;
    if (!sha256_ || EVP_Digest(pem, length, digest, &digest_length, sha256_.get(), nullptr) != 1 ||
        digest_length != sizeof digest_)
      return std::shared_ptr<EVP_PKEY>();
    {
      std::lock_guard<std::mutex> guard(lock_);
      if (valid_ && CRYPTO_memcmp(digest, digest_, sizeof digest_) == 0)
        return key_;
    }
    // Parse outside the lock: decodes with the cached key go on meanwhile.
    std::shared_ptr<EVP_PKEY> key = parse(pem, length);
    if (!key)
      return key;
    std::lock_guard<std::mutex> guard(lock_);
    std::memcpy(digest_, digest, sizeof digest_);
    valid_ = true;
    key_ = key;
    return key;
  }

private:
  static int no_passphrase(char*, int, int, void*)
  {
    // Without this callback OpenSSL would prompt on the terminal for an
    // encrypted key, blocking the calling thread.
    return -1;
  }

  static std::shared_ptr<EVP_PKEY> parse(const unsigned char* pem, std::size_t length)
  {
    if (length > static_cast<std::size_t>(INT_MAX))
      return std::shared_ptr<EVP_PKEY>();
    devhost::Bio_Ptr bio(BIO_new_mem_buf(pem, static_cast<int>(length)));
    if (!bio)
      return std::shared_ptr<EVP_PKEY>();
    EVP_PKEY* key = PEM_read_bio_PrivateKey(bio.get(), nullptr, &no_passphrase, nullptr);
    if (key == nullptr)
    {
      ACE_DEBUG((LM_WARNING, ACE_TEXT("RSA_Decoder: the private key is not a PEM private key\n")));
      return std::shared_ptr<EVP_PKEY>();
    }
    std::shared_ptr<EVP_PKEY> owned(key, &EVP_PKEY_free);
    if (EVP_PKEY_is_a(key, "RSA") != 1)
    {
      ACE_DEBUG((LM_WARNING, ACE_TEXT("RSA_Decoder: the private key is not an RSA key\n")));
      return std::shared_ptr<EVP_PKEY>();
    }
    return owned;
  }

  devhost::Md_Ptr sha256_;
  std::mutex lock_;
  bool valid_;
  unsigned char digest_[32];
  std::shared_ptr<EVP_PKEY> key_;
};

Key_Cache& key_cache()
{
  static Key_Cache cache;
  return cache;
}

}  // namespace

HMAC_Generator::HMAC_Generator(const void* key, unsigned long key_length, const void* data,
                               unsigned long data_length, const char* digest, bool base64)
{
  devhost::Openssl_Error_Scope errors;
  if ((key == nullptr && key_length != 0) || (data == nullptr && data_length != 0))
    return;
  devhost::Mac_Ctx_Ptr ctx = hmac_templates().context(digest);
  if (!ctx)
    return;
  // HMAC pads the key with zero bytes to the block size, so an empty key
  // and a single zero byte give the same MAC; the provider refuses a
  // zero-length key, so the empty one is passed in that form.
  static const unsigned char ZERO_KEY[1] = {0};
  const unsigned char* k = key_length == 0 ? ZERO_KEY : static_cast<const unsigned char*>(key);
  std::size_t k_length = key_length == 0 ? 1 : key_length;
  if (EVP_MAC_init(ctx.get(), k, k_length, nullptr) != 1)
    return;
  if (data_length != 0 &&
      EVP_MAC_update(ctx.get(), static_cast<const unsigned char*>(data), data_length) != 1)
    return;
  unsigned char mac[EVP_MAX_MD_SIZE];
  std::size_t mac_length = 0;
  if (EVP_MAC_final(ctx.get(), mac, &mac_length, sizeof mac) != 1)
    return;
  if (base64)
  {
    Wiped_Buffer text(devhost::base64_length(mac_length) + 1);
    int n = EVP_EncodeBlock(text.get(), mac, static_cast<int>(mac_length));
    secure_memset(mac, 0, sizeof mac);
    if (n < 0)
      return;
    std::size_t capacity = text.capacity();
    assign(text.release(), static_cast<std::size_t>(n), capacity);
  }
  else
  {
    Wiped_Buffer raw(mac_length + 1);
    std::memcpy(raw.get(), mac, mac_length);
    secure_memset(mac, 0, sizeof mac);
    std::size_t capacity = raw.capacity();
    assign(raw.release(), mac_length, capacity);
  }
}

HMAC_Generator::~HMAC_Generator() {}

RSA_Decoder::RSA_Decoder(const unsigned char* data, unsigned long data_length, const unsigned char* key,
                         unsigned long key_length, bool base64, int padding)
{
  devhost::Openssl_Error_Scope errors;
  if (data == nullptr || data_length == 0 || key == nullptr || key_length == 0)
    return;
  if (padding != RSA_PKCS1_PADDING && padding != RSA_PKCS1_OAEP_PADDING)
    return;  // no padding at all would hand out raw RSA results

  std::vector<unsigned char> decoded;
  const unsigned char* cipher = data;
  std::size_t cipher_length = data_length;
  if (base64)
  {
    if (!devhost::base64_decode(data, data_length, decoded))
      return;
    cipher = decoded.data();
    cipher_length = decoded.size();
  }

  std::shared_ptr<EVP_PKEY> pkey = key_cache().get(key, key_length);
  if (!pkey)
    return;
  // RFC 8017, 7.2.2 step 1: a ciphertext that is not exactly the modulus
  // length is a decryption error, whatever its number would decrypt to.
  if (cipher_length != static_cast<std::size_t>(EVP_PKEY_get_size(pkey.get())))
    return;

  devhost::Pkey_Ctx_Ptr ctx(EVP_PKEY_CTX_new_from_pkey(nullptr, pkey.get(), nullptr));
  if (!ctx || EVP_PKEY_decrypt_init(ctx.get()) != 1 || EVP_PKEY_CTX_set_rsa_padding(ctx.get(), padding) != 1)
    return;
#ifdef OSSL_ASYM_CIPHER_PARAM_IMPLICIT_REJECTION
  // Newer OpenSSL answers a bad PKCS#1 v1.5 padding with random bytes
  // instead of an error.  The login must tell a key that does not decrypt,
  // so that behaviour is turned off; see docs/security.md for the oracle
  // this leaves and how the host contains it.
  if (padding == RSA_PKCS1_PADDING)
  {
    unsigned int implicit = 0;
    OSSL_PARAM params[] = {OSSL_PARAM_construct_uint(OSSL_ASYM_CIPHER_PARAM_IMPLICIT_REJECTION, &implicit),
                           OSSL_PARAM_construct_end()};
    if (EVP_PKEY_CTX_set_params(ctx.get(), params) != 1)
      return;
  }
#endif
  std::size_t out_length = 0;
  if (EVP_PKEY_decrypt(ctx.get(), nullptr, &out_length, cipher, cipher_length) != 1)
    return;
  // One byte more than the plaintext can need, so the result is also a
  // NUL-terminated text.
  Wiped_Buffer plain(out_length + 1);
  if (EVP_PKEY_decrypt(ctx.get(), plain.get(), &out_length, cipher, cipher_length) != 1)
    return;
  plain.get()[out_length] = 0;
  std::size_t capacity = plain.capacity();
  assign(plain.release(), out_length, capacity);
}

RSA_Decoder::~RSA_Decoder() {}
