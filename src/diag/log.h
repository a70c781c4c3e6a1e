// Levelled logging to standard output with a last-error text.
#ifndef TARVEX_DIAG_LOG_H
#define TARVEX_DIAG_LOG_H

#include <string>

enum LogLevel {
    LOG_SILENT = 0,
    LOG_ERROR = 1,
    LOG_BASIC = 2,
    LOG_DETAILED = 3,
    LOG_DEBUG = 4
};

extern short g_log_level;
extern std::string g_error;

// Sets g_log_level from TARVEX_LOG_LEVEL (silent, error, basic, detailed,
// debug, any letter case); anything else, or nothing, means LOG_BASIC.
void setLogLevel();
std::string getLogTypeString(LogLevel level);

void tvLog(std::string text, std::string value, LogLevel level);
void tvLog(std::string text, int value, LogLevel level);
void tvLog(std::string text, double value, LogLevel level);

// A line drawn in place on the terminal (the progress line) is on screen:
// the next log line first clears it. Reset by that clearing.
void setConsoleLineShown(bool p_shown);
// Clears the line drawn in place, when one is on screen.
void clearConsoleLine();

// What a run does when standard output turns out to be closed (a pipe
// whose reader is gone) although SIGPIPE did not end it: ignored or held
// off when the write failed with EPIPE. None until set.
void setClosedOutputHandler(void (*p_handler)());
// After a write to standard output: when the stream failed, clears its
// state and calls the closed-output handler if the reader is gone.
void checkStandardOutput();

void setLastError(std::string error);
std::string getLastError();

#endif
