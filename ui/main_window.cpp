// STUB
#include "main_window.h"
#include <FL/Fl_Double_Window.H>
Widgets widgets;
const char* const kProgramTitle = "KVZ-CDI v1.2.0";
MyMsg::MyMsg(int x, int y, int w, int h, const char* label) : Fl_Multiline_Output(x, y, w, h, label) {}
MyMsg::~MyMsg() = default;
Fl_Double_Window* buildMainWindow() { return nullptr; }
void setWindowTitle(const char*) {}
void appendLog(const char*) {}
