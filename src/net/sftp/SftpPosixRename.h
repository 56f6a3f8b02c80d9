// OpenSSH's "posix-rename@openssh.com" request: rename(2) on the server, so
// an existing target is replaced in one step. libssh 0.10's sftp_rename sends
// only the protocol's own RENAME, which OpenSSH refuses over an existing
// file. For the worker thread, between libssh's own requests.
#pragma once

#include <libssh/sftp.h>

#include <string>

// 0 when renamed; the server's SFTP status for a refusal; -1 when the
// connection failed.
int SftpPosixRename(sftp_session sftp, const std::string& from, const std::string& to);
