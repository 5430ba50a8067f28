#include "box_thread.h"

#include <QApplication>
#include <condition_variable>
#include <deque>
#include <functional>
#include <future>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <thread>

#include <pthread.h>

#include "scan39/drag.h"
#include "scan39/host/services.h"
#include "scan39/uo_scan.h"

namespace scan39::python {

namespace {

class BoxThread {
  public:
    BoxThread() : thread_([this] { Main(); }) {}

    ~BoxThread() { Stop(); }

    // Ends the thread once the scans already handed over are done; scans handed over later
    // are refused. Safe to call more than once, and from any thread but this one's.
    void Stop() {
        {
            std::lock_guard lock(mutex_);
            stopping_ = true;
        }
        wake_.notify_one();
        std::lock_guard joining(joinMutex_);
        if (thread_.joinable()) thread_.join();
    }

    // The scan's outcome, or nothing at all when the thread is stopping and took no more.
    std::optional<std::optional<std::string>> Run(const BoxScan& job) {
        std::packaged_task<std::optional<std::string>()> task([this, &job] { return Scan(job); });
        auto result = task.get_future();
        {
            std::lock_guard lock(mutex_);
            if (stopping_) return std::nullopt;
            jobs_.emplace_back([&task] { task(); });
        }
        wake_.notify_one();
        return result.get();
    }

  private:
    void Main() {
        if (QCoreApplication::instance() != nullptr) {
            startError_ =
                "scan_box needs its own Qt application, and this process already runs one";
        } else {
            if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
                qputenv("QT_QPA_PLATFORM", QByteArrayLiteral("offscreen"));
            // Qt notes that the application is not made on the main thread and talks about
            // the desktop session; neither means anything for an offscreen control.
            static char name[] = "scan39";
            app_ = host::QuietApplication(name);
            control_ = std::make_unique<Uo_Scan>();  // standalone: run time, sizes itself
            control_->InitProperties();
        }
        for (;;) {
            std::function<void()> job;
            {
                std::unique_lock lock(mutex_);
                wake_.wait(lock, [this] { return stopping_ || !jobs_.empty(); });
                if (jobs_.empty()) break;  // stopping, and nothing left to do
                job = std::move(jobs_.front());
                jobs_.pop_front();
            }
            job();
        }
        control_.reset();
        app_.reset();
    }

    // On the thread: exactly the command line's steps for one picture.
    std::optional<std::string> Scan(const BoxScan& job) {
        if (!control_) throw std::runtime_error(startError_);
        control_->setPicture(job.picture);
        const std::int16_t result = DragAndScan(*control_, job.x1, job.y1, job.x2, job.y2);
        if (result != 0) return std::nullopt;
        return control_->Value().toStdString();
    }

    std::mutex mutex_;
    std::mutex joinMutex_;
    std::condition_variable wake_;
    std::deque<std::function<void()>> jobs_;
    bool stopping_ = false;
    std::string startError_;
    std::unique_ptr<QApplication> app_;
    std::unique_ptr<Uo_Scan> control_;
    std::thread thread_;  // last: starts once everything above exists
};

std::mutex g_instanceMutex;
std::shared_ptr<BoxThread> g_instance;

// Qt is not made to survive a fork: the box thread and its application end before one, and
// the parent and the child each start their own on their next box scan.
void StopBeforeFork() {
    g_instanceMutex.lock();
    if (g_instance) {
        g_instance->Stop();
        g_instance.reset();
    }
}
void ResumeAfterFork() {
    g_instanceMutex.unlock();
}

}  // namespace

std::optional<std::string> RunBoxScan(const BoxScan& job) {
    static std::once_flag once;
    std::call_once(once, [] { pthread_atfork(StopBeforeFork, ResumeAfterFork, ResumeAfterFork); });
    for (;;) {
        std::shared_ptr<BoxThread> thread;
        {
            std::lock_guard lock(g_instanceMutex);
            if (!g_instance) g_instance = std::make_shared<BoxThread>();
            thread = g_instance;
        }
        // A thread stopped meanwhile (for a fork) refuses the scan; the next one takes it.
        if (auto result = thread->Run(job)) return *result;
    }
}

void StopBoxThread() {
    std::shared_ptr<BoxThread> stopping;
    {
        std::lock_guard lock(g_instanceMutex);
        stopping = std::move(g_instance);
    }
    if (stopping) stopping->Stop();
}

}  // namespace scan39::python
