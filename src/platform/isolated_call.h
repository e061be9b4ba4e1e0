// Runs a step that calls foreign code (a driver library's constructor)
// where a crash or a hang in it cannot take the caller down with it: in a
// child process where the system can fork, in this process elsewhere.
#pragma once

#include <functional>
#include <string>

// True when the step ran to its end, with the text it returned in `result`;
// false with how it ended instead in `failure` ("crashed (signal 11,
// Segmentation fault)", "did not end within 30 s").
bool runIsolated(const std::function<std::string()>& step, std::string& result, std::string& failure);
