// The date and time built-ins. See date_builtins.h.

#include "runtime/evaluator/date_builtins.h"

#include "runtime/values/date_time.h"

namespace qzr {

int32_t TODAY() {
  const LocalDateTime now = LocalNow();
  const int32_t date = DateFromParts(now.month, now.day, now.year);
  // A clock outside 1801..9999 has no standard date.
  return date < 0 ? 0 : date;
}

int32_t CLOCK() {
  return StandardTimeOf(LocalNow());
}

int32_t StandardTimeOf(const LocalDateTime& t) {
  const int32_t time = TimeFromParts(t.hour, t.minute, t.second, t.millisecond / 10);
  // Exactly midnight is the first hundredth of the day, not "no time".
  if (time == 0) return 1;
  return time < 0 ? 0 : time;
}

int32_t DATE(int64_t month, int64_t day, int64_t year) {
  if (year >= 0 && year < 100) year = ExpandTwoDigitYear(static_cast<int>(year));
  if (month < 1) return -1;
  // Months past December carry whole years; done by division rather than by
  // repeated subtraction so that a huge month costs nothing.
  if (month >= 13) {
    year += (month - 1) / 12;
    month = (month - 1) % 12 + 1;
  }
  if (year < kFirstYear || year > kLastYear) return -1;
  const int32_t first = DateFromParts(static_cast<int>(month), 1, static_cast<int>(year));
  if (first < 0) return -1;
  // 64-bit sum: a day count near the int32 limits must not wrap into range.
  const int64_t date = int64_t{first} + day - 1;
  if (date < kFirstDate || date > kLastDate) return -1;
  return static_cast<int32_t>(date);
}

int DAY(int32_t date) {
  int y, m, d;
  DateToParts(date, &y, &m, &d);
  return d;
}

int MONTH(int32_t date) {
  int y, m, d;
  DateToParts(date, &y, &m, &d);
  return m;
}

int YEAR(int32_t date) {
  int y, m, d;
  DateToParts(date, &y, &m, &d);
  return y;
}

std::string AGE(int32_t birth, int32_t base) {
  const std::string kNoAge(255, '*');
  if (base == -1) base = TODAY();
  int by, bm, bd, ny, nm, nd;  // birth and base ("now") parts
  // Without a valid pair of dates there is no age to tell; the parts of an
  // invalid date are all zero and would give a meaningless count.
  if (DateToParts(birth, &by, &bm, &bd) < 0 || DateToParts(base, &ny, &nm, &nd) < 0) {
    return kNoAge;
  }
  if (birth > base) {
    by -= 100;
    birth = DateFromParts(bm, bd, by);
    if (birth < 0 || birth > base) return kNoAge;
  }
  const int32_t days = base - birth;
  if (days < 61) return std::to_string(days) + " DAYS";
  const int year_diff = ny - by;
  int months;
  if (year_diff <= 2) {
    months = 12 * year_diff + (nm - bm) - (nd < bd ? 1 : 0);
  } else {
    months = 12 * year_diff;
  }
  if (months <= 24) return std::to_string(months) + " MOS";
  const int years = year_diff - ((nm < bm || (nm == bm && nd < bd)) ? 1 : 0);
  return std::to_string(years) + " YRS";
}

}  // namespace qzr
