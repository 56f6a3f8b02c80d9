// Publishing over SFTP: the FTP settings' server, account and directory
// reached over SSH. The picture is written under a temporary name in the
// destination directory, made readable for the web server, and renamed to
// its public name, so that a web page never serves half a picture.
#pragma once

#include "Publisher.h"
#include "SftpSteps.h"

class TSftpPublisher : public TPublisher {
public:
    explicit TSftpPublisher(configRecord& settings);
    ~TSftpPublisher() override;

    // As for FTP: the exported file goes with the publisher.
    TPublishResult Publish(const std::string& localFile, const std::string& remoteName) override;

    // The longest wait for the server, in milliseconds.
    unsigned TimeoutMs = 15000;

protected:
    void Stop() override;

private:
    // Removes the temporary file on a session of its own (the publish's may
    // be cut off); the sentence for the details.
    std::string RemoveTemporary(const std::string& path, const TSshLogin& login);

    configRecord& settings_;
    TSftpSession session_;
    std::string exported_;
};

// "dir/name", or name alone for an empty directory.
std::string RemotePath(const std::string& dir, const std::string& name);
// ".NAME.brwk-XXXXXX.part" beside the final name, with random letters.
std::string TemporaryName(const std::string& name);
