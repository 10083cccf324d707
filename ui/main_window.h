// The main window: its widget handles, the log panel and the window title.
#pragma once

#include <FL/Fl_Multiline_Output.H>

class Fl_Box;
class Fl_Button;
class Fl_Double_Window;
class Fl_Group;
class Fl_Input;
class Fl_Int_Input;
class Fl_Light_Button;
class Fl_Output;
class Fl_Repeat_Button;
class Fl_Round_Button;
class Fl_Slider;
class Fl_Tabs;
class Fl_Value_Slider;
class MapGrid;
class MyChart;

// The log panel: a multi-line output with nothing of its own.
class MyMsg : public Fl_Multiline_Output {
public:
    MyMsg(int x, int y, int w, int h, const char* label = nullptr);
    ~MyMsg() override;
};

// Every widget that code touches after the window is built.
struct Widgets {
    Fl_Double_Window* window;
    Fl_Tabs* tabs;
    Fl_Group* deviceTab;
    Fl_Group* mapTab;
    Fl_Group* optionsTab;
    Fl_Group* tableTab;

    // Device tab
    Fl_Round_Button* onePulse;
    Fl_Round_Button* twoPulse;
    MyMsg* log;
    Fl_Output* manufacture;
    Fl_Output* product;
    Fl_Output* mapSwitch;
    Fl_Output* quickShifterSwitch;
    Fl_Output* rpm;
    Fl_Output* valveAngle;
    Fl_Output* picDevId;
    Fl_Output* revId;
    Fl_Int_Input* pickup;
    Fl_Light_Button* record;  // a ride log of the status replies

    // Map tab
    MyChart* ignitionChart;
    MyChart* valveChart;
    Fl_Button* fileOpen;
    Fl_Button* fileSave;
    Fl_Button* deviceRead;
    Fl_Button* deviceWrite;
    Fl_Repeat_Button* valueUp;
    Fl_Repeat_Button* valueDown;
    Fl_Repeat_Button* cursorLeft;
    Fl_Repeat_Button* cursorRight;
    Fl_Light_Button* ignMap0;
    Fl_Light_Button* ignMap1;
    Fl_Light_Button* pvsMap0;
    Fl_Light_Button* pvsMap1;

    // Options tab
    Fl_Value_Slider* revLimit;
    Fl_Value_Slider* enablePoint;
    Fl_Value_Slider* delayCount;
    Fl_Value_Slider* cutCount;
    Fl_Value_Slider* invalidCount;
    Fl_Light_Button* reverseSwitch;
    Fl_Light_Button* stopSwitch;

    // Table tab
    MapGrid* mapGrid;
    Fl_Input* gridValue;
    Fl_Button* compareWith;
    Fl_Button* compareWithUnit;
    Fl_Button* clearComparison;
    Fl_Box* comparisonName;
    Fl_Box* unitLimits;    // how many points run differently on the unit
    Fl_Box* tableMessage;  // the latest message, until the next change
    Fl_Button* loadLog;
    Fl_Button* clearLog;
    Fl_Box* logName;    // the ride log shown: its file, length and samples
    Fl_Slider* replay;  // over the ride log's time
};

extern Widgets widgets;

// Builds the whole window once, keeps the handles and returns the window.
Fl_Double_Window* buildMainWindow();

extern const char* const kProgramTitle;  // "KVZ-CDI v1.2.0"

// "KVZ-CDI v1.2.0 - " followed by the text.
void setWindowTitle(const char* text);

// The log sink of the device record: appends at the end of the log panel.
void appendLog(const char* text);
