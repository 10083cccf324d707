// The one way device and command code reaches the user's boxes and beeps.
// The program installs the toolkit's boxes at start-up; tests install
// recorders. Every text is shown as it stands, never used as a format.
#pragma once

struct Dialogs {
    void (*errorBox)(const char* text);    // error beep, then a message box
    void (*messageBox)(const char* text);  // a message box without a beep
    int (*askYesNo)(const char* question); // question beep, then No/Yes; 1 for Yes
    void (*errorBeep)();                   // an error beep alone, for a refused entry
    // Before the question of a write that the unit will not run as shown:
    // question beep, then Cancel / Write anyway; 1 for Write anyway.
    int (*askWriteAnyway)(const char* text);
};

// Until something is installed, boxes go to standard error and questions
// are answered No, so nothing is ever sent to the unit unasked.
extern Dialogs dialogs;
