// The JSON form of a stream's accounts, shared by the probe's report and
// the session record, so both name every figure the same way.
#pragma once

#include <nlohmann/json.hpp>

#include "stream/run_accounts.h"

// `warnings` are the lines the accounts gave (without "warning: ").
nlohmann::json accountsJson(const RunAccounts::Summary& accounts, const std::vector<std::string>& warnings);
