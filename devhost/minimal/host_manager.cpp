// The contract-minimal host's key store: it keeps the appliance's private
// key as DER bytes (the development host's keeps the PEM text), which is
// what this host's RSA_Decoder takes.
#include "host/host_manager.h"

#include <openssl/bio.h>
#include <openssl/crypto.h>
#include <openssl/pem.h>
#include <openssl/x509.h>

#include <cstdlib>
#include <mutex>

#include "devhost/harness/key_store.h"
#include "devhost/full/openssl_util.h"

namespace
{
/// The appliance's key and whether it has been looked for.
struct Key_Store
{
  std::mutex lock;
  bool loaded = false;
  secure_ustring key;
};

Key_Store& key_store()
{
  static Key_Store store;
  return store;
}

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

Host_Manager::Host_Manager() {}

Host_Manager* Host_Manager::instance()
{
  static Host_Manager manager;
  return &manager;
}

const secure_ustring& Host_Manager::rsa_prvkey()
{
  Key_Store& s = key_store();
  std::lock_guard<std::mutex> guard(s.lock);
  if (!s.loaded)
  {
    const char* path = std::getenv("QUORVANE_HOST_KEY");
    if (path != nullptr)
      s.key = load_der(path);
    s.loaded = true;
  }
  return s.key;
}

bool devhost::load_key_file(const char* path)
{
  Key_Store& s = key_store();
  std::lock_guard<std::mutex> guard(s.lock);
  s.key.clear();
  s.loaded = path != nullptr;
  if (path != nullptr)
    s.key = load_der(path);
  return !s.key.empty();
}
