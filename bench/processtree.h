#pragma once

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QHash>
#include <QList>
#include <QString>

#include <algorithm>

#include <unistd.h>

// What a process and everything it started cost, read from /proc: call sample() often while it
// runs. Processes are found through their parent links, so the engine's zygote and the
// renderers it forks are counted although the program never waits for them. A process that
// comes and goes between two samples is missed; the engine's processes live as long as the
// program does.
class ProcessTreeMeter
{
public:
    struct Process
    {
        QByteArray kind;    // "browser" for the root, else the engine's --type= (renderer, zygote, gpu-process, ...)
        double peakMiB = 0; // VmHWM: the most it ever held in memory
        double cpuSeconds = 0;
    };

    explicit ProcessTreeMeter(qint64 rootPid) : m_root(rootPid) {}

    void sample()
    {
        // parent of every process on the machine, then the tree below the root
        QHash<qint64, qint64> parentOf;
        const QStringList entries = QDir(QStringLiteral("/proc")).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
        for (const QString& entry : entries) {
            bool ok = false;
            const qint64 pid = entry.toLongLong(&ok);
            if (ok)
                parentOf.insert(pid, statField(pid, 4).toLongLong());
        }
        QList<qint64> tree{m_root};
        for (int i = 0; i < tree.size(); ++i) {
            for (auto it = parentOf.cbegin(); it != parentOf.cend(); ++it) {
                if (it.value() == tree.at(i))
                    tree.append(it.key());
            }
        }
        for (const qint64 pid : tree) {
            const QByteArray status = readFile(pid, "status");
            if (status.isEmpty())
                continue;
            Process& p = m_processes[pid];
            if (p.kind.isEmpty() || p.kind == "other")
                p.kind = pid == m_root ? QByteArray("browser") : kindOf(pid, parentOf.value(pid));
            p.peakMiB = std::max(p.peakMiB, statusKiB(status, "VmHWM:") / 1024.0);
            // utime and stime, as of the last sample that saw the process
            const double ticks = double(sysconf(_SC_CLK_TCK));
            const double cpu = (statField(pid, 14).toDouble() + statField(pid, 15).toDouble()) / ticks;
            p.cpuSeconds = std::max(p.cpuSeconds, cpu);
        }
    }

    const QHash<qint64, Process>& processes() const { return m_processes; }

    double cpuSeconds() const
    {
        double sum = 0;
        for (const Process& p : m_processes)
            sum += p.cpuSeconds;
        return sum;
    }

    double peakMiB() const
    {
        double sum = 0;
        for (const Process& p : m_processes)
            sum += p.peakMiB;
        return sum;
    }

    // Peak memory summed by kind of process.
    QHash<QByteArray, double> peakMiBByKind() const
    {
        QHash<QByteArray, double> kinds;
        for (const Process& p : m_processes)
            kinds[p.kind] += p.peakMiB;
        return kinds;
    }

private:
    static QByteArray readFile(qint64 pid, const char* name)
    {
        QFile file(QStringLiteral("/proc/%1/%2").arg(pid).arg(QLatin1String(name)));
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }

    // Field `n` (counted from 1, as proc(5) does) of /proc/<pid>/stat; the name in parentheses
    // may hold spaces, so fields are counted from its closing parenthesis.
    static QByteArray statField(qint64 pid, int n)
    {
        const QByteArray stat = readFile(pid, "stat");
        const qsizetype close = stat.lastIndexOf(')');
        if (close < 0)
            return {};
        const QList<QByteArray> fields = stat.mid(close + 2).split(' ');
        return n - 3 >= 0 && n - 3 < fields.size() ? fields.at(n - 3) : QByteArray();
    }

    static double statusKiB(const QByteArray& status, const char* key)
    {
        const qsizetype at = status.indexOf(key);
        if (at < 0)
            return 0;
        const qsizetype end = status.indexOf('\n', at);
        return status.mid(at + qstrlen(key), end - at - qstrlen(key)).trimmed().split(' ').value(0).toDouble();
    }

    // The engine's --type=; a process forked by a zygote keeps the zygote's command line and is
    // a renderer. "other" until the command line can be read.
    QByteArray kindOf(qint64 pid, qint64 parent) const
    {
        for (const QByteArray& arg : readFile(pid, "cmdline").split('\0')) {
            if (arg.startsWith("--type="))
                return arg == "--type=zygote" && parent != m_root ? QByteArray("renderer") : arg.mid(7);
        }
        return "other";
    }

    qint64 m_root;
    QHash<qint64, Process> m_processes;
};
