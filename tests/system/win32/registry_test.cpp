#include "sys/libutils/win32/osinfo.h"
#include "sys/libutils/win32/registry.h"

#include <gtest/gtest.h>
#include <windows.h>
#include <algorithm>
#include <typeinfo>

namespace win32 = ts::sys::win32;
namespace registry = ts::sys::win32::registry;
using registry::RegistryKey;
using registry::RegistryKeyFactory;
using registry::RegistryValue;

namespace {

// Each test works below a key of its own, removed afterwards with the plain API.
class RegistryTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        m_subkey = L"Software\\TessalineTest\\Registry-" + std::to_wstring(GetCurrentProcessId());
        m_base = L"HKCU\\" + m_subkey;
        RegDeleteTreeW(HKEY_CURRENT_USER, m_subkey.c_str());
        m_factory.create(m_base);
    }
    void TearDown() override
    {
        RegDeleteTreeW(HKEY_CURRENT_USER, m_subkey.c_str());
        RegDeleteKeyW(HKEY_CURRENT_USER, L"Software\\TessalineTest");
    }
    std::wstring path(const std::wstring& relative) const { return m_base + L"\\" + relative; }
    void setRaw(const std::wstring& keyPath, const wchar_t* name, DWORD type, const void* data, DWORD size)
    {
        RegistryKey key = m_factory.open(keyPath);
        ASSERT_EQ(ERROR_SUCCESS, RegSetValueExW(key.handle(), name, 0, type, static_cast<const BYTE*>(data), size));
    }

    std::wstring m_subkey;
    std::wstring m_base;
    RegistryKeyFactory m_factory;
};

template <typename Expected, typename Action>
void expectThrows(Action action, uint32_t code, const char* what)
{
    try {
        action();
        ADD_FAILURE() << "no exception: " << what;
    } catch (const registry::RegistryException& e) {
        EXPECT_EQ(typeid(Expected), typeid(e)) << what;
        EXPECT_EQ(code, e.windowsError()) << what;
    }
}

class RecordingObserver : public RegistryKey::DeleteObserver {
public:
    bool keyDeleted(const std::wstring& keyPath) override
    {
        deleted.push_back(keyPath);
        if (keyPath == createUnderParentOf) {
            std::wstring parent = keyPath.substr(5, keyPath.find_last_of(L'\\') - 5);
            HKEY key = nullptr;
            RegCreateKeyExW(HKEY_CURRENT_USER, (parent + L"\\Late").c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                            &key, nullptr);
            RegCloseKey(key);
        }
        return false;
    }
    std::vector<std::wstring> deleted;
    std::wstring createUnderParentOf;
};

} // namespace

TEST_F(RegistryTest, RootAloneOpensTheRootAndLeavesItOpen)
{
    {
        RegistryKey root(L"HKLM", KEY_READ);
        EXPECT_EQ(L"HKLM", root.getKeyName());
        EXPECT_EQ(L"HKLM", root.getKeyPath());
        EXPECT_NE(nullptr, root.handle());
        EXPECT_TRUE(root.hasSubkey(L"SOFTWARE"));
        RegistryKey copy(root);
        EXPECT_TRUE(copy.hasSubkey(L"SOFTWARE"));
        RegistryKey users(L"HKEY_USERS", KEY_READ);
        EXPECT_EQ(L"HKEY_USERS", users.getKeyName());
    }
    // The predefined handle is the process's own and still works.
    HKEY software = nullptr;
    ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE", 0, KEY_READ, &software));
    RegCloseKey(software);
}

TEST_F(RegistryTest, UserTokenOpensTheUsersClassesRoot)
{
    HANDLE token = nullptr;
    ASSERT_TRUE(OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY | TOKEN_DUPLICATE | TOKEN_IMPERSONATE, &token));
    {
        RegistryKey classes(L"HKCR\\CLSID", KEY_READ, token);
        EXPECT_EQ(L"CLSID", classes.getKeyName());
        RegistryKey copy(classes);
        EXPECT_NE(nullptr, copy.handle());
    }
    CloseHandle(token);
    // The classes root is still the process's to use.
    HKEY clsid = nullptr;
    ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExW(HKEY_CLASSES_ROOT, L"CLSID", 0, KEY_READ, &clsid));
    RegCloseKey(clsid);
}

TEST_F(RegistryTest, OpenFailuresHaveTheirOwnExceptions)
{
    expectThrows<registry::KeyDoesNotExistException>([&] { m_factory.open(path(L"Missing")); }, 2, "missing key");
    expectThrows<registry::KeyDoesNotExistException>([] { RegistryKey(L"HKLM\\SOFTWARE\\TessalineNoSuchKey"); }, 2,
                                                       "missing key under HKLM");
    for (const wchar_t* bad : {L"hklm\\SOFTWARE", L"HKEY_CURRENT_CONFIG\\System", L""})
        expectThrows<registry::InvalidKeyNameException>([&] { RegistryKey key(bad); }, 3, "invalid root");
    expectThrows<registry::InvalidKeyNameException>([&] { m_factory.create(L"HKCC\\Software"); }, 3, "create root");
    EXPECT_FALSE(m_factory.exists(path(L"Missing")));
    EXPECT_FALSE(m_factory.exists(L"hklm"));
    EXPECT_TRUE(m_factory.exists(m_base));
    // Without a query right on the handle, enumeration is refused.
    RegistryKey queryOnly(m_base, KEY_QUERY_VALUE);
    m_factory.create(path(L"Child"));
    expectThrows<registry::CannotEnumerateKeyException>([&] { queryOnly.subkeys(); }, ERROR_ACCESS_DENIED,
                                                         "enumerate");
}

TEST_F(RegistryTest, CreateFailsUnderAVolatileKey)
{
    HKEY raw = nullptr;
    ASSERT_EQ(0, registry::createVolatileSubkey(HKEY_CURRENT_USER, m_subkey.c_str(), L"Volatile", KEY_ALL_ACCESS, &raw));
    RegCloseKey(raw);
    expectThrows<registry::CannotCreateKeyException>([&] { m_factory.create(path(L"Volatile\\Lasting")); },
                                                      ERROR_CHILD_MUST_BE_VOLATILE, "non-volatile below volatile");
    // The parent stays an ordinary key.
    EXPECT_NO_THROW(m_factory.create(path(L"Ordinary")));
    HKEY again = nullptr;
    EXPECT_EQ(0, registry::createVolatileSubkey(HKEY_CURRENT_USER, m_subkey.c_str(), L"Volatile", KEY_READ, &again));
    RegCloseKey(again);
}

TEST_F(RegistryTest, ChildPathsNamesAndCopies)
{
    RegistryKey b = m_factory.create(path(L"A\\B"));
    EXPECT_EQ(L"B", b.getKeyName());
    EXPECT_EQ(path(L"A\\B"), b.getKeyPath());
    m_factory.create(path(L"A\\B\\C"));
    RegistryKey c(b, L"C");
    EXPECT_EQ(path(L"A\\B\\C"), c.getKeyPath());
    EXPECT_EQ(L"C", c.getKeyName());
    RegistryKey slashParent(m_base + L"\\A\\", KEY_ALL_ACCESS);
    EXPECT_EQ(path(L"A\\B"), RegistryKey(slashParent, L"B").getKeyPath());
    RegistryKey deeper(m_factory.open(m_base), L"A\\B\\C");
    EXPECT_EQ(L"C", deeper.getKeyName());

    RegistryKey copy(b);
    EXPECT_NE(b.handle(), copy.handle());
    EXPECT_EQ(b.getKeyPath(), copy.getKeyPath());
    {
        RegistryKey original = m_factory.open(path(L"A"));
        b = original;
    }
    EXPECT_EQ(L"A", b.getKeyName());
    EXPECT_TRUE(b.hasSubkey(L"B"));
    EXPECT_TRUE(copy.hasSubkey(L"C"));
    EXPECT_FALSE(copy.hasSubkey(L"D"));
}

TEST_F(RegistryTest, EnumerationGrowsForLongNames)
{
    std::wstring longName(255, L'k');  // the longest a key name may be
    std::vector<std::wstring> names = {L"alpha", longName, L"b", L"sixteen-chars-xx"};
    for (const std::wstring& name : names)
        m_factory.create(path(name));
    std::unique_ptr<registry::SubkeyList> list = m_factory.open(m_base).subkeys();
    EXPECT_EQ(m_base, list->parentPath);
    std::vector<std::wstring> found = list->names();
    std::sort(found.begin(), found.end());
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, found);
    for (const RegistryKey& key : list->keys)
        EXPECT_EQ(path(key.getKeyName()), key.getKeyPath());

    RegistryKey key = m_factory.open(m_base);
    std::wstring longValue(200, L'v');
    key.createValue(longValue, 1);
    key.createValue(L"", L"default");
    key.createValue(L"short", L"x");
    std::unique_ptr<registry::ValueList> values = key.values();
    std::vector<std::wstring> valueNames;
    for (const RegistryValue& value : *values) {
        valueNames.push_back(value.getValueName());
        EXPECT_EQ(m_base, value.getKeyPath());
    }
    std::sort(valueNames.begin(), valueNames.end());
    EXPECT_EQ((std::vector<std::wstring>{L"", L"short", longValue}), valueNames);
    EXPECT_TRUE(m_factory.open(path(L"b")).subkeys()->keys.empty());
    EXPECT_TRUE(m_factory.open(path(L"b")).values()->empty());
}

TEST_F(RegistryTest, ValuesReadTheirDataWhateverTheType)
{
    RegistryKey key = m_factory.open(m_base);
    EXPECT_EQ(0x12345678u, key.createValue(L"dword", 0x12345678).getDword());
    EXPECT_EQ(L"text", key.createValue(L"string", L"text").getString());
    std::wstring big(100000, L'x');
    big[50000] = L'y';
    EXPECT_EQ(big, key.createValue(L"big", big).getString());

    const wchar_t noNul[] = {L'a', L'b', L'c'};
    setRaw(m_base, L"noNul", REG_SZ, noNul, sizeof noNul);
    EXPECT_EQ(L"abc", RegistryValue(key, L"noNul").getString());
    const wchar_t multi[] = L"first\0second\0";
    setRaw(m_base, L"multi", REG_MULTI_SZ, multi, sizeof multi);
    EXPECT_EQ(L"first", RegistryValue(key, L"multi").getString());

    unsigned long long qword = 7;
    setRaw(m_base, L"qword", REG_QWORD, &qword, sizeof qword);
    expectThrows<registry::CannotReadValueException>([&] { RegistryValue(key, L"qword").getDword(); },
                                                     ERROR_INTERNAL_ERROR, "qword as dword");
    const BYTE binary[] = {0x04, 0x03, 0x02, 0x01};
    setRaw(m_base, L"binary", REG_BINARY, binary, sizeof binary);
    EXPECT_EQ(0x01020304u, RegistryValue(key, L"binary").getDword());
    expectThrows<registry::CannotReadValueException>([&] { RegistryValue(key, L"string").getDword(); },
                                                     ERROR_INTERNAL_ERROR, "long string as dword");

    expectThrows<registry::CannotReadValueException>([&] { RegistryValue(key, L"missing"); }, 2, "missing value");
    EXPECT_TRUE(key.hasValue(L"dword"));
    EXPECT_FALSE(key.hasValue(L"missing"));
    // A value object read after the value went away.
    RegistryValue gone(key, L"dword");
    RegDeleteValueW(key.handle(), L"dword");
    expectThrows<registry::CannotReadValueException>([&] { gone.getDword(); }, 2, "read after delete");
    expectThrows<registry::CannotReadValueException>([&] { RegistryValue copy(gone); }, 2, "copy after delete");
}

TEST_F(RegistryTest, WritesAndDeletes)
{
    RegistryKey key = m_factory.open(m_base);
    RegistryValue value = key.createValue(L"number", 1);
    EXPECT_TRUE(value.set(L"now text"));
    EXPECT_EQ(L"now text", RegistryValue(key, L"number").getString());
    DWORD type = 0;
    DWORD size = 0;
    RegQueryValueExW(key.handle(), L"number", nullptr, &type, nullptr, &size);
    EXPECT_EQ(static_cast<DWORD>(REG_SZ), type);
    EXPECT_EQ(18u, size) << "the terminating NUL is written";
    EXPECT_TRUE(value.set(42));
    EXPECT_EQ(42u, value.getDword());

    RegistryValue copy(value);
    copy.deleteValue();
    EXPECT_FALSE(key.hasValue(L"number"));
    expectThrows<registry::CannotDeleteValueException>([&] { value.deleteValue(); }, 2, "delete twice");

    // A write through a read-only key fails without throwing, and says so.
    RegistryKeyFactory reader(KEY_READ);
    RegistryKey readOnly = reader.open(m_base);
    RegistryValue refused = readOnly.createValue(L"refused", 5);
    EXPECT_FALSE(refused.set(6));
    EXPECT_FALSE(key.hasValue(L"refused"));

    RegistryKeyFactory flushing(KEY_ALL_ACCESS, nullptr, true);
    RegistryKey flushed = flushing.create(path(L"Flushed"));
    flushed.createValue(L"v", L"x");
    EXPECT_EQ(L"x", RegistryValue(flushed, L"v").getString());
    flushed.deleteKey();
    EXPECT_FALSE(m_factory.exists(path(L"Flushed")));
    m_factory.create(path(L"Parent\\Child"));
    expectThrows<registry::CannotDeleteKeyException>([&] { m_factory.open(path(L"Parent")).deleteKey(); },
                                                      ERROR_ACCESS_DENIED, "key with subkeys");
}

TEST_F(RegistryTest, DeleteTreeGoesDepthFirstAndTellsTheObserver)
{
    for (const wchar_t* name : {L"T\\A\\A1", L"T\\B"})
        m_factory.create(path(name));
    m_factory.open(path(L"T\\A\\A1")).createValue(L"v", 1);
    RecordingObserver observer;
    m_factory.open(path(L"T")).deleteTree(&observer);
    EXPECT_EQ((std::vector<std::wstring>{path(L"T\\A\\A1"), path(L"T\\A"), path(L"T\\B"), path(L"T")}),
              observer.deleted);
    EXPECT_FALSE(m_factory.exists(path(L"T")));

    m_factory.create(path(L"U\\X"));
    m_factory.open(path(L"U")).deleteTree(nullptr);
    EXPECT_FALSE(m_factory.exists(path(L"U")));
}

TEST_F(RegistryTest, DeleteTreeStopsAtTheFirstFailure)
{
    for (const wchar_t* name : {L"T\\A\\A1", L"T\\B"})
        m_factory.create(path(name));
    // Once A1 is gone a new subkey of A appears, so deleting A fails.
    RecordingObserver observer;
    observer.createUnderParentOf = path(L"T\\A\\A1");
    expectThrows<registry::CannotDeleteKeyException>([&] { m_factory.open(path(L"T")).deleteTree(&observer); },
                                                      ERROR_ACCESS_DENIED, "delete tree");
    EXPECT_EQ(std::vector<std::wstring>{path(L"T\\A\\A1")}, observer.deleted);
    EXPECT_FALSE(m_factory.exists(path(L"T\\A\\A1")));
    EXPECT_TRUE(m_factory.exists(path(L"T\\A\\Late")));
    EXPECT_TRUE(m_factory.exists(path(L"T\\B")));
}

TEST_F(RegistryTest, VolatileSubkeyBelowAnOrdinaryParent)
{
    HKEY raw = nullptr;
    std::wstring parent = m_subkey + L"\\Reboot";
    ASSERT_EQ(0, registry::createVolatileSubkey(HKEY_CURRENT_USER, parent.c_str(), L"Flags", KEY_ALL_ACCESS, &raw));
    win32::KeyHandle child(raw);
    DWORD one = 1;
    EXPECT_EQ(0, RegSetValueExW(child.get(), L"RebootNeededNow", 0, REG_DWORD, reinterpret_cast<BYTE*>(&one), 4));
    HKEY probe = nullptr;
    EXPECT_EQ(ERROR_CHILD_MUST_BE_VOLATILE, RegCreateKeyExW(child.get(), L"Lasting", 0, nullptr, 0, KEY_ALL_ACCESS,
                                                            nullptr, &probe, nullptr));
    EXPECT_EQ(0, RegCreateKeyExW(HKEY_CURRENT_USER, (parent + L"\\Lasting").c_str(), 0, nullptr, 0, KEY_ALL_ACCESS,
                                 nullptr, &probe, nullptr));
    RegCloseKey(probe);
    EXPECT_EQ(ERROR_INVALID_HANDLE, registry::createVolatileSubkey(nullptr, L"x", L"y", KEY_ALL_ACCESS, &raw));
}

TEST_F(RegistryTest, StringReadsByRule)
{
    using registry::StringReadRule;
    const std::wstring long3000(3000, L'x');
    const DWORD number = 7;
    const struct {
        const wchar_t* name;
        DWORD type;
        const void* data;
        DWORD size;
        StringReadRule rule;
        const wchar_t* expected; // null: no text
        LONG error;
    } cases[] = {
        {L"sz", REG_SZ, L"abc", 8, {}, L"abc", 0},
        {L"long", REG_SZ, long3000.c_str(), 6002, {}, long3000.c_str(), 0},
        {L"number", REG_DWORD, &number, 4, {}, nullptr, ERROR_INVALID_DATA},
        {L"anyType", REG_DWORD, &number, 4, {true}, L"\x0007", 0},
        {L"tooLong", REG_SZ, L"abcd", 10, {false, 8}, nullptr, ERROR_MORE_DATA},
        {L"fits", REG_SZ, L"abc", 8, {false, 8}, L"abc", 0},
        {L"odd", REG_SZ, "a\0b\0c", 5, {}, L"abc", 0},
        {L"missing", REG_NONE, nullptr, 0, {}, nullptr, ERROR_FILE_NOT_FOUND},
    };
    RegistryKey key = m_factory.open(m_base);
    for (const auto& c : cases) {
        if (c.data)
            setRaw(m_base, c.name, c.type, c.data, c.size);
        registry::StringRead read = registry::readStringValue(key.handle(), c.name, c.rule);
        EXPECT_EQ(c.error, read.error) << c.name;
        EXPECT_EQ(c.expected != nullptr, read.value.has_value()) << c.name;
        if (c.expected && read.value) {
            EXPECT_EQ(c.expected, *read.value) << c.name;
        }
    }
    EXPECT_EQ("abc", registry::readStringValue(key.handle(), std::string("sz")).value.value_or(""));
    EXPECT_EQ(L"abc", registry::readStringValue(HKEY_CURRENT_USER, m_subkey, L"sz", 0).value.value_or(L""));
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, registry::readStringValue(HKEY_CURRENT_USER, m_subkey + L"\\None", L"sz", 0).error);
}

TEST_F(RegistryTest, ReaderNeverThrows)
{
    RegistryKey key = m_factory.open(m_base);
    key.createValue(L"two", 2);
    key.createValue(L"zero", 0);
    key.createValue(L"text", L"hello");
    registry::RegistryKeyReader reader(m_base);
    bool flag = false;
    EXPECT_TRUE(reader.readBool(L"two", flag));
    EXPECT_TRUE(flag);
    EXPECT_TRUE(reader.readBool(L"zero", flag));
    EXPECT_FALSE(flag);
    flag = true;
    EXPECT_FALSE(reader.readBool(L"missing", flag));
    EXPECT_TRUE(flag);
    std::wstring text = L"unchanged";
    EXPECT_TRUE(reader.readString(L"text", text));
    EXPECT_EQ(L"hello", text);
    DWORD number = 9;
    EXPECT_FALSE(reader.readDword(L"text", number));
    EXPECT_EQ(9u, number);
    EXPECT_TRUE(reader.keyExists(m_base));
    EXPECT_FALSE(reader.keyExists(L"two"));
    reader.setKeyPath(path(L"Missing"));
    EXPECT_FALSE(reader.readDword(L"two", number));
    reader.setKeyPath(L"bad root");
    EXPECT_FALSE(reader.readString(L"text", text));
    EXPECT_EQ(L"hello", text);
}

// HKLM\SOFTWARE is split into two views on 64-bit Windows; HKCU\Software is not.
class RegistryViewTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        m_name = L"TessalineTest-" + std::to_wstring(GetCurrentProcessId());
        removeAll();
    }
    void TearDown() override { removeAll(); }
    void removeAll()
    {
        for (REGSAM view : {KEY_WOW64_64KEY, KEY_WOW64_32KEY}) {
            HKEY software = nullptr;
            if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE", 0, KEY_ALL_ACCESS | view, &software) == 0) {
                RegDeleteTreeW(software, m_name.c_str());
                RegCloseKey(software);
            }
        }
    }
    bool existsIn(REGSAM view, const std::wstring& subkey)
    {
        HKEY key = nullptr;
        if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, subkey.c_str(), 0, KEY_READ | view, &key) != 0)
            return false;
        RegCloseKey(key);
        return true;
    }
    std::wstring m_name;
};

TEST_F(RegistryViewTest, NativeViewFlagChoosesTheView)
{
    EXPECT_EQ(win32::isWow64() ? static_cast<REGSAM>(KEY_WOW64_64KEY) : 0, registry::nativeViewFlag());
    std::wstring native = L"SOFTWARE\\" + m_name + L"\\Native";
    std::wstring plain = L"SOFTWARE\\" + m_name + L"\\Plain";
    RegistryKeyFactory nativeFactory(KEY_ALL_ACCESS | registry::nativeViewFlag());
    RegistryKeyFactory plainFactory;
    nativeFactory.create(L"HKLM\\" + native);
    plainFactory.create(L"HKLM\\" + plain);
    EXPECT_TRUE(existsIn(KEY_WOW64_64KEY, native));
    EXPECT_TRUE(existsIn(KEY_WOW64_32KEY, plain));
    if (win32::isWow64()) {
        EXPECT_FALSE(existsIn(KEY_WOW64_32KEY, native));
        EXPECT_FALSE(existsIn(KEY_WOW64_64KEY, plain));
        EXPECT_TRUE(existsIn(KEY_WOW64_64KEY, L"SOFTWARE\\Wow6432Node\\" + m_name + L"\\Plain"));
    }
    // Deletion keeps to the view the key was opened in.
    nativeFactory.open(L"HKLM\\" + native).deleteTree(nullptr);
    EXPECT_FALSE(existsIn(KEY_WOW64_64KEY, native));
    EXPECT_TRUE(existsIn(KEY_WOW64_32KEY, plain));
    plainFactory.open(L"HKLM\\SOFTWARE\\" + m_name).deleteTree(nullptr);
    EXPECT_FALSE(existsIn(KEY_WOW64_32KEY, plain));
}

TEST_F(RegistryViewTest, InstalledVersionsComeFromTheNativeView)
{
    std::wstring subkey = L"SOFTWARE\\" + m_name + L"\\Core";
    RegistryKey key = RegistryKeyFactory(KEY_ALL_ACCESS | registry::nativeViewFlag()).create(L"HKLM\\" + subkey);
    ts::sys::Version version;
    EXPECT_FALSE(registry::readInstalledVersion(subkey.c_str(), version)) << "no value yet";
    key.createValue(L"Version", L"7.9.1488.0");
    ASSERT_TRUE(registry::readInstalledVersion(subkey.c_str(), version));
    EXPECT_EQ(ts::sys::Version(7, 9, 1488, 0), version);
    key.createValue(L"Version", L"00001.00002.00003.00004");  // 23 characters
    ASSERT_TRUE(registry::readInstalledVersion(subkey.c_str(), version));
    EXPECT_EQ(ts::sys::Version(1, 2, 3, 4), version);

    ts::sys::Version untouched(5, 5, 5, 5);
    for (const wchar_t* text : {L"000001.00002.00003.00004", L"not a version", L""}) {
        key.createValue(L"Version", text);
        version = untouched;
        EXPECT_FALSE(registry::readInstalledVersion(subkey.c_str(), version)) << text;
        EXPECT_EQ(untouched, version);
    }
    // 24 characters without a terminating NUL.
    std::wstring full = L"1.2.3.4" + std::wstring(17, L' ');
    RegSetValueExW(key.handle(), L"Version", 0, REG_SZ, reinterpret_cast<const BYTE*>(full.data()), 48);
    EXPECT_FALSE(registry::readInstalledVersion(subkey.c_str(), version));
    key.createValue(L"Version", 7);
    EXPECT_FALSE(registry::readInstalledVersion(subkey.c_str(), version)) << "a number";
    if (win32::isWow64()) {
        RegistryKey other = RegistryKeyFactory(KEY_ALL_ACCESS | KEY_WOW64_32KEY).create(L"HKLM\\" + subkey);
        other.createValue(L"Version", L"1.0.0.0");
        EXPECT_FALSE(registry::readInstalledVersion(subkey.c_str(), version)) << "the 32-bit view is not read";
    }
    EXPECT_FALSE(registry::readInstalledVersion(L"SOFTWARE\\TessalineNoSuchKey", version));
}
