// Reads the operator's answers: whitespace-separated numbers, several of
// which may stand on one line. A number ends at the first character that
// cannot continue it; the rest stays for the next question. An answer that
// is not a number, does not fit, or is missing (end of input) is a failed
// read: the variable keeps its value, and every later read fails too.
#pragma once

#include <cstdint>
#include <istream>

class AnswerReader {
public:
    explicit AnswerReader(std::istream& in) : in_(in) {}

    // Decimal with an optional sign, within signed 32 bits.
    bool readInteger(int32_t& value);
    // Decimal with an optional sign, fraction and exponent.
    bool readNumber(double& value);

private:
    std::istream& in_;
};
