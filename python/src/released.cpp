#include "released.h"

#include <pthread.h>
#include <unistd.h>

#include <condition_variable>
#include <mutex>
#include <new>

namespace scan39::python {

namespace {

struct State {
    std::mutex mutex;
    std::condition_variable idle;
    int busy = 0;  // threads inside native work, or on their way back into Python
    bool exiting = false;
};

// Never destroyed: parked threads and late callers may still look at it during exit.
State* g_state = new State;
std::function<void()>* g_before = new std::function<void()>;
std::function<void()>* g_afterwards = new std::function<void()>;

[[noreturn]] void Park() {
    for (;;) ::pause();
}

// In a forked child only the forking thread exists, and it was not inside native work.
void ResetInChild() {
    g_state = new (std::nothrow) State;  // the old one may be locked by a thread now gone
    if (g_state == nullptr) std::abort();
}

void AtExit() {
    if (*g_before) (*g_before)();
    {
        pybind11::gil_scoped_release unlocked;
        std::unique_lock lock(g_state->mutex);
        g_state->exiting = true;
        g_state->idle.wait(lock, [] { return g_state->busy == 0; });
    }
    if (*g_afterwards) {
        pybind11::gil_scoped_release unlocked;
        (*g_afterwards)();
    }
}

}  // namespace

GilReleased::GilReleased() {
    {
        std::lock_guard lock(g_state->mutex);
        if (!g_state->exiting) {
            ++g_state->busy;
            state_ = PyEval_SaveThread();
            return;
        }
    }
    PyEval_SaveThread();
    Park();
}

GilReleased::~GilReleased() {
    std::unique_lock lock(g_state->mutex);
    if (g_state->exiting) {
        --g_state->busy;
        g_state->idle.notify_all();
        lock.unlock();
        Park();
    }
    lock.unlock();
    // Still counted: the exit hook waits (without the GIL) until this thread is back.
    PyEval_RestoreThread(state_);
    lock.lock();
    --g_state->busy;
    g_state->idle.notify_all();
}

void RegisterExitHook(pybind11::module_& m, std::function<void()> afterwards,
                      std::function<void()> before) {
    *g_before = std::move(before);
    *g_afterwards = std::move(afterwards);
    static std::once_flag once;
    std::call_once(once, [] { pthread_atfork(nullptr, nullptr, ResetInChild); });
    m.def("_at_exit", &AtExit);
    pybind11::module_::import("atexit").attr("register")(m.attr("_at_exit"));
}

}  // namespace scan39::python
