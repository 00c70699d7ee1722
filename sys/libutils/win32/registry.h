// Registry access by key path ("HKLM\SOFTWARE\Tessaline\Core"). The classes throw the
// RegistryException family; the free functions at the end return Windows codes.
#pragma once
#include "sys/libutils/exception.h"
#include "sys/libutils/version.h"
#include "sys/libutils/win32/keyhandle.h"

#include <windows.h>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace ts { namespace sys { namespace win32 { namespace registry {

// The failure family. Each carries the Windows error that caused it; the text is the
// Windows error text.
class RegistryException : public SystemErrorCodeException {
public:
    using SystemErrorCodeException::SystemErrorCodeException;
    TS_EXCEPTION_CLONE(RegistryException)
};

#define TS_REGISTRY_EXCEPTION(Name) \
    class Name : public RegistryException { \
    public: \
        using RegistryException::RegistryException; \
        TS_EXCEPTION_CLONE(Name) \
    };

TS_REGISTRY_EXCEPTION(InvalidKeyNameException)      // unknown root name (3)
TS_REGISTRY_EXCEPTION(KeyDoesNotExistException)     // open failed with 2
TS_REGISTRY_EXCEPTION(AccessDeniedException)        // open or create failed with 5
TS_REGISTRY_EXCEPTION(CannotOpenKeyException)       // open failed otherwise
TS_REGISTRY_EXCEPTION(CannotCreateKeyException)     // create failed, not with 5
TS_REGISTRY_EXCEPTION(InvalidHandleException)       // a key handle could not be duplicated
TS_REGISTRY_EXCEPTION(CannotEnumerateKeyException)  // enumeration failed
TS_REGISTRY_EXCEPTION(CannotReadValueException)     // missing value, failed read, wrong size (1359)
TS_REGISTRY_EXCEPTION(CannotDeleteKeyException)
TS_REGISTRY_EXCEPTION(CannotDeleteValueException)

#undef TS_REGISTRY_EXCEPTION

class RegistryKey;
class RegistryValue;

// What keys and values hold: the key path, the key or value name, an own handle of
// the key, and the settings it was opened with.
class RegistryObject {
protected:
    RegistryObject() = default;
    RegistryObject(std::wstring path, std::wstring name, REGSAM access, HANDLE userToken, bool flush)
        : m_path(std::move(path)), m_name(std::move(name)), m_access(access), m_userToken(userToken), m_flush(flush)
    {
    }
    RegistryObject(RegistryObject&&) noexcept = default;
    ~RegistryObject() = default;
    void swap(RegistryObject& other) noexcept;

    std::wstring m_path;
    std::wstring m_name;
    KeyHandle m_handle;
    REGSAM m_access = KEY_ALL_ACCESS;
    HANDLE m_userToken = nullptr;
    bool m_flush = false;
};
struct SubkeyList;
using ValueList = std::vector<RegistryValue>;

// An open key. Copies open the key again and own their own handle.
class RegistryKey : private RegistryObject {
public:
    // Told of each key that deleteTree deleted, deepest first. The result is ignored.
    class DeleteObserver {
    public:
        virtual bool keyDeleted(const std::wstring& keyPath) = 0;
        virtual ~DeleteObserver() = default;
    };

    // Opens `path`. With a user token, "HKCR" means that user's classes root. Throws
    // InvalidKeyNameException, KeyDoesNotExistException, AccessDeniedException or
    // CannotOpenKeyException.
    explicit RegistryKey(const std::wstring& path, REGSAM access = KEY_ALL_ACCESS, HANDLE userToken = nullptr,
                         bool flush = false);
    // Opens a subkey (the name may hold backslashes) with the parent's settings.
    RegistryKey(const RegistryKey& parent, const std::wstring& subkeyName);
    // Throws InvalidHandleException.
    RegistryKey(const RegistryKey& other);
    RegistryKey(RegistryKey&& other) noexcept = default;
    RegistryKey& operator=(RegistryKey other) noexcept;
    ~RegistryKey() = default;

    std::wstring getKeyPath() const { return m_path; }
    std::wstring getKeyName() const { return m_name; }
    HKEY handle() const { return m_handle.get(); }
    REGSAM access() const { return m_access; }

    // Every direct subkey, opened, in enumeration order.
    std::unique_ptr<SubkeyList> subkeys() const;
    // Every value, in enumeration order; the data is not read.
    std::unique_ptr<ValueList> values() const;
    // False on any RegistryException.
    bool hasSubkey(const std::wstring& name) const;
    bool hasValue(const std::wstring& name) const;
    // Writes the data at once, creating or replacing the value.
    RegistryValue createValue(const std::wstring& name, DWORD data) const;
    RegistryValue createValue(const std::wstring& name, const std::wstring& data) const;

    // Deletes this key, which must have no subkeys. Throws CannotDeleteKeyException.
    void deleteKey();
    // Deletes this key and all below it, children first; stops at the first failure,
    // leaving what was deleted deleted. `observer` may be null.
    void deleteTree(DeleteObserver* observer);

private:
    friend class RegistryValue;
    void open(const std::wstring& path);
};

struct SubkeyList {
    std::wstring parentPath;
    std::vector<RegistryKey> keys;
    std::vector<std::wstring> names() const;
};

// One value of a key, holding its own handle of the key.
class RegistryValue : private RegistryObject {
public:
    // Data to be written.
    class RegistryType {
    public:
        virtual ~RegistryType() = default;
        virtual DWORD getType() const = 0;
        virtual const BYTE* getData() const = 0;
        virtual DWORD getSize() const = 0;
    };

    // Throws CannotReadValueException when the value does not exist, and
    // InvalidHandleException.
    RegistryValue(const RegistryKey& key, const std::wstring& valueName);
    // Writes the data at once; no existence test.
    RegistryValue(const RegistryKey& key, const std::wstring& valueName, DWORD data);
    RegistryValue(const RegistryKey& key, const std::wstring& valueName, const std::wstring& data);
    // Tests existence again, then duplicates the handle.
    RegistryValue(const RegistryValue& other);
    RegistryValue(RegistryValue&& other) noexcept = default;
    RegistryValue& operator=(RegistryValue other) noexcept;

    std::wstring getValueName() const { return m_name; }
    std::wstring getKeyPath() const { return m_path; }

    // The data as text up to its first NUL (or its end); the type is not checked.
    std::wstring getString() const;
    // Exactly four bytes of data as a number; other sizes throw
    // CannotReadValueException(1359). The type is not checked.
    DWORD getDword() const;
    // Writes the data (REG_DWORD / REG_SZ with its NUL). Returns whether the write
    // succeeded; it never throws.
    bool set(DWORD data);
    bool set(const std::wstring& data);
    // Throws CannotDeleteValueException.
    void deleteValue();

private:
    RegistryValue(const RegistryKey& key, const std::wstring& valueName, bool testExistence);
    bool write(const RegistryType& data);
};

class DWORDRegistryClass : public RegistryValue::RegistryType {
public:
    explicit DWORDRegistryClass(DWORD value) : m_value(value) {}
    DWORD getType() const override { return REG_DWORD; }
    const BYTE* getData() const override { return reinterpret_cast<const BYTE*>(&m_value); }
    DWORD getSize() const override { return sizeof m_value; }
private:
    DWORD m_value;
};

class StringRegistryClass : public RegistryValue::RegistryType {
public:
    explicit StringRegistryClass(std::wstring value) : m_value(std::move(value)) {}
    DWORD getType() const override { return REG_SZ; }
    const BYTE* getData() const override { return reinterpret_cast<const BYTE*>(m_value.c_str()); }
    DWORD getSize() const override { return static_cast<DWORD>((m_value.size() + 1) * sizeof(wchar_t)); }
private:
    std::wstring m_value;
};

// Opens, tests and creates keys, giving each the same access, token and flush.
class RegistryKeyFactory {
public:
    explicit RegistryKeyFactory(REGSAM access = KEY_ALL_ACCESS, HANDLE userToken = nullptr, bool flush = false)
        : m_access(access), m_userToken(userToken), m_flush(flush) {}
    RegistryKey open(const std::wstring& path) const;
    // False on any RegistryException.
    bool exists(const std::wstring& path) const;
    // Creates the key when missing, then opens it. Throws AccessDeniedException or
    // CannotCreateKeyException, and what open throws.
    RegistryKey create(const std::wstring& path) const;

private:
    REGSAM m_access;
    HANDLE m_userToken;
    bool m_flush;
};

// Typed reads from one key; never throws a RegistryException (a failure is false and
// leaves the output alone). Opens the key afresh for every call.
class IRegistryKeyReader {
public:
    virtual ~IRegistryKeyReader() = default;
    virtual void setKeyPath(const std::wstring& path) = 0;
    virtual bool readDword(const std::wstring& valueName, DWORD& out) = 0;
    virtual bool readString(const std::wstring& valueName, std::wstring& out) = 0;
    virtual bool readBool(const std::wstring& valueName, bool& out) = 0;
    // Whether the key at this full path can be opened.
    virtual bool keyExists(const std::wstring& path) = 0;
};

class RegistryKeyReader : public IRegistryKeyReader {
public:
    explicit RegistryKeyReader(std::wstring path) : m_path(std::move(path)) {}
    void setKeyPath(const std::wstring& path) override { m_path = path; }
    bool readDword(const std::wstring& valueName, DWORD& out) override;
    bool readString(const std::wstring& valueName, std::wstring& out) override;
    bool readBool(const std::wstring& valueName, bool& out) override;
    bool keyExists(const std::wstring& path) override;

private:
    std::wstring m_path;
    RegistryKeyFactory m_factory{KEY_QUERY_VALUE, nullptr, false};
};

// "HKLM", "HKEY_LOCAL_MACHINE", "HKCU", "HKEY_CURRENT_USER", "HKCR",
// "HKEY_CLASSES_ROOT", "HKU", "HKEY_USERS" (case matters); null for anything else.
HKEY rootKeyFromName(const std::wstring& rootName);
// The root key and the subkey path after the first backslash. Throws
// InvalidKeyNameException (3) for an unknown root.
HKEY splitKeyPath(const std::wstring& path, std::wstring& subkeyOut);
// `parentPath` + "\" + `name`; no second backslash; the name alone for an empty parent.
std::wstring joinKeyPath(const std::wstring& parentPath, const std::wstring& name);
// The last component of a key path.
std::wstring keyNameOf(const std::wstring& path);

// Deletes one key (without subkeys) in the view given by `viewBits`. Returns the
// Windows error (0 on success).
LONG deleteRegistryKey(HKEY root, const wchar_t* subkey, REGSAM viewBits);
// Creates (or opens) `root`\`parentPath` as an ordinary key and below it the volatile
// key `subkeyName`, gone at the next restart. The caller owns `*out`. Returns the
// Windows error.
LONG createVolatileSubkey(HKEY root, const wchar_t* parentPath, const wchar_t* subkeyName, REGSAM access, HKEY* out);
// Sets a REG_SZ value (with its NUL) in the volatile key `root`\`parentPath`\`subkeyName`,
// creating it as createVolatileSubkey does, in the view given by `viewBits`. Returns the
// Windows error.
LONG writeVolatileString(HKEY root, const wchar_t* parentPath, const wchar_t* subkeyName, const wchar_t* name,
                         const std::wstring& value, REGSAM viewBits);
// A value of an open key exactly as stored: its type and data bytes. Returns the Windows
// error (2 for a missing value); on failure the outputs are unspecified.
LONG readRawValue(HKEY key, const std::wstring& name, DWORD& type, std::vector<BYTE>& data);
// Writes a value of any type from its bytes. Returns the Windows error.
LONG writeRawValue(HKEY key, const std::wstring& name, DWORD type, const std::vector<BYTE>& data);
// KEY_WOW64_64KEY when this 32-bit program runs on 64-bit Windows, else 0.
REGSAM nativeViewFlag();

// What readStringValue found: the text, or no text and the Windows error of the open or
// the query (ERROR_INVALID_DATA, 13, for a value of another type where REG_SZ is asked for).
template <typename Char>
struct BasicStringRead {
    std::optional<std::basic_string<Char>> value;
    LONG error = ERROR_SUCCESS;
};
using StringRead = BasicStringRead<wchar_t>;

// How readStringValue reads. By default only a REG_SZ value, into a buffer grown while the
// query asks for more (from 16 bytes, doubling, while the value is below 1 MiB).
struct StringReadRule {
    bool anyType = false;              // read the data of any type as text
    std::optional<DWORD> bufferBytes;  // one query into this many bytes: a longer value fails
};

// The one reader of a registry text: the value `name` of the open `key`, up to its first
// NUL or the end of its data (a last odd byte counts as a unit of its own).
StringRead readStringValue(HKEY key, const std::wstring& name, const StringReadRule& rule = {});
// The same through the ANSI functions, for the settings tree.
BasicStringRead<char> readStringValue(HKEY key, const std::string& name, const StringReadRule& rule = {});
// The same of `root`\`subkeyPath`, opened with KEY_READ in the view given by `viewBits`
// (0, KEY_WOW64_64KEY or KEY_WOW64_32KEY) and closed again.
StringRead readStringValue(HKEY root, const std::wstring& subkeyPath, const std::wstring& name, REGSAM viewBits,
                           const StringReadRule& rule = {});

// The keys below HKLM that the Core software and the product installers write; the
// installed versions are their "Version" values.
constexpr wchar_t kCoreSubkey[] = L"SOFTWARE\\Tessaline\\Core";
constexpr wchar_t kProductsSubkey[] = L"SOFTWARE\\Tessaline\\Products";

// "Version" (REG_SZ, dotted, under 24 characters) of HKLM\<subkeyPath> in the native
// view. False when the key or value is missing or not a version.
bool readInstalledVersion(const wchar_t* subkeyPath, Version& out);
bool readCoreVersion(Version& out);
// Of kProductsSubkey\<product>.
bool readProductVersion(const wchar_t* product, Version& out);

}}}} // namespace ts::sys::win32::registry
