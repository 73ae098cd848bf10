// The control dialog's one way to the engine: a table of the engine's eight entry points.
// zebwin binds it to the engine library at load time; tests fill it with recorders.
#ifndef ZEBWIN_ENGINEAPI_H
#define ZEBWIN_ENGINEAPI_H

#include "zebdll.h"

struct EngineApi {
    int (*PassSaveResult)(int flag);
    int (*PassDynaResult)(int flag);
    ZebWindow* (*GetHWND)(ZebWindow* dialog);
    char* (*GetMsgBuffer)();
    int (*GetRetCode)();
    int (*SQL_Test)(const char* path, unsigned buffer, unsigned upper, unsigned increment, int mode,
                    unsigned iterations);
    unsigned short (*SSendMain)(int blocks, unsigned size);
    int (*SRecvMain)();
};

// The entry points of the engine library this program is linked against.
const EngineApi& LinkedEngine();

#endif
