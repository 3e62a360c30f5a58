// JSON_RESTful_Client against libcurl used directly, on loopback HTTPS to
// the service emulator.
//
// A login creates a new client for each request; with the pool, its request
// finds the previous login's connection warm.  The anchor is the best a
// caller of libcurl can do: one easy handle kept and reused.  The third
// case opens a new handle per request (new connection, new TLS context,
// the CA bundle parsed again, a full handshake), which is what the pool
// saves.  The CA bundle is the system's plus the emulator's certificate, so
// loading it costs what it costs on a real appliance.  Wall-clock time:
// the server's share of the work happens in another process.

#include <fstream>
#include <algorithm>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include <benchmark/benchmark.h>
#include <curl/curl.h>

#include "bench/bench_support.h"
#include "devhost/harness/rest_options.h"
#include "devhost/full/curl_pool.h"
#include "host/json_restful_client.h"
#include "scrt/http_response.h"
#include "tests/support/mock_service.h"

namespace
{

/// The emulator with TLS, and the CA bundle that trusts it.
struct Service
{
  Service()
  {
    std::string error;
    if (dir.path().empty() || !test_support::make_certificate(dir.file("svc.crt"), dir.file("svc.key"),
                                                              "127.0.0.1", "IP:127.0.0.1", error))
      throw std::runtime_error("cannot make the certificate: " + error);
    ca_file = dir.file("ca-bundle.crt");
    std::ofstream bundle(ca_file, std::ios::binary);
    bundle << std::ifstream("/etc/ssl/certs/ca-certificates.crt", std::ios::binary).rdbuf();
    bundle << std::ifstream(dir.file("svc.crt"), std::ios::binary).rdbuf();
    bundle.close();
    tls.reset(new test_support::Mock_Service({"--access-key", "AK", "--secret-key", "SK", "--tls-cert",
                                              dir.file("svc.crt"), "--tls-key", dir.file("svc.key")}));
    plain.reset(new test_support::Mock_Service({"--access-key", "AK", "--secret-key", "SK"}));
    if (!tls->running() || !plain->running())
      throw std::runtime_error("cannot start the emulator: " + tls->error() + plain->error());
    devhost::Rest_Client_Options o = devhost::rest_client_options();
    o.ca_file = ca_file;
    devhost::set_rest_client_options(o);
  }

  std::string url(bool ssl) const
  {
    return std::string(ssl ? "https" : "http") + "://127.0.0.1:" + std::to_string(port(ssl)) + "/echo";
  }
  int port(bool ssl) const { return ssl ? tls->port() : plain->port(); }

  test_support::Temp_Dir dir;
  std::string ca_file;
  std::unique_ptr<test_support::Mock_Service> tls;
  std::unique_ptr<test_support::Mock_Service> plain;
};

Service& service()
{
  static Service svc;
  return svc;
}

size_t collect(char* data, size_t size, size_t count, void* user)
{
  static_cast<std::string*>(user)->append(data, size * count);
  return size * count;
}

void configure(CURL* easy, const std::string& url, std::string* body)
{
  curl_easy_setopt(easy, CURLOPT_URL, url.c_str());
  curl_easy_setopt(easy, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(easy, CURLOPT_HTTP_VERSION, static_cast<long>(CURL_HTTP_VERSION_1_1));
  curl_easy_setopt(easy, CURLOPT_CAINFO, service().ca_file.c_str());
  curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, &collect);
  curl_easy_setopt(easy, CURLOPT_WRITEDATA, body);
}

void rest_client(benchmark::State& state)
{
  bool ssl = state.range(0) != 0;
  unsigned short port = static_cast<unsigned short>(service().port(ssl));
  for (auto _ : state)
  {
    JSON_RESTful_Client client(true);  // one per login, as the module does
    client.reset("127.0.0.1", port, ssl);
    HTTP_Request req(HTTP_METHOD_GET, "/echo", false);
    HTTP_Response resp;
    json_spirit::Value body;
    if (!client.get(req, resp, &body))
      state.SkipWithError("the request failed");
  }
}
BENCHMARK(rest_client)->ArgName("tls")->Arg(0)->Arg(1)->UseRealTime()->ComputeStatistics("min", min_of);

void rest_anchor_reused_curl_handle(benchmark::State& state)
{
  bool ssl = state.range(0) != 0;
  std::string url = service().url(ssl);
  std::string body;
  devhost::Curl_Ptr easy(curl_easy_init());
  configure(easy.get(), url, &body);
  for (auto _ : state)
  {
    body.clear();
    long status = 0;
    if (curl_easy_perform(easy.get()) != CURLE_OK ||
        curl_easy_getinfo(easy.get(), CURLINFO_RESPONSE_CODE, &status) != CURLE_OK || status != 200)
      state.SkipWithError("the request failed");
  }
}
BENCHMARK(rest_anchor_reused_curl_handle)
    ->ArgName("tls")
    ->Arg(0)
    ->Arg(1)
    ->UseRealTime()
    ->ComputeStatistics("min", min_of);

void rest_anchor_new_curl_handle(benchmark::State& state)
{
  bool ssl = state.range(0) != 0;
  std::string url = service().url(ssl);
  std::string body;
  for (auto _ : state)
  {
    body.clear();
    devhost::Curl_Ptr easy(curl_easy_init());
    configure(easy.get(), url, &body);
    if (curl_easy_perform(easy.get()) != CURLE_OK)
      state.SkipWithError("the request failed");
  }
}
BENCHMARK(rest_anchor_new_curl_handle)
    ->ArgName("tls")
    ->Arg(0)
    ->Arg(1)
    ->UseRealTime()
    ->ComputeStatistics("min", min_of);

}  // namespace

BENCHMARK_MAIN();
