#include "updater/check/numeric_reading.h"

#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <string>

namespace lumoradex {
namespace {

// Spaces, tabs and line feeds do not count anywhere in the text, not even inside a number.
std::string WithoutBlanks(std::string_view text) {
    std::string kept;
    for (char c : text) {
        if (c != ' ' && c != '\t' && c != '\n')
            kept += c;
    }
    return kept;
}

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

int DigitValue(char c) {
    if (IsDigit(c))
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return 99;
}

// "&H1F" and "&O17": a whole number in base 16 or 8, read up to the first character of another
// kind. The value must fit 32 bits, the widest whole number the reading knows.
std::optional<double> ReadPrefixedWholeNumber(std::string_view digits, int base) {
    std::uint64_t value = 0;
    for (char c : digits) {
        int digit = DigitValue(c);
        if (digit >= base)
            break;
        value = value * static_cast<std::uint64_t>(base) + static_cast<std::uint64_t>(digit);
        if (value > UINT32_MAX)
            return std::nullopt;
    }
    return static_cast<double>(value);
}

// The longest leading decimal number: sign, digits with at most one ".", then an exponent whose
// letter may be E or D (written as E for strtod, which the program never runs in another locale).
std::string LeadingDecimalNumber(std::string_view text) {
    std::size_t i = 0;
    std::string number;
    if (i < text.size() && (text[i] == '+' || text[i] == '-'))
        number += text[i++];
    bool anyDigit = false;
    bool pointSeen = false;
    for (; i < text.size(); ++i) {
        if (IsDigit(text[i])) {
            anyDigit = true;
        } else if (text[i] == '.' && !pointSeen) {
            pointSeen = true;
        } else {
            break;
        }
        number += text[i];
    }
    if (!anyDigit)
        return {};
    if (i < text.size() && (text[i] == 'E' || text[i] == 'e' || text[i] == 'D' || text[i] == 'd')) {
        std::size_t j = i + 1;
        std::string exponent = "e";
        if (j < text.size() && (text[j] == '+' || text[j] == '-'))
            exponent += text[j++];
        std::size_t firstDigit = j;
        while (j < text.size() && IsDigit(text[j]))
            exponent += text[j++];
        if (j > firstDigit)
            number += exponent;
    }
    return number;
}

} // namespace

std::optional<double> NumericReading(std::string_view text) {
    const std::string compact = WithoutBlanks(text);
    if (compact.size() >= 2 && compact[0] == '&') {
        if (compact[1] == 'H' || compact[1] == 'h')
            return ReadPrefixedWholeNumber(std::string_view(compact).substr(2), 16);
        if (compact[1] == 'O' || compact[1] == 'o')
            return ReadPrefixedWholeNumber(std::string_view(compact).substr(2), 8);
    }
    const std::string number = LeadingDecimalNumber(compact);
    if (number.empty())
        return 0.0;
    errno = 0;
    const double value = std::strtod(number.c_str(), nullptr);
    // An underflow reads as the nearest representable value; only an overflow has no reading.
    if (errno == ERANGE && std::isinf(value))
        return std::nullopt;
    return value;
}

} // namespace lumoradex
