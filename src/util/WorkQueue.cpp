#include "util/WorkQueue.h"

#include <algorithm>
#include <system_error>
#include <utility>

namespace varek {

WorkQueue::WorkQueue(unsigned threads, std::size_t tasksPerThread)
{
    for (unsigned i = 0; i < threads; ++i) {
        try {
            m_threads.emplace_back([this] { Run(); });
        } catch (const std::system_error&) {
            break;  // the threads already started share the work
        }
    }
    m_limit = std::max<std::size_t>(tasksPerThread, 1) * std::max<std::size_t>(m_threads.size(), 1);
}

WorkQueue::~WorkQueue()
{
    Join();
}

void WorkQueue::Submit(Task task)
{
    if (m_threads.empty()) {
        task();
        return;
    }
    {
        std::unique_lock lock(m_mutex);
        m_room.wait(lock, [this] { return m_unfinished < m_limit; });
        m_tasks.push_back(std::move(task));
        ++m_unfinished;
    }
    m_taskReady.notify_one();
}

void WorkQueue::Finish()
{
    Join();
    if (m_fault) {
        std::rethrow_exception(std::exchange(m_fault, nullptr));
    }
}

void WorkQueue::Join() noexcept
{
    {
        const std::lock_guard lock(m_mutex);
        m_closing = true;
    }
    m_taskReady.notify_all();
    for (std::thread& thread : m_threads) {
        thread.join();
    }
    m_threads.clear();
}

void WorkQueue::Run()
{
    for (;;) {
        Task task;
        {
            std::unique_lock lock(m_mutex);
            m_taskReady.wait(lock, [this] { return m_closing || !m_tasks.empty(); });
            if (m_tasks.empty()) {
                return;
            }
            task = std::move(m_tasks.front());
            m_tasks.pop_front();
        }
        std::exception_ptr fault;
        try {
            task();
        } catch (...) {
            fault = std::current_exception();
        }
        // The task's captures go before its room is given back.
        task = nullptr;
        {
            const std::lock_guard lock(m_mutex);
            if (fault && !m_fault) {
                m_fault = std::move(fault);
            }
            --m_unfinished;
        }
        m_room.notify_one();
    }
}

}  // namespace varek
