// TCustomLineWSocket: optional line mode. With LineMode on, received bytes are
// collected and OnDataAvailable fires once per line; Receive then returns the
// line, its line end included. With LineMode off every operation passes on.
#pragma once

#include "LineBuffer.h"
#include "SslWSocket.h"

class TCustomLineWSocket : public TCustomSslWSocket {
public:
    TCustomLineWSocket() = default;

    bool LineMode() const { return FLineMode; }
    virtual void SetLineMode(bool value);
    const std::string& LineEnd() const { return FLineEnd; }
    void SetLineEnd(const std::string& v) { FLineEnd = v; }
    int LineLimit() const { return FLineLimit; }
    void SetLineLimit(int v) { FLineLimit = v; }
    bool LineEcho() const { return FLineEcho; }
    void SetLineEcho(bool v) { FLineEcho = v; }
    bool LineEdit() const { return FLineEdit; }
    void SetLineEdit(bool v) { FLineEdit = v; }
    // Length of the line being handed out, its line end included.
    int LineLength() const { return int(FLineLength); }
    // Bytes held in line mode (a partial line, or bytes left when it ended).
    int RcvdCnt() const { return int(FRcvd.Count()); }

    TLineLimitEvent OnLineLimitExceeded;

protected:
    intptr_t WndProc(unsigned msg, uintptr_t wParam, intptr_t lParam) override;
    int GetRcvdCount() override;
    bool FireDataAvailable(uint16_t error) override;
    void FireSessionClosed(uint16_t error) override;
    int RecvRaw(void* buffer, int size, int flags) override;
    virtual void FireLineLimitExceeded(int rcvdLength, bool& clearData);
    // Edits the n bytes just read; returns how many remain to be added.
    virtual size_t EditLine(size_t n);

private:
    // Fires OnDataAvailable while the current line is unread; false when the
    // socket was destroyed meanwhile.
    bool DeliverLine();

    bool FLineMode = false;
    std::string FLineEnd = "\r\n";
    int FLineLimit = 65536;
    bool FLineEcho = false;
    bool FLineEdit = false;
    TLineBuffer FRcvd;
    size_t FLineLength = 0;
    bool FLineClearData = false;
};
