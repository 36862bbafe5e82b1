#include "backgroundrunner.h"

#include <QMetaObject>

#include <algorithm>

#ifdef Q_OS_LINUX
#include <pthread.h>
#include <sys/resource.h>
#include <unistd.h>
#endif

namespace {

// The calling thread (of the low lane only) behind the rest of the process, and named so that
// tools show it. On Linux the nice value is the thread's own; Qt's thread priorities other
// than idle do not change it.
void lowerThisThread()
{
#ifdef Q_OS_LINUX
    pthread_setname_np(pthread_self(), "pagewick low");
    // Only ever raised (a process started niced stays as it is): that needs no privilege.
    const id_t thread = id_t(gettid());
    if (getpriority(PRIO_PROCESS, thread) < BackgroundRunner::LowLaneNice)
        setpriority(PRIO_PROCESS, thread, BackgroundRunner::LowLaneNice);
#endif
}

} // namespace

void BackgroundRunner::Task::deliver(std::function<void()> call) const
{
    if (isCancelled())
        return;
    // Posted to the runner, which outlives its tasks, and checked there: the context may only
    // be looked at on its own thread.
    QMetaObject::invokeMethod(
        m_shared->runner,
        [shared = m_shared, call = std::move(call)] {
            if (shared->context && !shared->token.isCancelled())
                call();
        },
        Qt::QueuedConnection);
}

void BackgroundRunner::Task::progress(int done, int total) const
{
    Shared& shared = *m_shared;
    shared.done.store(done);
    shared.total.store(total);
    if (!shared.onProgress || shared.progressPending.exchange(true))
        return;
    deliver([shared = m_shared] {
        shared->progressPending.store(false);
        shared->onProgress(shared->done.load(), shared->total.load());
    });
}

BackgroundRunner::BackgroundRunner(QObject* parent, int threadsPerLane) : QObject(parent)
{
    const int threads = threadsPerLane > 0 ? threadsPerLane : std::max(2, QThread::idealThreadCount());
    m_normal.setMaxThreadCount(threads);
    m_low.setMaxThreadCount(threads);
}

BackgroundRunner::~BackgroundRunner()
{
    cancelAll();
    m_normal.waitForDone();
    m_low.waitForDone();
}

CancelToken BackgroundRunner::start(Lane lane, QObject* context, Work work, const QString& slot, Progress onProgress)
{
    Task task;
    task.m_shared = std::make_shared<Task::Shared>();
    task.m_shared->runner = this;
    task.m_shared->context = context;
    task.m_shared->token = m_all.child();
    task.m_shared->onProgress = std::move(onProgress);
    if (!slot.isEmpty()) {
        CancelToken& previous = m_slots[{context, slot}];
        previous.cancel();
        previous = task.token();
    }
    const bool low = lane == Lane::Low;
    (low ? m_low : m_normal).start([task, work = std::move(work), low] {
        if (low)
            lowerThisThread();
        if (!task.isCancelled())
            work(task);
    });
    return task.token();
}

void BackgroundRunner::cancelAll()
{
    m_all.cancel();
    m_all = CancelToken();
    m_slots.clear();
}
