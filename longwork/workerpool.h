#pragma once

#include <QObject>
#include <algorithm>
#include <condition_variable>
#include <deque>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace longwork {

// Worker threads for work that touches no widget. The GUI thread hands jobs in and waits for
// each in the order it chooses, while its event loop keeps turning (repaints, the pointer,
// a progress window's Cancel).
class WorkerPool : public QObject {
public:
    class Job;
    using Handle = std::shared_ptr<Job>;

    // threads <= 0: one per core.
    explicit WorkerPool(int threads);
    // Lets the queued jobs that were not started go, and waits for the running ones.
    ~WorkerPool() override;

    // Jobs that run at once: the worker threads, or 1 when none could start and each job runs
    // on the thread that waits for it.
    int threads() const { return std::max(1, int(m_threads.size())); }

    // Queues the work; it runs on the first free worker.
    Handle submit(std::function<void()> work);
    // Runs the event loop until the job has finished; returns what it threw, or null.
    std::exception_ptr wait(const Handle& job);

private:
    void workLoop();
    void runQueued(const Handle& job);

    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::deque<Handle> m_queue;
    bool m_stopping = false;
    std::vector<std::jthread> m_threads;
};

}  // namespace longwork
