#include "diag/log.h"

#include <poll.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <iostream>

#include "diag/strings.h"

short g_log_level = LOG_BASIC;
std::string g_error;

void setLogLevel() {
    const char* env = std::getenv("TARVEX_LOG_LEVEL");
    g_log_level = LOG_BASIC;
    if (env == nullptr) return;
    std::string value(env);
    lower(value);
    static const char* const names[] = {"silent", "error", "basic", "detailed", "debug"};
    for (short i = 0; i < 5; ++i) {
        if (value == names[i]) {
            g_log_level = i;
            return;
        }
    }
}

std::string getLogTypeString(LogLevel level) {
    switch (level) {
        case LOG_ERROR: return "[ERROR] ";
        case LOG_DETAILED: return "[DETAILED] ";
        case LOG_DEBUG: return "[DEBUG] ";
        default: return "";
    }
}

void setLastError(std::string error) { g_error = std::move(error); }

std::string getLastError() { return g_error; }

namespace {

bool g_console_line_shown = false;

}  // namespace

void setConsoleLineShown(bool p_shown) { g_console_line_shown = p_shown; }

void clearConsoleLine() {
    if (!g_console_line_shown) return;
    g_console_line_shown = false;
    // Carriage return, then erase to the end of the line.
    std::cout << "\r\x1b[K" << std::flush;
}

namespace {

void (*g_closed_output_handler)() = nullptr;

}  // namespace

void setClosedOutputHandler(void (*p_handler)()) { g_closed_output_handler = p_handler; }

void checkStandardOutput() {
    if (std::cout.good()) return;
    // Later lines are tried again (a full disk may have room by then).
    std::cout.clear();
    // A pipe or socket whose reader is gone reports an error to poll.
    struct pollfd output = {STDOUT_FILENO, POLLOUT, 0};
    if (g_closed_output_handler != nullptr && poll(&output, 1, 0) == 1 &&
        (output.revents & (POLLERR | POLLHUP)) != 0) {
        g_closed_output_handler();
    }
}

namespace {

// Writes tag, text and value as one flushed line when the level allows it.
// A double goes through the stream's default format (%g-style, six
// significant digits).
template <typename T>
void writeLine(const std::string& text, const T& value, LogLevel level) {
    if (static_cast<int>(g_log_level) >= static_cast<int>(level)) {
        clearConsoleLine();
        std::cout << getLogTypeString(level) << text << value << std::endl;
        checkStandardOutput();
    }
}

}  // namespace

void tvLog(std::string text, std::string value, LogLevel level) {
    writeLine(text, value, level);
    if (level == LOG_ERROR) setLastError(text + " " + value);
}

void tvLog(std::string text, int value, LogLevel level) {
    writeLine(text, value, level);
    if (level == LOG_ERROR) setLastError(text + " " + std::to_string(value));
}

void tvLog(std::string text, double value, LogLevel level) {
    writeLine(text, value, level);
    if (level == LOG_ERROR) {
        char buffer[64];  // "%f" text, cut at 63 characters
        std::snprintf(buffer, sizeof buffer, "%f", value);
        setLastError(text + " " + buffer);
    }
}
