#ifndef DEVHOST_SERVICES_TLS_VERIFICATION_H
#define DEVHOST_SERVICES_TLS_VERIFICATION_H

#include <cstddef>
#include <string>

#include <curl/curl.h>
#include <openssl/x509.h>

namespace devhost
{
/**
 * The first certificate a TLS handshake refused, as OpenSSL's verification
 * reported it.  Fixed-size, so that recording it inside the handshake
 * neither allocates nor throws.
 */
struct Tls_Refusal
{
  /// Bytes of a name kept; one more is read, to tell that it was cut.
  static constexpr std::size_t NAME_MAX_BYTES = 256;

  /// Whether the fields below hold a refusal.
  bool recorded = false;
  /// The certificate's depth in the chain: 0 for the service's own.
  int depth = 0;
  /// OpenSSL's verification error (X509_V_ERR_...).
  int error = 0;
  /// The subject and issuer names (RFC 2253 order, bytes as they are),
  /// `*_length` bytes each; a length of NAME_MAX_BYTES + 1 means "cut".
  char subject[NAME_MAX_BYTES + 1];
  std::size_t subject_length = 0;
  char issuer[NAME_MAX_BYTES + 1];
  std::size_t issuer_length = 0;
};

/**
 * What the TLS callbacks of one handle's transfers work with, given to
 * libcurl as CURLOPT_SSL_CTX_DATA.  It belongs to the handle, not to one
 * transfer: a TLS context (and its pointer to this) lives as long as its
 * connection in the handle's cache, and a later handshake on it (a
 * renegotiation) must still find it.
 */
struct Tls_Check
{
  /// The CA store each new TLS context takes; null for a plain transfer.
  X509_STORE* store = nullptr;
  /// Cleared before each transfer.
  Tls_Refusal refusal;
};

/**
 * CURLOPT_SSL_CTX_FUNCTION with a `Tls_Check` as its data: puts the check's
 * CA store on the new TLS context, and has the context's verification record
 * the first certificate it refuses in the check's `refusal`.  Verification
 * stays as strict as libcurl set it: the record is all that is added.
 * CURLE_SSL_CACERT_BADFILE when there is no store.
 */
CURLcode on_ssl_context(CURL* easy, void* ssl_ctx, void* user);

/// A recorded refusal in words, its names through `printable`:
/// "certificate 'SUBJECT' issued by 'ISSUER' (chain depth N): REASON".
std::string refusal_text(const Tls_Refusal& refusal);

}  // namespace devhost

#endif /* DEVHOST_SERVICES_TLS_VERIFICATION_H */
