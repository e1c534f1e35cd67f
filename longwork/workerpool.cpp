#include "longwork/workerpool.h"

#include <QCoreApplication>
#include <QThread>
#include <algorithm>
#include <atomic>

#include "platform/threadstart.h"

namespace longwork {

class WorkerPool::Job {
public:
    explicit Job(std::function<void()> work) : m_work(std::move(work)) {}

    void run() {
        try {
            m_work();
        } catch (...) {
            m_error = std::current_exception();
        }
        // What the work held goes with it, on the worker.
        m_work = nullptr;
        m_done.store(true, std::memory_order_release);
    }
    bool done() const { return m_done.load(std::memory_order_acquire); }
    std::exception_ptr error() const { return m_error; }

private:
    std::function<void()> m_work;
    std::exception_ptr m_error;
    std::atomic<bool> m_done{false};
};

WorkerPool::WorkerPool(int threads) {
    if (threads <= 0) {
        threads = std::max(1, QThread::idealThreadCount());
    }
    // A limit on processes may refuse some threads: the pool works with those that started.
    m_threads = platform::startThreads(threads, [this] { workLoop(); });
}

WorkerPool::~WorkerPool() {
    {
        std::lock_guard lock(m_mutex);
        m_stopping = true;
        m_queue.clear();
    }
    m_wake.notify_all();
    for (std::jthread& thread : m_threads) {
        thread.join();
    }
}

WorkerPool::Handle WorkerPool::submit(std::function<void()> work) {
    auto job = std::make_shared<Job>(std::move(work));
    {
        std::lock_guard lock(m_mutex);
        m_queue.push_back(job);
    }
    m_wake.notify_one();
    return job;
}

std::exception_ptr WorkerPool::wait(const Handle& job) {
    if (m_threads.empty()) {
        // No worker could start: the jobs run here, in the order they are waited for.
        runQueued(job);
    }
    while (!job->done()) {
        // A finishing job posts an event here, so this sleeps until there is something to do.
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    }
    return job->error();
}

void WorkerPool::runQueued(const Handle& job) {
    {
        std::lock_guard lock(m_mutex);
        const auto queued = std::find(m_queue.begin(), m_queue.end(), job);
        if (queued == m_queue.end()) {
            return;
        }
        m_queue.erase(queued);
    }
    job->run();
}

void WorkerPool::workLoop() {
    for (;;) {
        Handle job;
        {
            std::unique_lock lock(m_mutex);
            m_wake.wait(lock, [this] { return m_stopping || !m_queue.empty(); });
            if (m_queue.empty()) {
                return;
            }
            job = std::move(m_queue.front());
            m_queue.pop_front();
        }
        job->run();
        // Wakes the GUI thread if it sleeps in wait().
        QMetaObject::invokeMethod(
            this, [] {}, Qt::QueuedConnection);
    }
}

}  // namespace longwork
