#pragma once

#include <QThread>

// Work that only fills a panel (a look into the book's search index, the keyword index) runs
// behind the page: while an IdleWork lives, the calling thread is scheduled only when nothing
// else wants the processor, so that on a machine with few cores the page engine, which draws
// what the reader is waiting for, goes first. Leaving the scope gives the thread back its
// normal priority (pool threads are used again for other work).
class IdleWork
{
public:
    IdleWork() { QThread::currentThread()->setPriority(QThread::IdlePriority); }
    ~IdleWork() { QThread::currentThread()->setPriority(QThread::NormalPriority); }
    IdleWork(const IdleWork&) = delete;
    IdleWork& operator=(const IdleWork&) = delete;
};
