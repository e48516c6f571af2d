#include "window/BackgroundWork.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QObject>
#include <QWidget>
#include <exception>
#include <system_error>
#include <thread>

namespace varek {

void RunInBackground(const std::function<void()>& work, const QWidget* inputTo)
{
    std::exception_ptr failure;
    const auto guarded = [&] {
        try {
            work();
        } catch (...) {
            failure = std::current_exception();
        }
    };

    // Lives on this thread, so the worker's "done" comes through this thread's
    // event queue and wakes the loop below.
    QObject receiver;
    bool done = false;
    std::thread worker;
    try {
        worker = std::thread([&] {
            guarded();
            QMetaObject::invokeMethod(
                &receiver, [&done] { done = true; }, Qt::QueuedConnection);
        });
    } catch (const std::system_error&) {
        guarded();
        done = true;
    }
    while (!done) {
        const bool inputShown = inputTo != nullptr && inputTo->isVisible();
        QCoreApplication::processEvents(
            QEventLoop::WaitForMoreEvents |
            (inputShown ? QEventLoop::AllEvents : QEventLoop::ExcludeUserInputEvents));
    }
    if (worker.joinable()) {
        // The worker has done its work and only has to return.
        worker.join();
    }
    if (failure) {
        std::rethrow_exception(failure);
    }
}

}  // namespace varek
