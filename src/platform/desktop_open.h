#pragma once
// Handing a file to the desktop's program for it (xdg-open). The program
// often runs as root through sudo or pkexec: a desktop application is then
// never started as root, but as the user who started the program, on a copy
// that user can read.
#include <sys/types.h>

#include <optional>
#include <string>

namespace qm {

// The user behind a root process: SUDO_UID / SUDO_GID, else PKEXEC_UID
// (group from the password database). Nothing when the process is not root
// or no such user is known (or it is root itself).
struct DesktopUser {
  uid_t uid = 0;
  gid_t gid = 0;
  std::string name, home;
};
std::optional<DesktopUser> InvokingDesktopUser();

enum class DesktopOpen {
  kOpened,     // the opener accepted the file
  kFailed,     // no application took it (or the opener could not run)
  kNotAsRoot,  // running as root with no invoking user: nothing was started
};

struct DesktopOpenResult {
  DesktopOpen outcome = DesktopOpen::kFailed;
  std::string path;  // the path handed over: the file, or the user's copy of it
};

// Opens path with the desktop's program for it and reports whether that
// worked: xdg-open's exit status, waited for a few seconds (an opener still
// running after that is taken as having opened the file).
DesktopOpenResult OpenOnDesktop(const std::string& path);

}  // namespace qm
