#include "sys/libutils/exception.h"
#include "sys/libutils/text.h"

#include <cstdio>

namespace ts { namespace sys {

std::wstring MessageFormatter::format()
{
    std::wstring out;
    const std::wstring& p = m_pattern;
    for (size_t i = 0; i < p.size(); ++i) {
        if (p[i] != L'%' || i + 1 == p.size()) {
            out += p[i];
            continue;
        }
        wchar_t next = p[i + 1];
        if (next == L'%') {
            out += L'%';
            ++i;
        } else if (next >= L'0' && next <= L'9') {
            size_t n = next - L'0';
            if (n >= 1 && n <= m_inserts.size())
                out += m_inserts[n - 1];
            ++i;
        } else {
            out += L'%';
        }
    }
    m_inserts.clear();
    return out;
}

std::wstring messageText(uint32_t number)
{
    wchar_t buffer[32];
    swprintf(buffer, 32, L"Message 0x%08X", number);
    return buffer;
}

const char* ExceptionBase::what() const noexcept
{
    try {
        m_what = toNarrow(getText());
    } catch (...) {
        m_what = "Unknown exception type";
    }
    return m_what.c_str();
}

std::wstring ErrorCodeException::getText() const
{
    if (m_code == 0)
        return L"";
    if (m_code >= 1 && m_code <= 10)
        return MessageFormatter(messageText(m_code)).format();
    return MessageFormatter(messageText(1)).add(std::to_wstring(m_code)).format();
}

std::wstring InternalError::getText() const
{
    return L"Internal error \"" + ErrorCodeException::getText() + L"\", " + m_detail;
}

std::wstring MessageException::getText() const
{
    MessageFormatter formatter(messageText(m_messageId));
    addInserts(formatter);
    return formatter.format();
}

const char* StructuredException::nameOf(uint32_t code)
{
    switch (code) {
    case 0x80000001: return "Guard Page";
    case 0x80000002: return "Datatype Misalignment";
    case 0x80000003: return "Breakpoint";
    case 0x80000004: return "Single Step";
    case 0xC0000005: return "Access Violation";
    case 0xC0000006: return "In Page Error";
    case 0xC0000008: return "Invalid Handle";
    case 0xC000001D: return "Illegal Instruction";
    case 0xC0000025: return "Noncontinuable Exception";
    case 0xC0000026: return "Invalid Disposition";
    case 0xC000008C: return "Array Bounds Exceeded";
    case 0xC000008D: return "Float Denormal Operand";
    case 0xC000008E: return "Float Divide By Zero";
    case 0xC000008F: return "Float Inexact Result";
    case 0xC0000090: return "Float Invalid Operation";
    case 0xC0000091: return "Float Overflow";
    case 0xC0000092: return "Float Stack Check";
    case 0xC0000093: return "Float Underflow";
    case 0xC0000094: return "Integer Divide By Zero";
    case 0xC0000095: return "Integer Overflow";
    case 0xC0000096: return "Private Instruction";
    case 0xC00000FD: return "Stack Overflow";
    default: return "Unknown";
    }
}

StructuredException::StructuredException(uint32_t code) : m_code(code)
{
    char buffer[80];
    snprintf(buffer, sizeof buffer, "Structured Exception %08X %s", code, nameOf(code));
    m_text = buffer;
}

std::string describeCurrentException()
{
    try {
        throw;
    } catch (const Exception& e) {
        return toNarrow(e.getText());
    } catch (const std::exception& e) {
        return e.what();
    } catch (const char* text) {
        return text ? text : "";
    } catch (const SystemException& e) {
        return e.what();
    } catch (...) {
        return "Unknown exception type";
    }
}

}} // namespace ts::sys
