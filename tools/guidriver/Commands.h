// The driver's commands: each takes the fields of one request line and answers it.
#pragma once

#include <string>
#include <vector>

struct Answer {
    std::vector<std::string> items; // "item ..." lines sent before the final line
    std::string result;             // the last line: "ok ..." or "err ..."
    bool quit = false;              // the driver ends after sending this answer
};

// Carries out one request line (without its line end) and returns the answer.
Answer HandleRequest(const std::string& line);
