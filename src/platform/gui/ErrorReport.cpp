#include "ErrorReport.h"

#include "Dialogs.h"

#include <stdexcept>

namespace platform {

void ReportCurrentException() {
    try {
        throw;
    } catch (const std::exception& e) {
        dialogs().MessageBox(e.what());
    } catch (...) {
        dialogs().MessageBox("Unknown error");
    }
}

} // namespace platform
