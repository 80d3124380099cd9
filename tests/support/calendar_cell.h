// Where the calendar page shows a day, worked out independently of the
// program: the grid of 42 cells ("date_cell_00".."date_cell_41") starts on
// the Sunday before the 1st (a whole week before when the 1st is a Sunday).
#pragma once

#include <cstdio>
#include <ctime>
#include <string>

namespace vorta_test {

inline int CalendarCell(int year, int month, int day) {
    std::tm first{};
    first.tm_year = year - 1900;
    first.tm_mon = month - 1;
    first.tm_mday = 1;
    first.tm_hour = 12;
    const std::time_t t = timegm(&first);
    std::tm d{};
    gmtime_r(&t, &d);
    return (d.tm_wday == 0 ? 7 : d.tm_wday) + day - 1;
}

inline std::string CalendarCellId(int cell) {
    char id[32];
    std::snprintf(id, sizeof id, "date_cell_%.2d", cell);
    return id;
}

}  // namespace vorta_test
