// The process-wide logger. Objects that log derive from Logger::Logged and write
// through TS_LOG(object, level) << ...; the line is built only when the level is enabled.
// Every output enciphers its lines (AES-128-CBC, Base64): one Base64 line per log line.
#pragma once
#include <atomic>
#include <cstdint>
#include <memory>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

namespace ts { namespace sys {

// Who is logging: module name, instance label and an optional parent.
class Identity {
public:
    Identity() = default;
    Identity(std::string name, std::string label, const Identity* parent = nullptr);
    virtual ~Identity() = default;

    const std::string& name() const { return m_name; }
    // The label, else the parent's label, else this object's address in eight hex digits.
    std::string label() const;
    const Identity* parent() const { return m_parent; }

protected:
    std::string m_name;
    std::string m_label;
    const Identity* m_parent = nullptr;
};

// Log levels. A line is written when its level is at most the verbosity; the names
// are those of levelName().
struct LogLevel {
    enum : int { Always = 0, Fatal = 1, Error = 2, Warn = 3, Info = 4, Debug = 5, Verbose = 6 };
    static constexpr int Count = 7;
};

// "ALWAYS".."VERBOSE" for LogLevel::Always..Verbose, "" otherwise.
const char* levelName(int level);

// "ALWAYS".."VERBOSE" compared case-insensitively in that order; `fallback` for empty or
// unmatched text (numbers are not levels).
int parseLevel(const std::string& text, int fallback);

// One log line before enciphering. Line type 0: "[module label] text"; any other: the
// full form "HH:MM:SS.mmm\tthread\tmodule\tlabel\tLEVEL\tfile:line\ttext".
std::string formatLogLine(int lineType, uint64_t elapsedMs, int level, const std::string& file, int line,
                          const std::string& module, const std::string& label, const std::string& threadName,
                          const std::string& text);

// "Version 7.9.1488.0. Built by Build Server, at <time> <date>. "
std::string versionBanner();
// The 24-character C ctime form of the local time, without the line end.
std::string ctimeNow();

class Logger {
public:
    struct State;

    class Output {
    public:
        virtual ~Output() = default;
        virtual void write(uint64_t elapsedMs, int level, const char* file, int line, const std::string& module,
                           const std::string& label, const std::string& threadName, const std::string& text) = 0;
    };

    class OutputWriter {
    public:
        virtual ~OutputWriter() = default;
        virtual void write(const std::string& text, int level) = 0;
    };

    // One per module name, kept for the life of the logger.
    class Module {
    public:
        Module(State& state, std::string name, int verbosity);
        ~Module();
        const std::string& name() const { return m_name; }
        int verbosity() const { return m_verbosity.load(std::memory_order_relaxed); }
        // Writes one line under the global lock through every output whose threshold
        // admits `level`. `file` may be a full path; only its last component is printed.
        void write(int level, const char* file, int line, const std::string& label, const std::string& text);

    private:
        friend class Logger;
        void setVerbosity(int verbosity) { m_verbosity.store(verbosity, std::memory_order_relaxed); }
        void addOutput(Output* output, int threshold);
        bool hasOutput(const Output* output) const;
        void replaceOutputs(Output* output, int threshold);

        State& m_state;
        std::string m_name;
        std::atomic<int32_t> m_verbosity;
        std::vector<std::pair<Output*, int>> m_outputs;
        std::unique_ptr<Output> m_byLevel[LogLevel::Count];
    };

    class Logged : public virtual Identity {
    public:
        // Uses the name already held by the Identity base.
        Logged();
        // An empty module name or label leaves the Identity value unchanged.
        Logged(Logger& logger, const std::string& module, const std::string& label);
        // A module with its own file `directory + fileStem + ".log"` (New mode, INFO).
        Logged(const std::string& module, const std::string& label, const std::string& fileStem,
               uint32_t maxFileSize, uint32_t maxFileCount);
        virtual ~Logged() = default;

        // Without the lock: one comparison.
        bool isEnabled(int level) const { return m_module && level <= m_module->verbosity(); }
        Module* module() const { return m_module; }

    private:
        Module* m_module = nullptr;
    };

    // Collects one line; hands it to the module when destroyed.
    class LogLine {
    public:
        LogLine(const Logged& logged, int level, const char* file, int line);
        ~LogLine();
        std::ostream& stream() { return m_text; }
    private:
        const Logged& m_logged;
        int m_level;
        const char* m_file;
        int m_line;
        std::ostringstream m_text;
    };

    // Creates the singleton unless it exists (then `sink` is deleted). Flags: bit 0 puts
    // the default file in the debug location and writes the start banner, bit 1 adds
    // standard error to every module, bit 2 the platform log. Takes ownership of `sink`.
    static Logger& create(const std::string& name, int defaultVerbosity, uint32_t flags, bool preferTemp,
                          OutputWriter* sink = nullptr);
    // The singleton; created from the executable's base name (verbosity 4, flags 1) on
    // first use.
    static Logger& instance();

    Module& getModule(const std::string& name);
    const std::string& name() const;
    // Always ends in a backslash when not empty.
    const std::string& directory() const;
    // The shared default file ("" when there is none).
    const std::string& defaultFile() const;
    int globalVerbosity() const;
    uint32_t maxFileSize() const;
    uint64_t elapsedMs() const;

    ~Logger();

private:
    explicit Logger(std::unique_ptr<State> state);
    void attachDedicatedFile(Logged& logged, const std::string& fileStem, uint32_t maxFileSize,
                             uint32_t maxFileCount);
    std::unique_ptr<State> m_state;
};

// The bounds of the default file's size setting "filesize".
uint32_t clampFileSize(long configured);

}} // namespace ts::sys

#define TS_LOG(logged, level) \
    if (!(logged).isEnabled(level)) {} else ::ts::sys::Logger::LogLine((logged), (level), __FILE__, __LINE__).stream()
