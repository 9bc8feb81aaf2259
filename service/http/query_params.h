#pragma once

#include <cstdint>
#include <string>

// The parameters of the JSON requests, read strictly: a value that is not
// exactly what is asked for is refused with a message for the 400 answer,
// rather than read as far as it goes.

// A count from 1 to maximum, in plain decimal digits. False with a message
// in *error otherwise (*value untouched).
bool ParseCountParam(const std::string& text, int32_t maximum, int32_t* value,
                     std::string* error);

// A point in time: Unix seconds in plain decimal digits, or local time as
// "YYYY-MM-DDTHH:MM:SS" (as the JSON's local_time fields give it). Years
// 1970 to 9999. False with a message in *error otherwise.
bool ParseTimeParam(const std::string& text, int64_t* unix_seconds,
                    std::string* error);
