// The login against its floors, in one run; the signing cases are in
// sign_bench.cpp, what both share in login_bench.h.
//
// login: one warm login through the module loaded with dlopen, as the host
// makes it (handle_object_i with a fresh request), against what such a
// login cannot avoid: an RSA decryption with a key parsed beforehand, one
// GET of the same resource on a reused libcurl handle carrying a valid
// signature, and a JSON parse of the reply.  Both sides get the same 200
// reply from the same emulator, over HTTP and over HTTPS.
//
// The cold login (no key parsed, no connection, no TLS session, the CA file
// not loaded) is measured once in main, before any benchmark runs, and
// reported as its own entry.
//
// The network cases are wall-clock: the emulator's share of the work is in
// another process.

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include <benchmark/benchmark.h>
#include <curl/curl.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/rsa.h>

#include "bench/bench_support.h"
#include "bench/login_bench.h"
#include "devhost/harness/json_reader.h"
#include "devhost/harness/rest_options.h"
#include "devhost/full/curl_pool.h"
#include "devhost/full/openssl_util.h"
#include "host/json_rpc.h"
#include "tests/support/login_fixture.h"
#include "tests/support/mock_service.h"

namespace
{
using namespace login_bench;

/// A channel that checks each reply against the success reply and counts.
class Counting_Channel : public JSON_RPC_Channel
{
public:
  int send(JSON_RPC_Object_var obj) override
  {
    if (is_success(*obj))
      ++successes;
    else
      ++failures;
    return 0;
  }

  long successes = 0;
  long failures = 0;

private:
  // {"code": 0, "message": "Success to login", "version": VERSION}, read
  // off the reply object rather than from its JSON text, so the check costs
  // a few map look-ups.
  static bool is_success(const JSON_RPC_Object& obj)
  {
    if (obj.type() != JSON_RPC_Object::TYPE_RESPONSE)
      return false;
    const json_spirit::Value& result = static_cast<const JSON_RPC_Response&>(obj).result;
    if (result.type() != json_spirit::obj_type)
      return false;
    const json_spirit::Object& o = result.get_obj();
    json_spirit::Object::const_iterator code = o.find("code");
    json_spirit::Object::const_iterator message = o.find("message");
    json_spirit::Object::const_iterator version = o.find("version");
    return o.size() == 3 && code != o.end() && code->second.type() == json_spirit::int_type &&
           code->second.get_int64() == 0 && message != o.end() &&
           message->second.type() == json_spirit::str_type &&
           message->second.get_str() == "Success to login" && version != o.end() &&
           version->second.type() == json_spirit::str_type && version->second.get_str() == VERSION;
  }
};

/**
 * Everything the login cases share, made in main before any case runs: the
 * loaded module and its appliance key, the emulator over HTTPS (made first,
 * for the cold login) and over HTTP, and the floor's own copy of the key
 * and of the ciphertext.
 */
struct Login_Setup
{
  Login_Setup()
  {
    std::string error;
    if (dir.path().empty() || !test_support::make_certificate(dir.file("svc.crt"), dir.file("svc.key"),
                                                              "127.0.0.1", "IP:127.0.0.1", error))
      throw std::runtime_error("cannot make the certificate: " + error);
    ca_file = dir.file("svc.crt");
    tls.reset(new test_support::Mock_Service({"--access-key", AK, "--secret-key", SK, "--version", VERSION,
                                              "--tls-cert", ca_file, "--tls-key", dir.file("svc.key")}));
    if (!tls->running())
      throw std::runtime_error("cannot start the emulator: " + tls->error());
    devhost::Rest_Client_Options o = devhost::rest_client_options();
    o.ca_file = ca_file;
    devhost::set_rest_client_options(o);

    ciphertext_b64 = module.key().encrypt(SK);
  }

  /// Starts the plain emulator and prepares the floor's key; after the
  /// cold login, so that neither warms anything for it.
  void finish()
  {
    plain.reset(
        new test_support::Mock_Service({"--access-key", AK, "--secret-key", SK, "--version", VERSION}));
    if (!plain->running())
      throw std::runtime_error("cannot start the emulator: " + plain->error());

    const std::string& pem = module.key().private_pem();
    devhost::Bio_Ptr bio(BIO_new_mem_buf(pem.data(), static_cast<int>(pem.size())));
    pkey.reset(bio ? PEM_read_bio_PrivateKey(bio.get(), nullptr, nullptr, nullptr) : nullptr);
    std::vector<unsigned char> raw(ciphertext_b64.size());
    int n = EVP_DecodeBlock(raw.data(), reinterpret_cast<const unsigned char*>(ciphertext_b64.data()),
                            static_cast<int>(ciphertext_b64.size()));
    if (!pkey || n <= 0)
      throw std::runtime_error("cannot prepare the floor's key and ciphertext");
    // EVP_DecodeBlock counts the padding's zero bytes: drop one per "=".
    std::size_t pad =
        static_cast<std::size_t>(std::count(ciphertext_b64.end() - 2, ciphertext_b64.end(), '='));
    ciphertext.assign(raw.begin(), raw.begin() + (n - static_cast<int>(pad)));
  }

  int port(bool ssl) const { return ssl ? tls->port() : plain->port(); }

  /// The login params for the emulator over TLS or plain HTTP.
  json_spirit::Value params(bool ssl) const
  {
    std::string text = R"({"host": "127.0.0.1", "port": )" + std::to_string(port(ssl)) +
                       R"(, "access_key": ")" + AK + R"(", "secret_key": ")" + ciphertext_b64 + "\"" +
                       (ssl ? R"(, "ssl": true)" : "") + "}";
    json_spirit::Value v;
    if (!json_spirit::read(text, v))
      throw std::runtime_error("bad login params: " + text);
    return v;
  }

  test_support::Login_Module_Fixture module;
  test_support::Temp_Dir dir;
  std::string ca_file;
  std::unique_ptr<test_support::Mock_Service> tls;
  std::unique_ptr<test_support::Mock_Service> plain;
  std::string ciphertext_b64;
  devhost::Pkey_Ptr pkey;
  std::vector<unsigned char> ciphertext;
};

Login_Setup* setup = nullptr;

/// One login through the module with @a params; the reply goes to @a chn.
void login_once(const JSON_RPC_Channel_var& chn, const json_spirit::Value& params, long id)
{
  JSON_RPC_Request* req = new JSON_RPC_Request;
  JSON_RPC_Object_var obj(req);
  req->method = "login";
  req->id = json_spirit::Value(id);
  req->params = params;
  setup->module.handler().handle_object_i(chn, obj);
}

// ---------------------------------------------------------------- login

void login(benchmark::State& state)
{
  const bool ssl = state.range(0) != 0;
  const json_spirit::Value params = setup->params(ssl);
  Counting_Channel* counter = new Counting_Channel;
  JSON_RPC_Channel_var chn(counter);
  long id = 0;
  // The previous login, to the same service with the same key: what makes
  // the timed ones warm.
  login_once(chn, params, id++);
  const long allocs = scrt_allocation_count();
  for (auto _ : state)
    login_once(chn, params, id++);
  report(state, counter->failures + (id - counter->successes - counter->failures), allocs);
}
BENCHMARK(login)->ArgName("tls")->Arg(0)->Arg(1)->UseRealTime()->ComputeStatistics("min", min_of);

size_t collect(char* data, size_t size, size_t count, void* user)
{
  static_cast<std::string*>(user)->append(data, size * count);
  return size * count;
}

/// True when @a body is the settings reply: result_code 10000 and a version.
bool settings_reply(const json_spirit::Value& body)
{
  if (body.type() != json_spirit::obj_type)
    return false;
  const json_spirit::Object& o = body.get_obj();
  json_spirit::Object::const_iterator code = o.find("result_code");
  return code != o.end() && code->second.type() == json_spirit::int_type && code->second.get_int64() == 10000;
}

/**
 * The login's floor against one emulator: the decryption with the key
 * parsed beforehand, and the signed GET on one easy handle kept for the
 * object's life with its JSON parse.  The signature headers are made once,
 * by the constructor; the emulator accepts them for 300 s, and one run of a
 * case stays well within that.
 */
class Login_Floor
{
public:
  explicit Login_Floor(bool ssl) : easy_(curl_easy_init())
  {
    const std::string url =
        std::string(ssl ? "https" : "http") + "://127.0.0.1:" + std::to_string(setup->port(ssl)) + SETTINGS;
    const std::string now = client_now();
    Mac_Floor floor;
    char sig[Mac_Floor::OUT_SIZE];
    if (floor.sign(SK, text_to_sign(now), sig) == 0)
      return;
    for (const std::string& h : {"Client-Now: " + now, std::string("X-Auth-Accesskey: ") + AK,
                                 std::string("X-Auth-Signature: ") + sig})
    {
      curl_slist* next = curl_slist_append(headers_.get(), h.c_str());
      if (next == nullptr)
        return;
      headers_.release();
      headers_.reset(next);
    }
    ready_ = easy_ && curl_easy_setopt(easy_.get(), CURLOPT_URL, url.c_str()) == CURLE_OK &&
             curl_easy_setopt(easy_.get(), CURLOPT_NOSIGNAL, 1L) == CURLE_OK &&
             curl_easy_setopt(easy_.get(), CURLOPT_HTTP_VERSION, static_cast<long>(CURL_HTTP_VERSION_1_1)) ==
                 CURLE_OK &&
             curl_easy_setopt(easy_.get(), CURLOPT_CAINFO, setup->ca_file.c_str()) == CURLE_OK &&
             curl_easy_setopt(easy_.get(), CURLOPT_HTTPHEADER, headers_.get()) == CURLE_OK &&
             curl_easy_setopt(easy_.get(), CURLOPT_WRITEFUNCTION, &collect) == CURLE_OK &&
             curl_easy_setopt(easy_.get(), CURLOPT_WRITEDATA, &body_) == CURLE_OK;
  }

  /// False when the handle or the headers could not be set up.
  bool ready() const { return ready_; }

  /// The secret decrypted; false when it is not the account's.
  bool decrypt()
  {
    devhost::Pkey_Ctx_Ptr ctx(EVP_PKEY_CTX_new_from_pkey(nullptr, setup->pkey.get(), nullptr));
    unsigned char plain[512];
    std::size_t len = sizeof plain;
    const std::vector<unsigned char>& cipher = setup->ciphertext;
    return ctx && EVP_PKEY_decrypt_init(ctx.get()) == 1 &&
           EVP_PKEY_CTX_set_rsa_padding(ctx.get(), RSA_PKCS1_PADDING) == 1 &&
           EVP_PKEY_decrypt(ctx.get(), plain, &len, cipher.data(), cipher.size()) == 1 &&
           len == sizeof SK - 1 && std::equal(plain, plain + len, SK);
  }

  /// The GET and its parse; false unless the reply is the settings reply.
  bool fetch()
  {
    body_.clear();
    long status = 0;
    if (curl_easy_perform(easy_.get()) != CURLE_OK ||
        curl_easy_getinfo(easy_.get(), CURLINFO_RESPONSE_CODE, &status) != CURLE_OK || status != 200)
      return false;
    json_spirit::Value parsed;
    return json_spirit::read(body_, parsed) && settings_reply(parsed);
  }

private:
  devhost::Curl_Ptr easy_;
  devhost::Curl_Slist_Ptr headers_;
  std::string body_;
  bool ready_ = false;
};

void login_floor(benchmark::State& state)
{
  Login_Floor floor(state.range(0) != 0);
  // The previous GET: the connection (and TLS session) is open.
  if (!floor.ready() || !floor.fetch())
  {
    state.SkipWithError("the floor's first request failed");
    return;
  }
  long failures = 0;
  const long allocs = scrt_allocation_count();
  for (auto _ : state)
  {
    if (!floor.decrypt() || !floor.fetch())
      ++failures;
  }
  report(state, failures, allocs);
}
BENCHMARK(login_floor)->ArgName("tls")->Arg(0)->Arg(1)->UseRealTime()->ComputeStatistics("min", min_of);

// Where the floor's time goes: the decryption alone (CPU time), and the GET
// with its parse alone.
void login_floor_part_rsa(benchmark::State& state)
{
  Login_Floor floor(false);
  long failures = 0;
  const long allocs = scrt_allocation_count();
  for (auto _ : state)
  {
    if (!floor.decrypt())
      ++failures;
  }
  report(state, failures, allocs);
}
BENCHMARK(login_floor_part_rsa)->ComputeStatistics("min", min_of);

void login_floor_part_get(benchmark::State& state)
{
  Login_Floor floor(state.range(0) != 0);
  if (!floor.ready() || !floor.fetch())
  {
    state.SkipWithError("the floor's first request failed");
    return;
  }
  long failures = 0;
  const long allocs = scrt_allocation_count();
  for (auto _ : state)
  {
    if (!floor.fetch())
      ++failures;
  }
  report(state, failures, allocs);
}
BENCHMARK(login_floor_part_get)
    ->ArgName("tls")
    ->Arg(0)
    ->Arg(1)
    ->UseRealTime()
    ->ComputeStatistics("min", min_of);

// ------------------------------------------------------------ cold login

double cold_seconds = 0;
double cold_allocs = 0;
bool cold_ok = false;

/// The first login of the process, against the HTTPS emulator no one has
/// spoken to yet.  Runs before the benchmarks.
void measure_cold_login()
{
  Counting_Channel* counter = new Counting_Channel;
  JSON_RPC_Channel_var chn(counter);
  const json_spirit::Value params = setup->params(true);
  const long allocs = scrt_allocation_count();
  std::chrono::steady_clock::time_point start = std::chrono::steady_clock::now();
  login_once(chn, params, 0);
  std::chrono::steady_clock::time_point end = std::chrono::steady_clock::now();
  cold_allocs = allocs < 0 ? -1.0 : static_cast<double>(scrt_allocation_count() - allocs);
  cold_seconds = std::chrono::duration<double>(end - start).count();
  cold_ok = counter->successes == 1 && counter->failures == 0;
}

// Reports the figure taken in main; runs once whatever the repetitions.
void login_cold(benchmark::State& state)
{
  for (auto _ : state)
    state.SetIterationTime(cold_seconds);
  state.SetLabel("first login of the process, measured once before the benchmarks");
  state.counters["allocs/op"] = cold_allocs;
  state.counters["failures"] = cold_ok ? 0 : 1;
  if (!cold_ok)
    state.SkipWithError("the cold login failed");
}
BENCHMARK(login_cold)->ArgName("tls")->Arg(1)->UseManualTime()->Iterations(1)->Repetitions(1);

}  // namespace

int main(int argc, char** argv)
{
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv))
    return 1;
  try
  {
    Login_Setup s;
    setup = &s;
    measure_cold_login();
    s.finish();
    benchmark::RunSpecifiedBenchmarks();
    setup = nullptr;
  }
  catch (const std::exception& e)
  {
    std::fprintf(stderr, "bench_login: %s\n", e.what());
    return 1;
  }
  benchmark::Shutdown();
  return 0;
}
