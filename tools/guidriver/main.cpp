// nvrdrive.exe: drives other programs' windows for the end-to-end tests. Reads one request per
// line from stdin and writes its answer to stdout; the commands are listed in README.md.
#include <fcntl.h>
#include <io.h>

#include <cstdio>
#include <string>

#include "Commands.h"

namespace {

// Reads one line without its LF (and without a CR before it). Returns false at end of input
// when nothing was read.
bool ReadLine(std::string* line)
{
    line->clear();
    int c;
    while ((c = std::getchar()) != EOF && c != '\n') {
        line->push_back(static_cast<char>(c));
    }
    if (!line->empty() && line->back() == '\r') {
        line->pop_back();
    }
    return c != EOF || !line->empty();
}

void WriteLine(const std::string& line)
{
    std::fwrite(line.data(), 1, line.size(), stdout);
    std::fputc('\n', stdout);
}

} // namespace

int wmain()
{
    // Binary: text mode would turn each LF into CRLF.
    _setmode(_fileno(stdin), _O_BINARY);
    _setmode(_fileno(stdout), _O_BINARY);

    std::string line;
    while (ReadLine(&line)) {
        const Answer answer = HandleRequest(line);
        for (const std::string& item : answer.items) {
            WriteLine(item);
        }
        WriteLine(answer.result);
        std::fflush(stdout);
        if (answer.quit) {
            break;
        }
    }
    return 0;
}
