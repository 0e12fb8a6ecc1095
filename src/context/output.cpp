#include "context/output.h"

#include <string>

namespace focusprobe {

void printLine(platform::Process& process, std::string_view value)
{
    // One write per line, so an unbuffered stream never delivers half a line.
    std::string line;
    line.reserve(value.size() + 1);
    line.append(value);
    line.push_back('\n');
    process.writeStandardOutput(line);
}

} // namespace focusprobe
