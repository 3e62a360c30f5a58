#ifndef DEVHOST_SERVICES_CURL_POOL_H
#define DEVHOST_SERVICES_CURL_POOL_H

#include <cstddef>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include <curl/curl.h>

#include "devhost/harness/rest_options.h"
#include "devhost/full/openssl_util.h"
#include "devhost/full/tls_verification.h"

namespace devhost
{
struct Curl_Easy_Free
{
  void operator()(CURL* p) const { curl_easy_cleanup(p); }
};
struct Curl_Slist_Free
{
  void operator()(curl_slist* p) const { curl_slist_free_all(p); }
};
typedef std::unique_ptr<CURL, Curl_Easy_Free> Curl_Ptr;
typedef std::unique_ptr<curl_slist, Curl_Slist_Free> Curl_Slist_Ptr;

class Curl_Share;

/**
 * One set of REST client options and what is built from them: the CA store
 * every TLS connection verifies against, and the share of DNS entries and
 * TLS sessions.  A new set replaces the old one whenever the options
 * change, so that no connection or session verified under one CA bundle is
 * reused under another.  Thread-safe.
 */
class Curl_Generation
{
public:
  Curl_Generation(const Rest_Client_Options& options, unsigned long id);
  ~Curl_Generation();
  Curl_Generation(const Curl_Generation&) = delete;
  Curl_Generation& operator=(const Curl_Generation&) = delete;

  const Rest_Client_Options& options() const { return options_; }
  unsigned long id() const { return id_; }
  /// The share handle, or null when libcurl could not make one.
  Curl_Share* share() const { return share_.get(); }

  /**
   * The CA store of `options().ca_file` (the system's when empty), loaded
   * on first use and kept.  Null, with @a error set, when it cannot be
   * loaded; the next call tries again.
   */
  X509_STORE* ca_store(std::string& error);

  /// The CA bundle in words, for messages.
  std::string ca_name() const;

private:
  Rest_Client_Options options_;
  unsigned long id_;
  std::unique_ptr<Curl_Share> share_;
  std::mutex store_lock_;
  X509_Store_Ptr store_;
};

/// An easy handle, with the generation it was configured under.
struct Curl_Handle
{
  /// Declared first so that it outlives `easy`, which may use its share.
  std::shared_ptr<Curl_Generation> generation;
  /// Declared before `easy`, whose connections' TLS contexts point to it.
  Tls_Check tls;
  Curl_Ptr easy;
  /// "scheme://host:port" of the connection the handle last made.
  std::string endpoint;
  /// Whether the options fixed for the handle's life have been set.
  bool configured = false;
};
typedef std::unique_ptr<Curl_Handle> Curl_Handle_Ptr;

/**
 * The process's libcurl state: global initialisation (done once, by the
 * first `instance` call), the options in force, and a pool of idle easy
 * handles whose connection caches keep connections to the endpoints they
 * served.  Thread-safe.
 */
class Curl_Pool
{
public:
  /// Idle handles kept at most; more are closed when returned.
  static constexpr std::size_t MAX_IDLE = 16;

  static Curl_Pool& instance();

  Rest_Client_Options options() const;
  void set_options(const Rest_Client_Options& options);
  std::shared_ptr<Curl_Generation> current() const;

  /**
   * A handle of the current generation: an idle one that last served
   * @a endpoint, else any idle one, else a new one attached to the share.
   * Null only when libcurl cannot make a handle.
   */
  Curl_Handle_Ptr acquire(const std::string& endpoint);

  /// A new handle of the current generation that is not attached to the
  /// share, for a client that keeps it to itself.
  Curl_Handle_Ptr create_private();

  /// Takes back a handle from `acquire`; closes it when it belongs to an
  /// older generation or the pool is full.  Never throws, so that a lease
  /// can give its handle back from a destructor.
  void release(Curl_Handle_Ptr handle) noexcept;

private:
  Curl_Pool();
  Curl_Handle_Ptr create(const std::shared_ptr<Curl_Generation>& generation, bool shared);

  mutable std::mutex lock_;
  std::shared_ptr<Curl_Generation> current_;
  unsigned long next_id_;
  std::vector<Curl_Handle_Ptr> idle_;
};

}  // namespace devhost

#endif /* DEVHOST_SERVICES_CURL_POOL_H */
