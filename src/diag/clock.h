// Local wall-clock time and its short text forms, for the timing lines.
#ifndef TARVEX_DIAG_CLOCK_H
#define TARVEX_DIAG_CLOCK_H

#include <ctime>
#include <string>

class tdclass {
public:
    struct m_time {
        std::string dayName;
        std::string monthName;
        int month = 0;
        int day = 0;
        int year = 0;
        int hour = 0;
        int hour12 = 0;
        bool pm = false;
        std::string ampm;
        int minute = 0;
        int second = 0;
    };

    tdclass();
    void reset();
    // Fills the record from a broken-down time (what reset does with the
    // current local time).
    void set(const std::tm& p_tm);

    std::string time24(bool p_seconds);
    std::string time12(bool p_seconds);
    std::string date();
    std::string IntToString(int p_value);

    const m_time& time() const { return _time; }

private:
    m_time _time;
};

#endif
