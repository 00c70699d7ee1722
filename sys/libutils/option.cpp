#include "sys/libutils/option.h"

#include "sys/libutils/assertion.h"
#include "sys/libutils/exception.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <iomanip>
#include <sstream>
#include <stdexcept>

namespace ts { namespace sys { namespace option {

namespace {
// An unsigned decimal number read through a string stream; 0 when there is none.
unsigned long streamNumber(const std::string& text)
{
    std::istringstream in(text);
    unsigned long value = 0;
    in >> value;
    return in.fail() ? 0 : value;
}
} // namespace

bool isTrueText(const std::string& text, bool signedNumber)
{
    if (!text.empty() && std::string("TYty").find(text[0]) != std::string::npos)
        return true;
    if (signedNumber)
        return strtol(text.c_str(), nullptr, 10) != 0;
    return streamNumber(text) != 0;
}

Option::Option(std::string name, std::string description, std::string valueLabel)
    : m_name(std::move(name)), m_description(std::move(description)), m_valueLabel(std::move(valueLabel))
{
}

int Option::getUsageWidth() const
{
    return static_cast<int>(("-" + m_name + " " + m_valueLabel + " ").size());
}

void Option::printUsage(std::ostream& out, int, int width) const
{
    std::string head = "-" + m_name + " " + m_valueLabel + " ";
    out << head << std::setw(width - static_cast<int>(head.size()) + 1 + static_cast<int>(m_description.size()))
        << m_description << "\n";
}

void SingleOption::loadFrom(DataStore& store, const std::string& key)
{
    std::pair<int32_t, std::string> value = store.read(key);
    if (value.first == NoValue)
        return;
    m_origin = value.first;
    setFromText(value.second);
}

void SingleOption::saveTo(DataStore& store, const std::string& key)
{
    store.write(key, getValueString(), m_origin);
}

void SingleOption::removeFrom(DataStore& store)
{
    store.remove(m_name);
}

Flag::Flag(const std::string& name, const std::string& description) : SingleOption(name, description, "") {}

void Flag::parse(int& count, char**)
{
    m_value = true;
    m_origin = CommandLine;
    count = 1;
}

std::string Flag::getValueString() const
{
    return m_value ? "flag" : "";
}

std::string Flag::getCommandLine() const
{
    return m_value ? "-" + m_name : "";
}

void Flag::setFromText(const std::string& text)
{
    m_value = isTrueText(text, true);
}

// A stored flag is written as yes/no, not as its value string.
Bool::Bool(const std::string& name, bool value, const std::string& description, const std::string& valueLabel)
    : SingleOption(name, description, valueLabel), m_value(value)
{
}

void Bool::parse(int& count, char** tokens)
{
    parseValue(count, tokens, [this](char** values, int) {
        m_value = isTrueText(values[0], false);
        return 1;
    });
}

std::string Bool::getValueString() const
{
    return m_value ? "true" : "false";
}

std::string Bool::getCommandLine() const
{
    return "-" + m_name + " " + getValueString();
}

void Bool::setFromText(const std::string& text)
{
    m_value = isTrueText(text, false);
}

Int::Int(const std::string& name, int32_t value, const std::string& description, const std::string& valueLabel)
    : SingleOption(name, description, valueLabel), m_value(value)
{
}

void Int::parse(int& count, char** tokens)
{
    parseValue(count, tokens, [this](char** values, int) {
        m_value = static_cast<int32_t>(strtol(values[0], nullptr, 0));
        return 1;
    });
}

std::string Int::getValueString() const
{
    return std::to_string(m_value);
}

std::string Int::getCommandLine() const
{
    return "-" + m_name + " " + getValueString();
}

void Int::setFromText(const std::string& text)
{
    m_value = static_cast<int32_t>(streamNumber(text));
}

String::String(const std::string& name, const std::string& value, const std::string& description,
               const std::string& valueLabel)
    : SingleOption(name, description, valueLabel), m_value(value)
{
}

void String::parse(int& count, char** tokens)
{
    parseValue(count, tokens, [this](char** values, int available) {
        std::string value = values[0];
        int used = 1;
        while (used < available && !value.empty() && value.front() == '"' && value.back() != '"')
            value += std::string(" ") + values[used++];
        if (!value.empty() && value.front() == '"' && value.back() == '"') {
            value.pop_back();
            // A lone quote leaves nothing to take the opening quote from.
            if (value.empty())
                throw std::out_of_range("invalid string position");
            value.erase(0, 1);
        }
        m_value = value;
        return used;
    });
}

std::string String::getValueString() const
{
    return m_value.find(' ') != std::string::npos ? "\"" + m_value + "\"" : m_value;
}

std::string String::getCommandLine() const
{
    return "-" + m_name + " " + getValueString();
}

MultiOption::MultiOption(const std::string& name, const std::string& description) : Option(name, description, "") {}

MultiOption::~MultiOption() = default;

void MultiOption::loadFrom(DataStore& store, const std::string& key)
{
    if (DataStore* child = store.getChild(key, false))
        for (auto& option : m_children)
            option->load(*child);
}

void MultiOption::saveTo(DataStore& store, const std::string& key)
{
    if (DataStore* child = store.getChild(key, true))
        for (auto& option : m_children)
            option->save(*child);
}

} // namespace option

GroupOption::GroupOption(const std::string& name, const std::string& description, const std::string& extraText)
    : MultiOption(name, description), m_extraText(extraText)
{
}

GroupOption::~GroupOption() = default;

option::Option* GroupOption::clone() const
{
    throw InternalError(L"option::GroupOption should never be cloned");
}

std::string GroupOption::getCommandLine() const
{
    std::string line;
    for (const option::Option* member : m_members) {
        std::string text = member->getCommandLine();
        if (!text.empty())
            line += text + " ";
    }
    return line;
}

void GroupOption::loadFrom(option::DataStore& store, const std::string&)
{
    for (option::Option* member : m_members)
        member->load(store);
}

void GroupOption::saveTo(option::DataStore& store, const std::string&)
{
    for (option::Option* member : m_members)
        member->save(store);
}

void GroupOption::removeFrom(option::DataStore& store)
{
    for (option::Option* member : m_members)
        member->removeFrom(store);
}

int GroupOption::getUsageWidth() const
{
    int width = 0;
    for (const option::Option* member : m_members)
        width = std::max(width, member->getUsageWidth());
    return width;
}

void GroupOption::printUsage(std::ostream& out, int indent, int width) const
{
    std::string margin(2 * std::max(indent, 0), ' ');
    out << "\n" << margin << m_name << "\n";
    for (const option::Option* member : m_members) {
        out << margin;
        member->printUsage(out, indent, width);
    }
}

void GroupOption::add(option::Option& option)
{
    for (auto i = m_members.begin(); i != m_members.end(); ++i)
        TS_ASSERT(option.getName() != (*i)->getName());
    m_members.push_back(&option);
}

void GroupOption::parseCommandLine(const std::string& text)
{
    std::vector<std::string> words;
    // Spaces only separate; a tab or quote is part of a token.
    const std::string line = "programName " + text;
    size_t i = 0;
    while (i < line.size()) {
        while (i < line.size() && line[i] == ' ')
            ++i;
        size_t start = i;
        while (i < line.size() && line[i] != ' ')
            ++i;
        if (i > start)
            words.push_back(line.substr(start, i - start));
    }
    std::vector<char*> tokens;
    for (std::string& w : words)
        tokens.push_back(&w[0]);
    int count = static_cast<int>(tokens.size());
    parseArguments(count, tokens.data());
}

void GroupOption::parseArguments(int& count, char** tokens)
{
    bool failed = false;
    int index = 1;
    m_unknown.clear();
    m_ignored.clear();
    while (index < count) {
        const char* token = tokens[index];
        if (token[0] != '-' || token[1] == '\0') {
            ++index;
            continue;
        }
        std::string wanted = token + 1;
        int consumed = 0;
        for (option::Option* member : m_members) {
            if (member->getName() != wanted)
                continue;
            consumed = count - index;
            member->parse(consumed, tokens + index);
            if (consumed > 0)
                break;
        }
        if (consumed <= 0) {
            printf("Unknown argument: -%s\n", wanted.c_str());
            fflush(stdout);
            m_unknown.push_back(token);
            failed = true;
            consumed = 1;
        }
        std::copy(tokens + index + consumed, tokens + count, tokens + index);
        count -= consumed;
    }
    // Only positional tokens are left.
    m_ignored.assign(tokens + 1, tokens + std::max(count, 1));
    if (failed)
        throw MessageException(12);
}

}} // namespace ts::sys
