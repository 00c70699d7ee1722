// Typed, named options: parsed from the command line, loaded from and saved to a
// data store. Names match exactly and case-sensitively.
#pragma once
#include <cstdint>
#include <memory>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

namespace ts { namespace sys { namespace option {

// Where an option's value came from.
enum ValueOrigin : int32_t {
    NoValue = 0,      // DataStore::read only
    Default = 1,
    MachineScope = 2,
    UserScope = 3,
    CommandLine = 4,
    Savable = 5,      // the only origin saveTo writes
};

class DataStore {
public:
    // Non-owning; null when there is no such sub-store (and `create` is false).
    virtual DataStore* getChild(const std::string& name, bool create) = 0;
    virtual ~DataStore() = default;
    virtual void reload() = 0;
    virtual void getValueNames(std::vector<std::string>& names) = 0;
    virtual void getChildNames(std::vector<std::string>& names) = 0;
    virtual std::pair<int32_t, std::string> read(const std::string& key) = 0;
    virtual void write(const std::string& key, const std::string& text, int32_t origin) = 0;
    virtual void remove(const std::string& key) = 0;
};

class Option {
public:
    Option(std::string name, std::string description, std::string valueLabel);
    virtual ~Option() = default;
    virtual Option* clone() const = 0;
    // tokens[0] is the option's own token; count is the number of tokens from there to
    // the end. On return count holds the tokens consumed (0: not accepted).
    virtual void parse(int& count, char** tokens) = 0;
    virtual std::string getValueString() const = 0;
    virtual std::string getCommandLine() const = 0;
    virtual void load(DataStore& store) { loadFrom(store, m_name); }
    virtual void loadFrom(DataStore& store, const std::string& key) = 0;
    virtual void save(DataStore& store) { saveTo(store, m_name); }
    virtual void saveTo(DataStore& store, const std::string& key) = 0;
    virtual void removeFrom(DataStore& store) = 0;
    virtual void printUsage(std::ostream& out, int indent, int width) const;
    virtual int getUsageWidth() const;

    std::string getName() const { return m_name; }
    int32_t getOrigin() const { return m_origin; }

protected:
    std::string m_name;
    std::string m_description;
    std::string m_valueLabel;
    int32_t m_origin = Default;
};

class SingleOption : public Option {
public:
    using Option::Option;
    void loadFrom(DataStore& store, const std::string& key) override;
    void saveTo(DataStore& store, const std::string& key) override;
    void removeFrom(DataStore& store) override;

protected:
    // Sets the value from a store's text.
    virtual void setFromText(const std::string& text) = 0;
    // The steps of parse() for an option followed by a value: without a value token,
    // count becomes 0 and nothing changes. Otherwise `take(values, available)` is given
    // the tokens after the name, sets the value and returns how many it used; the
    // origin becomes CommandLine and count the tokens consumed, name included.
    template <class Take>
    void parseValue(int& count, char** tokens, Take take)
    {
        if (count < 2) {
            count = 0;
            return;
        }
        int used = take(tokens + 1, count - 1);
        m_origin = CommandLine;
        count = 1 + used;
    }
};

class Flag : public SingleOption {
public:
    Flag(const std::string& name, const std::string& description);
    Flag* clone() const override { return new Flag(*this); }
    void parse(int& count, char** tokens) override;
    std::string getValueString() const override;
    std::string getCommandLine() const override;
    bool getValue() const { return m_value; }
protected:
    void setFromText(const std::string& text) override;
    bool m_value = false;
};

class Bool : public SingleOption {
public:
    Bool(const std::string& name, bool value, const std::string& description, const std::string& valueLabel);
    Bool* clone() const override { return new Bool(*this); }
    void parse(int& count, char** tokens) override;
    std::string getValueString() const override;
    std::string getCommandLine() const override;
    bool getValue() const { return m_value; }
protected:
    void setFromText(const std::string& text) override;
    bool m_value;
};

class Int : public SingleOption {
public:
    Int(const std::string& name, int32_t value, const std::string& description, const std::string& valueLabel);
    Int* clone() const override { return new Int(*this); }
    void parse(int& count, char** tokens) override;
    std::string getValueString() const override;
    std::string getCommandLine() const override;
    int32_t getValue() const { return m_value; }
protected:
    void setFromText(const std::string& text) override;
    int32_t m_value;
};

class String : public SingleOption {
public:
    String(const std::string& name, const std::string& value, const std::string& description,
           const std::string& valueLabel);
    String* clone() const override { return new String(*this); }
    // Joins tokens while the value starts with a double quote and does not end with one,
    // then strips one pair of enclosing quotes.
    void parse(int& count, char** tokens) override;
    std::string getValueString() const override;
    std::string getCommandLine() const override;
    const std::string& getValue() const { return m_value; }
protected:
    void setFromText(const std::string& text) override { m_value = text; }
    std::string m_value;
};

// Owns its children.
class MultiOption : public Option {
public:
    MultiOption(const std::string& name, const std::string& description);
    ~MultiOption() override;
    MultiOption(const MultiOption&) = delete;
    MultiOption& operator=(const MultiOption&) = delete;
    void loadFrom(DataStore& store, const std::string& key) override;
    void saveTo(DataStore& store, const std::string& key) override;
    // Takes ownership.
    void addChild(Option* child) { m_children.emplace_back(child); }
protected:
    std::vector<std::unique_ptr<Option>> m_children;
};

// Boolean text rule: true when the text starts with T, Y, t or y, or with a number
// other than 0 (`signedNumber`: strtol, else an unsigned stream read).
bool isTrueText(const std::string& text, bool signedNumber);

} // namespace option

// A named group of options that it does not own, parsed from a command line.
class GroupOption : public option::MultiOption {
public:
    GroupOption(const std::string& name, const std::string& description, const std::string& extraText);
    ~GroupOption() override;

    // Throws InternalError: a group is never cloned.
    Option* clone() const override;
    void parse(int& count, char** tokens) override {}
    std::string getValueString() const override { return getCommandLine(); }
    std::string getCommandLine() const override;
    void loadFrom(option::DataStore& store, const std::string& key) override;
    void saveTo(option::DataStore& store, const std::string& key) override;
    void removeFrom(option::DataStore& store) override;
    void printUsage(std::ostream& out, int indent, int width) const override;
    int getUsageWidth() const override;

    // Appends a member; a second member of the same name is an assertion failure.
    void add(option::Option& option);
    // Parses the narrow command line (without the program path). Unknown options are
    // printed ("Unknown argument: -name") and end in one MessageException 12.
    void parseCommandLine(const std::string& text);
    // Parses tokens[1..count); consumed tokens are removed from the array and count
    // lowered. (The virtual parse() of a group member does nothing.)
    void parseArguments(int& count, char** tokens);

    // Of the last parse, also when it threw: the tokens of unknown options ("-name"), and
    // the positional tokens it skipped, in command-line order.
    const std::vector<std::string>& unknownArguments() const { return m_unknown; }
    const std::vector<std::string>& ignoredArguments() const { return m_ignored; }

private:
    std::string m_extraText;
    std::vector<option::Option*> m_members;
    std::vector<std::string> m_unknown;
    std::vector<std::string> m_ignored;
};

// An option that registers itself in a group on construction. The group must not be
// used after its members are destroyed.
template <class T>
class OptionInGroup : public T {
public:
    template <class... Args>
    explicit OptionInGroup(GroupOption& group, Args&&... args) : T(std::forward<Args>(args)...)
    {
        group.add(*this);
    }
};

template <>
class OptionInGroup<option::Flag> : public option::Flag {
public:
    OptionInGroup(GroupOption& group, const std::string& name, const std::string& description)
        : option::Flag(name, description)
    {
        group.add(*this);
    }
};

template <>
class OptionInGroup<option::String> : public option::String {
public:
    OptionInGroup(GroupOption& group, const std::string& name, const std::string& value)
        : option::String(name, value, "", "")
    {
        group.add(*this);
    }
};

}} // namespace ts::sys
