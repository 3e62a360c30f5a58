// quorvane-host keygen: makes the appliance's RSA key pair for the
// development host, as the appliance makes its own at installation.

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/rsa.h>

#include "tools/common/options.h"
#include "tools/host/commands.h"
#include "tools/host/usage.h"

namespace
{
const unsigned KEYGEN_BITS = 2048;

struct Bio_Free
{
  void operator()(BIO* p) const { BIO_free_all(p); }
};
struct Pkey_Free
{
  void operator()(EVP_PKEY* p) const { EVP_PKEY_free(p); }
};

void print_openssl_error(const char* what)
{
  char reason[256];
  ERR_error_string_n(ERR_get_error(), reason, sizeof reason);
  std::fprintf(stderr, "quorvane-host keygen: %s: %s\n", what, reason);
}

// Writes what @a bio holds to @a path with exactly @a mode.  A partial file
// is removed.
bool write_file(const std::string& path, BIO* bio, mode_t mode, bool force)
{
  char* data = nullptr;
  long length = BIO_get_mem_data(bio, &data);
  if (length <= 0 || data == nullptr)
  {
    std::fprintf(stderr, "quorvane-host keygen: nothing to write to %s\n", path.c_str());
    return false;
  }
  int flags = O_WRONLY | O_CREAT | O_CLOEXEC | O_NOFOLLOW | (force ? O_TRUNC : O_EXCL);
  int fd = ::open(path.c_str(), flags, mode);
  if (fd < 0)
  {
    std::fprintf(stderr, "quorvane-host keygen: cannot create %s: %s%s\n", path.c_str(), std::strerror(errno),
                 errno == EEXIST ? " (use --force to replace it)" : "");
    return false;
  }
  // The umask may have taken bits away, or an existing file had others.
  bool ok = ::fchmod(fd, mode) == 0;
  for (long done = 0; ok && done < length;)
  {
    ssize_t n = ::write(fd, data + done, static_cast<size_t>(length - done));
    if (n < 0 && errno == EINTR)
      continue;
    ok = n > 0;
    done += n > 0 ? n : 0;
  }
  ok = ::fsync(fd) == 0 && ok;
  ok = ::close(fd) == 0 && ok;
  if (!ok)
  {
    std::fprintf(stderr, "quorvane-host keygen: cannot write %s: %s\n", path.c_str(), std::strerror(errno));
    ::unlink(path.c_str());
  }
  return ok;
}
}  // namespace

int cmd_keygen(int argc, char** argv)
{
  tools::Options opts({"--out"}, {"--force"});
  int rc = parse_command_line("keygen", opts, argc, argv);
  if (rc >= 0)
    return rc;
  if (opts.get("--out").empty())
    return usage_error("keygen", "--out is required");
  std::string dir = opts.get("--out");
  bool force = opts.has("--force");
  struct stat st;
  // A directory that does not exist yet is made, private to its owner, as
  // the key's home; its parent must exist.
  if (::stat(dir.c_str(), &st) != 0 && errno == ENOENT && ::mkdir(dir.c_str(), 0700) != 0)
  {
    std::fprintf(stderr, "quorvane-host keygen: %s is not a directory and cannot be made: %s\n", dir.c_str(),
                 std::strerror(errno));
    return 1;
  }
  if (::stat(dir.c_str(), &st) != 0 || !S_ISDIR(st.st_mode))
  {
    std::fprintf(stderr, "quorvane-host keygen: %s is not a directory\n", dir.c_str());
    return 1;
  }

  std::unique_ptr<EVP_PKEY, Pkey_Free> key(EVP_RSA_gen(KEYGEN_BITS));
  if (!key)
  {
    print_openssl_error("cannot generate the RSA key");
    return 1;
  }
  // The private key's PEM text goes through OpenSSL's secure memory BIO,
  // which clears its buffer when freed.
  std::unique_ptr<BIO, Bio_Free> priv(BIO_new(BIO_s_secmem()));
  std::unique_ptr<BIO, Bio_Free> pub(BIO_new(BIO_s_mem()));
  if (!priv || !pub)
  {
    print_openssl_error("cannot allocate buffers");
    return 1;
  }
  if (PEM_write_bio_PrivateKey(priv.get(), key.get(), nullptr, nullptr, 0, nullptr, nullptr) != 1 ||
      PEM_write_bio_PUBKEY(pub.get(), key.get()) != 1)
  {
    print_openssl_error("cannot encode the key");
    return 1;
  }
  std::string key_path = dir + "/appliance.key";
  std::string pub_path = dir + "/appliance.pub";
  if (!write_file(key_path, priv.get(), 0600, force))
    return 1;
  if (!write_file(pub_path, pub.get(), 0644, force))
  {
    ::unlink(key_path.c_str());  // a key without its public half is of no use
    return 1;
  }
  std::printf("wrote %s (RSA %u-bit private key, mode 0600) and %s\n", key_path.c_str(), KEYGEN_BITS,
              pub_path.c_str());
  return 0;
}
