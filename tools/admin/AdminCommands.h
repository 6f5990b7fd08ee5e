#pragma once
// The commands of grazulo-admin. Each command is a function of its own
// file, registered in the table of grazulo-admin.cpp; it gets the arguments
// after its name and gives the exit status (0 done, 1 the job failed, 2 the
// command was used wrongly). Messages for the administrator go to standard
// error, results to standard output.

#include <string>
#include <vector>

namespace admin {

using Args = std::vector<std::string>;

struct Command {
    const char* name;
    const char* usage;  // the arguments after the name, for the usage text
    int (*run)(const Args& args);
};

// The program directory and the data directory the commands work on, read
// as the program reads them (after --home or GRAZULO_HOME).
std::string programDir();
std::string dataDir();

// The commands, each in its own file.
int monthEnd(const Args& args);  // AdminMonthEnd.cpp
int moveData(const Args& args);
int newSite(const Args& args);   // AdminNewSite.cpp
int mirrorCommand(const Args& args);  // AdminMirror.cpp

// "grazulo-admin: <text>" on standard error; gives `status`.
int fail(const std::string& text, int status = 1);

// A directory given on the command line, absolute: a relative one is taken
// from the working directory, as the shell means it.
std::string absoluteArgument(const std::string& dir);

// A message of the windows (lines broken by '\r') as lines of text.
std::string lines(std::string text);

}  // namespace admin
