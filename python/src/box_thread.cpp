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

#include <unistd.h>

#include "runner_p.h"
#include "scan39/uo_scan.h"

namespace scan39::python {

namespace {

QtMessageHandler g_defaultHandler = nullptr;

// Qt notes that the application is not made on the main thread and talks about the desktop
// session; neither means anything for an offscreen control.
void QuietStartup(QtMsgType type, const QMessageLogContext& context, const QString& message) {
    if (type == QtCriticalMsg || type == QtFatalMsg) g_defaultHandler(type, context, message);
}

class BoxThread {
  public:
    BoxThread() : thread_([this] { Main(); }) {}

    ~BoxThread() {
        {
            std::lock_guard lock(mutex_);
            stopping_ = true;
        }
        wake_.notify_one();
        thread_.join();
    }

    std::optional<std::string> Run(const BoxScan& job) {
        std::packaged_task<std::optional<std::string>()> task([this, &job] { return Scan(job); });
        auto result = task.get_future();
        {
            std::lock_guard lock(mutex_);
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
            static char name[] = "scan39";
            static char* argv[] = {name, nullptr};
            int argc = 1;
            g_defaultHandler = qInstallMessageHandler(QuietStartup);
            app_ = std::make_unique<QApplication>(argc, argv);
            qInstallMessageHandler(g_defaultHandler);
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
        const std::int16_t result =
            cli::DragAndScan(*control_, cli::Box{job.x1, job.y1, job.x2, job.y2});
        if (result != 0) return std::nullopt;
        return control_->Value().toStdString();
    }

    std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<std::function<void()>> jobs_;
    bool stopping_ = false;
    std::string startError_;
    std::unique_ptr<QApplication> app_;
    std::unique_ptr<Uo_Scan> control_;
    std::thread thread_;  // last: starts once everything above exists
};

std::mutex g_instanceMutex;
// Shared, so a stop while scans are still waiting ends the thread after the last of them.
std::shared_ptr<BoxThread> g_instance;
pid_t g_instancePid = 0;

// A forked child inherits the object but not its thread: joining it would wait forever, so the
// child lets it go and never touches it again.
void ForgetInheritedThread() {
    if (g_instance && g_instancePid != getpid()) {
        new std::shared_ptr<BoxThread>(std::move(g_instance));  // leaked on purpose
    }
}

}  // namespace

std::optional<std::string> RunBoxScan(const BoxScan& job) {
    std::shared_ptr<BoxThread> thread;
    {
        std::lock_guard lock(g_instanceMutex);
        ForgetInheritedThread();
        if (!g_instance) {
            g_instance = std::make_shared<BoxThread>();
            g_instancePid = getpid();
        }
        thread = g_instance;
    }
    return thread->Run(job);
}

void StopBoxThread() {
    std::shared_ptr<BoxThread> stopping;
    {
        std::lock_guard lock(g_instanceMutex);
        ForgetInheritedThread();
        stopping = std::move(g_instance);
    }
}

}  // namespace scan39::python
