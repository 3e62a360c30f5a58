#ifndef TOOLS_HOST_MODULE_PATH_H
#define TOOLS_HOST_MODULE_PATH_H

#include <string>

/// The folder of this program's own file (from /proc/self/exe); empty when
/// it cannot be told.
std::string program_dir();

/// The module this program loads by default: the one built beside it
/// (../lib/libquorvane.so), else the installed one relative to it
/// (../lib/<triplet>/quorvane/libquorvane.so for an install under /usr), else
/// the installed one's absolute path.
std::string default_module_path();

#endif /* TOOLS_HOST_MODULE_PATH_H */
