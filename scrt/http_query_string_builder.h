#ifndef SCRT_HTTP_QUERY_STRING_BUILDER_H
#define SCRT_HTTP_QUERY_STRING_BUILDER_H

#include <map>
#include <string>

#include "scrt/http_helpers.h"

/**
 * Appends query-string pairs ("key=value", joined by "&") through an output
 * iterator over char, percent-encoding keys and values with ENCODE_FLAGS on
 * request.  Pairs come out in call order (for a map, the map's order); the
 * builder neither sorts nor removes duplicates, and never escapes the "&"
 * and "=" it writes itself.
 *
 * ITERATOR must be an inserter whose copies all write at the same end
 * (std::back_insert_iterator): the iterator is copied into every encoder
 * call, so a plain pointer would not advance past encoded text.  The
 * builder owns nothing: the target behind the iterator belongs to the
 * caller and must outlive it.  A short-lived local object for one thread.
 * The only exception is the iterator's own (std::bad_alloc from a string's
 * back inserter), with what was already written kept.
 */
template <typename ITERATOR>
class HTTP_Query_String_Builder_T
{
public:
  typedef HTTP_Query_String_Builder_T<ITERATOR> this_type;

  enum : ACE_UINT64
  {
    /// The one flag word used: only letters, digits, "-", "_", "." and "~"
    /// stay; a space becomes "+"; the rest, "/" included, "%xx" lower case.
    ENCODE_FLAGS = HUT_FLAG_SLASH | HUT_FLAG_SPACE
  };

  /**
   * @a sep true makes the first pair written start with "&": pass true when
   * appending to a query string that is not empty, false for an empty one.
   */
  HTTP_Query_String_Builder_T(ITERATOR iter, bool sep) : iter_(iter), sep_(sep) {}

  /**
   * Appends one pair.
   *
   * @param key         null or empty: nothing at all is written, not even "&".
   * @param val         null: the key alone, without "="; empty: the key and "=".
   * @param encode_key  encode the prefix and the key, or copy them unchanged.
   * @param encode_val  encode the value, or copy it unchanged.
   * @param key_prefix  text written right before the key and treated like it;
   *                    null or empty for none.
   */
  this_type& operator()(const char* key, const char* val, bool encode_key, bool encode_val,
                        const char* key_prefix)
  {
    if (key == nullptr || *key == '\0')
      return *this;

    if (sep_)
      put('&');
    else
      sep_ = true;

    write(key_prefix, encode_key);
    write(key, encode_key);
    if (val == nullptr)
      return *this;

    put('=');
    write(val, encode_val);
    return *this;
  }

  /**
   * Appends one pair per entry of @a params, in ascending byte order of the
   * keys, each as the pair operation with the entry's `c_str()` texts (so a
   * NUL inside a key or value cuts it there).  An entry with an empty value
   * gives "key=".  An empty map writes nothing.
   */
  this_type& operator()(const std::map<std::string, std::string>& params, bool encode_key, bool encode_val,
                        const char* key_prefix)
  {
    for (const auto& entry : params)
      (*this)(entry.first.c_str(), entry.second.c_str(), encode_key, encode_val, key_prefix);
    return *this;
  }

protected:
  void put(char c)
  {
    *iter_ = c;
    ++iter_;
  }

  /// Writes @a text (null or empty: nothing), encoded or as it is.
  void write(const char* text, bool encode)
  {
    if (text == nullptr)
      return;
    if (encode)
    {
      http_encode_string_i(text, ENCODE_FLAGS, iter_);
      return;
    }
    for (; *text != '\0'; ++text)
      put(*text);
  }

  ITERATOR iter_;  ///< where the output goes; copied into every encoder call
  bool sep_;       ///< true when the next pair must be preceded by "&"
};

#endif /* SCRT_HTTP_QUERY_STRING_BUILDER_H */
