#pragma once
// Number texts as the threshold boxes hold them: optional blanks, a sign,
// digits with the user's decimal separator, an optional exponent. Nothing
// else is a number (no thousands separators, no "inf" or "nan").

#include <optional>
#include <string>
#include <string_view>

namespace scarlex {

// The decimal separator of the current C locale (the program calls
// setlocale(LC_ALL, "") at start); "." when the locale names none.
std::string UserDecimalSeparator();

// The nearest extended-precision value, or nothing when the text is not a
// number or overflows.
std::optional<long double> TextToExtended(std::string_view text, std::string_view decimalSeparator);
// The same grammar, rounded once to double precision.
std::optional<double> TextToDouble(std::string_view text, std::string_view decimalSeparator);

}  // namespace scarlex
