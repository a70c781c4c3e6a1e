#include <signal.h>
#include <termios.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <iostream>

#include "diag/log.h"
#include "diag/strings.h"
#include "settings/settings.h"

namespace {

// The pieces of user/password@service as found in the text: the service is
// everything after the last "@" (so that a password may hold "@"; leading
// "@"s are skipped); the user name runs up to the first "/" of the part
// before it (leading "/"s skipped), the password is all the rest of that
// part, further "/"s and "@"s included.
struct ConnectParts {
    bool hasUser = false;
    bool hasPassword = false;
    bool hasService = false;
    std::string user;
    std::string password;
    std::string service;
    // Where the user/password part lies in the text.
    std::string::size_type credStart = 0;
    std::string::size_type credEnd = 0;
    // A user name and nothing else before the service ("user@service"):
    // its password is to come from elsewhere. Text with a "/" is not taken
    // so ("/secret@service" names no user: what follows the "/" may be a
    // password, and is never shown as a user name).
    bool userOnly = false;
};

ConnectParts splitConnect(const std::string& p_connect) {
    ConnectParts parts;
    std::string::size_type start = p_connect.find_first_not_of('@');
    if (start == std::string::npos) return parts;  // empty, or only "@"s

    std::string::size_type at = p_connect.rfind('@');
    if (at < start) at = std::string::npos;
    parts.credStart = start;
    parts.credEnd = (at == std::string::npos) ? p_connect.size() : at;
    if (at != std::string::npos && at + 1 < p_connect.size()) {
        parts.service = p_connect.substr(at + 1);
        parts.hasService = true;
    }

    std::string cred = p_connect.substr(start, parts.credEnd - start);
    std::string::size_type first = cred.find_first_not_of('/');
    if (first == std::string::npos) return parts;  // nothing but "/"s
    std::string::size_type slash = cred.find('/', first);
    parts.user = cred.substr(first, slash == std::string::npos ? std::string::npos : slash - first);
    parts.hasUser = true;
    // An option where the connect string belongs ("tarvex -t roads") is
    // refused, not taken for a user name to ask a password for.
    parts.userOnly = cred.find('/') == std::string::npos && cred[0] != '-';
    if (slash != std::string::npos) {
        parts.password = cred.substr(slash + 1);
        parts.hasPassword = true;
    }
    return parts;
}

// Reads one answer; end of input (or a read error) gives an empty answer.
std::string ask(const std::string& p_prompt) {
    std::cout << p_prompt << std::flush;
    std::string line;
    if (!std::getline(std::cin, line)) line.clear();
    return line;
}

// The terminal settings while a prompt has the echo turned off.
struct termios g_savedTerminal;
volatile sig_atomic_t g_echoOff = 0;

// Reads one answer without showing it when standard input is a terminal.
std::string askHidden(const std::string& p_prompt) {
    struct termios quiet;
    if (!isatty(STDIN_FILENO) || tcgetattr(STDIN_FILENO, &g_savedTerminal) != 0) return ask(p_prompt);
    quiet = g_savedTerminal;
    quiet.c_lflag &= static_cast<tcflag_t>(~ECHO);
    quiet.c_lflag |= ECHONL;
    g_echoOff = 1;
    if (tcsetattr(STDIN_FILENO, TCSAFLUSH, &quiet) != 0) {
        g_echoOff = 0;
        return ask(p_prompt);
    }
    std::string line = ask(p_prompt);
    tvRestoreTerminalNow();
    return line;
}

// The password of "user@service", which names none: TARVEX_PASSWORD when
// it was set, else typed on the terminal with the echo off. Without a
// terminal to ask on, the run stops here rather than wait for an answer
// nobody can give.
bool supplyPassword(const std::string& p_user, const PasswordSource& p_environment,
                    std::string& p_password) {
    if (p_environment.found) {
        p_password = p_environment.password;
    } else if (isatty(STDIN_FILENO) != 1) {
        tvLog("No password given and no terminal to ask for it (give it in TARVEX_PASSWORD) : ", p_user,
              LOG_ERROR);
        return false;
    } else {
        p_password = askHidden("Password for " + p_user + " : ");
    }
    if (p_password.empty()) {
        tvLog("Connect string must be of the form user/password@service : ", "the password is empty",
              LOG_ERROR);
        return false;
    }
    return true;
}

}  // namespace

PasswordSource takeEnvironmentPassword() {
    PasswordSource source;
    char* value = std::getenv("TARVEX_PASSWORD");
    if (value == nullptr) return source;
    source.found = true;
    source.password = value;
    // unsetenv only drops the entry: the bytes would stay readable in the
    // process's environment block (/proc/PID/environ).
    std::memset(value, 0, std::strlen(value));
    unsetenv("TARVEX_PASSWORD");
    return source;
}

void hideArgumentPassword(char* p_connect) {
    if (p_connect == nullptr) return;
    ConnectParts parts = splitConnect(p_connect);
    if (!parts.hasPassword) return;
    std::memset(p_connect + (parts.credEnd - parts.password.size()), 'x', parts.password.size());
}

bool completeCredentials(const std::string& p_connect, const PasswordSource& p_environment,
                         std::map<std::string, std::string>& p_args) {
    ConnectParts parts = splitConnect(p_connect);
    std::string reason;
    if (parts.userOnly) {
        std::string password;
        if (!supplyPassword(parts.user, p_environment, password)) return false;
        p_args["password"] = password;
        return true;
    }
    if (isExternalLogin(p_connect)) {
#if TARVEX_EMBEDDED_CLIENT
        tvLog("The external password store (/@service) needs a build against the Oracle client : ",
              "the embedded client has none", LOG_ERROR);
        return false;
#else
        // Empty user name and password: the client takes the credentials
        // of the service from the wallet, as "sqlplus /@service" does.
        p_args["username"] = "";
        p_args["password"] = "";
        return true;
#endif
    }
    if (!checkConnectString(p_connect, reason)) {
        tvLog("Connect string must be of the form user/password@service : ", reason, LOG_ERROR);
        return false;
    }
    return true;
}

bool connectLeavesPassword(const std::string& p_connect) {
    ConnectParts parts = splitConnect(p_connect);
    return parts.userOnly || isExternalLogin(p_connect);
}

bool isExternalLogin(const std::string& p_connect) {
    const std::string::size_type at = p_connect.rfind('@');
    return p_connect.substr(0, at) == "/";
}

void tvRestoreTerminalNow() {
    if (g_echoOff != 0) {
        tcsetattr(STDIN_FILENO, TCSANOW, &g_savedTerminal);
        g_echoOff = 0;
    }
}

void parseConnectString(std::string p_connect, std::string& p_user, std::string& p_password,
                        std::string& p_service) {
    ConnectParts parts = splitConnect(p_connect);
    if (parts.hasService) p_service = parts.service;
    if (parts.hasUser) p_user = parts.user;
    if (parts.hasPassword) p_password = parts.password;
}

bool checkConnectString(const std::string& p_connect, std::string& p_reason) {
    ConnectParts parts = splitConnect(p_connect);
    if (p_connect.empty()) {
        p_reason = "the connect string is empty";
    } else if (!parts.hasUser) {
        p_reason = "no user name before the '@'";
    } else if (!parts.hasPassword) {
        p_reason = "no '/' and password after the user name";
    } else if (parts.password.empty()) {
        p_reason = "the password is empty";
    } else {
        p_reason.clear();
        return true;
    }
    return false;
}

std::string maskConnectString(const std::string& p_connect) {
    ConnectParts parts = splitConnect(p_connect);
    std::string::size_type maskFrom;
    if (parts.hasPassword && !parts.password.empty()) {
        // The password is the tail of the user/password part.
        maskFrom = parts.credEnd - parts.password.size();
    } else {
        // Not split: hide whatever follows the first "/" before the "@".
        std::string::size_type slash = p_connect.find('/', parts.credStart);
        if (slash == std::string::npos || slash >= parts.credEnd) return p_connect;
        maskFrom = slash + 1;
    }
    if (maskFrom >= parts.credEnd) return p_connect;
    return p_connect.substr(0, maskFrom) + "<password>" + p_connect.substr(parts.credEnd);
}

bool interactiveMode(std::map<std::string, std::string>& p_args, const PasswordSource& p_environment) {
    std::cout << "TARVEX.  " << TARVEX_VERSION << std::endl;
    std::cout << "Interactive mode." << std::endl;

    // The connect string holds the password: not shown as it is typed.
    std::string connect = askHidden("Oracle connect string (e.g gisrw/amber@pdb1) : ");
    std::string table = ask("Table name : ");
    std::string geom_column = ask("Geometry column [GEOM] : ");
    if (geom_column.empty()) geom_column = "GEOM";
    std::string proj = ask("Create .prj file ? [N] : ");
    if (proj.empty()) proj = "N";
    std::string shapefile = ask("Output file name, without extension [" + table + "(.shp)] : ");
    if (shapefile.empty()) shapefile = table;

    upper(table);
    upper(geom_column);

    std::string user;
    std::string password;
    std::string service;
    parseConnectString(connect, user, password, service);

    p_args["connect_string"] = service;
    p_args["username"] = user;
    p_args["password"] = password;
    p_args["table"] = table;
    p_args["geom_column"] = geom_column;
    p_args["output_proj"] = (proj == "Y") ? "yes" : "no";
    p_args["shapefile"] = shapefile;
    p_args["interactive"] = "yes";

    return completeCredentials(connect, p_environment, p_args);
}
