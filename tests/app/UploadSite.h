// A web site for the upload tests: a document root with the real example
// upload script, its settings and an empty upload directory, served by
// PHP's built-in web server on 127.0.0.1:80 (the port every publish uses).
#pragma once

#include "FileContents.h"
#include "PhpWebServer.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <fstream>
#include <memory>
#include <string>

struct UploadSite {
    static constexpr const char* Key = "s3cret-Key_42-for-tests";
    static constexpr const char* ScriptUrl = "http://127.0.0.1/brwk_upload.php";

    QTemporaryDir root;

    std::string Root() const { return root.path().toStdString() + "/"; }
    std::string Uploads() const { return Root() + "captures/"; }

    // The script with the given key; an empty key keeps the script's default.
    void Install(const std::string& key = Key) {
        QFile::copy(BRWK_SOURCE_DIR "/server/brwk_upload.php",
                    QString::fromStdString(Root() + "brwk_upload.php"));
        QDir().mkpath(QString::fromStdString(Uploads()));
        if (key.empty()) return;
        std::ofstream(Root() + "brwk_upload_config.php")
            << "<?php\n$secretKey = '" << key << "';\n$uploadDir = '" << Uploads() << "';\n";
    }
    // A script of the test's own at that path of the site.
    void Put(const std::string& name, const std::string& php) {
        std::ofstream(Root() + name) << php;
    }
    std::unique_ptr<PhpWebServer> Serve() { return std::make_unique<PhpWebServer>(Root()); }

    std::string Stored(const std::string& name) const { return ReadFileText(Uploads() + name); }
    bool Exists(const std::string& name) const {
        return QFile::exists(QString::fromStdString(Uploads() + name));
    }
    // Files in the upload directory, hidden ones included.
    QStringList UploadedFiles() const {
        return QDir(QString::fromStdString(Uploads()))
            .entryList(QDir::Files | QDir::Hidden | QDir::NoDotAndDotDot);
    }
};
