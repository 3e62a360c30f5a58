#include "devhost/full/curl_pool.h"

#include <cerrno>
#include <cstdlib>
#include <utility>

#include <ace/Log_Msg.h>
#include <openssl/err.h>
#include <openssl/x509_vfy.h>

namespace devhost
{
/**
 * A libcurl share of DNS entries and TLS sessions, with one lock per kind
 * of shared data.
 */
class Curl_Share
{
public:
  Curl_Share();
  CURLSH* get() const { return share_.get(); }

private:
  struct Share_Free
  {
    void operator()(CURLSH* p) const { curl_share_cleanup(p); }
  };

  static void lock(CURL*, curl_lock_data data, curl_lock_access, void* user)
  {
    static_cast<Curl_Share*>(user)->locks_[data].lock();
  }
  static void unlock(CURL*, curl_lock_data data, void* user)
  {
    static_cast<Curl_Share*>(user)->locks_[data].unlock();
  }

  std::mutex locks_[CURL_LOCK_DATA_LAST];
  std::unique_ptr<CURLSH, Share_Free> share_;
};

Curl_Share::Curl_Share() : share_(curl_share_init())
{
  // Connections are not shared through the share: libcurl 7.88 documents
  // its shared connection cache as unsafe between concurrent threads.  The
  // pool of easy handles keeps connections instead, each handle its own.
  if (!share_ || curl_share_setopt(share_.get(), CURLSHOPT_LOCKFUNC, &Curl_Share::lock) != CURLSHE_OK ||
      curl_share_setopt(share_.get(), CURLSHOPT_UNLOCKFUNC, &Curl_Share::unlock) != CURLSHE_OK ||
      curl_share_setopt(share_.get(), CURLSHOPT_USERDATA, this) != CURLSHE_OK ||
      curl_share_setopt(share_.get(), CURLSHOPT_SHARE, CURL_LOCK_DATA_DNS) != CURLSHE_OK ||
      curl_share_setopt(share_.get(), CURLSHOPT_SHARE, CURL_LOCK_DATA_SSL_SESSION) != CURLSHE_OK)
  {
    ACE_DEBUG((LM_WARNING, ACE_TEXT("JSON_RESTful_Client: libcurl cannot share DNS and TLS sessions; "
                                    "each connection resolves and negotiates on its own\n")));
    share_.reset();
  }
}

Curl_Generation::Curl_Generation(const Rest_Client_Options& options, unsigned long id)
    : options_(options), id_(id), share_(new Curl_Share)
{
  if (share_->get() == nullptr)
    share_.reset();
}

Curl_Generation::~Curl_Generation() {}

std::string Curl_Generation::ca_name() const
{
  return options_.ca_file.empty() ? std::string("the system CA store") : "'" + options_.ca_file + "'";
}

X509_STORE* Curl_Generation::ca_store(std::string& error)
{
  // Loaded once per set of options and handed to every TLS context libcurl
  // makes (X509_STORE is reference-counted and safe to share between
  // contexts), instead of libcurl parsing the bundle for each connection.
  std::lock_guard<std::mutex> guard(store_lock_);
  if (store_)
    return store_.get();
  Openssl_Error_Scope errors;
  X509_Store_Ptr store(X509_STORE_new());
  if (!store)
  {
    error = "cannot allocate a CA store";
    return nullptr;
  }
  int ok = options_.ca_file.empty() ? X509_STORE_set_default_paths(store.get())
                                    : X509_STORE_load_file(store.get(), options_.ca_file.c_str());
  if (ok != 1)
  {
    char reason[256];
    ERR_error_string_n(ERR_peek_last_error(), reason, sizeof reason);
    error = "cannot load the CA bundle " + ca_name() + ": " + reason;
    return nullptr;
  }
  // libcurl sets this flag on the stores it builds (so that a pinned
  // intermediate or leaf certificate in the bundle is a trust anchor); the
  // shared store keeps that behaviour.
  if (X509_STORE_set_flags(store.get(), X509_V_FLAG_PARTIAL_CHAIN) != 1)
  {
    error = "cannot configure the CA store";
    return nullptr;
  }
  store_ = std::move(store);
  return store_.get();
}

namespace
{
long env_number(const char* name, long fallback)
{
  const char* text = std::getenv(name);
  if (text == nullptr || *text == '\0')
    return fallback;
  char* end = nullptr;
  errno = 0;
  long value = std::strtol(text, &end, 10);
  if (errno != 0 || *end != '\0' || value <= 0)
  {
    ACE_DEBUG(
        (LM_WARNING, ACE_TEXT("JSON_RESTful_Client: ignoring %C='%C': not a positive number\n"), name, text));
    return fallback;
  }
  return value;
}

Rest_Client_Options environment_options()
{
  Rest_Client_Options options;
  if (const char* ca = std::getenv("QUORVANE_CA_FILE"))
    options.ca_file = ca;
  options.connect_timeout_ms = env_number("QUORVANE_CONNECT_TIMEOUT_MS", options.connect_timeout_ms);
  options.timeout_ms = env_number("QUORVANE_TIMEOUT_MS", options.timeout_ms);
  options.max_body =
      static_cast<std::size_t>(env_number("QUORVANE_MAX_BODY", static_cast<long>(options.max_body)));
  return options;
}
}  // namespace

Curl_Pool& Curl_Pool::instance()
{
  // The constructor runs curl_global_init exactly once (C++11 static
  // initialisation is thread-safe), before any handle exists.  It also
  // initialises OpenSSL, whose exit handler is therefore registered before
  // this object's destructor and runs after it.
  static Curl_Pool pool;
  return pool;
}

Curl_Pool::Curl_Pool() : next_id_(1)
{
  CURLcode rc = curl_global_init(CURL_GLOBAL_DEFAULT);
  if (rc != CURLE_OK)
    ACE_ERROR((LM_ERROR, ACE_TEXT("JSON_RESTful_Client: libcurl initialisation failed: %C\n"),
               curl_easy_strerror(rc)));
  current_ = std::make_shared<Curl_Generation>(environment_options(), next_id_++);
  // Room for every idle handle from the start, so that `release` never
  // grows the list (it must not throw; see set_options too).
  idle_.reserve(MAX_IDLE);
}

Rest_Client_Options Curl_Pool::options() const
{
  std::lock_guard<std::mutex> guard(lock_);
  return current_->options();
}

std::shared_ptr<Curl_Generation> Curl_Pool::current() const
{
  std::lock_guard<std::mutex> guard(lock_);
  return current_;
}

void Curl_Pool::set_options(const Rest_Client_Options& options)
{
  // `old` takes the idle handles and leaves its own room for MAX_IDLE in
  // their place.
  std::vector<Curl_Handle_Ptr> old;
  old.reserve(MAX_IDLE);
  {
    std::lock_guard<std::mutex> guard(lock_);
    current_ = std::make_shared<Curl_Generation>(options, next_id_++);
    old.swap(idle_);
  }
  // `old` closes its connections here, outside the lock.
}

Curl_Handle_Ptr Curl_Pool::create(const std::shared_ptr<Curl_Generation>& generation, bool shared)
{
  Curl_Handle_Ptr handle(new Curl_Handle);
  handle->generation = generation;
  handle->easy.reset(curl_easy_init());
  if (!handle->easy)
    return Curl_Handle_Ptr();
  // The share survives curl_easy_reset, so it is attached once here.
  if (shared && generation->share() != nullptr &&
      curl_easy_setopt(handle->easy.get(), CURLOPT_SHARE, generation->share()->get()) != CURLE_OK)
    return Curl_Handle_Ptr();
  return handle;
}

Curl_Handle_Ptr Curl_Pool::acquire(const std::string& endpoint)
{
  std::shared_ptr<Curl_Generation> generation;
  {
    std::lock_guard<std::mutex> guard(lock_);
    generation = current_;
    // The most recently returned handle for the endpoint holds the warmest
    // connection; failing that, any idle handle saves creating one.
    std::size_t pick = idle_.size();
    for (std::size_t i = idle_.size(); i-- > 0;)
      if (idle_[i]->endpoint == endpoint)
      {
        pick = i;
        break;
      }
    if (pick == idle_.size() && !idle_.empty())
      pick = 0;
    if (pick != idle_.size())
    {
      Curl_Handle_Ptr handle = std::move(idle_[pick]);
      idle_.erase(idle_.begin() + static_cast<std::ptrdiff_t>(pick));
      handle->endpoint = endpoint;
      return handle;
    }
  }
  Curl_Handle_Ptr handle = create(generation, true);
  if (handle)
    handle->endpoint = endpoint;
  return handle;
}

Curl_Handle_Ptr Curl_Pool::create_private()
{
  return create(current(), false);
}

void Curl_Pool::release(Curl_Handle_Ptr handle) noexcept
{
  if (!handle)
    return;
  Curl_Handle_Ptr drop;
  {
    std::lock_guard<std::mutex> guard(lock_);
    if (handle->generation != current_)
      drop = std::move(handle);
    else
    {
      if (idle_.size() >= MAX_IDLE)
      {
        drop = std::move(idle_.front());
        idle_.erase(idle_.begin());
      }
      idle_.push_back(std::move(handle));
    }
  }
  // `drop` closes its connections here, outside the lock.
}

}  // namespace devhost
