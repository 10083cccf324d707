// Puts the toolkit's beeps and boxes behind the dialog seam.
#pragma once

#include <string>

void installToolkitDialogs();

// What a command asks the file chooser for.
struct FileChooserRequest {
    int type;  // Fl_Native_File_Chooser::Type
    const char* title;
    const char* filter;
    int options;
    const char* directory = nullptr;  // where it starts; null or empty: its own choice
};

// The file chooser, replaceable in tests. Returns what
// Fl_Native_File_Chooser::show() returns (0 picked, 1 cancelled, negative
// failed) and, when a file was picked, its name as the chooser gave it.
extern int (*chooseFile)(const FileChooserRequest& request, std::string& path);
