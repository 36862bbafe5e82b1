#pragma once

#include <QObject>
#include <QPointer>
#include <QString>
#include <QThreadPool>

#include <atomic>
#include <functional>
#include <map>
#include <memory>
#include <utility>

// A flag that long work polls to learn that its result is no longer wanted. Copies share one
// flag; a child token also reads as cancelled once its parent is.
class CancelToken
{
public:
    CancelToken() : m_state(std::make_shared<State>()) {}

    CancelToken child() const
    {
        CancelToken token;
        token.m_state->parent = m_state;
        return token;
    }
    void cancel() const { m_state->cancelled.store(true, std::memory_order_relaxed); }
    bool isCancelled() const
    {
        for (const State* state = m_state.get(); state; state = state->parent.get()) {
            if (state->cancelled.load(std::memory_order_relaxed))
                return true;
        }
        return false;
    }

private:
    struct State
    {
        std::atomic<bool> cancelled{false};
        std::shared_ptr<const State> parent;
    };
    std::shared_ptr<State> m_state;
};

// The one place where the reader's work off the window's thread runs. A task runs on one of two
// lanes, each with threads of its own:
// - Normal: what the reader waits for (a search, the book's outline, an extraction, the bytes
//   of a page).
// - Low: what only fills a panel (a look into the book's index, the keyword index, the page text
//   index). Its threads, named "pagewick low", run at nice LowLaneNice, so on a machine with few
//   cores the page engine goes first, while the lane still gets its share of the processor under
//   any other load (the idle scheduling class would give it almost none). No other work ever
//   runs on these threads.
//
// A task is handed a Task: its cancel token, which long work polls, and the way to reach its
// context object (a receiver on the runner's thread, usually a panel): deliver() and progress()
// run code there later, unless the task has been cancelled or the context is gone by then. A
// result is delivered the same way, so a cancelled task's result is dropped.
//
// Cancellation: starting a task under a slot name cancels the task the same context started
// under that slot before (a newer search supersedes the older one); cancelAll() cancels every
// task started so far (the window closes). The destructor cancels every task and waits for those
// running; nothing else waits on a worker. Not thread-safe itself: start tasks and cancel them on
// the runner's thread.
class BackgroundRunner : public QObject
{
    Q_OBJECT

public:
    enum class Lane { Normal, Low };
    static constexpr int LowLaneNice = 10;

    class Task
    {
    public:
        const CancelToken& token() const { return m_shared->token; }
        bool isCancelled() const { return m_shared->token.isCancelled(); }
        // Runs `call` on the runner's thread, unless the task is cancelled or its context gone.
        void deliver(std::function<void()> call) const;
        // Hands `done` of `total` to the progress callback of the task. Reports are merged while
        // one waits to be shown, so the latest is shown and the window is never flooded.
        void progress(int done, int total) const;

    private:
        friend class BackgroundRunner;
        struct Shared
        {
            BackgroundRunner* runner = nullptr;
            QPointer<QObject> context;
            CancelToken token;
            std::function<void(int, int)> onProgress;
            std::atomic<int> done{0};
            std::atomic<int> total{0};
            std::atomic<bool> progressPending{false};
        };
        std::shared_ptr<Shared> m_shared;
    };
    using Work = std::function<void(const Task&)>;
    using Progress = std::function<void(int done, int total)>;

    // `threadsPerLane`: at most that many tasks of a lane run at once; 0 for as many as the
    // machine has cores (at least 2).
    explicit BackgroundRunner(QObject* parent = nullptr, int threadsPerLane = 0);
    ~BackgroundRunner() override;

    // Runs work(task) on `lane`; `onProgress` receives the task's progress on `context`.
    CancelToken start(Lane lane, QObject* context, Work work, const QString& slot = QString(),
                      Progress onProgress = {});
    // The same for work that returns a result: done(result) is called on `context`.
    template <typename Compute, typename Done>
    CancelToken run(Lane lane, QObject* context, Compute compute, Done done, const QString& slot = QString(),
                    Progress onProgress = {})
    {
        return start(
            lane, context,
            [compute = std::move(compute), done = std::move(done)](const Task& task) {
                task.deliver([done, result = compute(task)]() mutable { done(std::move(result)); });
            },
            slot, std::move(onProgress));
    }

    void cancelAll();

private:
    CancelToken m_all;   // parent of every task's token until cancelAll
    std::map<std::pair<const QObject*, QString>, CancelToken> m_slots;
    QThreadPool m_normal;
    QThreadPool m_low;
};
