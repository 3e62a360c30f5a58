#include "quorvane/core/utils.h"

#include <string>
#include <utility>

#include <ace/Log_Msg.h>

#include "host/crypto.h"
#include "host/host_manager.h"
#include "host/json_spirit_utils.h"
#include "scrt/secure_string.h"

namespace quorvane
{
namespace
{
// OpenSSL's RSA_PKCS1_PADDING: the appliance's web page encrypts with it.
const int RSA_PADDING_PKCS1 = 1;
}  // namespace

bool check_host_info(json_spirit::Object& host_info)
{
  // Only a plain string member is handed to the host's getter: what it
  // makes of a member of another kind is the host's own choice (null, or an
  // exception that would leave the request unanswered).  Any other kind is
  // answered like a missing key, on any host.
  json_spirit::Object::const_iterator member = host_info.find("secret_key");
  const std::string* sk = member != host_info.end() && member->second.type() == json_spirit::str_type
                              ? json_spirit::object_get_str(host_info, "secret_key")  // GCOVR_EXCL_BR_LINE: a throw's cleanup
                              : nullptr;
  if (sk == nullptr)
  {
    ACE_DEBUG((LM_ERROR, ACE_TEXT("Failed to check Quorvane host secret_key, the attribute 'secret_key' does "
                                  "not exist in json.\n")));
    return false;
  }
  // A short text lives inside the string object, beyond the reach of the
  // allocator's wiping: every secure local here is wiped on the way out.
  // cppcheck-suppress stlcstrConstructor ; a copy into the wiping allocator, on purpose
  secure_string secure_sk(sk->data(), sk->size());
  Secure_Wipe_Guard wipe_sk(secure_sk);
  const secure_ustring& private_key = Host_Manager::instance()->rsa_prvkey();
  RSA_Decoder decoder(reinterpret_cast<const unsigned char*>(secure_sk.data()), secure_sk.size(),
                      private_key.c_str(), private_key.size(), true, RSA_PADDING_PKCS1);
  if (!decoder)
  {
    ACE_DEBUG((LM_ERROR, ACE_TEXT("Failed to decrypt secret_key.\n")));
    return false;
  }
  secure_string plain(reinterpret_cast<const char*>(decoder.get()), decoder.length());
  // Moved from, a short key leaves its characters after the first in place.
  Secure_Wipe_Guard wipe_plain(plain);
  host_info["secret_key"] = json_spirit::Value(std::move(plain));
  return true;
}

}  // namespace quorvane
