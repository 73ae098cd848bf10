#include "usage.h"

#include "buildstamp.h"
#include "cmdline.h"
#include "log.h"

namespace vor32 {

namespace {

constexpr char kProgramName[] = "VOR32";

} // namespace

void Usage(bool describe) {
    ConsolePrintf("VOR32.EXE");
    ConsolePrintf("\t[%s (%s)]\n\n", kBuildDate, kBuildTime);
    if (describe) {
        ConsolePrintf("%s will create a file of the specified start size\n", kProgramName);
        ConsolePrintf("in the current directory specified by the first target path.\n");
        ConsolePrintf("The file will then be copied to a randomly selected target\n");
        ConsolePrintf("appended with the number of bytes specified by the increment\n");
        ConsolePrintf("value.  Then integrity of the copied file will be checked.\n");
        // kept as shipped: "descrepency"
        ConsolePrintf("Any descrepency will be logged, but will not terminate\n");
        ConsolePrintf("the test.  This will continue back and forth until the\n");
        ConsolePrintf("Maximum file size is reached.\n");
    }
    ConsolePrintf("Usage:\n");
    ConsolePrintf("%s [/?] MinSize MaxSize Increment Target Target ... [options]\n", kProgramName);
    ConsolePrintf("Where:\n");
    ConsolePrintf("  /?:        for a description of the test.\n");
    ConsolePrintf("  MinSize:   is the initial data file size in bytes.\n");
    ConsolePrintf("  MaxSize:   is the target data file size in bytes.\n");
    ConsolePrintf("  Increment: is the increment size in bytes.\n");
    ConsolePrintf("  Target:    is a path for the copying the file.\n");
    ConsolePrintf("             A minimum of 2 targets has to be specified.\n");
    ConsolePrintf("  Options:\n");
    ConsolePrintf("    /t:          if specified, test terminates when MaxSize is reached\n");
    ConsolePrintf("                   otherwise, test will run until ScrollLock is turned ON.\n");
    ConsolePrintf("    /v:          if specified, all screen output will also be in log file.\n");
    ConsolePrintf("                   otherwise, only test summary is in log file\n");
    ConsolePrintf("    /l logfile:  specify log file name; default is '%s'\n", kDefaultLogFileName);
    ConsolePrintf("    /d datafile: specify data file name; default is '%s'\n\n",
                  kDefaultDataFileName);
    ConsolePrintf("Example:\n");
    ConsolePrintf("    %s 5000 200000 100 C:\\XYZ C:\\ABC D:\\SCRATCH /v\n", kProgramName);
    ConsolePrintf("       will copy file to and from targets randomly selected from\n");
    ConsolePrintf("       the target list starting from 5000 bytes with 100 bytes increment\n");
    ConsolePrintf("       until file reaches 200000 bytes.  Test continues with 200000 bytes\n");
    ConsolePrintf("       file.  All transfers will be logged in the logfile\n");
}

} // namespace vor32
