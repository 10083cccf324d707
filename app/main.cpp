// kvz-cdi: reads, edits and writes the maps of the KVZ ignition unit.
#include <FL/Fl.H>

#include "startup.h"

int main(int argc, char** argv)
{
    startApplication(argc, argv);
    return Fl::run();
}
