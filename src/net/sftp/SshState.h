// What libssh holds for one session, touched only on the session's worker
// thread; the event loop's thread reads the failure notes after a job.
#pragma once

#include <libssh/libssh.h>
#include <libssh/sftp.h>

#include <string>

struct TSshState {
    ssh_session Session = nullptr;
    sftp_session Sftp = nullptr;
    // A file an upload left open when it was cut short.
    sftp_file Open = nullptr;

    // Notes on the last failed call.
    bool Alive = false;
    // The SFTP server's status for a refused request; 0 for any other failure.
    int Status = 0;
    std::string SshError;

    // Records why the call that just failed did.
    void NoteFailure() {
        Alive = Session && ssh_is_connected(Session);
        const char* text = Session ? ssh_get_error(Session) : nullptr;
        SshError = text ? text : "";
        Status = Sftp && Alive ? sftp_get_error(Sftp) : 0;
    }

    // Everything, including libssh's copy of the socket.
    void Free() {
        if (Open) sftp_close(Open);
        Open = nullptr;
        if (Sftp) sftp_free(Sftp);
        Sftp = nullptr;
        if (Session) ssh_free(Session);
        Session = nullptr;
        Alive = false;
    }
};
