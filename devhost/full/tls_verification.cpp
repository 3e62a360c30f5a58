#include "devhost/full/tls_verification.h"

#include <openssl/err.h>
#include <openssl/ssl.h>

#include "devhost/full/openssl_util.h"
#include "devhost/full/printable.h"

namespace devhost
{
namespace
{
// The slot of a TLS context that points to its handle's Tls_Check; -1 when
// OpenSSL has none to give.
int tls_check_index()
{
  static const int index = SSL_CTX_get_ex_new_index(0, nullptr, nullptr, nullptr, nullptr);
  return index;
}

// Names as RFC 2253 writes them ("CN=leaf,O=Example"), but with control
// characters and non-ASCII bytes left as they are: `printable` escapes
// every such byte the same way when the name reaches a log line.
constexpr unsigned long TLS_NAME_FLAGS = XN_FLAG_RFC2253 & ~(ASN1_STRFLGS_ESC_CTRL | ASN1_STRFLGS_ESC_MSB);

std::size_t name_text(const X509_NAME* name, char* out)
{
  Bio_Ptr bio(name != nullptr ? BIO_new(BIO_s_mem()) : nullptr);
  if (!bio || X509_NAME_print_ex(bio.get(), name, 0, TLS_NAME_FLAGS) < 0)
    return 0;
  const int n = BIO_read(bio.get(), out, static_cast<int>(Tls_Refusal::NAME_MAX_BYTES + 1));
  return n > 0 ? static_cast<std::size_t>(n) : 0;
}

// Called by OpenSSL for each certificate of the chain, with its verdict in
// @a ok, which goes back unchanged: OpenSSL's own default does the same, so
// verification is exactly as strict as without this callback.  Only the
// first refusal is kept (with SSL_VERIFY_PEER the handshake ends there).
int on_verify(int ok, X509_STORE_CTX* store_ctx)
{
  if (ok != 0)
    return ok;
  const int index = tls_check_index();
  SSL* ssl = static_cast<SSL*>(X509_STORE_CTX_get_ex_data(store_ctx, SSL_get_ex_data_X509_STORE_CTX_idx()));
  Tls_Check* check = ssl != nullptr && index >= 0
                         ? static_cast<Tls_Check*>(SSL_CTX_get_ex_data(SSL_get_SSL_CTX(ssl), index))
                         : nullptr;
  if (check == nullptr || check->refusal.recorded)
    return ok;
  // OpenSSL errors raised here (no memory for the names) are ours to drop;
  // those of the handshake stay queued for libcurl.
  ERR_set_mark();
  Tls_Refusal& r = check->refusal;
  r.recorded = true;
  r.depth = X509_STORE_CTX_get_error_depth(store_ctx);
  r.error = X509_STORE_CTX_get_error(store_ctx);
  X509* cert = X509_STORE_CTX_get_current_cert(store_ctx);
  r.subject_length = name_text(cert != nullptr ? X509_get_subject_name(cert) : nullptr, r.subject);
  r.issuer_length = name_text(cert != nullptr ? X509_get_issuer_name(cert) : nullptr, r.issuer);
  ERR_pop_to_mark();
  return ok;
}
}  // namespace

CURLcode on_ssl_context(CURL*, void* ssl_ctx, void* user)
{
  Tls_Check* check = static_cast<Tls_Check*>(user);
  if (check == nullptr || check->store == nullptr)
    return CURLE_SSL_CACERT_BADFILE;
  SSL_CTX* ctx = static_cast<SSL_CTX*>(ssl_ctx);
  // Replace the (empty) store libcurl gave the new context with the shared
  // one; set1 takes a reference, so the store outlives the context.
  SSL_CTX_set1_cert_store(ctx, check->store);
  // Naming a refused certificate is an extra: without a slot for the check,
  // or should libcurl ever install a verify callback of its own, the
  // context is left as libcurl made it.  The mode keeps what libcurl set
  // (peer verification, with CURLOPT_SSL_VERIFYPEER on) and can only gain.
  const int index = tls_check_index();
  if (index >= 0 && SSL_CTX_get_verify_callback(ctx) == nullptr &&
      SSL_CTX_set_ex_data(ctx, index, check) == 1)
    SSL_CTX_set_verify(ctx, SSL_CTX_get_verify_mode(ctx) | SSL_VERIFY_PEER, &on_verify);
  return CURLE_OK;
}

std::string refusal_text(const Tls_Refusal& r)
{
  const std::size_t max = Tls_Refusal::NAME_MAX_BYTES;
  return "certificate " + printable(std::string(r.subject, r.subject_length), max) + " issued by " +
         printable(std::string(r.issuer, r.issuer_length), max) + " (chain depth " + std::to_string(r.depth) +
         "): " + X509_verify_cert_error_string(r.error);
}

}  // namespace devhost
