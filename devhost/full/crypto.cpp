#include "host/crypto.h"

#include <climits>
#include <cstring>
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

#include "devhost/full/openssl_util.h"
#include "host/secure_memset.h"

namespace
{
// A buffer that is wiped on every path that does not hand it over: a failed
// decryption may have left partial plaintext in it.
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
  std::unique_ptr<unsigned char[]> release() { return std::move(data_); }

private:
  std::unique_ptr<unsigned char[]> data_;
  std::size_t capacity_;
};

// Every result these codecs hand out is its bytes and one NUL after them,
// length + 1 bytes in all; the codecs' destructors wipe all of them before
// the result part releases the buffer.
void wipe_result(std::unique_ptr<unsigned char[]>& result, std::size_t length)
{
  if (result)
    secure_memset(result.get(), 0, length + 1);
}

// ---------------------------------------------------------------- HMAC

/// Largest digest block this HMAC handles (SHA3-224's 144 is the largest
/// OpenSSL's default provider has).
constexpr std::size_t HMAC_MAX_BLOCK = 256;

// HMAC is computed here as RFC 2104 defines it, over a digest fetched once
// per process and name, rather than through OpenSSL's MAC API:
// - OpenSSL 3 looks the algorithm up on every HMAC() call, and setting the
//   digest on a new EVP_MAC context by name looks it up again;
// - a reused EVP_MAC context keeps the keyed inner and outer states until
//   it is re-keyed or freed, so either key-derived state would outlive the
//   call or each call would pay for a new context (about as much as the
//   MAC itself).
// Computed on one digest context, the keyed states exist only between the
// pad blocks and the final block of each pass; what the context holds
// afterwards is the digest output, and the pads are wiped on return.
class Hmac_Digests
{
public:
  Hmac_Digests() { OPENSSL_init_crypto(0, nullptr); }

  /// The digest named @a name, fetched on first use; null (and a warning)
  /// for unknown names and for digests HMAC is not defined over.
  const EVP_MD* get(const char* name)
  {
    if (name == nullptr)
      return nullptr;
    std::lock_guard<std::mutex> guard(lock_);
    for (const Entry& e : digests_)
      if (e.name == name)
        return e.md.get();
    devhost::Md_Ptr md(EVP_MD_fetch(nullptr, name, nullptr));
    if (!md || (EVP_MD_get_flags(md.get()) & EVP_MD_FLAG_XOF) != 0 || EVP_MD_get_block_size(md.get()) <= 0 ||
        static_cast<std::size_t>(EVP_MD_get_block_size(md.get())) > HMAC_MAX_BLOCK)
    {
      // Unknown names are not remembered, so the list cannot grow without
      // bound; a caller that keeps passing one pays a lookup each time.
      ACE_DEBUG((LM_WARNING, ACE_TEXT("HMAC_Generator: unknown digest '%C'\n"), name));
      return nullptr;
    }
    digests_.push_back(Entry{name, std::move(md)});
    return digests_.back().md.get();
  }

private:
  struct Entry
  {
    std::string name;
    devhost::Md_Ptr md;
  };
  std::mutex lock_;
  std::vector<Entry> digests_;
};

Hmac_Digests& hmac_digests()
{
  // Constructed on first use after initialising OpenSSL, so OpenSSL's
  // exit-time cleanup is registered before (and runs after) this object's
  // destructor, which frees the digests.
  static Hmac_Digests digests;
  return digests;
}

/// HMAC of @a data under @a key into @a mac (EVP_MAX_MD_SIZE bytes); its
/// length, or 0 on failure.
unsigned int hmac(const EVP_MD* md, const unsigned char* key, std::size_t key_length,
                  const unsigned char* data, std::size_t data_length, unsigned char* mac)
{
  devhost::Md_Ctx_Ptr ctx(EVP_MD_CTX_new());
  if (!ctx)
    return 0;
  std::size_t block = static_cast<std::size_t>(EVP_MD_get_block_size(md));
  unsigned char pad[HMAC_MAX_BLOCK];
  unsigned char inner[EVP_MAX_MD_SIZE];
  std::memset(pad, 0, block);
  unsigned int length = 0;
  bool ok = true;
  // RFC 2104: a key longer than the block is replaced by its digest; the
  // key is then padded with zeros to the block.
  if (key_length > block)
    ok = EVP_DigestInit_ex(ctx.get(), md, nullptr) == 1 &&
         EVP_DigestUpdate(ctx.get(), key, key_length) == 1 &&
         EVP_DigestFinal_ex(ctx.get(), pad, &length) == 1;
  else if (key_length != 0)
    std::memcpy(pad, key, key_length);
  for (std::size_t i = 0; i < block; ++i)
    pad[i] ^= 0x36;
  ok = ok && EVP_DigestInit_ex(ctx.get(), md, nullptr) == 1 && EVP_DigestUpdate(ctx.get(), pad, block) == 1 &&
       (data_length == 0 || EVP_DigestUpdate(ctx.get(), data, data_length) == 1) &&
       EVP_DigestFinal_ex(ctx.get(), inner, &length) == 1;
  for (std::size_t i = 0; i < block; ++i)
    pad[i] ^= 0x36 ^ 0x5c;
  ok = ok && EVP_DigestInit_ex(ctx.get(), md, nullptr) == 1 && EVP_DigestUpdate(ctx.get(), pad, block) == 1 &&
       EVP_DigestUpdate(ctx.get(), inner, length) == 1 && EVP_DigestFinal_ex(ctx.get(), mac, &length) == 1;
  secure_memset(pad, 0, sizeof pad);
  secure_memset(inner, 0, sizeof inner);
  return ok ? length : 0;
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
  const EVP_MD* md = hmac_digests().get(digest);
  if (md == nullptr)
    return;
  unsigned char mac[EVP_MAX_MD_SIZE];
  unsigned int mac_length = hmac(md, static_cast<const unsigned char*>(key), key_length,
                                 static_cast<const unsigned char*>(data), data_length, mac);
  if (mac_length == 0)
  {
    secure_memset(mac, 0, sizeof mac);
    return;
  }
  if (base64)
  {
    Wiped_Buffer text(devhost::base64_length(mac_length) + 1);
    int n = EVP_EncodeBlock(text.get(), mac, static_cast<int>(mac_length));
    secure_memset(mac, 0, sizeof mac);
    if (n < 0)
      return;
    // The Base64 text fills the buffer but for its NUL.
    result_ = text.release();
    length_ = static_cast<std::size_t>(n);
  }
  else
  {
    Wiped_Buffer raw(mac_length + 1);
    std::memcpy(raw.get(), mac, mac_length);
    secure_memset(mac, 0, sizeof mac);
    result_ = raw.release();
    length_ = mac_length;
  }
  errors.dismiss();
}

HMAC_Generator::~HMAC_Generator()
{
  wipe_result(result_, length_);
}

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
  // The first call gives the most the plaintext can need; the result is cut
  // to the actual length (plus a NUL, so that it is also a text), and the
  // larger buffer is wiped on the way out.
  Wiped_Buffer plain(out_length);
  if (EVP_PKEY_decrypt(ctx.get(), plain.get(), &out_length, cipher, cipher_length) != 1)
    return;
  Wiped_Buffer result(out_length + 1);
  std::memcpy(result.get(), plain.get(), out_length);
  result_ = result.release();
  length_ = out_length;
  errors.dismiss();
}

RSA_Decoder::~RSA_Decoder()
{
  wipe_result(result_, length_);
}
