// The program's general error handler. An unexpected error that ends an
// event handler is shown in a message box with its text, and the program
// goes on. Handlers are called through Guarded so that the error is caught
// where it leaves our code: letting it unwind through the toolkit's event
// dispatch would skip the toolkit's own cleanup.
#pragma once

#include <exception>
#include <utility>

namespace platform {

// Shows the text of the exception in flight (call from a catch block).
void ReportCurrentException();

template <class F> void Guarded(F&& handler) {
    try {
        std::forward<F>(handler)();
    } catch (...) {
        ReportCurrentException();
    }
}

} // namespace platform
