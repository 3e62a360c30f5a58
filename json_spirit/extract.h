#ifndef JSON_SPIRIT_EXTRACT_H
#define JSON_SPIRIT_EXTRACT_H

#include <string>

#include "host/json_spirit_utils.h"
#include "json_spirit/json_spirit_helper.h"
#include "scrt/secure_string.h"

namespace json_spirit
{
/**
 * Call operators that read one member of the object `D::obj_` into a
 * destination.  The per-call flags alone choose the getter: with FG_THROW
 * the throwing getter (a missing or null key raises), otherwise the
 * non-throwing one (a missing or null key leaves the destination as it was).
 * Either way the member's kind is checked here first (`member_of_kind`), so
 * that a member of the wrong kind raises a `std::exception` with the same
 * text on any host.  Each returns the extractor, so calls chain.
 */
template <typename D, bool MUTABLE>
class Object_Value_Extractor
{
public:
  D& operator()(const std::string& key, std::string& val, Flags flags)
  {
    const bool throws = (flags & FG_THROW) != 0;
    if (member_of_kind(self().obj_, key, throws, str_type) == nullptr)
      return self();
    if (throws)
      val = object_get_str_or_throw(self().obj_, key);
    else
      object_get(self().obj_, key, val);
    return self();
  }

  /**
   * Takes a secure string member or a plain string member.  The old text
   * of @a val is wiped before it is overwritten, and no copy of the new
   * text is left behind (a shorter text would leave the old one's tail).
   */
  D& operator()(const std::string& key, secure_string& val, Flags flags)
  {
    const bool throws = (flags & FG_THROW) != 0;
    const Value* member = member_of_kind(self().obj_, key, throws, secure_str_type, str_type);
    if (member == nullptr)
      return self();
    secure_wipe(val);
    if (member->type() == str_type)
    {
      // The host's secure-string getters promise only secure members; a
      // plain one is copied from where it stands, never through a plain
      // string of our own.
      const std::string* text = object_get_str(self().obj_, key);
      val.assign(text->data(), text->size());
    }
    else if (throws)
    {
      secure_string got = object_get_secure_str_or_throw(self().obj_, key);
      Secure_Wipe_Guard wipe_got(got);
      val = got;
    }
    else
      object_get(self().obj_, key, val);
    return self();
  }

  D& operator()(const std::string& key, unsigned short& val, Flags flags)
  {
    object_get_may_throw<unsigned short>(self().obj_, key, val, (flags & FG_THROW) != 0);
    return self();
  }

  D& operator()(const std::string& key, bool& val, Flags flags)
  {
    const bool throws = (flags & FG_THROW) != 0;
    if (member_of_kind(self().obj_, key, throws, bool_type) == nullptr)
      return self();
    if (throws)
      val = object_get_bool_or_throw(self().obj_, key);
    else
      object_get(self().obj_, key, val);
    return self();
  }

private:
  D& self() { return static_cast<D&>(*this); }
};

/**
 * Call operator that points @a val at the object held by member @a key:
 * null when the key is absent or null (or, with FG_THROW, an exception); a
 * member of another kind raises.
 */
template <typename D, bool CONST>
class Object_Pointer_Extractor
{
public:
  D& operator()(const std::string& key, const Object*& val, Flags flags)
  {
    D& self = static_cast<D&>(*this);
    const Value* member = member_of_kind(self.obj_, key, (flags & FG_THROW) != 0, obj_type);
    val = member != nullptr ? &member->get_obj() : nullptr;
    return self;
  }
};

/**
 * Reads members of a constant JSON object.  Built by `extract_or_throw`.
 * Lives no longer than the object it reads.
 */
class Const_Object_Extractor : public Object_Value_Extractor<Const_Object_Extractor, false>,
                               public Object_Pointer_Extractor<Const_Object_Extractor, true>,
                               public Callbackable_T<Const_Object_Extractor>,
                               public Flaggable_T<Const_Object_Extractor>
{
public:
  Const_Object_Extractor(const Object& obj, Flags flags) : obj_(obj), flags_(flags) {}

  using Object_Value_Extractor<Const_Object_Extractor, false>::operator();
  using Object_Pointer_Extractor<Const_Object_Extractor, true>::operator();
  using Flaggable_T<Const_Object_Extractor>::operator();

  const Object& obj_;
  Flags flags_;
};

/// An extractor over @a obj whose own flags are FG_THROW.
inline Const_Object_Extractor extract_or_throw(const Object& obj)
{
  return Const_Object_Extractor(obj, FG_THROW);
}

/**
 * Extracts values by JSON Pointer paths from a constant document.
 * Built by `pextract_or_throw`; lives no longer than the document.
 */
class JSON_Pointer_Extractor : public Callbackable_T<JSON_Pointer_Extractor>,
                               public Flaggable_T<JSON_Pointer_Extractor>,
                               public Container_Loader
{
public:
  JSON_Pointer_Extractor(const Value& doc, Flags flags) : doc_(doc), curr_(nullptr), flags_(flags) {}

  using Flaggable_T<JSON_Pointer_Extractor>::operator();

  /**
   * Stores the string at path @a name (relative to the current root) into
   * @a val.  A path that does not resolve leaves @a val untouched and, with
   * FG_THROW in @a flags, raises `std::domain_error`.
   */
  JSON_Pointer_Extractor& operator()(const std::string& name, std::string& val, Flags flags)
  {
    if (is_broken(name, flags))
      return *this;
    pointer_.path(name.c_str(), false);
    bool found = pointer_.get(curr_ != nullptr ? *curr_ : doc_, val);  // GCOVR_EXCL_BR_LINE: no member sets curr_
    if (!found && (flags & FG_THROW))
      throw std::domain_error(missing(name));
    return *this;
  }

  /// True when the extractor is broken and the call did not ask to throw;
  /// throws `std::domain_error` when it is broken and the call did.
  bool is_broken(const std::string& name, Flags flags) const
  {
    if (!(flags_ & FG_BRK_UNT_CHROOT))
      return false;
    if (!(flags & FG_THROW))
      return true;
    throw std::domain_error(missing(name));
  }

  /// The current root's path followed directly by @a next_path.
  std::string abs_path(const std::string& next_path) const { return curr_path_ + next_path; }

private:
  friend class Flaggable_T<JSON_Pointer_Extractor>;

  std::string missing(const std::string& name) const
  {
    return "JSON Pointer path '" + abs_path(name) + "' not exist in JSON!";
  }

  JSON_Pointer pointer_;
  const Value& doc_;
  std::string curr_path_;
  const Value* curr_;
  Flags flags_;
};

/// An extractor over @a doc whose own flags are FG_THROW.
inline JSON_Pointer_Extractor pextract_or_throw(const Value& doc)
{
  return JSON_Pointer_Extractor(doc, FG_THROW);
}

}  // namespace json_spirit

#endif /* JSON_SPIRIT_EXTRACT_H */
