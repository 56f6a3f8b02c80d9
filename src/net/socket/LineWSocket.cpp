#include "LineWSocket.h"

#include <algorithm>

void TCustomLineWSocket::SetLineMode(bool value) {
    if (value == FLineMode) return;
    FLineMode = value;
    // Bytes held under one mode are handed out under the other.
    if (FRcvd.Count() > 0 || FLineLength > 0)
        platform::postMessage(WindowHandle(), WM_LINE_DATA_PENDING, HSocket(), 0);
}

intptr_t TCustomLineWSocket::WndProc(unsigned msg, uintptr_t wParam, intptr_t lParam) {
    if (msg != WM_LINE_DATA_PENDING) return TCustomSslWSocket::WndProc(msg, wParam, lParam);
    const std::weak_ptr<void> life = Life();
    try {
        while (FRcvd.Count() > 0) {
            const size_t before = FRcvd.Count();
            FireDataAvailable(0);
            // Stops when a pass takes nothing: the handler may not read at all.
            if (life.expired() || FRcvd.Count() >= before) break;
        }
    } catch (const std::exception& e) {
        if (!life.expired()) HandleEventException(e);
    }
    return 0;
}

int TCustomLineWSocket::GetRcvdCount() {
    if (FLineMode) return int(FLineLength);
    return TCustomSslWSocket::GetRcvdCount();
}

int TCustomLineWSocket::RecvRaw(void* buffer, int size, int flags) {
    if (size < 0) size = 0;
    if (FLineMode && FLineLength > 0) {
        const size_t n =
            FRcvd.Take(static_cast<char*>(buffer), std::min(size_t(size), FLineLength));
        FLineLength -= n;
        return int(n);
    }
    if (!FLineMode && FRcvd.Count() > 0) {
        // Bytes left from line mode come before anything newer.
        return int(FRcvd.Take(static_cast<char*>(buffer), size_t(size)));
    }
    return TCustomSslWSocket::RecvRaw(buffer, size, flags);
}

size_t TCustomLineWSocket::EditLine(size_t n) {
    std::string echo;
    const size_t kept = FRcvd.EditPrepared(n, FLineEcho, echo);
    // Echoed after editing: a send can end the session and run its handlers.
    if (!echo.empty() && State() == wsConnected) SendStr(echo);
    return kept;
}

bool TCustomLineWSocket::DeliverLine() {
    const std::weak_ptr<void> life = Life();
    while (FLineMode && FLineLength > 0) {
        const size_t before = FLineLength;
        // The line is plain text already: straight to the handler.
        if (!TCustomSocksWSocket::FireDataAvailable(0)) {
            if (life.expired()) return false;
            FLineLength = 0; // nobody to take it: the line stays at the front
            break;
        }
        if (life.expired()) return false;
        if (FLineLength >= before) break; // the handler took nothing
    }
    return true;
}

bool TCustomLineWSocket::FireDataAvailable(uint16_t error) {
    if (!FLineMode || FLineEnd.empty()) return TCustomSslWSocket::FireDataAvailable(error);
    const std::weak_ptr<void> life = Life();

    int n = TCustomSslWSocket::GetRcvdCount();
    if (n < 0) return true;
    if (n == 0) n = 255;
    char* room = FRcvd.Prepare(size_t(n));
    const int got = TCustomSslWSocket::RecvRaw(room, n, 0);
    if (got <= 0 && FRcvd.Count() == 0) return true;
    if (got > 0) {
        size_t fresh = size_t(got);
        if (FLineEdit)
            fresh = EditLine(fresh);
        else if (FLineEcho)
            SendStr(std::string(room, fresh));
        if (life.expired()) return true;
        FRcvd.Commit(fresh);
    }

    size_t from = 0;
    bool lineWaits = false;
    while (FLineMode) {
        const size_t at = FRcvd.Find(FLineEnd, from);
        if (at == std::string::npos) break;
        const size_t held = FRcvd.Count();
        FLineLength = at + FLineEnd.size();
        if (!DeliverLine()) return true;
        // An untaken line: no new line can be found behind it until it goes.
        if (FLineLength > 0 || FRcvd.Count() >= held) {
            lineWaits = FLineLength > 0;
            break;
        }
        from = 0;
    }
    FLineLength = lineWaits ? FLineLength : 0;

    if (FLineLimit > 0 && !lineWaits && FRcvd.Count() > size_t(FLineLimit)) {
        FLineClearData = true;
        FireLineLimitExceeded(int(FRcvd.Count()), FLineClearData);
        if (life.expired()) return true;
        if (FLineClearData) {
            FLineLength = 0;
            FRcvd.Clear();
            FLineClearData = false;
        }
    }
    return true;
}

void TCustomLineWSocket::FireSessionClosed(uint16_t error) {
    const std::weak_ptr<void> life = Life();
    if (FLineMode && FRcvd.Count() > 0 && !FLineClearData) {
        // What remains is handed out as a last line without a line end.
        FLineLength = FRcvd.Count();
        if (!DeliverLine()) return;
    }
    FRcvd.Release();
    FLineLength = 0;
    TCustomSslWSocket::FireSessionClosed(error);
}

void TCustomLineWSocket::FireLineLimitExceeded(int rcvdLength, bool& clearData) {
    if (OnLineLimitExceeded) OnLineLimitExceeded(this, rcvdLength, clearData);
}
