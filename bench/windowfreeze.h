#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>

#include <algorithm>

// How long the calling thread's event loop stops answering: a timer asks to tick every
// `intervalMs`; each tick notes the time since the one before. `longestGapMs()` is the longest
// such gap since start(), so a freeze of the window's thread shows as a gap far above the
// interval. Create it on the thread to watch (the window's thread); it only measures while that
// thread runs its event loop.
class WindowFreezeMeter : public QObject
{
public:
    explicit WindowFreezeMeter(int intervalMs = 5, QObject* parent = nullptr)
        : QObject(parent)
    {
        m_timer.setTimerType(Qt::PreciseTimer);
        m_timer.setInterval(intervalMs);
        connect(&m_timer, &QTimer::timeout, this, [this] {
            const qint64 now = m_clock.nsecsElapsed();
            m_longestNs = std::max(m_longestNs, now - m_lastNs);
            m_lastNs = now;
        });
    }

    void start()
    {
        m_longestNs = 0;
        m_clock.start();
        m_lastNs = 0;
        m_timer.start();
    }

    // Stops the timer; the gap from the last tick to now counts too.
    void stop()
    {
        if (!m_timer.isActive())
            return;
        m_longestNs = std::max(m_longestNs, m_clock.nsecsElapsed() - m_lastNs);
        m_timer.stop();
    }

    double longestGapMs() const { return double(m_longestNs) / 1e6; }

private:
    QTimer m_timer;
    QElapsedTimer m_clock;
    qint64 m_lastNs = 0;
    qint64 m_longestNs = 0;
};
