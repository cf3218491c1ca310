#include "diaglog.h"

#include "logcategories.h"
#include "startupcheckpoints.h"

#include <dlt.h>

#include <QCoreApplication>
#include <QLoggingCategory>
#include <QString>
#include <QVector>

#include <atomic>
#include <cstring>
#include <iterator>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace {

// One DLT context per category; the README's table follows this one.
struct Context {
    const char *category;
    const char *id;
    const char *description;
    // Set up by the main thread at registration, before s_registered; used
    // by any thread after it.
    DltContext dlt;
    // Every Qt category object of that name (a program may hold several), and
    // the last level DLT gave the context (-1: none yet). Guarded by s_mutex.
    // Pointers stay valid while the filter is installed: categories of ours
    // live until the end of the process.
    QVector<QLoggingCategory *> categories;
    int dltLevel;
};

Context s_contexts[] = {
    {"headunit.mcu", "MCUL", "MCU link: connections, refused peers, malformed frames, failed sends", {}, {}, -1},
    {"headunit.mcu.frames", "MCUF", "MCU link: every frame, as text and as network trace", {}, {}, -1},
    {"headunit.startup", "STRT", "Start-up checkpoints", {}, {}, -1},
    {"headunit.platform", "PLAT", "Calls into the platform services", {}, {}, -1},
    {"default", "DFLT", "Launcher messages without a category of their own, and Qt's", {}, {}, -1},
};
constexpr int FramesContext = 1;
constexpr int DefaultContext = 4;

// Messages logged before registration, handed to DLT in order when it comes.
// The start sequence logs a few dozen; the bound keeps a launcher whose event
// loop never turns from growing.
struct Pending {
    int context;
    DltLogLevelType level;
    QString text;
    const char *file; // Qt's message context points at string literals
    int line;
    const char *function;
};
constexpr int MaxPending = 512;

std::mutex s_mutex; // guards the contexts' categories and levels, s_pending and s_pendingDropped
QVector<Pending> s_pending;
int s_pendingDropped = 0;

// Written by the main thread while no other thread logs through us (before
// the handler is installed, after it is removed).
QtMessageHandler s_previousHandler = nullptr;
QLoggingCategory::CategoryFilter s_previousFilter = nullptr;
// Messages go straight to DLT once this is set; the destructor clears it and
// waits until no thread is between its check and the end of its DLT call.
std::atomic<bool> s_registered{false};
std::atomic<int> s_inFlight{0};

int contextOf(const char *category)
{
    for (int i = 0; i < DefaultContext; ++i) {
        if (std::strcmp(category, s_contexts[i].category) == 0)
            return i;
    }
    return DefaultContext;
}

DltLogLevelType dltLevelOf(QtMsgType type)
{
    switch (type) {
    case QtDebugMsg:
        return DLT_LOG_DEBUG;
    case QtInfoMsg:
        return DLT_LOG_INFO;
    case QtWarningMsg:
        return DLT_LOG_WARN;
    case QtCriticalMsg:
        return DLT_LOG_ERROR;
    case QtFatalMsg:
        break;
    }
    return DLT_LOG_FATAL;
}

// Qt cannot switch fatal messages off, so FATAL and OFF look alike to it.
int dltLevelOf(const QLoggingCategory &category)
{
    if (category.isDebugEnabled())
        return DLT_LOG_DEBUG;
    if (category.isInfoEnabled())
        return DLT_LOG_INFO;
    if (category.isWarningEnabled())
        return DLT_LOG_WARN;
    if (category.isCriticalEnabled())
        return DLT_LOG_ERROR;
    return DLT_LOG_FATAL;
}

// Caller holds s_mutex. QLoggingCategory keeps its switches in atomics, so
// this may run beside threads that log through the category.
void applyLevel(const Context &context)
{
    for (QLoggingCategory *category : context.categories) {
        category->setEnabled(QtDebugMsg, context.dltLevel >= DLT_LOG_DEBUG);
        category->setEnabled(QtInfoMsg, context.dltLevel >= DLT_LOG_INFO);
        category->setEnabled(QtWarningMsg, context.dltLevel >= DLT_LOG_WARN);
        category->setEnabled(QtCriticalMsg, context.dltLevel >= DLT_LOG_ERROR);
    }
}

// Qt calls this for every category when it is created and whenever the rules
// change, on the thread that caused it; the rules apply first, then the level
// DLT last gave the context, which is the newer word.
void filterCategory(QLoggingCategory *category)
{
    s_previousFilter(category);
    const int index = contextOf(category->categoryName());
    if (index == DefaultContext && std::strcmp(category->categoryName(), "default") != 0)
        return;
    const std::lock_guard<std::mutex> lock(s_mutex);
    Context &context = s_contexts[index];
    if (!context.categories.contains(category))
        context.categories.append(category);
    if (context.dltLevel >= 0)
        applyLevel(context);
}

// A tester or viewer set a context's level (dlt-control, a viewer's context
// menu). libdlt's receiver thread.
void levelChanged(char id[DLT_ID_SIZE], uint8_t level, uint8_t)
{
    if (level > DLT_LOG_VERBOSE)
        return;
    for (Context &context : s_contexts) {
        if (std::memcmp(id, context.id, DLT_ID_SIZE) == 0) {
            const std::lock_guard<std::mutex> lock(s_mutex);
            context.dltLevel = level;
            applyLevel(context);
        }
    }
}

void write(int context, DltLogLevelType level, const QString &text, const char *file, int line, const char *function)
{
    DltContextData data;
    if (dlt_user_log_write_start(&s_contexts[context].dlt, &data, level) <= 0)
        return;
    dlt_user_log_write_utf8_string(&data, text.toUtf8().constData());
    // Release builds of Qt carry no message context unless QT_MESSAGELOGCONTEXT.
    if (file) {
        dlt_user_log_write_utf8_string(&data, file);
        dlt_user_log_write_int32(&data, line);
        dlt_user_log_write_utf8_string(&data, function ? function : "");
    }
    dlt_user_log_write_finish(&data);
}

// Any thread that logs.
void handleMessage(QtMsgType type, const QMessageLogContext &messageContext, const QString &message)
{
    const char *category = messageContext.category ? messageContext.category : "default";
    const int context = contextOf(category);
    // Qt's own categories share the default context and keep their name.
    const QString text = context == DefaultContext && std::strcmp(category, "default") != 0
        ? QString::fromLatin1(category) + QLatin1String(": ") + message : message;
    const DltLogLevelType level = dltLevelOf(type);

    s_inFlight.fetch_add(1);
    bool sent = false;
    if (s_registered.load()) {
        write(context, level, text, messageContext.file, messageContext.line, messageContext.function);
        sent = true;
    }
    s_inFlight.fetch_sub(1);
    if (!sent) {
        std::unique_lock<std::mutex> lock(s_mutex);
        if (s_registered.load()) {
            lock.unlock();
            handleMessage(type, messageContext, message);
            return;
        }
        if (s_pending.size() < MaxPending)
            s_pending.append({context, level, text, messageContext.file, messageContext.line, messageContext.function});
        else
            ++s_pendingDropped;
    }
    s_previousHandler(type, messageContext, message);
}

void registerContexts()
{
    // Every category of ours exists before the filter looks for them; the
    // platform's may not yet, and a category of that name stands in for it.
    lcMcu();
    lcMcuFrames();
    lcStartup();
    static std::vector<std::unique_ptr<QLoggingCategory>> standIns;
    // Installing the filter runs it over every category at once, so the
    // previous filter must be known first: installing none gives it back.
    s_previousFilter = QLoggingCategory::installFilter(nullptr);
    QLoggingCategory::installFilter(s_previousFilter);
    QLoggingCategory::installFilter(filterCategory);
    for (const Context &context : s_contexts) {
        std::unique_lock<std::mutex> lock(s_mutex);
        if (context.categories.isEmpty()) {
            lock.unlock();
            standIns.push_back(std::make_unique<QLoggingCategory>(context.category));
        }
    }

    for (int i = 0; i < int(std::size(s_contexts)); ++i) {
        Context &context = s_contexts[i];
        int level;
        {
            const std::lock_guard<std::mutex> lock(s_mutex);
            level = dltLevelOf(*context.categories.first());
        }
        // Never under s_mutex: libdlt may hold its own lock while it calls levelChanged.
        dlt_register_context_ll_ts(&context.dlt, context.id, context.description, level,
                                   i == FramesContext ? DLT_TRACE_STATUS_ON : DLT_TRACE_STATUS_OFF);
        dlt_register_log_level_changed_callback(&context.dlt, levelChanged);
        // A level the daemon sent, or DLT_INITIAL_LOG_LEVEL, before the
        // callback was in place. context.dltLevel is the one truth: once the
        // callback set it, its level is the newer, and this one is dropped.
        const std::lock_guard<std::mutex> lock(s_mutex);
        const int given = context.dlt.log_level_ptr ? *context.dlt.log_level_ptr : level;
        if (context.dltLevel < 0 && given != level && given >= DLT_LOG_OFF && given <= DLT_LOG_VERBOSE) {
            context.dltLevel = given;
            applyLevel(context);
        }
    }
}

// The first turn of the main thread's event loop: the start sequence has run
// and the application-ready frame is on its way.
void registerWithDlt()
{
    if (s_previousHandler == nullptr || s_registered.load())
        return;
    // libdlt's own notes go to stderr, so that standard output keeps only the
    // launcher's lines.
    dlt_log_init(DLT_LOG_TO_STDERR);
    dlt_register_app("HULN", "Head-unit launcher");
    registerContexts();

    // Pending messages first, in order; messages of other threads keep
    // queueing behind them until the queue is found empty.
    for (;;) {
        std::unique_lock<std::mutex> lock(s_mutex);
        if (s_pending.isEmpty()) {
            const int dropped = s_pendingDropped;
            s_registered.store(true);
            lock.unlock();
            if (dropped > 0)
                write(DefaultContext, DLT_LOG_WARN, QStringLiteral("%1 messages of the start not kept for DLT").arg(dropped),
                      nullptr, 0, nullptr);
            return;
        }
        const QVector<Pending> pending = std::move(s_pending);
        s_pending.clear();
        lock.unlock();
        for (const Pending &message : pending)
            write(message.context, message.level, message.text, message.file, message.line, message.function);
    }
}

void scheduleRegistration()
{
    QMetaObject::invokeMethod(QCoreApplication::instance(), registerWithDlt, Qt::QueuedConnection);
}

} // namespace

DiagLog::DiagLog()
{
    s_previousHandler = qInstallMessageHandler(handleMessage);
    qAddPreRoutine(scheduleRegistration);
}

DiagLog::~DiagLog()
{
    qInstallMessageHandler(s_previousHandler);
    const bool registered = s_registered.exchange(false);
    while (s_inFlight.load() != 0)
        std::this_thread::yield();
    if (!registered)
        return;
    QLoggingCategory::installFilter(s_previousFilter);
    {
        const std::lock_guard<std::mutex> lock(s_mutex);
        for (Context &context : s_contexts)
            context.categories.clear();
    }
    for (Context &context : s_contexts)
        dlt_unregister_context(&context.dlt);
    // Without a wait for the daemon: libdlt's flushing call spins for as long
    // as a stopped daemon does not read, and a service manager's stop would
    // wait for it, then kill. Messages still in libdlt's buffer are lost to
    // DLT; stderr (the journal) has every one of them.
    dlt_unregister_app();
    dlt_free();
}

void DiagLog::traceFrame(bool inbound, const unsigned char *frame, size_t len)
{
    s_inFlight.fetch_add(1);
    if (s_registered.load()) {
        // The frame's header words (kind, msg) as the trace's header; the
        // direction as the trace type, the link being neither of DLT's buses.
        const uint16_t header = uint16_t(len < 8 ? len : 8);
        unsigned char *bytes = const_cast<unsigned char *>(frame);
        dlt_user_trace_network(&s_contexts[FramesContext].dlt,
                               inbound ? DLT_NW_TRACE_USER_DEFINED0 : DLT_NW_TRACE_USER_DEFINED1,
                               header, bytes, uint16_t(len - header), bytes + header);
    }
    s_inFlight.fetch_sub(1);
}
