// Turns enciphered log files back into text lines (the tslog program, on Windows and
// on the support engineer's host). Plain C++: no Windows calls.
#pragma once
#include <filesystem>
#include <iosfwd>
#include <memory>
#include <string>
#include <vector>

#include "sys/libutils/logcipher.h"

namespace ts { namespace sys { namespace logreader {

// True when a deciphered line reads like a log line: the full form's "HH:MM:SS.mmm\t"
// or the short form's "[" at the start, and no control character but tab and line ends.
bool isPlausibleLine(const std::string& text);

// Decodes the Base64 lines of one input after another, writing one text line per input
// line. A line that cannot be decoded is named on `errors` and marked in `out`; the
// chaining value restarts with each input and wherever a new chain begins (a restart).
class LogReader {
public:
    LogReader(std::ostream& out, std::ostream& errors);
    void beginInput(const std::string& name);
    void line(std::string base64);
    unsigned failures() const { return m_failures; }

private:
    void fail(const std::string& reason);
    std::ostream& m_out;
    std::ostream& m_errors;
    encryption::LineDecoder m_decoder;
    std::string m_input;
    unsigned m_lineNumber = 0;
    unsigned m_failures = 0;
    bool m_chainBroken = false;
};

// The whole program: decodes `files` in order, or `in` when there is none ("-" also
// names it). Returns 0 when every line decoded, 1 when some did not, 2 when an input
// could not be opened.
int runTslog(const std::vector<std::filesystem::path>& files, std::istream& in, std::ostream& out,
             std::ostream& errors);

}}} // namespace ts::sys::logreader
