// What the harness's session record changes in an analysis: where it is
// found, the defaults it replaces, and the dumps it leaves out because they
// belong to another session.
#pragma once

#include <string>
#include <vector>

#include "analyse/command_line.h"
#include "analyse/session_reader.h"

namespace analyse {

struct SessionUse {
    bool found = false;
    std::string path;
    SessionRecord record;
};

// Reads the record named by --session, or else the one beside the dumps
// when they all lie in one folder. False with `error` only when the record
// --session names cannot be used; one found beside the dumps that cannot be
// used is a warning, and the analysis goes on without it.
bool findSessionRecord(const CommandLine& line, SessionUse& use, std::string& error,
                       std::vector<std::string>& warnings);

// The record's rate, output count and full scale where the command line
// gave none; an option that disagrees with the record wins, with a warning.
void applySessionRecord(const SessionUse& use, CommandLine& line, std::vector<std::string>& warnings);

// Whether the record knows `file` as one of its runs' dumps. Dumps whose
// name tells no run number are taken as they are. False with `warning`
// naming the dump otherwise.
bool dumpOfSession(const SessionUse& use, const std::string& file, std::string& warning);

// Why the harness flagged the dump's run, empty when it did not.
std::vector<std::string> sessionFlags(const SessionUse& use, int32_t runNumber);

}  // namespace analyse
