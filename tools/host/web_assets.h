#ifndef TOOLS_HOST_WEB_ASSETS_H
#define TOOLS_HOST_WEB_ASSETS_H

#include <cstddef>
#include <string>

/// Largest page file `quorvane-host serve` sends, bytes.
constexpr std::size_t WEB_ASSET_MAX = 16 * 1024 * 1024;

/**
 * The login page's files that `quorvane-host serve` offers: the regular
 * files directly in one folder whose names are made of letters, digits,
 * '.', '_' and '-', not starting with '.', and end in a known extension.
 */
class Web_Assets
{
public:
  explicit Web_Assets(std::string dir) : dir_(std::move(dir)) {}

  const std::string& dir() const { return dir_; }

  /// True when @a name may be served: the name rule above, and a known
  /// extension.
  static bool servable(const std::string& name);
  /// The Content-Type of @a name by its extension, null for an unknown one.
  static const char* content_type(const std::string& name);

  /// Reads the file @a name into @a body; false when it is not servable,
  /// not a regular file, larger than WEB_ASSET_MAX or cannot be read.
  bool read(const std::string& name, std::string& body) const;

private:
  std::string dir_;
};

/// The page's folder by default: ../share/quorvane-devhost/web beside this
/// program's folder, which is build/share/... in a build tree and
/// /usr/share/... for /usr/bin.
std::string default_assets_dir();

#endif /* TOOLS_HOST_WEB_ASSETS_H */
