// A calendar date (day, month, year) as driver dates are written: "dd/mm/yyyy".
#pragma once
#include <ctime>
#include <string>
#include <vector>

namespace ts { namespace sys {

class Date {
public:
    // All fields zero.
    Date();
    // Day, month and year separated by ".", "/" or "-", in that order. Text that is not
    // three decimal numbers gives the zero date and an ERROR line "Date parse error: ";
    // a month outside 1-12 becomes January and a day outside the month's range (February
    // has 29 days) becomes 1, each with an ERROR line naming the number read.
    explicit Date(const std::string& text);

    int day() const { return m_tm.tm_mday; }
    // 0 for January.
    int month() const { return m_tm.tm_mon; }
    // Years since 1900.
    int year() const { return m_tm.tm_year; }
    const std::tm& get() const { return m_tm; }

private:
    std::tm m_tm;
};

// The fields of a date text as Date takes them, and the text of each ERROR line that
// Date writes for it. Plain code: the host's fuzz targets build it too.
struct DateFields {
    std::tm tm;
    std::vector<std::string> errors;
};
DateFields parseDate(const std::string& text);

}} // namespace ts::sys
