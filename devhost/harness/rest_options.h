#ifndef DEVHOST_REST_OPTIONS_H
#define DEVHOST_REST_OPTIONS_H

#include <cstddef>
#include <string>

/**
 * Process-wide settings of the host's REST clients (`JSON_RESTful_Client`),
 * for the development host's tools and tests.  Not part of the host's
 * interface: the module never sets them.  Both hosts of this project
 * implement them; another host that offers the harness (docs/host-contract.md:
 * "Building it against another host") implements them for its own client.
 */
namespace devhost
{
/// The settings of every REST client of the process.
struct Rest_Client_Options
{
  /// Connection set-up limit, milliseconds (QUORVANE_CONNECT_TIMEOUT_MS).
  long connect_timeout_ms = 10000;
  /// Whole exchange limit, milliseconds (QUORVANE_TIMEOUT_MS).
  long timeout_ms = 30000;
  /// CA bundle (PEM file) for TLS peer verification; empty for the
  /// system's (QUORVANE_CA_FILE).
  std::string ca_file;
  /// Largest response body accepted, bytes (QUORVANE_MAX_BODY); a larger
  /// one fails the exchange instead of growing memory.
  std::size_t max_body = 1024 * 1024;
};

/**
 * The settings in force: the defaults above, in the development host
 * overridden by the environment variables named there (read once, on first
 * use of any client), then by whatever `set_rest_client_options` last set.
 * Thread-safe.
 */
Rest_Client_Options rest_client_options();

/**
 * Replaces the settings for exchanges that start afterwards.  The
 * development host reuses no pooled connection or TLS session made under
 * the old settings, since it may have been verified against another CA
 * bundle.  Thread-safe.
 */
void set_rest_client_options(const Rest_Client_Options& options);
}  // namespace devhost

#endif /* DEVHOST_REST_OPTIONS_H */
