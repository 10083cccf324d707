// Fallback boxes for code that runs before the toolkit's are installed.
#include "dialogs.h"

#include <cstdio>

namespace {
void printErrorBox(const char* text) { std::fprintf(stderr, "error: %s\n", text); }
void printMessageBox(const char* text) { std::fprintf(stderr, "%s\n", text); }
int refuseQuestion(const char* question)
{
    std::fprintf(stderr, "%s (answered No)\n", question);
    return 0;
}
void noBeep() {}
}  // namespace

Dialogs dialogs = {printErrorBox, printMessageBox, refuseQuestion, noBeep, refuseQuestion};
