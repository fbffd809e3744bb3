// Parsing of the date-time texts that table rows carry.
#pragma once

#include <string_view>

#include "zuqonl.h"

namespace zuqonl {

// Reads "YYYY-MM-DD", "YYYY-MM-DD HH:MM:SS" or "YYYY-MM-DDTHH:MM:SS", the time
// optionally followed by ".mmm" (exactly three digits), into *value, all eight
// fields (day of week from Sunday = 0, proleptic Gregorian calendar; time and
// milliseconds 0 when absent). Any other text, or a date or time that does
// not exist (year 0, month 13, 30 February, hour 24, second 60, ...), leaves
// *value untouched and returns false. Pure: safe from any thread.
bool parseDateTime(std::string_view text, DateTimeValue* value);

// Day of week (Sunday = 0) of a valid proleptic Gregorian date.
int dayOfWeek(int year, int month, int day);

}  // namespace zuqonl
