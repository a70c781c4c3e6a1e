// The process-wide settings map, the command-line parser and the usage notes.
#ifndef TARVEX_SETTINGS_SETTINGS_H
#define TARVEX_SETTINGS_SETTINGS_H

#include <map>
#include <string>

// Option key -> text value; a key never set reads as "" (option not given),
// switches hold "yes".
extern std::map<std::string, std::string> g_args;

// Written in place of NULL Z and M ordinates; replaced by "-m".
extern double g_shp_null_vertex;

extern const char* const TARVEX_VERSION;

bool parseArgs(int argc, char** argv, std::map<std::string, std::string>& p_args);
// The longest valid command line: the program, the connect string and
// every option once, with its value.
int maxArgumentCount();
bool extractArgValue(int argc, char** argv, int* p_index, std::string p_case,
                     std::string p_key, std::string& p_value);
std::string getArg(std::map<std::string, std::string>& p_args, std::string p_key,
                    std::string p_default, bool p_upper);
// Prints the usage notes; nothing at LOG_SILENT unless p_always (an explicit
// request for help).
void Usage(std::string p_program, bool p_always = false);

// A command line of exactly one argument that asks for information instead
// of an export: -h/--help or -V/--version, in any letter case.
enum InfoRequest { INFO_NONE, INFO_HELP, INFO_VERSION };
InfoRequest infoRequest(int argc, char** argv);

// The most exports "-j" / "--jobs" runs at once.
const int TARVEX_MAX_JOBS = 64;
// The count of "-j" / "--jobs": a whole number from 1 to TARVEX_MAX_JOBS in
// plain decimal digits, else 0.
int parseJobCount(const std::string& p_value);

// "--max-size": the largest size of any one file of a set, by default and
// at most 4 GiB (the format's offsets), at least 64 KiB.
const unsigned long long TARVEX_MAX_FILE_SIZE = 4ULL << 30;
const unsigned long long TARVEX_MIN_FILE_SIZE = 64ULL << 10;
// The bytes of a "--max-size" value: a whole number in plain decimal digits
// with an optional K, M or G (binary units), from TARVEX_MIN_FILE_SIZE to
// TARVEX_MAX_FILE_SIZE; else 0.
unsigned long long parseMaxSize(const std::string& p_value);

// Splits user/password@service. Outputs the split does not produce keep
// their content.
void parseConnectString(std::string p_connect, std::string& p_user,
                        std::string& p_password, std::string& p_service);
// Whether p_connect splits into a user name and a non-empty password (the
// service may be empty); otherwise p_reason says what is missing. Strings of
// any length are accepted.
bool checkConnectString(const std::string& p_connect, std::string& p_reason);
// p_connect with its password replaced by "<password>", for traces.
std::string maskConnectString(const std::string& p_connect);
// A password given in the environment variable TARVEX_PASSWORD.
struct PasswordSource {
    bool found = false;
    std::string password;
};
// Reads TARVEX_PASSWORD and removes it from the environment (its bytes
// overwritten), so that nothing the run starts inherits it.
PasswordSource takeEnvironmentPassword();
// Overwrites the password of a connect string given as a program argument
// with "x"s, so that the process list (ps, /proc/PID/cmdline) no longer
// shows it; the text is changed in place.
void hideArgumentPassword(char* p_connect);
// Whether p_connect is "/@service" (or "/"): a login with the credentials of
// Oracle's external password store.
bool isExternalLogin(const std::string& p_connect);
// Whether p_connect leaves its password to elsewhere: "user@service" (no
// "/" at all) or "/@service".
bool connectLeavesPassword(const std::string& p_connect);
// Checks the credentials of p_connect, already split into p_args, and fills
// in what the connect string leaves to elsewhere: for "user@service" the
// password of p_environment, else one typed at a terminal; for "/@service"
// (Oracle client build only) an empty user name and password. False, with
// one LOG_ERROR line, when the run must stop before connecting.
bool completeCredentials(const std::string& p_connect, const PasswordSource& p_environment,
                         std::map<std::string, std::string>& p_args);
// Prompts for the settings on standard input; false when the run must stop
// before connecting (the connect string could not be split, or its password
// is missing and cannot be had).
bool interactiveMode(std::map<std::string, std::string>& p_args,
                     const PasswordSource& p_environment = PasswordSource());
// Gives the terminal its echo back when a prompt turned it off; safe to
// call from a signal handler.
void tvRestoreTerminalNow();

#endif
