// "Publish" from the command line: a picture file, or standard input, goes
// the way of a capture through the designed export and publishing flow.
#pragma once

#include <string>

// Publishes the PNG, JPEG or BMP picture in file ("-": standard input) and
// returns the exit code: ExitOk once the URL is printed on standard output,
// else ExitFailed with the reasons on standard error.
int PublishFromCommandLine(const std::string& file);
