#include "sys/libutils/exception.h"
#include "sys/libutils/option.h"
#include "unit/sys/testlogger.h"

#include <gtest/gtest.h>
#include <map>
#include <sstream>

using namespace ts::sys;
using namespace ts::sys::option;

namespace {

// Captures what parseCommandLine prints on standard output.
class StdoutCapture {
public:
    StdoutCapture()
    {
        fflush(stdout);
        m_saved = _dup(_fileno(stdout));
        m_file = tmpfile();
        _dup2(_fileno(m_file), _fileno(stdout));
    }
    std::string text()
    {
        fflush(stdout);
        _dup2(m_saved, _fileno(stdout));
        _close(m_saved);
        std::string out;
        rewind(m_file);
        char buffer[512];
        size_t n;
        while ((n = fread(buffer, 1, sizeof buffer, m_file)) > 0)
            out.append(buffer, n);
        fclose(m_file);
        return out;
    }
private:
    int m_saved;
    FILE* m_file;
};

struct SetupGroup {
    GroupOption group{"Setup", "Install Tessaline software", ""};
    OptionInGroup<Flag> noreboot{group, "noreboot", ""};
    OptionInGroup<Flag> silent{group, "silent", ""};
    OptionInGroup<String> mupLogFile{group, "mupLogFile", ""};
    OptionInGroup<String> extractAsDriver{group, "extractAsDriver", ""};
};

// Parses and returns what was printed; `threw` tells whether MessageException 12 came.
std::string parse(SetupGroup& g, const std::string& line, bool& threw)
{
    StdoutCapture capture;
    threw = false;
    try {
        g.group.parseCommandLine(line);
    } catch (const MessageException& e) {
        threw = e.messageId() == 12;
        EXPECT_EQ(12u, e.messageId());
    }
    return capture.text();
}

// A data store of the tests: one map of values per scope, plus children.
class MemoryStore : public DataStore {
public:
    std::map<std::string, std::string> values;
    std::map<std::string, std::unique_ptr<MemoryStore>> children;
    std::vector<std::pair<std::string, std::string>> writes;
    std::vector<std::string> removed;
    int32_t origin = MachineScope;

    DataStore* getChild(const std::string& name, bool create) override
    {
        auto i = children.find(name);
        if (i != children.end())
            return i->second.get();
        if (!create)
            return nullptr;
        return (children[name] = std::make_unique<MemoryStore>()).get();
    }
    void reload() override {}
    void getValueNames(std::vector<std::string>& names) override
    {
        for (auto& v : values)
            names.push_back(v.first);
    }
    void getChildNames(std::vector<std::string>& names) override
    {
        for (auto& c : children)
            names.push_back(c.first);
    }
    std::pair<int32_t, std::string> read(const std::string& key) override
    {
        auto i = values.find(key);
        return i == values.end() ? std::make_pair(int32_t(NoValue), std::string()) : std::make_pair(origin, i->second);
    }
    void write(const std::string& key, const std::string& text, int32_t o) override
    {
        if (o == Savable)
            writes.emplace_back(key, text);
    }
    void remove(const std::string& key) override { removed.push_back(key); }
};

} // namespace

TEST(OptionParsing, EmptyLineSetsNothing)
{
    SetupGroup g;
    bool threw;
    EXPECT_EQ("", parse(g, "", threw));
    EXPECT_FALSE(threw);
    EXPECT_FALSE(g.silent.getValue());
    EXPECT_EQ(Default, g.silent.getOrigin());
}

TEST(OptionParsing, FlagsAndQuotedStringWithSpaces)
{
    SetupGroup g;
    bool threw;
    parse(g, "-silent  -mupLogFile \"C:\\Users\\Ann   Lee\\setup.log\" -noreboot", threw);
    EXPECT_FALSE(threw);
    EXPECT_TRUE(g.silent.getValue());
    EXPECT_TRUE(g.noreboot.getValue());
    // Runs of spaces collapse: splitting comes before joining.
    EXPECT_EQ("C:\\Users\\Ann Lee\\setup.log", g.mupLogFile.getValue());
    EXPECT_EQ(CommandLine, g.mupLogFile.getOrigin());
    EXPECT_EQ("\"C:\\Users\\Ann Lee\\setup.log\"", g.mupLogFile.getValueString());
}

TEST(OptionParsing, FlagGivenTwiceIsSetOnce)
{
    SetupGroup g;
    bool threw;
    parse(g, "-silent -silent", threw);
    EXPECT_FALSE(threw);
    EXPECT_TRUE(g.silent.getValue());
}

TEST(OptionParsing, UnknownTokensArePrintedAndThrowOnceAtTheEnd)
{
    SetupGroup g;
    bool threw;
    std::string printed = parse(g, "-Silent -silent --noreboot -mupLogFile x.log", threw);
    EXPECT_TRUE(threw);
    EXPECT_EQ("Unknown argument: -Silent\nUnknown argument: --noreboot\n", printed);
    // Options before and after the unknown tokens keep their values.
    EXPECT_TRUE(g.silent.getValue());
    EXPECT_FALSE(g.noreboot.getValue());
    EXPECT_EQ("x.log", g.mupLogFile.getValue());
}

TEST(OptionParsing, StringOptionAsLastTokenIsUnknown)
{
    SetupGroup g;
    bool threw;
    EXPECT_EQ("Unknown argument: -mupLogFile\n", parse(g, "-silent -mupLogFile", threw));
    EXPECT_TRUE(threw);
}

TEST(OptionParsing, StringTakesTheNextTokenEvenWhenItIsAFlag)
{
    SetupGroup g;
    bool threw;
    parse(g, "-mupLogFile -silent", threw);
    EXPECT_FALSE(threw);
    EXPECT_EQ("-silent", g.mupLogFile.getValue());
    EXPECT_FALSE(g.silent.getValue());
}

TEST(OptionParsing, PositionalWordsAndLoneDashAreIgnored)
{
    SetupGroup g;
    bool threw;
    EXPECT_EQ("", parse(g, "word - -silent other", threw));
    EXPECT_FALSE(threw);
    EXPECT_TRUE(g.silent.getValue());
}

TEST(OptionParsing, UnterminatedQuoteTakesTheRestOfTheLine)
{
    SetupGroup g;
    bool threw;
    parse(g, "-extractAsDriver \"C:\\drivers out -silent", threw);
    EXPECT_FALSE(threw);
    EXPECT_EQ("\"C:\\drivers out -silent", g.extractAsDriver.getValue());
    EXPECT_FALSE(g.silent.getValue());
}

TEST(OptionParsing, LoneQuoteValueIsAnError)
{
    SetupGroup g;
    EXPECT_THROW(g.group.parseCommandLine("-mupLogFile \""), std::out_of_range);
}

TEST(OptionParsing, TabsAreNotSeparators)
{
    SetupGroup g;
    bool threw;
    EXPECT_EQ("Unknown argument: -silent\t-noreboot\n", parse(g, "-silent\t-noreboot", threw));
    EXPECT_TRUE(threw);
}

TEST(OptionValues, IntAndBoolParseFromTheCommandLine)
{
    GroupOption group("g", "", "");
    OptionInGroup<Int> level(group, "level", 3, "", "");
    OptionInGroup<Bool> fast(group, "fast", false, "", "");
    group.parseCommandLine("-level 0x10 -fast yes");
    EXPECT_EQ(16, level.getValue());
    EXPECT_TRUE(fast.getValue());
    EXPECT_EQ("-level 16 -fast true ", group.getCommandLine());
}

TEST(OptionValues, LoadFromStoreUsesTheStoreRules)
{
    MemoryStore store;
    store.values = {{"AssertBehaviour", "0x10"}, {"unique", "Yes"}, {"plain", "no"}, {"count", "12"}};
    Int behaviour("AssertBehaviour", 3, "", "");
    Bool unique("unique", false, "", "");
    Flag plain("plain", "");
    Int count("count", 0, "", "");
    Int missing("missing", 7, "", "");
    for (Option* o : std::initializer_list<Option*>{&behaviour, &unique, &plain, &count, &missing})
        o->load(store);
    EXPECT_EQ(0, behaviour.getValue()); // no hexadecimal from a store
    EXPECT_EQ(MachineScope, behaviour.getOrigin());
    EXPECT_TRUE(unique.getValue());
    EXPECT_FALSE(plain.getValue());
    EXPECT_EQ(12, count.getValue());
    EXPECT_EQ(7, missing.getValue());
    EXPECT_EQ(Default, missing.getOrigin());
}

TEST(OptionValues, SaveWritesOnlySavableOrigins)
{
    MemoryStore store;
    String name("name", "value", "", "");
    name.save(store);
    EXPECT_TRUE(store.writes.empty());
    name.removeFrom(store);
    EXPECT_EQ(std::vector<std::string>{"name"}, store.removed);
}

TEST(OptionValues, BooleanTextRule)
{
    EXPECT_TRUE(isTrueText("true", false));
    EXPECT_TRUE(isTrueText("Yes", false));
    EXPECT_TRUE(isTrueText("1", false));
    EXPECT_TRUE(isTrueText("-2", true));
    EXPECT_FALSE(isTrueText("false", false));
    EXPECT_FALSE(isTrueText("no", true));
    EXPECT_FALSE(isTrueText("0", true));
    EXPECT_FALSE(isTrueText("", true));
}

TEST(OptionGroup, CloneThrowsInternalError)
{
    GroupOption group("Setup", "", "");
    try {
        group.clone();
        FAIL() << "no exception";
    } catch (const InternalError& e) {
        EXPECT_NE(std::wstring::npos, e.getText().find(L"option::GroupOption should never be cloned"));
    }
}

TEST(OptionGroup, DuplicateNameIsAnAssertionFailureAndStillAdded)
{
    ts::test::testLogger();
    ts::test::testSettings().setMachine("TessalineManager", "AssertBehaviour", "1"); // log only
    const size_t before = ts::test::decodedCapture().size();
    GroupOption group("g", "", "");
    OptionInGroup<Flag> first(group, "x", "");
    OptionInGroup<Flag> second(group, "x", "");
    ts::test::testSettings().eraseMachine("TessalineManager", "AssertBehaviour");
    group.parseCommandLine("-x");
    EXPECT_TRUE(first.getValue()); // the first member of that name accepts
    EXPECT_FALSE(second.getValue());

    const std::vector<std::string> lines = ts::test::decodedCapture();
    ASSERT_EQ(before + 1, lines.size());
    const std::string& line = lines.back();
    EXPECT_NE(std::string::npos, line.find("\tAssertLogger\t")) << line;
    EXPECT_NE(std::string::npos, line.find("\tERROR\t")) << line;
    const std::string text = "\tAssert failure: option.getName() != (*i)->getName() at line ";
    ASSERT_NE(std::string::npos, line.find(text)) << line;
    const std::string where = line.substr(line.find(text) + text.size());
    const size_t digits = where.find_first_not_of("0123456789");
    ASSERT_NE(0u, digits) << line;
    ASSERT_EQ(" in file ", where.substr(digits, 9)) << line;
    const std::string file = where.substr(digits + 9);
    ASSERT_GE(file.size(), 19u) << line;
    EXPECT_EQ("option.cpp", file.substr(file.size() - 10)) << line;
    EXPECT_EQ("libutils", file.substr(file.size() - 19, 8)) << line;
}

TEST(OptionGroup, UsageAlignsDescriptions)
{
    GroupOption group("Setup", "", "");
    OptionInGroup<Flag> a(group, "a", "first");
    OptionInGroup<Flag> longer(group, "longer", "second");
    std::ostringstream out;
    group.printUsage(out, 1, group.getUsageWidth());
    EXPECT_EQ("\n  Setup\n  -a        first\n  -longer   second\n", out.str());
}

TEST(OptionGroup, LoadsEveryMemberFromTheSameStore)
{
    MemoryStore store;
    store.values = {{"silent", "y"}, {"mupLogFile", "c:\\log.txt"}};
    SetupGroup g;
    g.group.load(store);
    EXPECT_TRUE(g.silent.getValue());
    EXPECT_EQ("c:\\log.txt", g.mupLogFile.getValue());
}
