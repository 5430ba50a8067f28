#pragma once
// Native work with the GIL released, safe when the interpreter exits or the process forks
// meanwhile.
//
// A daemon thread that wants the GIL back after the interpreter began to finalize is ended
// by pthread_exit; unwinding that through C++ frames aborts the process. So the exit hook
// (registered by each extension, run by atexit, before finalization) waits until no thread
// is inside native work, and from then on a thread that finishes native work, or wants to
// start some, parks for good without touching the interpreter; the process ends around it.

#include <pybind11/pybind11.h>

#include <functional>

namespace scan39::python {

class GilReleased {
  public:
    GilReleased();
    ~GilReleased();
    GilReleased(const GilReleased&) = delete;
    GilReleased& operator=(const GilReleased&) = delete;

  private:
    PyThreadState* state_ = nullptr;
};

// Registers the exit hook with atexit; `before` runs first (with the GIL), to cut native work
// short, `afterwards` once no thread is inside native work (with the GIL released). Also resets
// the bookkeeping in a forked child, where the threads it counted do not exist.
void RegisterExitHook(pybind11::module_& m, std::function<void()> afterwards = {},
                      std::function<void()> before = {});

}  // namespace scan39::python
