// The system's exception tree and the one routine that describes whatever was caught.
#pragma once
#include <cstdint>
#include <exception>
#include <memory>
#include <string>
#include <vector>

namespace ts { namespace sys {

// Fills "%1".."%9" of a wide pattern. "%%" gives "%", "%0" and a missing insert give
// nothing, a lone trailing "%" stays. The inserts are cleared after each format().
class MessageFormatter {
public:
    explicit MessageFormatter(std::wstring pattern) : m_pattern(std::move(pattern)) {}
    MessageFormatter& add(const std::wstring& insert) { m_inserts.push_back(insert); return *this; }
    std::wstring format();
private:
    std::wstring m_pattern;
    std::vector<std::wstring> m_inserts;
};

// Text of a message number. No message source is installed, so this is always
// "Message 0x" + eight upper-case hexadecimal digits.
std::wstring messageText(uint32_t number);

class Exception {
public:
    virtual ~Exception() = default;
    virtual Exception* clone() const = 0;
    [[noreturn]] virtual void raise() const = 0;
    virtual std::wstring getText() const = 0;
};

class ExceptionBase : public Exception, public std::exception {
public:
    // Always reflects getText(), converted to narrow text.
    const char* what() const noexcept override;
private:
    mutable std::string m_what;
};

#define TS_EXCEPTION_CLONE(Type) \
    Type* clone() const override { return new Type(*this); } \
    [[noreturn]] void raise() const override { throw Type(*this); }

class ErrorCodeException : public ExceptionBase {
public:
    explicit ErrorCodeException(int32_t code) : m_code(code) {}
    TS_EXCEPTION_CLONE(ErrorCodeException)
    std::wstring getText() const override;
    int32_t code() const { return m_code; }
protected:
    int32_t m_code;
};

// The exceptions that carry a Windows error (SystemError, SystemMessageException,
// SystemErrorCodeException) have their texts in win32/exception.cpp, beside
// windowsErrorText: only Windows code throws them.

// A Windows call that had to succeed failed: code 1 and the Windows error.
class SystemError : public ErrorCodeException {
public:
    explicit SystemError(uint32_t windowsError, int32_t code = 1)
        : ErrorCodeException(code), m_windowsError(windowsError) {}
    TS_EXCEPTION_CLONE(SystemError)
    std::wstring getText() const override;
    uint32_t windowsError() const { return m_windowsError; }
protected:
    uint32_t m_windowsError;
    uint32_t m_reserved = 0;
};

// A broken rule of the program itself: code 1 and what was broken.
class InternalError : public ErrorCodeException {
public:
    explicit InternalError(std::wstring detail) : ErrorCodeException(1), m_detail(std::move(detail)) {}
    TS_EXCEPTION_CLONE(InternalError)
    std::wstring getText() const override;
private:
    std::wstring m_detail;
};

class MessageException : public ExceptionBase {
public:
    explicit MessageException(uint32_t messageId) : m_messageId(messageId) {}
    TS_EXCEPTION_CLONE(MessageException)
    std::wstring getText() const override;
    virtual void addInserts(MessageFormatter&) const {}
    uint32_t messageId() const { return m_messageId; }
private:
    uint32_t m_messageId;
};

// A message whose next insert is the full Windows error text.
class SystemMessageException : public MessageException {
public:
    SystemMessageException(uint32_t messageId, uint32_t windowsError)
        : MessageException(messageId), m_windowsError(windowsError) {}
    TS_EXCEPTION_CLONE(SystemMessageException)
    void addInserts(MessageFormatter& formatter) const override;
    uint32_t windowsError() const { return m_windowsError; }
private:
    uint32_t m_windowsError;
    uint32_t m_reserved = 0;
};

// Base of the registry exception family: its text is the Windows error text.
class SystemErrorCodeException : public Exception {
public:
    explicit SystemErrorCodeException(uint32_t windowsError) : m_windowsError(windowsError) {}
    TS_EXCEPTION_CLONE(SystemErrorCodeException)
    std::wstring getText() const override;
    uint32_t windowsError() const { return m_windowsError; }
protected:
    uint32_t m_windowsError;
};

// Not a std::exception on purpose: it must not be caught as an ordinary error.
class SystemException {
public:
    virtual ~SystemException() = default;
    virtual const char* what() const = 0;
};

class StructuredException : public SystemException {
public:
    explicit StructuredException(uint32_t code);
    const char* what() const override { return m_text.c_str(); }
    uint32_t code() const { return m_code; }
    static const char* nameOf(uint32_t code);
private:
    uint32_t m_code;
    std::string m_text;
};

// Windows error text: the system message without line breaks ("Unknown" when there
// is none); the full form is "win32 0x%08x: " + that message. Windows only.
std::wstring windowsErrorText(uint32_t windowsError, bool bare = false);

// One line of narrow text for the exception being handled. Call only inside a catch.
std::string describeCurrentException();

}} // namespace ts::sys
