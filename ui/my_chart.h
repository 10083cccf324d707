// The map chart: both maps of one table over the 160 rpm points.
#pragma once

#include <FL/Fl_Box.H>

struct CdiDevice;
struct MapTable;

class MyChart : public Fl_Box {
public:
    MyChart(int x, int y, int w, int h, const char* label = nullptr);

    MapTable* table = nullptr;
    int valueRange = 130;  // the value on the top edge; the bottom is 0
    int xStep = 5;         // points between vertical grid lines
    int yStep = 50;        // value units between horizontal grid lines
    int cursor = 80;       // point marked by the cursor line
    int selectedMap = -1;  // -1, or the map shown in the read-out and edited
    int enginePoint = -1;  // the point the engine runs at, -1 while it stands
    int replayPoint = -1;  // a ride log's sample being replayed, or -1
    const MapTable* reference = nullptr;  // a known tune drawn under the maps
    // An ignition chart's record: its pickup and latency set the unit's
    // ceiling, drawn where it lies below the top. Null on the valve chart.
    const CdiDevice* unit = nullptr;

    // Re-interpolates the points around point p of the selected map
    // (spreadMap, with the chart's step).
    void spread(int p);

protected:
    void draw() override;
};

constexpr int kReadoutSize = 256;

// The read-out text for a point and its value, e.g. "8000(rpm):12.3".
void chartReadout(int cursor, double value, char (&text)[kReadoutSize]);
