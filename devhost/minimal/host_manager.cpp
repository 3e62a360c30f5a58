// The contract-minimal host's key store: it keeps the appliance's private
// key as DER bytes (the development host's keeps the PEM text), which is
// what this host's RSA_Decoder takes.
#include "host/host_manager.h"

#include <openssl/bio.h>
#include <openssl/crypto.h>
#include <openssl/pem.h>
#include <openssl/x509.h>

#include <cstdlib>

#include "devhost/services/openssl_util.h"

namespace
{
int no_passphrase(char*, int, int, void*)
{
  return -1;
}

// The DER bytes of the PEM private key in the file @a path; empty on failure.
secure_ustring load_der(const char* path)
{
  secure_ustring der;
  devhost::Bio_Ptr file(BIO_new_file(path, "r"));
  if (!file)
    return der;
  devhost::Pkey_Ptr key(PEM_read_bio_PrivateKey(file.get(), nullptr, &no_passphrase, nullptr));
  if (!key)
    return der;
  unsigned char* out = nullptr;
  int n = i2d_PrivateKey(key.get(), &out);
  if (n > 0)
    der.assign(out, static_cast<std::size_t>(n));
  if (out != nullptr)
    OPENSSL_clear_free(out, static_cast<std::size_t>(n > 0 ? n : 0));
  return der;
}
}  // namespace

Host_Manager::Host_Manager() : loaded_(false) {}

Host_Manager* Host_Manager::instance()
{
  static Host_Manager manager;
  return &manager;
}

const secure_ustring& Host_Manager::rsa_prvkey()
{
  std::lock_guard<std::mutex> guard(lock_);
  if (!loaded_)
  {
    const char* path = std::getenv("QUORVANE_HOST_KEY");
    if (path != nullptr)
      key_ = load_der(path);
    loaded_ = true;
  }
  return key_;
}

bool Host_Manager::key_file(const char* path)
{
  std::lock_guard<std::mutex> guard(lock_);
  key_.clear();
  loaded_ = path != nullptr;
  if (path != nullptr)
    key_ = load_der(path);
  return !key_.empty();
}
