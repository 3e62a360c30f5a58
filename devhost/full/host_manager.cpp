// The development host's key store: Host_Manager (host/host_manager.h) and
// its control by the tools and tests (devhost/harness/key_store.h).
#include "host/host_manager.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <mutex>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <ace/Log_Msg.h>

#include "devhost/harness/key_store.h"

namespace
{
/// The appliance's key and whether it has been looked for.
struct Key_Store
{
  std::mutex lock;
  bool loaded = false;
  secure_ustring key;
};

Key_Store& key_store()
{
  // A static object rather than a leaked one, so that the key's storage is
  // released, and so wiped, at exit.
  static Key_Store store;
  return store;
}

/// What a file that is not a regular file is, for the refusal message.
const char* file_kind(mode_t mode)
{
  if (S_ISDIR(mode))
    return "a directory";
  if (S_ISFIFO(mode))
    return "a FIFO";
  if (S_ISCHR(mode))
    return "a character device";
  if (S_ISBLK(mode))
    return "a block device";
  if (S_ISSOCK(mode))
    return "a socket";
  return "of an unknown kind";
}

// Reads the key file @a path into @a out, which changes only on success.
// The caller holds the store's lock.
bool load_locked(const char* path, secure_ustring& out)
{
  // Plain POSIX reads straight into the secure string: a stdio or iostream
  // buffer would keep a copy of the key in memory that nobody wipes.
  //
  // Opened without blocking: this runs under the store's lock, and opening
  // a FIFO for reading waits for a writer (a device may wait for anything),
  // which would stall every caller of the store.  Only a regular file is
  // read; O_NONBLOCK does not change how one reads.  O_NOCTTY keeps a
  // terminal at that path from becoming the process's controlling one.
  int fd = ::open(path, O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
  if (fd < 0)
  {
    ACE_ERROR((LM_ERROR, ACE_TEXT("Host_Manager: cannot open the private key file '%C': %m\n"), path));
    return false;
  }
  struct stat st;
  if (::fstat(fd, &st) != 0)
  {
    int saved = errno;
    ::close(fd);
    errno = saved;
    ACE_ERROR((LM_ERROR, ACE_TEXT("Host_Manager: cannot examine the private key file '%C': %m\n"), path));
    return false;
  }
  if (!S_ISREG(st.st_mode))
  {
    ::close(fd);
    ACE_ERROR(
        (LM_ERROR,
         ACE_TEXT("Host_Manager: the private key file '%C' is not a regular file (it is %C); refused\n"),
         path, file_kind(st.st_mode)));
    return false;
  }
  if (st.st_size <= 0 || static_cast<unsigned long long>(st.st_size) > devhost::MAX_KEY_FILE)
  {
    ::close(fd);
    ACE_ERROR((LM_ERROR,
               ACE_TEXT("Host_Manager: the private key file '%C' is empty or larger than %d bytes\n"), path,
               static_cast<int>(devhost::MAX_KEY_FILE)));
    return false;
  }
  if ((st.st_mode & (S_IRWXG | S_IRWXO)) != 0)
    ACE_DEBUG(
        (LM_WARNING,
         ACE_TEXT(
             "Host_Manager: the private key file '%C' is accessible to others (mode %o); use mode 0600\n"),
         path, static_cast<unsigned>(st.st_mode & 07777)));

  secure_ustring key;
  key.resize(static_cast<std::size_t>(st.st_size));
  std::size_t got = 0;
  while (got < key.size())
  {
    ssize_t n = ::read(fd, &key[got], key.size() - got);
    if (n < 0 && errno == EINTR)
      continue;
    if (n <= 0)
    {
      int saved = errno;
      ::close(fd);
      errno = n == 0 ? EIO : saved;
      ACE_ERROR((LM_ERROR, ACE_TEXT("Host_Manager: cannot read the private key file '%C': %m\n"), path));
      return false;
    }
    got += static_cast<std::size_t>(n);
  }
  ::close(fd);
  out.swap(key);  // the old (empty) block goes with `key`, wiped
  return true;
}
}  // namespace

// The key store lives here rather than in the class: the host's class
// declares only its interface.
Host_Manager* Host_Manager::instance()
{
  static Host_Manager manager;
  return &manager;
}

Host_Manager::Host_Manager() {}

const secure_ustring& Host_Manager::rsa_prvkey()
{
  Key_Store& s = key_store();
  std::lock_guard<std::mutex> guard(s.lock);
  if (!s.loaded)
  {
    const char* path = std::getenv("QUORVANE_HOST_KEY");
    if (path != nullptr && *path != '\0')
      load_locked(path, s.key);
    s.loaded = true;
  }
  return s.key;
}

bool devhost::load_key_file(const char* path)
{
  Key_Store& s = key_store();
  std::lock_guard<std::mutex> guard(s.lock);
  s.key.clear();
  s.key.shrink_to_fit();  // releases (and so wipes) the old block
  if (path == nullptr)
  {
    s.loaded = false;
    return true;
  }
  s.loaded = true;
  return load_locked(path, s.key);
}
