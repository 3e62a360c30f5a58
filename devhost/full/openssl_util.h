#ifndef DEVHOST_SERVICES_OPENSSL_UTIL_H
#define DEVHOST_SERVICES_OPENSSL_UTIL_H

#include <cstddef>
#include <memory>
#include <vector>

#include <openssl/bio.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/x509.h>

namespace devhost
{
/// Deleter calling OpenSSL's free function @a F.
template <typename T, void (*F)(T*)>
struct Openssl_Free
{
  void operator()(T* p) const { F(p); }
};

typedef std::unique_ptr<BIO, Openssl_Free<BIO, BIO_free_all>> Bio_Ptr;
typedef std::unique_ptr<EVP_ENCODE_CTX, Openssl_Free<EVP_ENCODE_CTX, EVP_ENCODE_CTX_free>> Encode_Ctx_Ptr;
typedef std::unique_ptr<EVP_MD, Openssl_Free<EVP_MD, EVP_MD_free>> Md_Ptr;
typedef std::unique_ptr<EVP_MD_CTX, Openssl_Free<EVP_MD_CTX, EVP_MD_CTX_free>> Md_Ctx_Ptr;
typedef std::unique_ptr<EVP_MAC, Openssl_Free<EVP_MAC, EVP_MAC_free>> Mac_Ptr;
typedef std::unique_ptr<EVP_MAC_CTX, Openssl_Free<EVP_MAC_CTX, EVP_MAC_CTX_free>> Mac_Ctx_Ptr;
typedef std::unique_ptr<EVP_PKEY, Openssl_Free<EVP_PKEY, EVP_PKEY_free>> Pkey_Ptr;
typedef std::unique_ptr<EVP_PKEY_CTX, Openssl_Free<EVP_PKEY_CTX, EVP_PKEY_CTX_free>> Pkey_Ctx_Ptr;
typedef std::unique_ptr<X509_STORE, Openssl_Free<X509_STORE, X509_STORE_free>> X509_Store_Ptr;

/**
 * Empties the calling thread's OpenSSL error queue when it goes out of
 * scope, unless `dismiss` was called, so that a failure here is not
 * reported again by the next OpenSSL user on the thread (libcurl reads the
 * queue after its own calls).  Success paths dismiss it: clearing costs
 * about as much as a SHA-256 block.
 */
class Openssl_Error_Scope
{
public:
  Openssl_Error_Scope() : armed_(true) {}
  ~Openssl_Error_Scope()
  {
    if (armed_)
      ERR_clear_error();
  }
  Openssl_Error_Scope(const Openssl_Error_Scope&) = delete;
  Openssl_Error_Scope& operator=(const Openssl_Error_Scope&) = delete;

  void dismiss() { armed_ = false; }

private:
  bool armed_;
};

/**
 * Decodes the Base64 text @a text (@a length bytes; line breaks and other
 * white space between groups allowed, "=" padding required) into @a out.
 * False, @a out empty, on any character outside the alphabet or an
 * incomplete final group.
 */
bool base64_decode(const unsigned char* text, std::size_t length, std::vector<unsigned char>& out);

/// The length of the Base64 text of @a length bytes, terminator not counted.
inline std::size_t base64_length(std::size_t length)
{
  return 4 * ((length + 2) / 3);
}

}  // namespace devhost

#endif /* DEVHOST_SERVICES_OPENSSL_UTIL_H */
