#include "sys/libutils/logger.h"

#include "sys/libutils/logoutputs.h"
#include "sys/libutils/setuprunlog.h"
#include "sys/libutils/win32/debuglocation.h"
#include "sys/libutils/win32/persisttreestate.h"
#include "sys/libutils/win32/thread.h"

#include <windows.h>
#include <algorithm>
#include <cstdio>
#include <ctime>
#include <iostream>
#include <map>
#include <strings.h>

namespace ts { namespace sys {

namespace {

const char* const kVersionText = "7.9.1488.0";
const uint32_t kMinFileSize = 102400;
const uint32_t kMaxFileSize = 10240000;

// The one lock around singleton creation, module creation and every line written.
// Never destroyed, so that lines written during process exit still find it.
class GlobalLock {
public:
    GlobalLock() { InitializeCriticalSection(&m_section); }
    void lock() { EnterCriticalSection(&m_section); }
    void unlock() { LeaveCriticalSection(&m_section); }
private:
    CRITICAL_SECTION m_section;
};

GlobalLock& globalLock()
{
    static GlobalLock* lock = new GlobalLock;
    return *lock;
}

struct Guard {
    Guard() { globalLock().lock(); }
    ~Guard() { globalLock().unlock(); }
    Guard(const Guard&) = delete;
    Guard& operator=(const Guard&) = delete;
};

Logger* g_instance = nullptr;

int64_t tickFrequency()
{
    LARGE_INTEGER f;
    return QueryPerformanceFrequency(&f) && f.QuadPart >= 1000 ? f.QuadPart : 1000;
}

int64_t ticksNow(int64_t frequency)
{
    if (frequency == 1000)
        return GetTickCount();
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    return now.QuadPart;
}

std::string baseFileName(const char* file)
{
    if (!file)
        return "";
    const char* slash = strrchr(file, '\\');
    if (!slash)
        slash = strrchr(file, '/');
    return slash ? slash + 1 : file;
}

// The level of "verbosity", else of "verbosity threshold", else `fallback`.
int snapshotLevel(const PersistSnapshot& snapshot, int fallback)
{
    for (const char* name : {"verbosity", "verbosity threshold"}) {
        auto it = snapshot.find(name);
        if (it != snapshot.end() && it->second.isLeaf) {
            int level = parseLevel(it->second.value, -1);
            if (level >= 0)
                return level;
        }
    }
    return fallback;
}

// The key Software\Tessaline\<path>: the user scope when it holds any entry, else the
// machine scope.
PersistSnapshot readSnapshot(const std::string& path)
{
    return readSettingsSnapshot(path, true);
}

} // namespace

// ---- texts -----------------------------------------------------------------------

int parseLevel(const std::string& text, int fallback)
{
    if (text.empty())
        return fallback;
    for (int level = LogLevel::Always; level < LogLevel::Count; ++level)
        if (strcasecmp(text.c_str(), levelName(level)) == 0)
            return level;
    return fallback;
}

std::string formatLogLine(int lineType, uint64_t elapsedMs, int level, const std::string& file, int line,
                          const std::string& module, const std::string& label, const std::string& threadName,
                          const std::string& text)
{
    if (lineType == 0)
        return "[" + module + (label.empty() ? "" : " " + label) + "] " + text;
    std::string out = formatElapsed(elapsedMs);
    out.reserve(out.size() + threadName.size() + module.size() + label.size() + file.size() + text.size() + 24);
    out += '\t';
    out += threadName;
    out += '\t';
    out += module;
    out += '\t';
    out += label;
    out += '\t';
    out += levelName(level);
    out += '\t';
    out += file;
    out += ':';
    out += std::to_string(line);
    out += '\t';
    out += text;
    return out;
}

std::string versionBanner()
{
    return std::string("Version ") + kVersionText + ". Built by Build Server, at " __TIME__ " " __DATE__ ". ";
}

std::string ctimeNow()
{
    time_t now = time(nullptr);
    const char* text = ctime(&now);
    return text ? std::string(text).substr(0, 24) : std::string();
}

uint32_t clampFileSize(long configured)
{
    if (configured < static_cast<long>(kMinFileSize))
        return kMinFileSize;
    if (configured > static_cast<long>(kMaxFileSize))
        return kMaxFileSize;
    return static_cast<uint32_t>(configured);
}

// ---- Identity ----------------------------------------------------------------------

Identity::Identity(std::string name, std::string label, const Identity* parent)
    : m_name(std::move(name)), m_label(std::move(label)), m_parent(parent) {}

std::string Identity::label() const
{
    if (!m_label.empty())
        return m_label;
    if (m_parent)
        return m_parent->label();
    char buffer[16];
    snprintf(buffer, sizeof buffer, "%08X", static_cast<unsigned>(reinterpret_cast<uintptr_t>(this)));
    return buffer;
}

// ---- state -------------------------------------------------------------------------

struct Logger::State {
    std::string name;
    int defaultVerbosity = 4;
    uint32_t flags = 0;
    Output* sink = nullptr;
    std::string defaultFile;
    std::string directory;
    int globalVerbosity = 4;
    uint32_t maxFileSize = kMinFileSize;
    int64_t frequency = 1000;
    int64_t start = 0;
    std::map<std::string, std::unique_ptr<Module>> modules;
    // Outputs by output name or module name (not owned; null remembers a lookup that
    // gave none). Every output is owned by `owned`.
    std::map<std::string, Output*> byName;
    std::vector<std::unique_ptr<Output>> owned;
    std::vector<FileOutput*> fileOutputs; // in creation order
    FileOutput* defaultFileOutput = nullptr;
    Output* stdErr = nullptr;
    Output* stdOut = nullptr;
    Output* debug = nullptr;
    Output* platform = nullptr;

    ~State()
    {
        // Outputs before the modules whose lists point at them.
        modules.clear();
        owned.clear();
    }

    uint64_t elapsedMs() const
    {
        return static_cast<uint64_t>((ticksNow(frequency) - start) * 1000 / frequency);
    }
    Output* keep(std::unique_ptr<Output> output)
    {
        owned.push_back(std::move(output));
        return owned.back().get();
    }
    FileOutput* newFile(const std::string& path, FileOutput::Mode mode, uint32_t maxSize, int lineType,
                        uint32_t maxFileCount)
    {
        auto file = std::make_unique<FileOutput>(path, mode, maxSize, lineType, maxFileCount);
        FileOutput* raw = file.get();
        fileOutputs.push_back(raw);
        keep(std::move(file));
        return raw;
    }
    Output* standardError()
    {
        if (!stdErr)
            stdErr = keep(std::make_unique<OutputImpl>(std::make_unique<StreamOutputWriter>(std::cerr), 0));
        return stdErr;
    }
    Output* standardOutput()
    {
        if (!stdOut)
            stdOut = keep(std::make_unique<OutputImpl>(std::make_unique<StreamOutputWriter>(std::cout), 0));
        return stdOut;
    }
    Output* debugger(int lineType)
    {
        static DebugOStream* stream = new DebugOStream;
        if (!debug)
            debug = keep(std::make_unique<OutputImpl>(std::make_unique<StreamOutputWriter>(*stream), lineType));
        return debug;
    }
    Output* platformLog()
    {
        if (!platform)
            platform = keep(std::make_unique<OutputImpl>(std::make_unique<AndroidLogOutputWriter>(name), 0));
        return platform;
    }
    FileOutput* defaultFileFor()
    {
        if (defaultFile.empty())
            return nullptr;
        if (!defaultFileOutput)
            defaultFileOutput = newFile(defaultFile, FileOutput::Append, maxFileSize, 1, 0);
        return defaultFileOutput;
    }
    Module& module(const std::string& moduleName)
    {
        std::unique_ptr<Module>& slot = modules[moduleName];
        if (!slot) {
            slot = std::make_unique<Module>(*this, moduleName, defaultVerbosity);
            configure(*slot);
        }
        return *slot;
    }
    // The settings tree's notes on ignored user-scope values, as its WARN lines.
    void writeSettingNotes()
    {
        std::vector<std::string> notes = takeIgnoredSettingNotes();
        if (notes.empty())
            return;
        Module& persist = module("PersistRegAccess");
        for (const std::string& text : notes)
            if (LogLevel::Warn <= persist.verbosity())
                persist.write(LogLevel::Warn, __FILE__, __LINE__, "", text);
    }
    Output* lookupOutput(const std::string& outputName);
    Output* createOutput(const std::string& outputName);
    void configure(Module& module);
};

Logger::Output* Logger::State::lookupOutput(const std::string& outputName)
{
    auto cached = byName.find(outputName);
    if (cached != byName.end())
        return cached->second;
    Output* output = nullptr;
    try {
        output = createOutput(outputName);
    } catch (...) {
        output = nullptr; // a settings error gives no output, and that is remembered too
    }
    byName[outputName] = output;
    return output;
}

Logger::Output* Logger::State::createOutput(const std::string& outputName)
{
    // A subkey where a value is expected throws PersistBadLeaf: no output.
    PersistSnapshot config = readSnapshot(name + "\\Logger\\Outputs\\" + outputName);
    std::string filename = config.getString("filename", "");
    int lineType = config.getInt("line type", 0);
    uint32_t maxSize = static_cast<uint32_t>(config.getInt("max size", 65536));
    uint32_t maxFileCount = static_cast<uint32_t>(config.getInt("maxFileCount", 0));
    bool decorated = config.getBool("decorated filename", false);
    FileOutput::Mode mode = decorated ? FileOutput::Decorate : FileOutput::New;
    std::string modeText = config.getString("Mode", "");
    if (strcasecmp(modeText.c_str(), "New") == 0)
        mode = FileOutput::New;
    else if (strcasecmp(modeText.c_str(), "Decorate") == 0)
        mode = FileOutput::Decorate;
    else if (strcasecmp(modeText.c_str(), "Append") == 0)
        mode = FileOutput::Append;

    if (outputName == "stderr" || filename == "stderr")
        return standardError();
    if (outputName == "stdout" || filename == "stdout")
        return standardOutput();
    if (outputName == "debug" || filename == "debug")
        return debugger(lineType);
    if (filename.empty())
        return nullptr;
    if (mode != FileOutput::Decorate && filename == defaultFile) {
        // The same file must not be opened twice: two cipher chains in one file make
        // its lines undecodable. Once the default file is open, it is this output.
        if (defaultFileOutput)
            return defaultFileOutput;
        defaultFile.clear();
    }
    return newFile(filename, mode, maxSize, lineType, maxFileCount);
}

void Logger::State::configure(Module& module)
{
    const std::string root = name + "\\Logger";
    int verbosity = defaultVerbosity;
    PersistSnapshot modules = readSnapshot(root + "\\Modules");
    verbosity = snapshotLevel(modules, verbosity);

    // The module's key: a sub-key named like the module, else "default".
    std::string moduleKey;
    for (const std::string& candidate : {module.name(), std::string("default")}) {
        auto it = modules.find(candidate);
        if (it != modules.end() && !it->second.isLeaf) {
            moduleKey = root + "\\Modules\\" + candidate;
            break;
        }
    }
    std::vector<std::pair<std::string, PersistNode>> entries;
    if (!moduleKey.empty()) {
        PersistSnapshot key = readSnapshot(moduleKey);
        verbosity = snapshotLevel(key, verbosity);
        auto outputsKey = key.find("Outputs");
        if (outputsKey != key.end() && !outputsKey->second.isLeaf) {
            for (auto& entry : readSnapshot(moduleKey + "\\Outputs"))
                entries.push_back(entry);
        } else {
            for (auto& entry : key)
                if (entry.first != "verbosity" && entry.first != "verbosity threshold" && entry.first != "default")
                    entries.push_back(entry);
        }
    }
    auto own = modules.find(module.name());
    if (own != modules.end() && own->second.isLeaf)
        verbosity = parseLevel(own->second.value, verbosity);

    if (!entries.empty()) {
        int highest = verbosity;
        for (auto& entry : entries) {
            int threshold = entry.second.isLeaf ? parseLevel(entry.second.value, verbosity) : verbosity;
            if (Output* output = lookupOutput(entry.first)) {
                module.addOutput(output, threshold);
                highest = std::max(highest, threshold);
            }
        }
        verbosity = highest;
    } else {
        for (auto& entry : readSnapshot(root + "\\Outputs"))
            if (Output* output = lookupOutput(entry.first))
                module.addOutput(output, verbosity);
    }
    if (flags & 2)
        module.addOutput(standardError(), verbosity);
    if (flags & 4)
        module.addOutput(platformLog(), verbosity);
    if (FileOutput* file = defaultFileFor()) {
        verbosity = std::max(verbosity, globalVerbosity);
        if (!module.hasOutput(file)) // already there when its configured output names it
            module.addOutput(file, globalVerbosity);
    }
    if (sink)
        module.addOutput(sink, verbosity);
    module.setVerbosity(verbosity);
}

// ---- Module ------------------------------------------------------------------------

Logger::Module::Module(State& state, std::string name, int verbosity)
    : m_state(state), m_name(std::move(name)), m_verbosity(verbosity) {}

Logger::Module::~Module() = default;

void Logger::Module::addOutput(Output* output, int threshold)
{
    m_outputs.emplace_back(output, threshold);
    for (auto& list : m_byLevel)
        list.reset();
}

bool Logger::Module::hasOutput(const Output* output) const
{
    for (const auto& pair : m_outputs)
        if (pair.first == output)
            return true;
    return false;
}

void Logger::Module::replaceOutputs(Output* output, int threshold)
{
    m_outputs.clear();
    addOutput(output, threshold);
}

void Logger::Module::write(int level, const char* file, int line, const std::string& label, const std::string& text)
{
    if (level < LogLevel::Always || level >= LogLevel::Count)
        return;
    Guard guard;
    std::unique_ptr<Output>& list = m_byLevel[level];
    if (!list) {
        auto multi = std::make_unique<MultiOutput>();
        for (auto& pair : m_outputs)
            if (pair.second >= level)
                multi->add(pair.first);
        list = std::move(multi);
    }
    list->write(m_state.elapsedMs(), level, baseFileName(file).c_str(), line, m_name, label, getCurrentThreadName(), text);
    if (hasIgnoredSettingNotes())
        m_state.writeSettingNotes();
}

// ---- Logger ------------------------------------------------------------------------

Logger::Logger(std::unique_ptr<State> state) : m_state(std::move(state)) {}

Logger::~Logger() = default;

Logger& Logger::create(const std::string& name, int defaultVerbosity, uint32_t flags, bool preferTemp,
                       OutputWriter* sink)
{
    std::unique_ptr<OutputWriter> ownedSink(sink);
    Guard guard;
    if (g_instance)
        return *g_instance;

    auto state = std::make_unique<State>();
    state->name = name;
    state->defaultVerbosity = defaultVerbosity;
    state->flags = flags;
    if (ownedSink)
        state->sink = state->keep(std::make_unique<OutputImpl>(std::move(ownedSink), 1));

    PersistSnapshot global = readSnapshot("Logger");
    state->globalVerbosity = snapshotLevel(global, defaultVerbosity);
    state->maxFileSize = kMinFileSize;
    if (global.isLeaf("filesize"))
        state->maxFileSize = clampFileSize(global.getInt("filesize"));
    if (global.isLeaf("directory")) {
        state->directory = global.getValue("directory");
        if (!state->directory.empty() && state->directory.back() != '\\')
            state->directory += '\\';
    } else if (flags & 1) {
        state->directory = debugLocation(preferTemp);
        if (!state->directory.empty() && state->directory.back() != '\\')
            state->directory += '\\';
    }
    if (!state->directory.empty())
        state->defaultFile = state->directory + name + ".log";
    state->frequency = tickFrequency();
    state->start = ticksNow(state->frequency);

    // Destroyed at process exit: the pointer is cleared before the state goes.
    static struct Holder {
        std::unique_ptr<Logger> logger;
        ~Holder()
        {
            g_instance = nullptr;
            logger.reset();
        }
    } holder;
    holder.logger.reset(new Logger(std::move(state)));
    g_instance = holder.logger.get();

    if (flags & 1) {
        struct Banner : Logged {
            Banner(Logger& logger) : Logged(logger, logger.name(), "") {}
        } banner(*g_instance);
        TS_LOG(banner, LogLevel::Always) << versionBanner() << "Started at " << ctimeNow();
    }
    return *g_instance;
}

Logger& Logger::instance()
{
    Guard guard;
    if (g_instance)
        return *g_instance;
    return create(executableBaseName(), LogLevel::Info, 1, false);
}

Logger::Module& Logger::getModule(const std::string& name)
{
    Guard guard;
    return m_state->module(name);
}

const std::string& Logger::name() const { return m_state->name; }
const std::string& Logger::directory() const { return m_state->directory; }
const std::string& Logger::defaultFile() const { return m_state->defaultFile; }
int Logger::globalVerbosity() const { return m_state->globalVerbosity; }
uint32_t Logger::maxFileSize() const { return m_state->maxFileSize; }

uint64_t Logger::elapsedMs() const
{
    return m_state->elapsedMs();
}

void Logger::attachDedicatedFile(Logged& logged, const std::string& fileStem, uint32_t maxFileSize,
                                 uint32_t maxFileCount)
{
    Guard guard;
    State& state = *m_state;
    const std::string& module = logged.name();
    std::string file = state.directory + fileStem + ".log";
    if (state.byName.count(module) && state.byName[module]) {
        TS_LOG(logged, LogLevel::Debug) << "Using existing logging output(s) for " << module;
        return;
    }
    TS_LOG(logged, LogLevel::Debug) << "Creating logging output for " << module << " to " << file;
    size_t existing = state.fileOutputs.size();
    FileOutput* output = state.newFile(file, FileOutput::New, maxFileSize, 1, maxFileCount);
    logged.module()->replaceOutputs(output, LogLevel::Info);
    logged.module()->setVerbosity(LogLevel::Info);
    Output* registered = output;
    for (size_t i = 0; i < existing; ++i) {
        FileOutput* other = state.fileOutputs[i];
        if (other->path().find(state.name) != std::string::npos && other->mode() != FileOutput::New) {
            FileOutput* companion =
                state.newFile(file, other->mode(), std::max(maxFileSize, other->maxSize()), 1, maxFileCount);
            logged.module()->addOutput(companion, LogLevel::Info);
            registered = companion;
            break;
        }
    }
    state.byName[module] = registered;
    TS_LOG(logged, LogLevel::Always) << versionBanner() << "Started at " << ctimeNow();
}

// ---- Logged and LogLine -----------------------------------------------------------------

Logger::Logged::Logged()
{
    m_module = &Logger::instance().getModule(m_name);
    if (m_name.empty() && m_module->verbosity() > LogLevel::Error) {
        TS_LOG(*this, LogLevel::Warn) << "Anonymous Logged Object Created";
    }
}

Logger::Logged::Logged(Logger& logger, const std::string& module, const std::string& label)
{
    if (!module.empty())
        m_name = module;
    if (!label.empty())
        m_label = label;
    m_module = &logger.getModule(m_name);
}

Logger::Logged::Logged(const std::string& module, const std::string& label, const std::string& fileStem,
                       uint32_t maxFileSize, uint32_t maxFileCount)
    : Logged(Logger::instance(), module, label)
{
    if (!fileStem.empty())
        Logger::instance().attachDedicatedFile(*this, fileStem, maxFileSize, maxFileCount);
}

Logger::LogLine::LogLine(const Logged& logged, int level, const char* file, int line)
    : m_logged(logged), m_level(level), m_file(file), m_line(line) {}

Logger::LogLine::~LogLine()
{
    if (m_logged.module())
        m_logged.module()->write(m_level, m_file, m_line, m_logged.label(), m_text.str());
}

}} // namespace ts::sys
