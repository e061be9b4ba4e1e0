#include "control/answer_reader.h"

// The stream's own extraction gives exactly these rules, with one catch:
// on overflow it stores the largest value as well as failing, so answers go
// through a scratch value and the variable changes only on success. A
// failed stream stays failed, which fails every later read.

bool AnswerReader::readInteger(int32_t& value)
{
    int32_t answer = 0;
    if (!(in_ >> answer)) return false;
    value = answer;
    return true;
}

bool AnswerReader::readNumber(double& value)
{
    double answer = 0.0;
    if (!(in_ >> answer)) return false;
    value = answer;
    return true;
}
