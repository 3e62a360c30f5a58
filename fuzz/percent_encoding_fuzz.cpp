// Fuzzes the percent-encoder and the query-string builder against a slow
// reference written here from the encoding rules; its table of kept
// characters is its own, not the header's.
//
// Input: eight bytes, the encoder's flag word (little-endian; missing bytes
// are 0); one control byte (bit 0: the builder starts with a separator,
// bit 1: encode keys, bit 2: encode values, bit 3: use a key prefix); then
// texts separated by line feeds: the text to encode, the key prefix, and
// keys and values in turn.  Texts may hold NUL bytes.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <iterator>
#include <map>
#include <string>
#include <vector>

#include "scrt/http_helpers.h"
#include "scrt/http_query_string_builder.h"

namespace
{
typedef HTTP_Query_String_Builder_T<std::back_insert_iterator<std::string>> Builder;

[[noreturn]] void fail(const char* what, const std::string& detail)
{
  std::fprintf(stderr, "percent_encoding_fuzz: %s\n%s\n", what, detail.c_str());
  std::fflush(stderr);
  std::abort();
}

std::string printable(const std::string& bytes)
{
  std::string out;
  for (unsigned char c : bytes)
  {
    char esc[8];
    if (c >= 0x20 && c < 0x7F && c != '\\')
      out += static_cast<char>(c);
    else
    {
      std::snprintf(esc, sizeof esc, "\\x%02x", c);
      out += esc;
    }
  }
  return out;
}

// The reserved characters a flag keeps, by the flag's bit number.
struct Keep_Rule
{
  char c;
  int bit;
};
const Keep_Rule KEEP_RULES[] = {
    {':', 3},  {'(', 4},  {')', 5},  {'\'', 6}, {'*', 7},  {'!', 9},  {'#', 10}, {'$', 11},
    {'&', 12}, {'+', 13}, {',', 14}, {';', 15}, {'=', 16}, {'?', 17}, {'@', 18},
};
const int BIT_SLASH = 0;
const int BIT_SPACE = 1;
const int BIT_UPPERCASE = 2;

bool has_bit(std::uint64_t flags, int bit)
{
  return ((flags >> bit) & 1) != 0;
}

bool reference_keeps(unsigned char c, std::uint64_t flags)
{
  if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9'))
    return true;
  if (c == '-' || c == '_' || c == '.' || c == '~')
    return true;
  if (c == '/')
    return !has_bit(flags, BIT_SLASH);
  for (const Keep_Rule& rule : KEEP_RULES)
    if (static_cast<unsigned char>(rule.c) == c)
      return has_bit(flags, rule.bit);
  return false;
}

// The encoding of @a text up to its first NUL, one byte at a time.
std::string reference_encode(const std::string& text, std::uint64_t flags)
{
  std::string out;
  for (std::size_t i = 0; i < text.size() && text[i] != '\0'; ++i)
  {
    const unsigned char c = static_cast<unsigned char>(text[i]);
    if (reference_keeps(c, flags))
      out += static_cast<char>(c);
    else if (c == ' ' && has_bit(flags, BIT_SPACE))
      out += '+';
    else
    {
      char esc[4];
      std::snprintf(esc, sizeof esc, has_bit(flags, BIT_UPPERCASE) ? "%%%02X" : "%%%02x", c);
      out += esc;
    }
  }
  return out;
}

// Undoes the encoding; "+" is a space exactly when spaces were written so
// and "+" itself was not kept.
std::string reference_decode(const std::string& encoded, bool plus_is_space)
{
  std::string out;
  for (std::size_t i = 0; i < encoded.size(); ++i)
  {
    if (encoded[i] == '%' && i + 2 < encoded.size())
    {
      out += static_cast<char>(std::strtol(encoded.substr(i + 1, 2).c_str(), nullptr, 16));
      i += 2;
    }
    else if (encoded[i] == '+' && plus_is_space)
      out += ' ';
    else
      out += encoded[i];
  }
  return out;
}

// The builder's rules, with its flag word: HUT_FLAG_SLASH | HUT_FLAG_SPACE.
const std::uint64_t QUERY_FLAGS = (1u << BIT_SLASH) | (1u << BIT_SPACE);

struct Reference_Builder
{
  std::string out;
  bool sep;

  void pair(const char* key, const char* val, bool encode_key, bool encode_val, const char* prefix)
  {
    if (key == nullptr || *key == '\0')
      return;
    if (sep)
      out += '&';
    sep = true;
    const std::string p = prefix != nullptr ? prefix : "";
    out += encode_key ? reference_encode(p, QUERY_FLAGS) + reference_encode(key, QUERY_FLAGS) : p + key;
    if (val == nullptr)
      return;
    out += '=';
    out += encode_val ? reference_encode(val, QUERY_FLAGS) : std::string(val);
  }
};

struct Input
{
  std::uint64_t flags = 0;
  bool sep = false;
  bool encode_key = false;
  bool encode_val = false;
  bool use_prefix = false;
  std::string text;
  std::string prefix;
  std::vector<std::string> fields;  ///< keys and values in turn
};

Input split(const std::uint8_t* data, std::size_t size)
{
  Input in;
  std::size_t i = 0;
  for (; i < 8 && i < size; ++i)
    in.flags |= static_cast<std::uint64_t>(data[i]) << (8 * i);
  if (i < size)
  {
    const std::uint8_t control = data[i++];
    in.sep = (control & 1) != 0;
    in.encode_key = (control & 2) != 0;
    in.encode_val = (control & 4) != 0;
    in.use_prefix = (control & 8) != 0;
  }
  std::vector<std::string> parts(1);
  for (; i < size; ++i)
  {
    if (data[i] == '\n')
      parts.emplace_back();
    else
      parts.back() += static_cast<char>(data[i]);
  }
  in.text = parts[0];
  if (parts.size() > 1)
    in.prefix = parts[1];
  in.fields.assign(parts.begin() + (parts.size() > 1 ? 2 : 1), parts.end());
  return in;
}

void check_encoder(const Input& in)
{
  const std::string want = reference_encode(in.text, in.flags);
  const bool empty = in.text.empty() || in.text[0] == '\0';
  const std::string detail = "flags " + std::to_string(in.flags) + ", text '" + printable(in.text) + "'";

  std::string got = "before";
  const bool written = http_encode_string_i(in.text.c_str(), in.flags, std::back_inserter(got));
  if (written == empty)
    fail("the encoder's result says the wrong thing about an empty text", detail);
  if (got != "before" + want)
    fail("the encoding differs from the reference",
         detail + "\ngot  '" + printable(got.substr(6)) + "'\nwant '" + printable(want) + "'");

  // A plain pointer into a buffer of exactly the encoded size: writing one
  // character more is an overflow that AddressSanitizer reports.
  std::vector<char> exact(want.size());
  char* const end = exact.data();
  if (!want.empty())
  {
    http_encode_string_i(in.text.c_str(), in.flags, end);
    if (std::string(exact.begin(), exact.end()) != want)
      fail("the encoding through a pointer differs", detail);
  }

  // No state between calls: two halves encode as the whole.
  const std::string whole(in.text.c_str());
  if (whole.size() >= 2)
  {
    const std::size_t half = whole.size() / 2;
    std::string parts;
    http_encode_string_i(whole.substr(0, half).c_str(), in.flags, std::back_inserter(parts));
    http_encode_string_i(whole.substr(half).c_str(), in.flags, std::back_inserter(parts));
    if (parts != want)
      fail("encoding two halves differs from encoding the whole", detail);
  }

  // Decodable back, unless "+" means both a kept "+" and a space.
  const bool plus_is_space = has_bit(in.flags, BIT_SPACE);
  if (!(plus_is_space && has_bit(in.flags, 13)) && reference_decode(want, plus_is_space) != whole)
    fail("the encoding does not decode to its text", detail);
}

void check_builder(const Input& in)
{
  const std::string start = in.sep ? "z=1" : "";
  const char* prefix = in.use_prefix ? in.prefix.c_str() : nullptr;
  std::string detail = "sep " + std::to_string(in.sep) + ", encode key " + std::to_string(in.encode_key) +
                       ", encode value " + std::to_string(in.encode_val) + ", prefix '" +
                       (prefix != nullptr ? printable(prefix) : std::string("<null>")) + "'";
  for (const std::string& f : in.fields)
    detail += "\n  '" + printable(f) + "'";

  // The map operation, as the module calls it.
  std::map<std::string, std::string> params;
  for (std::size_t i = 0; i + 1 < in.fields.size(); i += 2)
    params[in.fields[i]] = in.fields[i + 1];
  std::string got = start;
  Builder(std::back_inserter(got), in.sep)(params, in.encode_key, in.encode_val, prefix);
  Reference_Builder ref{start, in.sep};
  for (const auto& entry : params)
    ref.pair(entry.first.c_str(), entry.second.c_str(), in.encode_key, in.encode_val, prefix);
  if (got != ref.out)
    fail("the map operation differs from the reference",
         detail + "\ngot  '" + printable(got) + "'\nwant '" + printable(ref.out) + "'");

  // The pair operation in input order, chained; a last key without a value
  // goes in with a null value, and a null key leads every call.
  got = start;
  Builder builder(std::back_inserter(got), in.sep);
  Reference_Builder pairs{start, in.sep};
  for (std::size_t i = 0; i < in.fields.size(); i += 2)
  {
    const char* key = in.fields[i].c_str();
    const char* val = i + 1 < in.fields.size() ? in.fields[i + 1].c_str() : nullptr;
    builder(nullptr, val, in.encode_key, in.encode_val, prefix)(key, val, in.encode_key, in.encode_val,
                                                                prefix);
    pairs.pair(key, val, in.encode_key, in.encode_val, prefix);
  }
  if (got != pairs.out)
    fail("the pair operation differs from the reference",
         detail + "\ngot  '" + printable(got) + "'\nwant '" + printable(pairs.out) + "'");
}
}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
  // The named flags are the documented bits.
  for (const Keep_Rule& rule : KEEP_RULES)
  {
    const std::string one(1, rule.c);
    std::string out;
    http_encode_string_i(one.c_str(), std::uint64_t(1) << rule.bit, std::back_inserter(out));
    if (out != one)
      fail("a keep flag does not keep its character", one);
  }
  if (HUT_FLAG_SLASH != 1u << BIT_SLASH || HUT_FLAG_SPACE != 1u << BIT_SPACE ||
      HUT_FLAG_UPPERCASE != 1u << BIT_UPPERCASE || Builder::ENCODE_FLAGS != QUERY_FLAGS)
    fail("flag values", "");
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
  const Input in = split(data, size);
  check_encoder(in);
  check_builder(in);
  return 0;
}
