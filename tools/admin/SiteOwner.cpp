// Becoming the site's owner: the groups, the group and the user, for good
// (a command that runs as the owner cannot turn back into root), then the
// umask that gives new files and directories the site directory's modes.

#include "SiteOwner.h"

#include "AdminCommands.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace admin {

namespace {

std::string g_note;

// The nearest of `path` and its parents that exists; `path` becomes it.
bool nearestExisting(std::string& path, struct stat& st)
{
    if (path.empty())
        path = ".";
    for (;;) {
        if (::stat(path.c_str(), &st) == 0)
            return true;
        if (errno != ENOENT && errno != ENOTDIR)
            return false;
        while (path.size() > 1 && path.back() == '/')
            path.pop_back();
        const std::size_t slash = path.rfind('/');
        path = slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
    }
}

}  // namespace

int workAsSiteOwner(const std::string& path)
{
    struct stat st {};
    std::string site = path;
    if (!nearestExisting(site, st))
        return 0;
    // New directories get the site directory's modes, new files the same
    // without the execute bits, whoever works on it: a group-shared site's
    // new files stay the group's to write also when root owns the site or a
    // member of its group runs the tool. The owner may always use what it
    // makes.
    ::umask(~st.st_mode & 0077);
    if (::geteuid() != 0 || st.st_uid == 0)
        return 0;
    const uid_t uid = st.st_uid;
    gid_t gid = st.st_gid;
    std::string name, home;
    struct passwd pw {};
    struct passwd* found = nullptr;
    std::vector<char> buf(16384);
    if (::getpwuid_r(uid, &pw, buf.data(), buf.size(), &found) == 0 && found) {
        name = pw.pw_name;
        home = pw.pw_dir;
        gid = pw.pw_gid;
    }
    const std::string who = name.empty() ? "the user " + std::to_string(uid) : name;
    const int groups = name.empty() ? ::setgroups(0, nullptr) : ::initgroups(name.c_str(), gid);
    if (groups != 0 || ::setresgid(gid, gid, gid) != 0 || ::setresuid(uid, uid, uid) != 0)
        return fail(site + " belongs to " + who + "; run as root, this tool works as the site's owner, but it "
                    "cannot become " + who + " here (" + std::strerror(errno) + "). Run it as " + who +
                    (name.empty() ? std::string() : " (sudo -u " + name + " grazulo-admin ...)") + ".");
    if (!home.empty()) {
        ::setenv("HOME", home.c_str(), 1);
        ::setenv("USER", name.c_str(), 1);
        ::setenv("LOGNAME", name.c_str(), 1);
    }
    ::unsetenv("XDG_RUNTIME_DIR");  // root's
    g_note = "run as root, it worked as " + who + ", the owner of " + site;
    return 0;
}

std::string siteOwnerNote() { return g_note; }

}  // namespace admin
