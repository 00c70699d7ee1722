#include "sys/libutils/logreader.h"

#include <fstream>
#include <istream>
#include <ostream>

namespace ts { namespace sys { namespace logreader {

namespace {

bool isDigit(char c) { return c >= '0' && c <= '9'; }

// "HH:MM:SS.mmm\t" with two or more hour digits.
bool hasTimestamp(const std::string& t)
{
    size_t i = 0;
    while (i < t.size() && isDigit(t[i]))
        ++i;
    if (i < 2 || t.size() < i + 11)
        return false;
    return t[i] == ':' && isDigit(t[i + 1]) && isDigit(t[i + 2]) && t[i + 3] == ':' && isDigit(t[i + 4]) &&
           isDigit(t[i + 5]) && t[i + 6] == '.' && isDigit(t[i + 7]) && isDigit(t[i + 8]) && isDigit(t[i + 9]) &&
           t[i + 10] == '\t';
}

bool hasNoControls(const std::string& text, size_t from)
{
    for (size_t i = from; i < text.size(); ++i) {
        unsigned char c = static_cast<unsigned char>(text[i]);
        if ((c < 0x20 && c != '\t' && c != '\r' && c != '\n') || c == 0x7F)
            return false;
    }
    return true;
}

std::string withoutPadding(std::string text)
{
    size_t end = text.find_last_not_of(' ');
    text.resize(end == std::string::npos ? 0 : end + 1);
    return text;
}

} // namespace

bool isPlausibleLine(const std::string& text)
{
    return (hasTimestamp(text) || (!text.empty() && text[0] == '[')) && hasNoControls(text, 0);
}

LogReader::LogReader(std::ostream& out, std::ostream& errors) : m_out(out), m_errors(errors) {}

void LogReader::beginInput(const std::string& name)
{
    m_input = name;
    m_lineNumber = 0;
    m_chainBroken = false;
    m_decoder.restart();
}

void LogReader::fail(const std::string& reason)
{
    ++m_failures;
    m_errors << "tslog: " << m_input << ":" << m_lineNumber << ": cannot decode this line (" << reason << ")\n";
    m_out << "<<tslog: line " << m_lineNumber << " not decoded>>\n";
}

void LogReader::line(std::string base64)
{
    ++m_lineNumber;
    while (!base64.empty() && (base64.back() == '\r' || base64.back() == ' '))
        base64.pop_back();
    if (base64.empty()) {
        m_out << "\n";
        return;
    }
    using encryption::LineDecoder;
    std::string text;
    LineDecoder::Result result = m_decoder.decode(base64, text, false, false);
    if (result == LineDecoder::BadBase64 || result == LineDecoder::BadLength) {
        fail(result == LineDecoder::BadBase64 ? "not Base64" : "not a whole number of cipher blocks");
        m_chainBroken = true;
        return;
    }
    if (isPlausibleLine(text)) {
        m_decoder.decode(base64, text, false, true);
    } else {
        // A new chain starts where the logger (re)opened its file.
        std::string fresh;
        m_decoder.decode(base64, fresh, true, false);
        if (isPlausibleLine(fresh)) {
            m_decoder.decode(base64, text, true, true);
        } else {
            m_decoder.decode(base64, text, false, true); // carry on from this line's own blocks
            if (m_chainBroken && text.size() > 16 && hasNoControls(text, 16)) {
                // Only the first block depended on the lost line.
                ++m_failures;
                m_errors << "tslog: " << m_input << ":" << m_lineNumber
                         << ": first 16 characters lost with the line before\n";
                m_out << std::string(16, '?') << withoutPadding(text.substr(16)) << "\n";
            } else {
                fail("deciphered text is not a log line");
            }
            m_chainBroken = false;
            return;
        }
    }
    m_chainBroken = false;
    m_out << withoutPadding(text) << "\n";
}

int runTslog(const std::vector<std::filesystem::path>& files, std::istream& in, std::ostream& out,
             std::ostream& errors)
{
    LogReader reader(out, errors);
    int status = 0;
    auto readAll = [&](std::istream& stream, const std::string& name) {
        reader.beginInput(name);
        std::string text;
        while (std::getline(stream, text))
            reader.line(text);
    };
    if (files.empty())
        readAll(in, "(standard input)");
    for (const std::filesystem::path& file : files) {
        if (file == "-") {
            readAll(in, "(standard input)");
            continue;
        }
        std::ifstream stream(file, std::ios::binary);
        if (!stream) {
            errors << "tslog: cannot open " << file.u8string() << "\n";
            status = 2;
            continue;
        }
        readAll(stream, file.u8string());
    }
    out.flush();
    if (status == 0 && reader.failures() > 0)
        status = 1;
    return status;
}

}}} // namespace ts::sys::logreader
