// The toolkit's beeps and modal boxes behind the dialog seam.
#include "toolkit_dialogs.h"

#include <FL/Fl.H>
#include <FL/Fl_Native_File_Chooser.H>
#include <FL/fl_ask.H>

#include "dialogs.h"

namespace {
void toolkitErrorBox(const char* text)
{
    fl_beep(FL_BEEP_ERROR);
    fl_message("%s", text);
}

void toolkitMessageBox(const char* text) { fl_message("%s", text); }

int toolkitAskYesNo(const char* question)
{
    fl_beep(FL_BEEP_QUESTION);
    // fl_ask's own body ("No", "Yes" with Yes on Return); fl_ask itself is
    // marked deprecated in 1.3.
    return fl_choice("%s", fl_no, fl_yes, nullptr, question);
}

// Escape and the window's close give Cancel; Return gives Write anyway, as
// it gives Yes to the question that follows.
int toolkitAskWriteAnyway(const char* text)
{
    fl_beep(FL_BEEP_QUESTION);
    return fl_choice("%s", "Cancel", "Write anyway", nullptr, text);
}

void toolkitErrorBeep() { fl_beep(FL_BEEP_ERROR); }

int nativeChooseFile(const FileChooserRequest& request, std::string& path)
{
    Fl_Native_File_Chooser chooser;
    chooser.type(request.type);
    chooser.options(request.options);
    chooser.title(request.title);
    chooser.filter(request.filter);
    if (request.directory && *request.directory)
        chooser.directory(request.directory);
    const int result = chooser.show();
    if (result == 0 && chooser.filename())
        path = chooser.filename();
    return result;
}
}

int (*chooseFile)(const FileChooserRequest& request, std::string& path) = nativeChooseFile;

void installToolkitDialogs()
{
    dialogs = {toolkitErrorBox, toolkitMessageBox, toolkitAskYesNo, toolkitErrorBeep, toolkitAskWriteAnyway};
}
