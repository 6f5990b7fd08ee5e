#pragma once
// Run as root (a nightly job in root's crontab, an administrator's sudo), the
// site tool works as the user who owns the site, so that every file and
// directory it makes belongs to that user, with the modes of the site's own
// directory, and the kiosk and the station can write them afterwards.

#include <string>

namespace admin {

// `path` is the site's program directory, or one about to be made (its
// nearest existing parent says whose it is). Gives 0 when the tool may go on:
// as the site's owner, or as itself when it is not root or the site is
// root's own; either way with the umask that gives what it makes the modes
// of that directory. Gives 1 after saying why on standard error when it cannot
// become the owner.
int workAsSiteOwner(const std::string& path);

// After a failed command: whom the tool worked as, for the administrator who
// ran it as root; empty when it worked as itself.
std::string siteOwnerNote();

}  // namespace admin
