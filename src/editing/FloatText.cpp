#include "editing/FloatText.h"

#include <cerrno>
#include <clocale>
#include <cmath>
#include <cstdlib>
#include <locale.h>

namespace scarlex {

namespace {

// Rewrites the text into the C locale's spelling, or returns false.
bool Normalise(std::string_view text, std::string_view sep, std::string& out) {
    std::size_t p = 0;
    const std::size_t n = text.size();
    while (p < n && text[p] == ' ') ++p;
    std::size_t end = n;
    while (end > p && text[end - 1] == ' ') --end;
    out.clear();
    if (p < end && (text[p] == '+' || text[p] == '-')) out += text[p++];
    int digits = 0;
    while (p < end && text[p] >= '0' && text[p] <= '9') { out += text[p++]; ++digits; }
    if (!sep.empty() && text.substr(p, sep.size()) == sep && p + sep.size() <= end) {
        p += sep.size();
        out += '.';
        while (p < end && text[p] >= '0' && text[p] <= '9') { out += text[p++]; ++digits; }
    }
    if (digits == 0) return false;
    if (p < end && (text[p] == 'e' || text[p] == 'E')) {
        out += 'e';
        ++p;
        if (p < end && (text[p] == '+' || text[p] == '-')) out += text[p++];
        int expDigits = 0;
        while (p < end && text[p] >= '0' && text[p] <= '9') { out += text[p++]; ++expDigits; }
        if (expDigits == 0) return false;
    }
    return p == end;
}

locale_t CLocale() {
    static locale_t c = newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(nullptr));
    return c;
}

}  // namespace

std::string UserDecimalSeparator() {
    const lconv* conv = std::localeconv();
    if (conv == nullptr || conv->decimal_point == nullptr || conv->decimal_point[0] == '\0') return ".";
    return conv->decimal_point;
}

std::optional<long double> TextToExtended(std::string_view text, std::string_view decimalSeparator) {
    std::string normal;
    if (!Normalise(text, decimalSeparator, normal)) return std::nullopt;
    errno = 0;
    long double v = strtold_l(normal.c_str(), nullptr, CLocale());
    if (!std::isfinite(v)) return std::nullopt;
    return v;
}

std::optional<double> TextToDouble(std::string_view text, std::string_view decimalSeparator) {
    std::string normal;
    if (!Normalise(text, decimalSeparator, normal)) return std::nullopt;
    errno = 0;
    double v = strtod_l(normal.c_str(), nullptr, CLocale());
    if (!std::isfinite(v)) return std::nullopt;
    return v;
}

}  // namespace scarlex
