// Win32 only.
#include "sys/libutils/win32/registry.h"

#include "sys/libutils/win32/library.h"
#include "sys/libutils/win32/osinfo.h"

#include <algorithm>
#include <cwchar>

namespace ts { namespace sys { namespace win32 { namespace registry {

namespace {

const REGSAM viewMask = KEY_WOW64_64KEY | KEY_WOW64_32KEY;
const size_t dataLimit = 0x100000;
const size_t nameLimit = 0x100000;

[[noreturn]] void throwOpenFailure(LONG status)
{
    switch (status) {
    case ERROR_FILE_NOT_FOUND:
        throw KeyDoesNotExistException(status);
    case ERROR_ACCESS_DENIED:
        throw AccessDeniedException(status);
    default:
        throw CannotOpenKeyException(status);
    }
}

KeyHandle duplicateKey(HKEY source, REGSAM access)
{
    KeyHandle copy;
    LONG status = RegOpenKeyExW(source, L"", 0, access, copy.receive());
    if (status != ERROR_SUCCESS)
        throw InvalidHandleException(status);
    return copy;
}

LONG queryValue(HKEY key, const std::wstring& name, DWORD* type, BYTE* data, DWORD* size)
{
    return RegQueryValueExW(key, name.c_str(), nullptr, type, data, size);
}

LONG queryValue(HKEY key, const std::string& name, DWORD* type, BYTE* data, DWORD* size)
{
    return RegQueryValueExA(key, name.c_str(), nullptr, type, data, size);
}

// The value's data and type; returns the Windows error of the read.
template <typename Name>
LONG readValueData(HKEY key, const Name& name, std::vector<BYTE>& data, DWORD& type)
{
    data.assign(16, 0);
    for (;;) {
        DWORD size = static_cast<DWORD>(data.size());
        LONG status = queryValue(key, name, &type, data.data(), &size);
        if (status == ERROR_MORE_DATA && size < dataLimit) {
            data.assign(static_cast<size_t>(size) * 2, 0);
            continue;
        }
        if (status == ERROR_SUCCESS)
            data.resize(size);
        return status;
    }
}

template <typename Char>
BasicStringRead<Char> readText(HKEY key, const std::basic_string<Char>& name, const StringReadRule& rule)
{
    BasicStringRead<Char> result;
    std::vector<BYTE> data;
    DWORD type = REG_NONE;
    if (rule.bufferBytes) {
        // A unit to spare, so that the buffer is never empty.
        data.assign(*rule.bufferBytes + sizeof(Char), 0);
        DWORD size = *rule.bufferBytes;
        result.error = queryValue(key, name, &type, data.data(), &size);
        if (result.error == ERROR_SUCCESS)
            data.resize(size);
    } else {
        result.error = readValueData(key, name, data, type);
    }
    if (result.error != ERROR_SUCCESS)
        return result;
    if (!rule.anyType && type != REG_SZ) {
        result.error = ERROR_INVALID_DATA;
        return result;
    }
    data.resize((data.size() + sizeof(Char) - 1) / sizeof(Char) * sizeof(Char), 0);
    const Char* text = reinterpret_cast<const Char*>(data.data());
    const Char* end = text + data.size() / sizeof(Char);
    result.value.emplace(text, std::find(text, end, Char()));
    return result;
}

// True when `action` ran without a registry failure.
template <typename Action>
bool succeeds(Action action)
{
    try {
        action();
        return true;
    } catch (const RegistryException&) {
        return false;
    }
}

void throwIfMissing(HKEY key, const std::wstring& name)
{
    DWORD size = 0;
    LONG status = RegQueryValueExW(key, name.c_str(), nullptr, nullptr, nullptr, &size);
    if (status != ERROR_SUCCESS)
        throw CannotReadValueException(status);
}

} // namespace

HKEY rootKeyFromName(const std::wstring& rootName)
{
    static const struct { const wchar_t* name; HKEY key; } roots[] = {
        {L"HKCR", HKEY_CLASSES_ROOT}, {L"HKEY_CLASSES_ROOT", HKEY_CLASSES_ROOT},
        {L"HKCU", HKEY_CURRENT_USER}, {L"HKEY_CURRENT_USER", HKEY_CURRENT_USER},
        {L"HKLM", HKEY_LOCAL_MACHINE}, {L"HKEY_LOCAL_MACHINE", HKEY_LOCAL_MACHINE},
        {L"HKU", HKEY_USERS}, {L"HKEY_USERS", HKEY_USERS},
    };
    for (const auto& root : roots)
        if (rootName == root.name)
            return root.key;
    return nullptr;
}

HKEY splitKeyPath(const std::wstring& path, std::wstring& subkeyOut)
{
    size_t separator = path.find(L'\\');
    HKEY root = rootKeyFromName(path.substr(0, separator));
    if (!root)
        throw InvalidKeyNameException(ERROR_PATH_NOT_FOUND);
    subkeyOut = separator == std::wstring::npos ? std::wstring() : path.substr(separator + 1);
    return root;
}

std::wstring joinKeyPath(const std::wstring& parentPath, const std::wstring& name)
{
    if (parentPath.empty())
        return name;
    if (parentPath.back() == L'\\')
        return parentPath + name;
    return parentPath + L'\\' + name;
}

std::wstring keyNameOf(const std::wstring& path)
{
    size_t separator = path.find_last_of(L'\\');
    return separator == std::wstring::npos ? path : path.substr(separator + 1);
}

// --- RegistryKey -------------------------------------------------------------

void RegistryObject::swap(RegistryObject& other) noexcept
{
    std::swap(m_path, other.m_path);
    std::swap(m_name, other.m_name);
    std::swap(m_handle, other.m_handle);
    std::swap(m_access, other.m_access);
    std::swap(m_userToken, other.m_userToken);
    std::swap(m_flush, other.m_flush);
}

RegistryKey::RegistryKey(const std::wstring& path, REGSAM access, HANDLE userToken, bool flush)
    : RegistryObject(std::wstring(), std::wstring(), access, userToken, flush)
{
    open(path);
}

RegistryKey::RegistryKey(const RegistryKey& parent, const std::wstring& subkeyName)
    : RegistryObject(std::wstring(), std::wstring(), parent.m_access, parent.m_userToken, parent.m_flush)
{
    open(joinKeyPath(parent.m_path, subkeyName));
}

RegistryKey::RegistryKey(const RegistryKey& other)
    : RegistryObject(other.m_path, other.m_name, other.m_access, other.m_userToken, other.m_flush)
{
    m_handle = duplicateKey(other.m_handle.get(), other.m_access);
}

RegistryKey& RegistryKey::operator=(RegistryKey other) noexcept
{
    swap(other);
    return *this;
}

void RegistryKey::open(const std::wstring& path)
{
    std::wstring subkey;
    HKEY root = splitKeyPath(path, subkey);
    KeyHandle classesRoot;
    if (root == HKEY_CLASSES_ROOT && m_userToken) {
        LONG status = RegOpenUserClassesRoot(m_userToken, 0, m_access, classesRoot.receive());
        if (status != ERROR_SUCCESS)
            throw CannotOpenKeyException(status);
        root = classesRoot.get();
    }
    LONG status = RegOpenKeyExW(root, subkey.c_str(), 0, m_access, m_handle.receive());
    if (status != ERROR_SUCCESS)
        throwOpenFailure(status);
    m_path = path;
    m_name = subkey.empty() ? path : keyNameOf(subkey);
}

std::unique_ptr<SubkeyList> RegistryKey::subkeys() const
{
    std::unique_ptr<SubkeyList> list(new SubkeyList);
    list->parentPath = m_path;
    for (DWORD index = 0;; ++index) {
        std::vector<wchar_t> name(16);
        LONG status;
        for (;;) {
            status = RegEnumKeyW(m_handle.get(), index, name.data(), static_cast<DWORD>(name.size()));
            if (status != ERROR_MORE_DATA || name.size() >= nameLimit)
                break;
            name.assign(std::min(name.size() * 2, nameLimit), L'\0');
        }
        if (status == ERROR_NO_MORE_ITEMS)
            return list;
        if (status != ERROR_SUCCESS)
            throw CannotEnumerateKeyException(status);
        list->keys.emplace_back(*this, std::wstring(name.data(), wcsnlen(name.data(), name.size())));
    }
}

std::unique_ptr<ValueList> RegistryKey::values() const
{
    std::unique_ptr<ValueList> list(new ValueList);
    for (DWORD index = 0;; ++index) {
        std::vector<wchar_t> name(16);
        DWORD count;
        LONG status;
        for (;;) {
            count = static_cast<DWORD>(name.size());
            status = RegEnumValueW(m_handle.get(), index, name.data(), &count, nullptr, nullptr, nullptr, nullptr);
            if (status != ERROR_MORE_DATA || static_cast<size_t>(count) * 2 >= nameLimit)
                break;
            name.assign(std::max<size_t>(static_cast<size_t>(count) * 2, name.size() * 2), L'\0');
        }
        if (status == ERROR_NO_MORE_ITEMS)
            return list;
        // Any other failure would otherwise pose as a value with a made-up name.
        if (status != ERROR_SUCCESS)
            throw CannotReadValueException(status);
        list->emplace_back(*this, std::wstring(name.data(), count));
    }
}

bool RegistryKey::hasSubkey(const std::wstring& name) const
{
    return succeeds([&] { RegistryKey probe(*this, name); });
}

bool RegistryKey::hasValue(const std::wstring& name) const
{
    return succeeds([&] { RegistryValue probe(*this, name); });
}

RegistryValue RegistryKey::createValue(const std::wstring& name, DWORD data) const
{
    return RegistryValue(*this, name, data);
}

RegistryValue RegistryKey::createValue(const std::wstring& name, const std::wstring& data) const
{
    return RegistryValue(*this, name, data);
}

void RegistryKey::deleteKey()
{
    std::wstring subkey;
    HKEY root = splitKeyPath(m_path, subkey);
    LONG status = deleteRegistryKey(root, subkey.c_str(), m_access & viewMask);
    if (m_flush)
        RegFlushKey(root);
    if (status != ERROR_SUCCESS)
        throw CannotDeleteKeyException(status);
}

void RegistryKey::deleteTree(DeleteObserver* observer)
{
    std::unique_ptr<SubkeyList> children = subkeys();
    for (RegistryKey& child : children->keys)
        child.deleteTree(observer);
    deleteKey();
    if (observer)
        observer->keyDeleted(m_path);
}

std::vector<std::wstring> SubkeyList::names() const
{
    std::vector<std::wstring> result;
    for (const RegistryKey& key : keys)
        result.push_back(key.getKeyName());
    return result;
}

// --- RegistryValue -----------------------------------------------------------

RegistryValue::RegistryValue(const RegistryKey& key, const std::wstring& valueName, bool testExistence)
    : RegistryObject(key.m_path, valueName, key.m_access, key.m_userToken, key.m_flush)
{
    if (testExistence)
        throwIfMissing(key.m_handle.get(), valueName);
    m_handle = duplicateKey(key.m_handle.get(), key.m_access);
}

RegistryValue::RegistryValue(const RegistryKey& key, const std::wstring& valueName)
    : RegistryValue(key, valueName, true)
{
}

RegistryValue::RegistryValue(const RegistryKey& key, const std::wstring& valueName, DWORD data)
    : RegistryValue(key, valueName, false)
{
    set(data);
}

RegistryValue::RegistryValue(const RegistryKey& key, const std::wstring& valueName, const std::wstring& data)
    : RegistryValue(key, valueName, false)
{
    set(data);
}

RegistryValue::RegistryValue(const RegistryValue& other)
    : RegistryObject(other.m_path, other.m_name, other.m_access, other.m_userToken, other.m_flush)
{
    throwIfMissing(other.m_handle.get(), other.m_name);
    m_handle = duplicateKey(other.m_handle.get(), other.m_access);
}

RegistryValue& RegistryValue::operator=(RegistryValue other) noexcept
{
    swap(other);
    return *this;
}

std::wstring RegistryValue::getString() const
{
    StringRead read = readStringValue(m_handle.get(), m_name, StringReadRule{true});
    if (!read.value)
        throw CannotReadValueException(read.error);
    return *read.value;
}

DWORD RegistryValue::getDword() const
{
    std::vector<BYTE> data;
    DWORD type = 0;
    LONG status = readValueData(m_handle.get(), m_name, data, type);
    if (status != ERROR_SUCCESS)
        throw CannotReadValueException(status);
    if (data.size() != sizeof(DWORD))
        throw CannotReadValueException(ERROR_INTERNAL_ERROR);
    return static_cast<DWORD>(data[0]) | static_cast<DWORD>(data[1]) << 8 | static_cast<DWORD>(data[2]) << 16 |
           static_cast<DWORD>(data[3]) << 24;
}

bool RegistryValue::write(const RegistryType& data)
{
    LONG status = RegSetValueExW(m_handle.get(), m_name.c_str(), 0, data.getType(), data.getData(), data.getSize());
    if (m_flush)
        RegFlushKey(m_handle.get());
    return status == ERROR_SUCCESS;
}

bool RegistryValue::set(DWORD data)
{
    return write(DWORDRegistryClass(data));
}

bool RegistryValue::set(const std::wstring& data)
{
    return write(StringRegistryClass(data));
}

void RegistryValue::deleteValue()
{
    LONG status = RegDeleteValueW(m_handle.get(), m_name.c_str());
    if (m_flush)
        RegFlushKey(m_handle.get());
    if (status != ERROR_SUCCESS)
        throw CannotDeleteValueException(status);
}

// --- RegistryKeyFactory and RegistryKeyReader --------------------------------

RegistryKey RegistryKeyFactory::open(const std::wstring& path) const
{
    return RegistryKey(path, m_access, m_userToken, m_flush);
}

bool RegistryKeyFactory::exists(const std::wstring& path) const
{
    return succeeds([&] { open(path); });
}

RegistryKey RegistryKeyFactory::create(const std::wstring& path) const
{
    std::wstring subkey;
    HKEY root = splitKeyPath(path, subkey);
    KeyHandle created;
    DWORD disposition = 0;
    LONG status = RegCreateKeyExW(root, subkey.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE, m_access, nullptr,
                                  created.receive(), &disposition);
    if (status == ERROR_ACCESS_DENIED)
        throw AccessDeniedException(status);
    if (status != ERROR_SUCCESS)
        throw CannotCreateKeyException(status);
    if (m_flush)
        RegFlushKey(created.get());
    created.reset();
    return open(path);
}

bool RegistryKeyReader::readDword(const std::wstring& valueName, DWORD& out)
{
    return succeeds([&] { out = RegistryValue(m_factory.open(m_path), valueName).getDword(); });
}

bool RegistryKeyReader::readString(const std::wstring& valueName, std::wstring& out)
{
    return succeeds([&] { out = RegistryValue(m_factory.open(m_path), valueName).getString(); });
}

bool RegistryKeyReader::readBool(const std::wstring& valueName, bool& out)
{
    DWORD number = 0;
    if (!readDword(valueName, number))
        return false;
    out = number != 0;
    return true;
}

bool RegistryKeyReader::keyExists(const std::wstring& path)
{
    return m_factory.exists(path);
}

// --- Free functions ------------------------------------------------------------

LONG readRawValue(HKEY key, const std::wstring& name, DWORD& type, std::vector<BYTE>& data)
{
    return readValueData(key, name, data, type);
}

LONG writeRawValue(HKEY key, const std::wstring& name, DWORD type, const std::vector<BYTE>& data)
{
    return RegSetValueExW(key, name.c_str(), 0, type, data.empty() ? nullptr : data.data(),
                          static_cast<DWORD>(data.size()));
}

LONG deleteRegistryKey(HKEY root, const wchar_t* subkey, REGSAM viewBits)
{
    if (getOsVersion() < OsVersion::vista && !isWow64())
        return RegDeleteKeyW(root, subkey);
    using DeleteKeyEx = LONG(WINAPI*)(HKEY, LPCWSTR, REGSAM, DWORD);
    Library advapi("Advapi32.dll", "RegDeleteKeyExW");
    return advapi.functionAs<DeleteKeyEx>()(root, subkey, viewBits, 0);
}

LONG createVolatileSubkey(HKEY root, const wchar_t* parentPath, const wchar_t* subkeyName, REGSAM access, HKEY* out)
{
    KeyHandle parent;
    LONG status = RegCreateKeyExW(root, parentPath, 0, nullptr, REG_OPTION_NON_VOLATILE, (access & viewMask) | KEY_WRITE,
                                  nullptr, parent.receive(), nullptr);
    if (status != ERROR_SUCCESS)
        return status;
    return RegCreateKeyExW(parent.get(), subkeyName, 0, nullptr, REG_OPTION_VOLATILE, access, nullptr, out, nullptr);
}

LONG writeVolatileString(HKEY root, const wchar_t* parentPath, const wchar_t* subkeyName, const wchar_t* name,
                         const std::wstring& value, REGSAM viewBits)
{
    KeyHandle key;
    LONG status = createVolatileSubkey(root, parentPath, subkeyName, KEY_SET_VALUE | (viewBits & viewMask), key.receive());
    if (status != ERROR_SUCCESS)
        return status;
    return RegSetValueExW(key.get(), name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                          static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
}

REGSAM nativeViewFlag()
{
    return isWow64() ? KEY_WOW64_64KEY : 0;
}

StringRead readStringValue(HKEY key, const std::wstring& name, const StringReadRule& rule)
{
    return readText(key, name, rule);
}

BasicStringRead<char> readStringValue(HKEY key, const std::string& name, const StringReadRule& rule)
{
    return readText(key, name, rule);
}

StringRead readStringValue(HKEY root, const std::wstring& subkeyPath, const std::wstring& name, REGSAM viewBits,
                           const StringReadRule& rule)
{
    KeyHandle key;
    StringRead read;
    read.error = RegOpenKeyExW(root, subkeyPath.c_str(), 0, KEY_READ | (viewBits & viewMask), key.receive());
    if (read.error != ERROR_SUCCESS)
        return read;
    return readStringValue(key.get(), name, rule);
}

bool readInstalledVersion(const wchar_t* subkeyPath, Version& out)
{
    // 24 units at the most, so a text that fills them has no room for its NUL.
    const DWORD versionBytes = 24 * sizeof(wchar_t);
    StringRead read =
        readStringValue(HKEY_LOCAL_MACHINE, subkeyPath, L"Version", nativeViewFlag(), StringReadRule{false, versionBytes});
    return read.value && read.value->size() < 24 && parseVersion(*read.value, out);
}

bool readCoreVersion(Version& out)
{
    return readInstalledVersion(kCoreSubkey, out);
}

bool readProductVersion(const wchar_t* product, Version& out)
{
    return readInstalledVersion((std::wstring(kProductsSubkey) + L"\\" + product).c_str(), out);
}

}}}} // namespace ts::sys::win32::registry
