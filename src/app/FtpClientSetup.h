// The FTP client as publishing uses it, and the part of the settings it
// takes: one place for both the publish and the connection test.
#pragma once

#include "FtpCli.h"
#include "configUnit.h"

#include <memory>

std::unique_ptr<TFtpClient> CreatePublishFtpClient();

// Server, port, login, destination directory and encryption (with the
// trusted certificate). Raises FtpException while the client is connected.
void ApplyFtpSettings(TFtpClient& ftp, const configRecord& settings);
