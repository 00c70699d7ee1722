// The settings tree and the registry data store on the registry of the test prefix,
// each test below Software\Tessaline\<a component of its own>.
#include "unit/sys/testlogger.h"
#include "support/testsupport.h"

#include "sys/libutils/option.h"
#include "sys/libutils/win32/persisttreestate.h"
#include "sys/libutils/win32/registrydatastore.h"
#include "sys/libutils/win32/session.h"

#include <gtest/gtest.h>
#include <windows.h>
#include <string>

using namespace ts::sys;

namespace {

const bool kLoggerReady = (ts::test::testLogger(), true);

// Counts the impersonations it hands out; they do nothing.
class CountingFactory : public win32::UserImpersonatorFactory {
public:
    std::unique_ptr<win32::UserImpersonator> createImpersonator() override
    {
        ++created;
        return std::make_unique<win32::UserImpersonator>();
    }
    int created = 0;
};

class PersistTreeTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        m_component = "TsTest" + std::to_string(GetCurrentProcessId());
        m_path = "Software\\Tessaline\\" + m_component;
        clean();
    }
    void TearDown() override { clean(); }
    void clean()
    {
        for (HKEY root : {HKEY_LOCAL_MACHINE, HKEY_CURRENT_USER}) {
            RegDeleteTreeA(root, m_path.c_str());
            RegDeleteTreeA(root, ("Software\\Tessaline\\Network Persist Settings\\" + m_component).c_str());
        }
    }
    void setRaw(HKEY root, const std::string& subkey, const std::string& name, DWORD type, const void* data,
                DWORD size)
    {
        std::string path = m_path + (subkey.empty() ? "" : "\\" + subkey);
        ASSERT_EQ(ERROR_SUCCESS, RegSetKeyValueA(root, path.c_str(), name.c_str(), type, data, size));
    }
    void setText(HKEY root, const std::string& name, const std::string& text, const std::string& subkey = "")
    {
        setRaw(root, subkey, name, REG_SZ, text.c_str(), static_cast<DWORD>(text.size() + 1));
    }
    PersistSnapshot load(int scope)
    {
        PersistSnapshot snapshot;
        PersistTree(m_component, false).loadSnapshot(snapshot, scope);
        return snapshot;
    }

    std::string m_component;
    std::string m_path;
};

TEST_F(PersistTreeTest, OnlyStringValuesAndSubkeyNamesAreRead)
{
    const DWORD number = 5;
    setRaw(HKEY_LOCAL_MACHINE, "", "Number", REG_DWORD, &number, sizeof number);
    setText(HKEY_LOCAL_MACHINE, "Text", "hello");
    setText(HKEY_LOCAL_MACHINE, "Both", "value");
    setText(HKEY_LOCAL_MACHINE, "inner", "not read", "Both");
    PersistSnapshot snapshot = load(PersistMachine);
    EXPECT_FALSE(snapshot.hasEntry("Number"));
    EXPECT_EQ(7, snapshot.getInt("Number", 7));
    EXPECT_EQ("hello", snapshot.getValue("Text"));
    EXPECT_TRUE(snapshot.isBranch("Both")); // the subkey replaces the value of its name
    EXPECT_FALSE(snapshot.isLeaf("Both"));
    EXPECT_FALSE(snapshot.hasEntry("inner"));
    EXPECT_EQ(2u, snapshot.size());
    EXPECT_THROW(snapshot.getValue("Both"), PersistBadLeaf);
    EXPECT_THROW(snapshot.getValue("Missing"), PersistNotFound);
    EXPECT_EQ("fallback", snapshot.getString("Both", "fallback"));
    EXPECT_TRUE(load(PersistUser).empty());
}

TEST_F(PersistTreeTest, AValueNameOf256CharactersEndsTheValues)
{
    setText(HKEY_LOCAL_MACHINE, "a", "first");
    setText(HKEY_LOCAL_MACHINE, "m" + std::string(255, 'x'), "long");
    setText(HKEY_LOCAL_MACHINE, "z", "last");
    setText(HKEY_LOCAL_MACHINE, "inner", "x", "Sub");
    PersistSnapshot snapshot = load(PersistMachine);
    EXPECT_EQ("first", snapshot.getString("a", ""));
    EXPECT_FALSE(snapshot.hasEntry("z"));
    EXPECT_TRUE(snapshot.isBranch("Sub")); // subkeys are still read
}

TEST_F(PersistTreeTest, TypedAccessorsReadTheTexts)
{
    PersistSnapshot s;
    for (const char* yes : {"yes", "Yes", "true", "T"}) {
        s.setValue("b", yes);
        EXPECT_TRUE(s.getBool("b")) << yes;
    }
    for (const char* no : {"1", "on", ""}) {
        s.setValue("b", no);
        EXPECT_FALSE(s.getBool("b")) << no;
    }
    EXPECT_TRUE(s.getBool("missing", true));
    s.setValue("i", "12abc");
    EXPECT_EQ(12, s.getInt("i"));
    s.setValue("i", " -4");
    EXPECT_EQ(-4, s.getInt("i"));
    s.setValue("i", "abc");
    EXPECT_EQ(0, s.getInt("i", 9));
    s.erase("i");
    EXPECT_EQ(9, s.getInt("i", 9));
    EXPECT_STREQ("Persistent value not found", PersistNotFound().what());
    EXPECT_STREQ("Persistent name is not a leaf", PersistBadLeaf().what());
    EXPECT_STREQ("PersistFlags not valid for operation", PersistBadFlags().what());
    EXPECT_STREQ("Persistent access failure", PersistBadAccess().what());
}

TEST_F(PersistTreeTest, SavingCreatesThePathAndStoresTextsWithoutNul)
{
    PersistSnapshot out;
    out.setValue("Name", "value text");
    out.setValue("Empty", "");
    out["Branch"] = PersistNode{false, ""}; // subkeys are not written
    PersistTree(m_component, false).saveSnapshot(out, PersistMachine);
    // The length passed leaves out the NUL; RegSetValueExA adds it back when the byte
    // after the text is one (NT and Wine alike), so the text reads back unchanged.
    wchar_t data[32] = {};
    DWORD size = sizeof data, type = 0;
    HKEY raw = nullptr;
    ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExA(HKEY_LOCAL_MACHINE, m_path.c_str(), 0, KEY_READ, &raw));
    EXPECT_EQ(ERROR_SUCCESS, RegQueryValueExW(raw, L"Name", nullptr, &type, reinterpret_cast<BYTE*>(data), &size));
    RegCloseKey(raw);
    EXPECT_EQ(static_cast<DWORD>(REG_SZ), type);
    EXPECT_STREQ(L"value text", data);
    PersistSnapshot in = load(PersistMachine);
    EXPECT_EQ("value text", in.getValue("Name"));
    EXPECT_EQ("", in.getValue("Empty"));
    EXPECT_FALSE(in.hasEntry("Branch"));

    PersistTree(m_component, false).saveSnapshot(out, PersistNetwork);
    PersistSnapshot network;
    PersistTree(m_component, false).loadSnapshot(network, PersistNetwork);
    EXPECT_EQ("value text", network.getValue("Name"));
    HKEY key = nullptr;
    ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExA(HKEY_LOCAL_MACHINE,
                                           ("Software\\Tessaline\\Network Persist Settings\\" + m_component).c_str(),
                                           0, KEY_READ, &key));
    RegCloseKey(key);
}

TEST_F(PersistTreeTest, AKeyThatCannotBeCreatedIsAnAccessFailureWithItsName)
{
    // Below a volatile key no ordinary key can be made.
    HKEY parent = nullptr;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(HKEY_LOCAL_MACHINE, m_path.c_str(), 0, nullptr, REG_OPTION_VOLATILE,
                                             KEY_ALL_ACCESS, nullptr, &parent, nullptr));
    RegCloseKey(parent);
    PersistTree tree(m_component, false);
    PersistSnapshot out;
    out.setValue("x", "1");
    size_t before = ts::test::CaptureSink::lines().size();
    EXPECT_THROW(tree.child("Sub")->saveSnapshot(out, PersistMachine), PersistBadAccess);
    EXPECT_LT(before, ts::test::CaptureSink::lines().size());
    EXPECT_TRUE(ts::test::captureContains("\tPersistRegAccess\t"));
    EXPECT_TRUE(ts::test::captureContains("\tFailed to open reg key HKEY_LOCAL_MACHINE\\Software\\Tessaline\\" +
                                          m_component + "\\Sub for writing. Error Code : win32 0x000003fd: "));
    PersistTree volatileTree(m_component, true);
    volatileTree.child("Sub")->saveSnapshot(out, PersistMachine);
    EXPECT_EQ("1", [&] {
        PersistSnapshot in;
        volatileTree.child("Sub")->loadSnapshot(in, PersistMachine);
        return in.getString("x", "");
    }());
}

TEST_F(PersistTreeTest, RemovingIsNotRecursiveUnlessAsked)
{
    setText(HKEY_LOCAL_MACHINE, "Entry", "value");
    setText(HKEY_LOCAL_MACHINE, "v", "x", "Entry\\Deeper");
    PersistTree tree(m_component, false);
    EXPECT_NE(0, tree.removeEntry("Entry", PersistMachine, false));
    PersistSnapshot snapshot = load(PersistMachine);
    EXPECT_TRUE(snapshot.isBranch("Entry"));
    char data[8];
    DWORD size = sizeof data;
    EXPECT_EQ(ERROR_FILE_NOT_FOUND,
              RegGetValueA(HKEY_LOCAL_MACHINE, m_path.c_str(), "Entry", RRF_RT_ANY, nullptr, data, &size));
    EXPECT_EQ(0, tree.removeEntry("Entry", PersistMachine, true));
    EXPECT_FALSE(load(PersistMachine).hasEntry("Entry"));
    EXPECT_EQ(0, PersistTree("TsTestNoSuchComponent", false).removeEntry("x", PersistMachine, false));
}

TEST_F(PersistTreeTest, TheUserScopeIsReadWhileImpersonating)
{
    setText(HKEY_CURRENT_USER, "Who", "user");
    setText(HKEY_LOCAL_MACHINE, "Who", "machine");
    CountingFactory factory;
    std::unique_ptr<PersistTree::IState> state = openSettingsRoot(&factory, false)->childState(m_component);
    PersistSnapshot snapshot;
    state->loadSnapshot(snapshot, PersistUser);
    EXPECT_EQ("user", snapshot.getValue("Who"));
    EXPECT_EQ(1, factory.created);
    state->loadSnapshot(snapshot, PersistMachine);
    EXPECT_EQ("machine", snapshot.getValue("Who"));
    EXPECT_EQ(1, factory.created);
    PersistSnapshot out;
    out.setValue("Saved", "by user");
    state->saveSnapshot(out, PersistUser);
    EXPECT_EQ(2, factory.created);
    state->removeEntry("Who", PersistUser, false);
    EXPECT_EQ(3, factory.created);
    state->loadSnapshot(snapshot, PersistUser);
    EXPECT_EQ("by user", snapshot.getValue("Saved"));
    EXPECT_FALSE(snapshot.hasEntry("Who"));
    // Without a factory the console user is impersonated; under Wine that is this account.
    EXPECT_EQ("by user", load(PersistUser).getString("Saved", ""));
}

TEST_F(PersistTreeTest, OtherScopesAndModesAreRefused)
{
    PersistTree tree(m_component, false);
    PersistSnapshot snapshot;
    EXPECT_THROW(tree.loadSnapshot(snapshot, 3), PersistBadFlags);
    EXPECT_THROW(tree.saveSnapshot(snapshot, -1), PersistBadFlags);
    EXPECT_THROW(tree.removeEntry("x", 7, false), PersistBadFlags);
    EXPECT_THROW(openKeyPath(HKEY_LOCAL_MACHINE, {"Software"}, 4, false), PersistBadFlags);
    EXPECT_EQ("HKEY_LOCAL_MACHINE\\Software\\Tessaline\\Core", describeKey(0, {"Software", "Tessaline", "Core"}, {}));
    EXPECT_EQ("HKEY_CURRENT_USER\\a\\b", describeKey(1, {"a", "b"}, {"n"}));
    EXPECT_EQ("HKEY_LOCAL_MACHINE\\n", describeKey(2, {"a", "b"}, {"n"}));
    EXPECT_EQ("Persist Flag Error", describeKey(3, {"a"}, {"n"}));
}

TEST_F(PersistTreeTest, NetworkCopyLivesBesideTheComponents)
{
    auto core = openSettingsRoot(nullptr, false)->childState("Core");
    auto* state = dynamic_cast<PersistTreeState*>(core.get());
    ASSERT_NE(nullptr, state);
    EXPECT_EQ((std::vector<std::string>{"Software", "Tessaline", "Core"}), state->localPath());
    EXPECT_EQ((std::vector<std::string>{"Software", "Tessaline", "Network Persist Settings", "Core"}),
              state->networkPath());
}

TEST_F(PersistTreeTest, DataStoreReadsTheUserScopeFirstAndOptionsApplyTheirRules)
{
    setText(HKEY_LOCAL_MACHINE, "Shared", "machine");
    setText(HKEY_CURRENT_USER, "Shared", "user");
    setText(HKEY_LOCAL_MACHINE, "MachineOnly", "m");
    option::RegistryDataStore withUser(m_component, true), machineOnly(m_component, false);
    EXPECT_EQ(std::make_pair(int32_t(3), std::string("user")), withUser.read("Shared"));
    EXPECT_EQ(std::make_pair(int32_t(2), std::string("m")), withUser.read("MachineOnly"));
    EXPECT_EQ(std::make_pair(int32_t(2), std::string("machine")), machineOnly.read("Shared"));
    EXPECT_EQ(std::make_pair(int32_t(0), std::string("")), machineOnly.read("Missing"));

    struct Case { const char* text; bool flag; int32_t number; };
    for (const Case& c : {Case{"Y", true, 0}, Case{"t", true, 0}, Case{"2", true, 2}, Case{"on", false, 0},
                          Case{"0x10", false, 0}, Case{"no", false, 0}}) {
        setText(HKEY_LOCAL_MACHINE, "Setting", c.text);
        option::Bool flag("Setting", false, "", "");
        option::Int number("Setting", 3, "", "");
        option::loadSetting(flag, m_component, false);
        option::loadSetting(number, m_component, false);
        EXPECT_EQ(c.flag, flag.getValue()) << c.text;
        EXPECT_EQ(c.number, number.getValue()) << c.text;
        EXPECT_EQ(2, number.getOrigin());
    }
    option::String missing("Missing", "default", "", "");
    option::loadSetting(missing, m_component, true);
    EXPECT_EQ("default", missing.getValue());
    EXPECT_EQ(1, missing.getOrigin());
}

TEST_F(PersistTreeTest, DataStoreWritesOnlySavableValuesAndHasChildren)
{
    setText(HKEY_CURRENT_USER, "v", "1", "Child");
    option::RegistryDataStore store(m_component, true);
    store.write("Ignored", "x", 4);
    store.write("Kept", "y", 5);
    option::RegistryDataStore again(m_component, true);
    EXPECT_EQ(0, again.read("Ignored").first);
    EXPECT_EQ(std::make_pair(int32_t(3), std::string("y")), again.read("Kept"));
    EXPECT_TRUE(load(PersistMachine).empty()); // the user scope is the one in use
    option::DataStore* child = again.getChild("Child", false);
    ASSERT_NE(nullptr, child);
    EXPECT_EQ(child, again.getChild("Child", false));
    EXPECT_EQ("1", child->read("v").second);
    EXPECT_EQ(nullptr, again.getChild("Absent", false));
    again.remove("Kept");
    EXPECT_EQ(0, option::RegistryDataStore(m_component, true).read("Kept").first);
}

} // namespace

TEST(SettingScopes, PrivilegedProcessesTakeFileSettingsFromTheMachineScopeOnly)
{
    struct Case { bool privileged; const char* name; int scope; bool supplies; };
    const Case cases[] = {
        {true, "directory", PersistUser, false},     {true, "filename", PersistUser, false},
        {true, "Mode", PersistUser, false},          {true, "decorated filename", PersistUser, false},
        {true, "maxFileCount", PersistUser, false},  {true, "DebugLocation", PersistUser, false},
        {true, "verbosity", PersistUser, true},      {true, "line type", PersistUser, true},
        {true, "directory", PersistMachine, true},   {true, "DebugLocation", PersistMachine, true},
        {false, "directory", PersistUser, true},     {false, "DebugLocation", PersistUser, true},
    };
    for (const Case& c : cases)
        EXPECT_EQ(c.supplies, scopeMaySupply(c.privileged, c.scope, c.name)) << c.privileged << " " << c.name;

    PersistSnapshot user, machine;
    user.setValue("verbosity", "warn");
    user.setValue("directory", "C:\\Users\\u\\");
    user["Outputs"] = PersistNode{false, ""};
    machine.setValue("directory", "C:\\Logs\\");
    machine.setValue("verbosity", "error");
    std::vector<std::string> ignored;
    PersistSnapshot chosen = chooseSettingScopes(user, machine, true, ignored);
    EXPECT_EQ("warn", chosen.getValue("verbosity")); // levels still from the user
    EXPECT_EQ("C:\\Logs\\", chosen.getValue("directory"));
    EXPECT_TRUE(chosen.isBranch("Outputs"));
    EXPECT_EQ(std::vector<std::string>{"directory"}, ignored);
    ignored.clear();
    EXPECT_EQ("C:\\Users\\u\\", chooseSettingScopes(user, machine, false, ignored).getValue("directory"));
    EXPECT_EQ("error", chooseSettingScopes(PersistSnapshot(), machine, true, ignored).getValue("verbosity"));
    EXPECT_TRUE(ignored.empty());
}
