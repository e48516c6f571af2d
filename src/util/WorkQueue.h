#pragma once

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <exception>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace varek {

// Runs tasks on threads of its own while the caller prepares the next ones. Tasks
// start in the order they were submitted, so with one thread they also run and
// finish in that order. Only a few tasks a thread are held at once, which keeps
// the memory they hold the same however many are submitted. When the system
// starts no thread at all, each task runs on the caller's thread inside Submit:
// the work is done either way. One thread, the owner, submits and finishes; a
// task must not submit to the queue that runs it.
class WorkQueue {
public:
    using Task = std::function<void()>;

    // Starts up to threads threads, fewer when the system refuses more (none for
    // 0). At most tasksPerThread tasks a thread started, at least one, are
    // submitted and not yet finished at any time.
    WorkQueue(unsigned threads, std::size_t tasksPerThread);
    // Finishes every task submitted; what one threw is dropped unless Finish was
    // called first.
    ~WorkQueue();
    WorkQueue(const WorkQueue&) = delete;
    WorkQueue& operator=(const WorkQueue&) = delete;

    // The threads running tasks; 0 when tasks run on the caller's thread.
    std::size_t Threads() const noexcept { return m_threads.size(); }

    // Queues task, first waiting while the queue holds as many as it may. Without
    // threads (none started, or after Finish) the task runs here, and what it
    // throws comes out of this call.
    void Submit(Task task);

    // Waits until every task submitted has finished and ends the threads, then
    // throws what the first task to throw on one of them threw. The other tasks
    // still ran.
    void Finish();

private:
    void Run();
    void Join() noexcept;

    std::size_t m_limit = 1;
    std::mutex m_mutex;
    std::condition_variable m_taskReady;  // for the threads: a task queued, or the end
    std::condition_variable m_room;       // for the caller: a task finished
    std::deque<Task> m_tasks;
    std::size_t m_unfinished = 0;  // queued or running
    bool m_closing = false;
    std::exception_ptr m_fault;
    std::vector<std::thread> m_threads;
};

}  // namespace varek
